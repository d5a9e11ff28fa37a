// A fresh in-process stand-in agent and an engine for it, per test.
// Thread-safety: the fixture's helpers may be called from several test threads
// at once (the engine and the agent lock themselves).
#pragma once

#include <gtest/gtest.h>

#include "pull_probe.h"
#include "pull_test_env.h"
#include "standin_agent.h"

namespace kova::pulltest {

using kova::test::standin::AgentOp;
using Probe = KOVA::KOVAClientLibImplPullProbe;

class PullFixture : public ::testing::Test {
protected:
    static constexpr const char* kRid = "pull-rid";

    void SetUp() override {
        agent_.start();
        engine_ = makeEngine(agent_.agentProxyString());
    }

    KOVA::ConsumeStatusPtr pull(int count = 1, const std::string& rid = kRid) {
        std::string sid = "pull-sid";
        return engine_->Consume(rid, sid, count, {}, 0);
    }
    int pullAsync(KOVA::PullConsumerCallback cb, const std::shared_ptr<boost::asio::io_context>& service,
                  int count = 1, int timeout = 0, const std::string& rid = kRid) {
        std::string sid = "pull-sid";
        return engine_->Consume(rid, sid, count, cb, nullptr, {}, timeout, service);
    }
    // One pull from the agent answered with `delay`, which grants the budget.
    void grantDirectPulls(Ice::Long delay = 10001) {
        agent_.script().nextConsumeDelay(delay);
        KOVA::ConsumeStatusPtr granted = pull();
        ASSERT_EQ(0, granted->Status());
    }
    size_t agentPulls() const { return agent_.callCount(AgentOp::Consume); }
    size_t directPulls() const { return agent_.callCount(AgentOp::CallbackConsume); }

    kova::test::standin::StandinAgent agent_;
    KOVA::KOVAClientLibImplPtr engine_;
};

}  // namespace kova::pulltest
