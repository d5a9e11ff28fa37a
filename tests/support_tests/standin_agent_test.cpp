// The in-process stand-in agent, driven over real Ice on 127.0.0.1: produce,
// pull with long polls, commit accounting, scripted codes, delays, held replies,
// forceful closes and restart on the same ports.
#include "agent_client_fixture.h"

#include "standin_agent.h"

#include <gtest/gtest.h>

#include <thread>

namespace kova::test::support_tests {
namespace {

using standin::AgentOp;
using standin::CallOutcome;
using namespace std::chrono_literals;

constexpr int kNoNewMessage = 16;
constexpr int kCommitInvalid = 41;

class StandinAgentTest : public AgentClientTest {
protected:
    KOVA::ConsumeResultInfo consume(const std::string& rid, int count, int timeout, KOVAMsg::KOVABatchMessage& datas) {
        return prx_->Consume(rid, "pull-sid", count, timeout, datas);
    }
};

TEST_F(StandinAgentTest, ProducedMessagesArePulledInOrderWithCommitStateAndCallbackAgent) {
    Ice::Context context{{"__ks1", "10.1.2.3"}, {"caller", "yes"}};
    ASSERT_EQ(prx_->Produce("orders", "prod-sid", makeBatch(3, "a"), context), 0);
    ASSERT_EQ(prx_->Produce("orders", "prod-sid", makeBatch(2, "b"), context), 0);

    KOVAMsg::KOVABatchMessage datas;
    KOVA::ConsumeResultInfo info = consume("orders", 4, 0, datas);
    EXPECT_EQ(info.code, 0);
    ASSERT_EQ(datas.size(), 4u);
    EXPECT_EQ(bodyOf(datas[0]), "a-0");
    EXPECT_EQ(bodyOf(datas[3]), "b-0");
    EXPECT_EQ(datas[3].properties.at("TAGS"), "t0");
    ASSERT_GE(datas[3].l_properties.size(), 3u);
    EXPECT_EQ(datas[3].l_properties[0], 1700000000000);  // born time kept
    EXPECT_EQ(datas[3].l_properties[2], 3);              // queue offset stamped
    EXPECT_EQ(info.commit.type, KOVA::StateEnable);
    EXPECT_EQ(info.commit.offset, 0);
    EXPECT_EQ(info.commit.rid, "orders");
    ASSERT_TRUE(info.callback);
    EXPECT_NE(info.callback->ice_toString().find("-p " + std::to_string(agent_.callbackPort())), std::string::npos);

    // The rest of the queue comes next, starting at the following offset.
    info = consume("orders", 10, 0, datas);
    EXPECT_EQ(info.code, 0);
    ASSERT_EQ(datas.size(), 1u);
    EXPECT_EQ(bodyOf(datas[0]), "b-1");
    EXPECT_EQ(info.commit.offset, 4);

    info = consume("orders", 10, 0, datas);
    EXPECT_EQ(info.code, kNoNewMessage);
    EXPECT_TRUE(datas.empty());

    auto produces = agent_.calls(AgentOp::Produce);
    ASSERT_EQ(produces.size(), 2u);
    EXPECT_EQ(produces[0].context, context);
    EXPECT_EQ(produces[0].sid, "prod-sid");
    EXPECT_EQ(produces[0].messageCount, 3);
    EXPECT_EQ(produces[0].peerAddress, "127.0.0.1");
    EXPECT_GT(produces[0].peerPort, 0);
    EXPECT_EQ(agent_.callCount(AgentOp::Consume), 3u);
}

TEST_F(StandinAgentTest, EmptyQueueLongPollAnswersNoNewMessageAfterTheTimeout) {
    KOVAMsg::KOVABatchMessage datas;
    KOVA::ConsumeResultInfo info = consume("idle", 10, 150, datas);
    EXPECT_EQ(info.code, kNoNewMessage);
    EXPECT_TRUE(datas.empty());
    auto calls = agent_.calls(AgentOp::Consume);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].timeout, 150);
    EXPECT_EQ(calls[0].outcome, CallOutcome::Answered);
    EXPECT_EQ(calls[0].code, kNoNewMessage);
}

TEST_F(StandinAgentTest, LongPollIsAnsweredByTheNextProduce) {
    Ice::AsyncResultPtr pending = prx_->begin_Consume("late", "pull-sid", 10, 20000);
    ASSERT_TRUE(agent_.waitForCalls(AgentOp::Consume, 1, 5s));
    ASSERT_EQ(prx_->Produce("late", "prod-sid", makeBatch(2, "late")), 0);
    KOVAMsg::KOVABatchMessage datas;
    KOVA::ConsumeResultInfo info = prx_->end_Consume(datas, pending);
    EXPECT_EQ(info.code, 0);
    ASSERT_EQ(datas.size(), 2u);
    EXPECT_EQ(bodyOf(datas[1]), "late-1");
}

TEST_F(StandinAgentTest, CommitBeyondWhatWasDeliveredIsRefusedWith41) {
    ASSERT_EQ(prx_->Produce("c", "s", makeBatch(5)), 0);
    KOVAMsg::KOVABatchMessage datas;
    KOVA::ConsumeResultInfo info = consume("c", 3, 0, datas);
    ASSERT_EQ(info.code, 0);
    ASSERT_TRUE(info.callback);

    KOVA::CommitInfo commit = info.commit;
    commit.offset = info.commit.offset + 4;  // one more than delivered
    EXPECT_EQ(info.callback->Commit("commit-sid", 0, commit), kCommitInvalid);
    EXPECT_FALSE(agent_.committedOffset("c"));
    commit.offset = info.commit.offset + 3;
    EXPECT_EQ(info.callback->Commit("commit-sid", 7, commit), 0);
    EXPECT_EQ(agent_.committedOffset("c"), 3);

    auto commits = agent_.calls(AgentOp::Commit);
    ASSERT_EQ(commits.size(), 2u);
    EXPECT_EQ(commits[1].sid, "commit-sid");
    EXPECT_EQ(commits[1].status, 7);
    EXPECT_EQ(commits[1].commit.offset, 3);
    EXPECT_EQ(commits[1].commit.rid, "c");
    EXPECT_EQ(commits[0].code, kCommitInvalid);
}

TEST_F(StandinAgentTest, CallbackAgentConsumeIsCountedApartAndScriptedCodesComeInOrder) {
    ASSERT_EQ(prx_->Produce("d", "s", makeBatch(2)), 0);
    KOVAMsg::KOVABatchMessage datas;
    KOVA::ConsumeResultInfo first = consume("d", 1, 0, datas);
    ASSERT_TRUE(first.callback);
    KOVA::ConsumeResultInfo direct = first.callback->Consume("d", "direct-sid", 5, 0, datas);
    EXPECT_EQ(direct.code, 0);
    EXPECT_EQ(datas.size(), 1u);
    EXPECT_EQ(agent_.callCount(AgentOp::CallbackConsume), 1u);
    EXPECT_EQ(agent_.callCount(AgentOp::Consume), 1u);

    agent_.script().nextCodes(AgentOp::Produce, {5, 31});
    agent_.script().nextCommitCode(42);
    EXPECT_EQ(prx_->Produce("d", "s", makeBatch(1)), 5);
    EXPECT_EQ(prx_->Produce("d", "s", makeBatch(1)), 31);
    EXPECT_EQ(prx_->Produce("d", "s", makeBatch(1)), 0);
    EXPECT_EQ(agent_.queued("d"), 1u);  // refused batches are not queued
    EXPECT_EQ(first.callback->Commit("sid", 0, direct.commit), 42);
    EXPECT_EQ(first.callback->Commit("sid", 0, direct.commit), 0);
}

TEST_F(StandinAgentTest, ConsumeDelaysFollowTheScriptThenTheCycle) {
    agent_.preload("z", makeBatch(10));
    agent_.script().nextConsumeDelay(10001).delayCycle(AgentOp::Consume, {20000, 500});
    std::vector<Ice::Long> delays;
    for (int i = 0; i < 4; ++i) {
        KOVAMsg::KOVABatchMessage datas;
        delays.push_back(consume("z", 1, 0, datas).delay);
    }
    EXPECT_EQ(delays, (std::vector<Ice::Long>{10001, 20000, 500, 20000}));
}

TEST_F(StandinAgentTest, StandingBatchIsAnsweredAgainWithAdvancingOffsets) {
    agent_.setStandingBatch("bench", makeBatch(3, "s"));
    KOVAMsg::KOVABatchMessage datas;
    KOVA::ConsumeResultInfo first = consume("bench", 1, 0, datas);
    ASSERT_EQ(datas.size(), 3u);
    KOVA::ConsumeResultInfo second = consume("bench", 1, 0, datas);
    ASSERT_EQ(datas.size(), 3u);
    EXPECT_EQ(bodyOf(datas[2]), "s-2");
    EXPECT_EQ(first.commit.offset, 0);
    EXPECT_EQ(second.commit.offset, 3);
    KOVA::CommitInfo commit = second.commit;
    commit.offset = 6;
    EXPECT_EQ(second.callback->Commit("s", 0, commit), 0);
    commit.offset = 7;
    EXPECT_EQ(second.callback->Commit("s", 0, commit), kCommitInvalid);

    agent_.setStandingBatch("bench", {});
    EXPECT_EQ(consume("bench", 1, 0, datas).code, kNoNewMessage);
}

TEST_F(StandinAgentTest, HeldReplyIsAnsweredOnlyWhenReleased) {
    agent_.script().holdNext(AgentOp::Produce);
    Ice::AsyncResultPtr pending = prx_->begin_Produce("h", "s", makeBatch(1));
    ASSERT_TRUE(agent_.waitForHeld(1, 5s));
    EXPECT_FALSE(pending->isCompleted());
    EXPECT_EQ(agent_.calls(AgentOp::Produce).at(0).outcome, CallOutcome::Pending);
    EXPECT_EQ(agent_.releaseHeld(), 1u);
    EXPECT_EQ(prx_->end_Produce(pending), 0);
    EXPECT_EQ(agent_.calls(AgentOp::Produce).at(0).outcome, CallOutcome::Answered);
}

TEST_F(StandinAgentTest, ScriptedCloseDropsTheCallersConnection) {
    agent_.script().closeNext(AgentOp::Produce);
    EXPECT_THROW(prx_->Produce("x", "s", makeBatch(1)), Ice::ConnectionLostException);
    EXPECT_EQ(agent_.calls(AgentOp::Produce).at(0).outcome, CallOutcome::Closed);
    EXPECT_EQ(agent_.queued("x"), 0u);
    // The next call opens a new connection and is served normally.
    EXPECT_EQ(prx_->Produce("x", "s", makeBatch(1)), 0);
}

TEST_F(StandinAgentTest, SleepDelaysTheAnswerWithoutLosingIt) {
    agent_.script().nextCode(AgentOp::Produce, 12).nextSleep(AgentOp::Produce, 50ms);
    EXPECT_EQ(prx_->Produce("s", "s", makeBatch(1)), 12);
}

TEST_F(StandinAgentTest, StopAnswersPendingLongPollsAndRestartKeepsThePortsAndTheQueue) {
    const int port = agent_.agentPort();
    const int callbackPort = agent_.callbackPort();
    ASSERT_EQ(prx_->Produce("keep", "s", makeBatch(2)), 0);
    Ice::AsyncResultPtr pending = prx_->begin_Consume("never", "s", 1, 20000);
    ASSERT_TRUE(agent_.waitForCalls(AgentOp::Consume, 1, 5s));

    agent_.restart();
    KOVAMsg::KOVABatchMessage datas;
    EXPECT_THROW(prx_->end_Consume(datas, pending), Ice::ConnectionLostException);
    EXPECT_EQ(agent_.calls(AgentOp::Consume).at(0).outcome, CallOutcome::Dropped);
    EXPECT_EQ(agent_.agentPort(), port);
    EXPECT_EQ(agent_.callbackPort(), callbackPort);

    KOVA::ConsumeResultInfo info = consume("keep", 10, 0, datas);
    EXPECT_EQ(info.code, 0);
    EXPECT_EQ(datas.size(), 2u);
}

}  // namespace
}  // namespace kova::test::support_tests
