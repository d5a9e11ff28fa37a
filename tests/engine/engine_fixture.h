// The engine tests' client adapters (named "et") and the fixture that shares
// one stand-in agent across a suite.
// Thread-safety: the free functions are stateless; SuiteAgentTest's agent is
// started and stopped by the test thread and locks itself.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "KOVAClientLibImpl.h"
#include "batches.h"
#include "callback_recorders.h"
#include "client_items.h"
#include "completion_pool.h"
#include "engine_probe.h"
#include "shared_infrastructure.h"
#include "standin_agent.h"
#include "waits.h"

namespace kova::test::engine {

using kova::test::fixtures::SharedInfrastructure;
using kova::test::standin::AgentOp;
using Probe = KOVA::KOVAClientLibImplProbe;

// A client adapter of its own (so its own communicator and router connection)
// with the test binary's log directory and a default agent that satisfies the
// configuration check; engines use the agent keys given in `items`.
inline KOVA::KOVAClientAdapterPtr makeAdapter(const std::vector<std::string>& items) {
    return makeTestAdapter("et", items);
}

// One stand-in agent for the whole suite (started by the suite's
// SetUpTestSuite through startAgent()), its script and records cleared before
// each test, and engines of their own adapter for it.
class SuiteAgentTest : public ::testing::Test {
protected:
    static void startAgent(const standin::StandinAgentOptions& options = {}) {
        agent_ = new standin::StandinAgent(options);
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
    static KOVA::KOVAClientLibImplPtr routedEngine(const std::string& password = SharedInfrastructure::kPassword) {
        return engineFor("Routed", routedAgentItems("Routed", agent_->agentProxyString(),
                                                    SharedInfrastructure::get().routerProxy(), password));
    }

    inline static standin::StandinAgent* agent_ = nullptr;
};

}  // namespace kova::test::engine
