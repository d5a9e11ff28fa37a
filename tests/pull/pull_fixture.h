// The pull tests' client (adapter "pt" of its own, engine on agent key
// "PullAgent") and the fixture with a fresh in-process stand-in agent and an
// engine for it, per test.
// Thread-safety: the fixture's helpers may be called from several test threads
// at once (the engine and the agent lock themselves).
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
#include "standin_agent.h"

namespace kova::test::pull {

using engine::batchOf;
using engine::ClientLogMark;
using engine::CompletionPool;
using engine::PullCallback;
using engine::PullRecorder;
using standin::AgentOp;
using Probe = KOVA::KOVAClientLibImplProbe;

constexpr const char* kAgentKey = "PullAgent";

// Up to four client threads; long polls stay below the invocation timeout.
inline KOVA::KOVAClientAdapterPtr makeAdapter(const std::vector<std::string>& items) {
    std::vector<std::string> all{"Ice.ThreadPool.Client.SizeMax=4"};
    all.insert(all.end(), items.begin(), items.end());
    return engine::makeTestAdapter("pt", all, std::chrono::seconds(30));
}

// An engine for the agent at `agentProxy` (extra items may add a router).
inline KOVA::KOVAClientLibImplPtr makeEngine(const std::string& agentProxy,
                                             const std::vector<std::string>& extra = {}) {
    std::vector<std::string> items{std::string(kAgentKey) + "=" + agentProxy};
    items.insert(items.end(), extra.begin(), extra.end());
    return std::make_shared<KOVA::KOVAClientLibImpl>(kAgentKey, makeAdapter(items));
}

inline std::string keyOf(const KOVA::IMessage& message) { return message.GetProperty("KEYS"); }

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
    int pullAsync(KOVA::PullConsumerCallback cb, const std::shared_ptr<boost::asio::io_context>& service, int count = 1,
                  int timeout = 0, const std::string& rid = kRid) {
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

    standin::StandinAgent agent_;
    KOVA::KOVAClientLibImplPtr engine_;
};

}  // namespace kova::test::pull
