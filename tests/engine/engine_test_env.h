// The engine tests' client adapters (named "et"), small batches, and the
// fixture that shares one stand-in agent across a suite, on the shared engine
// testing pieces.
// Thread-safety: the free functions are stateless; SuiteAgentTest's agent is
// started and stopped by the test thread and locks itself.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "KOVAClientLibImpl.h"
#include "batches.h"
#include "client_items.h"
#include "completion_pool.h"
#include "shared_infrastructure.h"
#include "standin_agent.h"

namespace kova::enginetest {

using kova::test::engine::CompletionPool;
using kova::test::engine::routedAgentItems;
using kova::test::fixtures::SharedInfrastructure;
using kova::test::standin::AgentOp;

// A client adapter of its own (so its own communicator and router connection)
// with the test binary's log directory and a default agent that satisfies the
// configuration check; engines use the agent keys given in `items`.
inline KOVA::KOVAClientAdapterPtr makeAdapter(const std::vector<std::string>& items) {
    return kova::test::engine::makeTestAdapter("et", items);
}

inline KOVAMsg::KOVABatchMessage batchOf(int records) { return kova::test::engine::keyedBatch(records, 16); }

// One stand-in agent for the whole suite (started by the suite's
// SetUpTestSuite through startAgent()), its script and records cleared before
// each test, and engines of their own adapter for it.
class SuiteAgentTest : public ::testing::Test {
protected:
    static void startAgent(const kova::test::standin::StandinAgentOptions& options = {}) {
        agent_ = new kova::test::standin::StandinAgent(options);
        agent_->start();
    }
    static void TearDownTestSuite() {
        delete agent_;
        agent_ = nullptr;
    }
    void SetUp() override {
        agent_->script().clear();
        agent_->clearRecords();
    }

    static KOVA::KOVAClientLibImplPtr engineFor(const std::string& key, const std::vector<std::string>& items) {
        return std::make_shared<KOVA::KOVAClientLibImpl>(key, makeAdapter(items));
    }
    // Behind the shared router, through the agent's own router keys.
    static KOVA::KOVAClientLibImplPtr routedEngine(
        const std::string& password = kova::test::fixtures::SharedInfrastructure::kPassword) {
        return engineFor("Routed", routedAgentItems("Routed", agent_->agentProxyString(),
                                                    kova::test::fixtures::SharedInfrastructure::get().routerProxy(),
                                                    password));
    }

    inline static kova::test::standin::StandinAgent* agent_ = nullptr;
};

}  // namespace kova::enginetest
