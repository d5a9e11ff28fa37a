// The engine tests' client adapters (named "et") and small batches, on the
// shared engine testing pieces.
// Thread-safety: stateless.
#pragma once

#include <string>
#include <vector>

#include "batches.h"
#include "client_items.h"
#include "completion_pool.h"

namespace kova::enginetest {

using kova::enginetesting::CompletionPool;
using kova::enginetesting::routedAgentItems;

// A client adapter of its own (so its own communicator and router connection)
// with the test binary's log directory and a default agent that satisfies the
// configuration check; engines use the agent keys given in `items`.
inline KOVA::KOVAClientAdapterPtr makeAdapter(const std::vector<std::string>& items) {
    return kova::enginetesting::makeTestAdapter("et", items);
}

inline KOVAMsg::KOVABatchMessage batchOf(int records) { return kova::enginetesting::keyedBatch(records, 16); }

}  // namespace kova::enginetest
