// The adapter's push callback as the facade wires it: every push goes to the
// engine's ConsumeCallback.
// Thread-safety: the returned callback may run on any Ice thread at once; it
// holds the engine weakly (the adapter lives inside the engine and must not
// keep it alive).
#pragma once

#include <memory>

#include "KOVAClientAdapter.h"
#include "KOVAClientLibImpl.h"

namespace kova::test::engine {

// Answers NOT_EXIST once the engine is gone.
KOVA::KOVAPushCallback forwardingCallback(const std::shared_ptr<KOVA::KOVAClientLibImpl>& engine);

}  // namespace kova::test::engine
