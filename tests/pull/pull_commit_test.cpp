// Commits of a pulled batch: cumulative offsets, the size rule, the agent's
// codes and a connection that dies during the call, in both forms; and the
// follow-up pull through the callback agent.
#include <gtest/gtest.h>

#include <future>

#include "ConsumeResultConversion.h"
#include "pull_fixture.h"

namespace kova::test::pull {
namespace {

using namespace std::chrono_literals;

class CommitTest : public PullFixture {
protected:
    void SetUp() override {
        PullFixture::SetUp();
        agent_.preload(kRid, batchOf(3, "skip-"));
        ASSERT_EQ(0, pull(3)->Commit("sid", 0, -1));  // the batch under test starts at a non-zero offset
        agent_.clearRecords();
        agent_.preload(kRid, batchOf(10));
        batch_ = pull(10);
        ASSERT_EQ(0, batch_->Status());
        ASSERT_EQ(10u, batch_->msgList.size());
        base_ = batch_->CommitState()->_commitInfo.offset;
        ASSERT_EQ(3, base_);
    }

    std::vector<Ice::Long> committedOffsets() const {
        std::vector<Ice::Long> offsets;
        for (const auto& call : agent_.calls(AgentOp::Commit)) offsets.push_back(call.commit.offset);
        return offsets;
    }
    Ice::Long offset() const { return batch_->CommitState()->_commitInfo.offset; }
    int remaining() const { return batch_->CommitState()->_size; }

    // Calls AsyncCommit and waits (bounded) for its one callback.
    int asyncCommit(int succSize, bool* calledBeforeReturn = nullptr) {
        const engine::CodeRecorder done;
        batch_->AsyncCommit("sid", 0, succSize, done.callback(), done.cookie(5));
        if (calledBeforeReturn) *calledBeforeReturn = done.count() != 0;
        if (!done.waitFor(1)) return -1;
        EXPECT_EQ(done.cookie(5), done.all()[0].cookie);
        return done.all()[0].code;
    }

    KOVA::ConsumeStatusPtr batch_;
    Ice::Long base_ = 0;
};

TEST_F(CommitTest, CommitsAreCumulativeUntilNothingRemains) {
    EXPECT_EQ(0, batch_->Commit("commit-sid", 3, 4));
    EXPECT_EQ(6, remaining());
    const auto first = agent_.calls(AgentOp::Commit).at(0);
    EXPECT_EQ("commit-sid", first.sid);
    EXPECT_EQ(3, first.status) << "the caller's consume result travels as the commit status";
    EXPECT_EQ(kRid, first.commit.rid);
    EXPECT_EQ(0, batch_->Commit("sid", 0, -1));
    EXPECT_EQ(0, remaining());
    EXPECT_EQ((std::vector<Ice::Long>{base_ + 4, base_ + 10}), committedOffsets());
    EXPECT_EQ(std::optional<Ice::Long>(base_ + 10), agent_.committedOffset(kRid));

    const ClientLogMark log;
    EXPECT_EQ(41, batch_->Commit("sid", 0, 1));
    EXPECT_EQ(41, batch_->Commit("sid", 0, 0));
    EXPECT_EQ(2u, agent_.callCount(AgentOp::Commit)) << "an invalid commit sends nothing";
    EXPECT_EQ(2u, log.count("WARN: Invalid commit, the succSize is invalid bigger than max success size:0"));
}

TEST_F(CommitTest, SizeBeyondWhatRemainsIsRefusedWithoutACall) {
    const ClientLogMark log;
    EXPECT_EQ(41, batch_->Commit("sid", 0, 11));
    EXPECT_EQ(10, remaining());
    EXPECT_EQ(base_, offset());
    EXPECT_EQ(0u, agent_.callCount(AgentOp::Commit));
    EXPECT_EQ(1u, log.count("WARN: Invalid commit, the succSize is invalid bigger than max success size:10"));
    EXPECT_EQ(0, batch_->Commit("sid", 0, 0)) << "zero commits without advancing";
    EXPECT_EQ((std::vector<Ice::Long>{base_}), committedOffsets());
}

TEST_F(CommitTest, AgentCodeTakesTheSynchronousAdvanceBack) {
    agent_.script().nextCommitCode(5);
    const ClientLogMark log;
    EXPECT_EQ(5, batch_->Commit("sid", 0, 4));
    EXPECT_EQ(base_, offset());
    EXPECT_EQ(10, remaining());
    EXPECT_EQ(1u, log.count("WARN: Commit failed, for rid:pull-rid, sid:sid, ret:5"));
    EXPECT_EQ(0, batch_->Commit("sid", 0, 4)) << "the same commit again";
    EXPECT_EQ((std::vector<Ice::Long>{base_ + 4, base_ + 4}), committedOffsets());
}

TEST_F(CommitTest, ConnectionClosedDuringCommitReports0AndKeepsTheAdvance) {
    agent_.script().closeNext(AgentOp::Commit);
    const ClientLogMark log;
    EXPECT_EQ(0, batch_->Commit("sid", 0, 4));
    EXPECT_EQ(base_ + 4, offset());
    EXPECT_EQ(6, remaining());
    EXPECT_EQ(1u, log.count("WARN: Commit failed, the remote node is shutdown:"));
    EXPECT_EQ(0, batch_->Commit("sid", 0, -1));
    EXPECT_EQ(base_ + 10, committedOffsets().back());
}

TEST_F(CommitTest, AsynchronousCommitOfAnInvalidCountCallsBack41BeforeReturning) {
    bool calledBeforeReturn = false;
    EXPECT_EQ(41, asyncCommit(11, &calledBeforeReturn));
    EXPECT_TRUE(calledBeforeReturn);
    EXPECT_EQ(0u, agent_.callCount(AgentOp::Commit));
    EXPECT_EQ(10, remaining());
}

TEST_F(CommitTest, AsynchronousCommitAdvancesAndKeepsTheAdvanceOnACode) {
    EXPECT_EQ(0, asyncCommit(4));
    EXPECT_EQ((std::vector<Ice::Long>{base_ + 4}), committedOffsets());
    agent_.script().nextCommitCode(5);
    EXPECT_EQ(5, asyncCommit(2));
    EXPECT_EQ(base_ + 6, offset()) << "the asynchronous form never takes an advance back";
    EXPECT_EQ(4, remaining());
    EXPECT_EQ(0, asyncCommit(-1));
    EXPECT_EQ(base_ + 10, committedOffsets().back());
}

TEST_F(CommitTest, AsynchronousCommitOnAClosedConnectionReports0) {
    agent_.script().closeNext(AgentOp::Commit);
    const ClientLogMark log;
    EXPECT_EQ(0, asyncCommit(4));
    EXPECT_EQ(base_ + 4, offset());
    EXPECT_EQ(1u, log.count("WARN: Commit ignore failed! get exception:"));
}

TEST_F(CommitTest, AsynchronousCommitWithoutCallbackStillCommits) {
    batch_->AsyncCommit("sid", 0, -1, KOVA::CommitCallback(), nullptr);
    ASSERT_TRUE(agent_.waitForAnswers(AgentOp::Commit, 1, 10s));
    EXPECT_EQ(base_ + 10, committedOffsets().back());
}

TEST_F(CommitTest, FollowUpPullGoesToTheCallbackAgentThatServedTheBatch) {
    agent_.preload(kRid, batchOf(4, "next-"));
    std::string sid = "follow";
    KOVA::ConsumeStatusPtr next = batch_->Consume(kRid, sid, 10, {{"k", "v"}}, 0);
    ASSERT_EQ(0, next->Status());
    ASSERT_EQ(4u, next->msgList.size());
    EXPECT_EQ("next-0", keyOf(next->msgList[0]));
    ASSERT_EQ(1u, agent_.calls(AgentOp::CallbackConsume).size());
    EXPECT_EQ("follow", agent_.calls(AgentOp::CallbackConsume)[0].sid);
    EXPECT_EQ("v", agent_.calls(AgentOp::CallbackConsume)[0].context.at("k"));
    EXPECT_EQ(1u, agent_.callCount(AgentOp::Consume)) << "the engine's agent is not asked";
    EXPECT_EQ(0, next->Commit("follow", 0, -1));
    EXPECT_EQ(base_ + 14, committedOffsets().back());
}

class FailedPullCommitTest : public PullFixture {};

TEST_F(FailedPullCommitTest, FailedPullCommitsNothingAndRefusesAFollowUpPull) {
    KOVA::ConsumeStatusPtr failed = pull();
    ASSERT_EQ(16, failed->Status());
    EXPECT_EQ(0, failed->Delay());
    EXPECT_EQ(0, failed->Commit("sid", 0, 5));
    const engine::CodeRecorder result;
    failed->AsyncCommit("sid", 0, 5, result.callback(), nullptr);
    ASSERT_EQ(1u, result.count()) << "called back at once";

    const ClientLogMark log;
    std::string sid = "s";
    KOVA::ConsumeStatusPtr next = failed->Consume(kRid, sid, 1, {}, 0);
    EXPECT_EQ(6, next->Status());
    EXPECT_EQ(0u, agent_.callCount(AgentOp::Commit));
    EXPECT_EQ(0u, agent_.callCount(AgentOp::CallbackConsume));
    EXPECT_EQ(1u, log.count("WARN: Invalid direct consumer handler for rid: `pull-rid'"));
}

TEST(HandBuiltStatusTest, StatusWithCode0ButNoCommitStateRefusesAFollowUpPull) {
    KOVA::KOVAClientAdapterPtr logging = makeAdapter({});  // starts the logger in the test's directory
    KOVA::ConsumeStatusPtr handMade = new KOVA::ConsumeStatus(0, nullptr);
    const ClientLogMark log;
    std::string sid = "s";
    KOVA::ConsumeStatusPtr next = handMade->Consume("rid", sid, 1, {}, 0);
    EXPECT_EQ(6, next->Status());
    EXPECT_EQ(0, handMade->Commit("sid", 0, 1));
    EXPECT_EQ(1u, log.count("WARN: Invalid direct consumer handler for rid: `rid'"));
}

// A reply that named no callback agent: nothing can be sent, so nothing may
// count as committed.
TEST(HandBuiltStatusTest, CommitWithoutCallbackAgentReports100AndTakesTheAdvanceBack) {
    KOVA::KOVAClientAdapterPtr logging = makeAdapter({});
    KOVA::ConsumeResultInfo reply{};
    reply.commit.offset = 7;
    KOVAMsg::KOVABatchMessage records = batchOf(2);
    KOVA::ConsumeStatusPtr batch = KOVA::GetLocalStatusFromConsumeResult(reply, records, nullptr, -1);
    const engine::CodeRecorder async;
    batch->AsyncCommit("sid", 0, -1, async.callback(), nullptr);
    ASSERT_TRUE(async.waitFor(1));
    EXPECT_EQ(100, async.code(0));
    EXPECT_EQ(100, batch->Commit("sid", 0, 1));
    EXPECT_EQ(7, batch->CommitState()->_commitInfo.offset);
    EXPECT_EQ(2, batch->CommitState()->_size);
}

// Proxies named by an agent's reply (the commit proxy, the direct-pull proxy)
// take the agent's own invocation timeout (300 ms here), not the
// communicator's default (30 s): an agent that never answers cannot hold
// them longer.
TEST_F(PullFixture, ProxiesNamedByTheReplyTakeTheAgentsInvocationTimeout) {
    engine_ = makeEngine(agent_.agentProxyString(), {std::string(kAgentKey) + ".InvocationTimeout=300"});
    // Each call meets the held reply; a timed-out commit reports 0 and a
    // timed-out direct pull asks the agent: only the bound is observable.
    const struct {
        const char* what;
        AgentOp held;
        std::function<void()> call;
    } cases[] = {
        {"commit", AgentOp::Commit,
         [this] {
             agent_.preload(kRid, batchOf(1));
             pull()->Commit("pull-sid", 0, 1);
         }},
        {"direct pull", AgentOp::CallbackConsume,
         [this] {
             agent_.preload(kRid, batchOf(1));
             grantDirectPulls();
             pull();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        agent_.script().holdNext(c.held);
        std::future<void> call = std::async(std::launch::async, c.call);
        const bool bounded = call.wait_for(10s) == std::future_status::ready;
        agent_.releaseHeld();
        EXPECT_TRUE(bounded) << "waited for the communicator's default timeout";
        call.get();
        EXPECT_EQ(1u, agent_.callCount(c.held));
    }
}

}  // namespace
}  // namespace kova::test::pull
