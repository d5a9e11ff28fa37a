// Which agent each synchronous pull reaches: the direct-pull budget, its
// thresholds and its fall-back, counted on the stand-in's two servants.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <thread>
#include <vector>

#include "pull_fixture.h"

namespace kova::test::pull {
namespace {

class DirectPullTest : public PullFixture {
protected:
    void SetUp() override {
        PullFixture::SetUp();
        agent_.preload(kRid, batchOf(400));
        // Direct replies keep direct pulling on unless a test says otherwise.
        agent_.script().delayCycle(AgentOp::CallbackConsume, {5000});
    }
};

TEST_F(DirectPullTest, DelayAbove10000SendsExactlyTheBudgetToTheCallbackAgent) {
    grantDirectPulls(10001);
    EXPECT_EQ(100, Probe::budget(*engine_)) << "10001 / 100";

    for (int i = 0; i < 100; ++i) {
        KOVA::ConsumeStatusPtr status = pull();
        ASSERT_EQ(0, status->Status());
        ASSERT_EQ(1u, status->msgList.size());
    }
    EXPECT_EQ(100u, directPulls());
    EXPECT_EQ(1u, agentPulls());

    ASSERT_EQ(0, pull()->Status());
    EXPECT_EQ(100u, directPulls()) << "the budget is spent";
    EXPECT_EQ(2u, agentPulls());
}

TEST_F(DirectPullTest, BudgetIsCappedAt1000) {
    grantDirectPulls(500000);
    EXPECT_EQ(1000, Probe::budget(*engine_));
}

TEST_F(DirectPullTest, DelayOfExactly10000GrantsNothing) {
    grantDirectPulls(10000);
    ASSERT_EQ(0, pull()->Status());
    EXPECT_EQ(0u, directPulls());
    EXPECT_EQ(2u, agentPulls());
}

TEST_F(DirectPullTest, BudgetOfOneGivesOneDirectPull) {
    grantDirectPulls();
    Probe::setBudget(*engine_, 1);
    ASSERT_EQ(0, pull()->Status());
    ASSERT_EQ(0, pull()->Status());
    EXPECT_EQ(1u, directPulls());
    EXPECT_EQ(2u, agentPulls());
    EXPECT_LE(Probe::budget(*engine_), 0);
}

// Eight threads start together on a budget of 50, round after round: exactly
// 50 direct pulls each time (a load before the decrement lets two threads
// spend the last unit).
TEST_F(DirectPullTest, EightThreadsSpendABudgetOf50OnExactly50DirectPulls) {
    grantDirectPulls();
    for (int round = 0; round < 100; ++round) {
        Probe::setBudget(*engine_, 50);
        std::atomic<int> ready{0};
        std::atomic<int> taken{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&] {
                for (++ready; ready.load() < 8;) continue;  // all start together
                while (Probe::takeDirectPullTurn(*engine_)) ++taken;
            });
        }
        for (std::thread& thread : threads) thread.join();
        ASSERT_EQ(50, taken.load()) << "round " << round;
    }
}

TEST_F(DirectPullTest, SynchronousDirectReplyBelow1000SwitchesDirectPullingOff) {
    agent_.script().delayCycle(AgentOp::CallbackConsume, {});
    agent_.script()
        .nextDelay(AgentOp::CallbackConsume, 5000)
        .nextDelay(AgentOp::CallbackConsume, 1000)
        .nextDelay(AgentOp::CallbackConsume, 999);
    grantDirectPulls();
    for (int i = 0; i < 4; ++i) ASSERT_EQ(0, pull()->Status());
    EXPECT_EQ(3u, directPulls()) << "5000 and 1000 keep it on, 999 ends it";
    EXPECT_EQ(2u, agentPulls());
    EXPECT_FALSE(Probe::directProxy(*engine_));
}

TEST_F(DirectPullTest, FailedDirectPullFallsBackToTheAgentInTheSameCall) {
    grantDirectPulls();
    agent_.script().nextCode(AgentOp::CallbackConsume, 5);
    KOVA::ConsumeStatusPtr status = pull(3);
    ASSERT_EQ(0, status->Status()) << "the agent's answer, not the callback agent's 5";
    EXPECT_EQ(3u, status->msgList.size());
    EXPECT_EQ(1u, directPulls());
    EXPECT_EQ(2u, agentPulls());

    ASSERT_EQ(0, pull()->Status());
    EXPECT_EQ(3u, agentPulls()) << "a failed direct pull switches direct pulling off";
}

TEST_F(DirectPullTest, UnreachableCallbackAgentFallsBackAndSwitchesOff) {
    grantDirectPulls();
    agent_.script().closeNext(AgentOp::CallbackConsume);
    const ClientLogMark log;
    KOVA::ConsumeStatusPtr status = pull();
    ASSERT_EQ(0, status->Status());
    EXPECT_EQ(2u, agentPulls());
    EXPECT_FALSE(Probe::directProxy(*engine_));
    EXPECT_EQ(1u, log.count("FATAL: Failed Operation for rid:pull-rid sid:pull-sid exception:"));
}

TEST_F(DirectPullTest, BudgetIsSharedByEveryResourceOfTheEngine) {
    agent_.preload("other-rid", batchOf(5, "other-"));
    grantDirectPulls();
    KOVA::ConsumeStatusPtr status = pull(1, "other-rid");
    ASSERT_EQ(0, status->Status());
    EXPECT_EQ(1u, directPulls());
    ASSERT_EQ(1u, status->msgList.size());
    EXPECT_EQ("other-0", keyOf(status->msgList[0]));
}

class SyncPullTest : public PullFixture {};

TEST_F(SyncPullTest, EmptySessionIdBecomesClientIdThenMicrosecondsAndIsWrittenBack) {
    agent_.preload(kRid, batchOf(1));
    std::string sid;
    KOVA::ConsumeStatusPtr status = engine_->Consume(kRid, sid, 1, {}, 0);
    ASSERT_EQ(0, status->Status());
    const std::string prefix = KOVA::_kova_ClientId() + "-";
    ASSERT_EQ(0u, sid.find(prefix)) << sid;
    const std::string micros = sid.substr(prefix.size());
    ASSERT_GE(micros.size(), 16u) << "microseconds since 1970";
    for (char c : micros) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c))) << sid;
    ASSERT_EQ(1u, agent_.calls(AgentOp::Consume).size());
    EXPECT_EQ(sid, agent_.calls(AgentOp::Consume)[0].sid);

    std::string given = "caller-sid";
    engine_->Consume(kRid, given, 1, {}, 0);
    EXPECT_EQ("caller-sid", given);
    EXPECT_EQ("caller-sid", agent_.calls(AgentOp::Consume)[1].sid);
}

TEST_F(SyncPullTest, ArgumentsAndPropertiesReachTheAgent) {
    agent_.preload(kRid, batchOf(2));
    std::string sid = "s1";
    KOVA::ConsumeStatusPtr status = engine_->Consume(kRid, sid, 7, {{"color", "blue"}}, 3);
    ASSERT_EQ(0, status->Status());
    ASSERT_EQ(1u, agent_.calls(AgentOp::Consume).size());
    const auto call = agent_.calls(AgentOp::Consume)[0];
    EXPECT_EQ(7, call.count);
    EXPECT_EQ(3, call.timeout);
    EXPECT_EQ("blue", call.context.at("color"));
    EXPECT_EQ(2u, status->msgList.size());
}

TEST_F(SyncPullTest, EveryServerCodeWritesAFatalLine) {
    const ClientLogMark log;
    for (int i = 0; i < 2; ++i) {
        KOVA::ConsumeStatusPtr empty = pull();
        ASSERT_TRUE(empty);
        EXPECT_EQ(16, empty->Status());
        EXPECT_TRUE(empty->msgList.empty());
        EXPECT_FALSE(empty->CommitState());
    }
    EXPECT_EQ(2u, log.count("FATAL: Consume data failed rid:pull-rid sid:pull-sid code:16."));
}

TEST(SyncPullFailure, UnreachableAgentGivesStatus100NeverNull) {
    KOVA::KOVAClientLibImplPtr engine = makeEngine("KOVAAgent:tcp -h 127.0.0.1 -p 9");
    const ClientLogMark log;
    std::string sid = "s";
    KOVA::ConsumeStatusPtr status = engine->Consume("rid", sid, 1, {}, 0);
    ASSERT_TRUE(status);
    EXPECT_EQ(100, status->Status());
    EXPECT_TRUE(status->msgList.empty());
    EXPECT_EQ(1u, log.count("FATAL: Failed Operation for rid:rid sid:s exception:"));
}

}  // namespace
}  // namespace kova::test::pull
