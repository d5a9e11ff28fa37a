// Asynchronous pulls: every issued pull calls back exactly once, on the thread
// its outcome calls for; direct pulling from the asynchronous side.
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>

#include <stdexcept>

#include "agent_process.h"
#include "pull_fixture.h"
#include "waits.h"

namespace kova::test::pull {
namespace {

using namespace std::chrono_literals;

class AsyncPullTest : public PullFixture {
protected:
    // Nothing more arrives within a short grace period (a second callback would).
    static void expectNoMore(const PullRecorder& recorder, size_t n) {
        EXPECT_FALSE(recorder.waitFor(n + 1, 300ms)) << "more than " << n << " callbacks";
    }

    CompletionPool pool_;
    PullRecorder recorder_;
};

TEST_F(AsyncPullTest, SuccessCallsBackOnceOnTheCompletionPool) {
    agent_.preload(kRid, batchOf(3));
    KOVA::PullConsumerCallback cb = recorder_.callback();
    std::string sid;
    int cookie = 0;
    ASSERT_EQ(0, engine_->Consume(kRid, sid, 5, cb, &cookie, {}, 0, pool_.service()));
    EXPECT_FALSE(cb) << "a pull issued to the agent takes the callback over";
    EXPECT_EQ(0u, sid.find(KOVA::_kova_ClientId() + "-")) << "written back before the call returns";

    ASSERT_TRUE(recorder_.waitFor(1));
    const PullCallback got = recorder_.all()[0];
    EXPECT_EQ(kRid, got.rid);
    EXPECT_EQ(sid, got.sid);
    EXPECT_EQ(&cookie, got.cookie);
    EXPECT_TRUE(pool_.ownsThread(got.thread));
    ASSERT_EQ(0, got.status->Status());
    ASSERT_EQ(3u, got.status->msgList.size());
    EXPECT_EQ("key-2", keyOf(got.status->msgList[2]));
    expectNoMore(recorder_, 1);
}

TEST_F(AsyncPullTest, ServerCodeCallsBackOnTheIceThreadWithAnInfoLine) {
    const ClientLogMark log;
    ASSERT_EQ(0, pullAsync(recorder_.callback(), pool_.service()));
    ASSERT_TRUE(recorder_.waitFor(1));
    const PullCallback got = recorder_.all()[0];
    EXPECT_EQ(16, got.status->Status());
    EXPECT_TRUE(got.status->msgList.empty());
    EXPECT_FALSE(pool_.ownsThread(got.thread));
    EXPECT_NE(std::this_thread::get_id(), got.thread);
    EXPECT_EQ(1u, log.count("INFO: Consume data failed rid:pull-rid sid:pull-sid code:16."));
    EXPECT_EQ(0u, log.count("FATAL: Consume data failed"));
    expectNoMore(recorder_, 1);
}

TEST_F(AsyncPullTest, AgentReplyAbove10000TurnsDirectPullingOn) {
    agent_.preload(kRid, batchOf(5));
    agent_.script().nextConsumeDelay(10001);
    ASSERT_EQ(0, pullAsync(recorder_.callback(), pool_.service()));
    ASSERT_TRUE(recorder_.waitFor(1));
    EXPECT_EQ(100, Probe::budget(*engine_));
    agent_.script().delayCycle(AgentOp::CallbackConsume, {5000});
    ASSERT_EQ(0, pull()->Status());
    EXPECT_EQ(1u, directPulls());
}

TEST_F(AsyncPullTest, AsynchronousDirectReplyBelow10000SwitchesDirectPullingOff) {
    agent_.preload(kRid, batchOf(10));
    agent_.script().nextDelay(AgentOp::CallbackConsume, 10000).nextDelay(AgentOp::CallbackConsume, 5000);
    grantDirectPulls();

    KOVA::PullConsumerCallback cb = recorder_.callback();
    ASSERT_EQ(0, pullAsync(cb, pool_.service()));
    EXPECT_TRUE(cb) << "a direct pull copies the callback";
    ASSERT_TRUE(recorder_.waitFor(1));
    ASSERT_TRUE(Probe::directProxy(*engine_)) << "10000 keeps it on";

    ASSERT_EQ(0, pullAsync(cb, pool_.service()));
    ASSERT_TRUE(recorder_.waitFor(2));
    EXPECT_EQ(2u, directPulls());
    for (const PullCallback& got : recorder_.all()) {
        EXPECT_EQ(0, got.status->Status());
        EXPECT_TRUE(pool_.ownsThread(got.thread));
    }
    EXPECT_FALSE(Probe::directProxy(*engine_)) << "5000 ends it on the asynchronous side";
    ASSERT_EQ(0, pull()->Status());
    EXPECT_EQ(2u, directPulls());
    EXPECT_EQ(2u, agentPulls());
}

TEST_F(AsyncPullTest, FailedAsynchronousDirectPullCallsBackAndSwitchesOff) {
    agent_.preload(kRid, batchOf(5));
    grantDirectPulls();
    agent_.script().nextCode(AgentOp::CallbackConsume, 7);
    ASSERT_EQ(0, pullAsync(recorder_.callback(), pool_.service()));
    ASSERT_TRUE(recorder_.waitFor(1));
    EXPECT_EQ(7, recorder_.all()[0].status->Status());
    EXPECT_FALSE(pool_.ownsThread(recorder_.all()[0].thread));
    EXPECT_FALSE(Probe::directProxy(*engine_));
    expectNoMore(recorder_, 1);
}

TEST_F(AsyncPullTest, LateFailureOfAnOldDirectPullLeavesANewerGrantAlone) {
    agent_.preload(kRid, batchOf(10));
    grantDirectPulls();
    Probe::setBudget(*engine_, 1);
    agent_.script().holdNext(AgentOp::CallbackConsume).nextCode(AgentOp::CallbackConsume, 7);
    ASSERT_EQ(0, pullAsync(recorder_.callback(), pool_.service()));
    ASSERT_TRUE(agent_.waitForHeld(1, 5s));

    grantDirectPulls();  // the budget is spent: this one asks the agent, which grants again
    ASSERT_EQ(2u, agentPulls());
    const KOVA::KOVACallbackAgentPrx granted = Probe::directProxy(*engine_);
    ASSERT_TRUE(granted);

    agent_.releaseHeld();
    ASSERT_TRUE(recorder_.waitFor(1));
    EXPECT_EQ(7, recorder_.all()[0].status->Status());
    EXPECT_EQ(granted.get(), Probe::directProxy(*engine_).get()) << "the failed pull used the previous grant";
    agent_.script().delayCycle(AgentOp::CallbackConsume, {5000});
    ASSERT_EQ(0, pull()->Status());
    EXPECT_EQ(2u, directPulls());
}

TEST_F(AsyncPullTest, ClosedConnectionAfterIssueCallsBackOnceWith100) {
    agent_.script().closeNext(AgentOp::Consume);
    const ClientLogMark log;
    ASSERT_EQ(0, pullAsync(recorder_.callback(), pool_.service()));
    ASSERT_TRUE(recorder_.waitFor(1));
    const PullCallback got = recorder_.all()[0];
    EXPECT_EQ(100, got.status->Status());
    EXPECT_TRUE(got.status->msgList.empty());
    EXPECT_FALSE(pool_.ownsThread(got.thread));
    EXPECT_EQ(1u, log.count("FATAL: Failed Operation for rid:pull-rid sid:pull-sid exception:"));
    expectNoMore(recorder_, 1);
}

TEST_F(AsyncPullTest, CompletionWithoutIoContextCallsBackInPlaceWithAWarning) {
    agent_.preload(kRid, batchOf(2));
    const ClientLogMark log;
    ASSERT_EQ(0, pullAsync(recorder_.callback(), nullptr, 2));
    ASSERT_TRUE(recorder_.waitFor(1));
    const PullCallback got = recorder_.all()[0];
    EXPECT_EQ(0, got.status->Status());
    EXPECT_EQ(2u, got.status->msgList.size());
    EXPECT_NE(std::this_thread::get_id(), got.thread);
    EXPECT_EQ(1u, log.count("WARN: No io_context for the pull completion of rid:pull-rid sid:pull-sid"));
}

TEST_F(AsyncPullTest, ThrowingCallbackIsContainedAndItsNodeFreed) {
    agent_.preload(kRid, batchOf(2));
    const ClientLogMark log;
    auto sentinel = std::make_shared<int>(0);
    std::weak_ptr<int> watch = sentinel;
    KOVA::PullConsumerCallback throwing = [sentinel](const std::string&, const std::string&, KOVA::ConsumeStatusPtr,
                                                     void*) { throw std::runtime_error("callback failed"); };
    sentinel.reset();
    ASSERT_EQ(0, pullAsync(std::move(throwing), pool_.service()));
    // The pool survives the exception: the next completion still runs on it.
    ASSERT_EQ(0, pullAsync(recorder_.callback(), pool_.service()));
    ASSERT_TRUE(recorder_.waitFor(1));
    EXPECT_TRUE(pool_.ownsThread(recorder_.all()[0].thread));
    engine::eventually([&] { return watch.expired(); }, 2s, 20ms);
    EXPECT_TRUE(watch.expired()) << "the node (and the callback it held) was freed";
    EXPECT_EQ(1u, log.count("ERROR: Pull callback threw for rid:pull-rid sid:pull-sid exception:callback failed"));
}

TEST(AsyncPullFailure, PullThatCannotBeIssuedReturns100AndNeverCallsBack) {
    KOVA::KOVAClientLibImplPtr engine = makeEngine("KOVAAgent:tcp -h 127.0.0.1 -p 9");
    CompletionPool pool;
    PullRecorder recorder;
    std::string sid = "s";
    KOVA::PullConsumerCallback cb = recorder.callback();
    EXPECT_EQ(100, engine->Consume("rid", sid, 1, cb, nullptr, {}, 0, pool.service()));
    EXPECT_FALSE(recorder.waitFor(1, std::chrono::milliseconds(500)));
}

// A communicator destroyed under the engine (a listener re-activated behind a
// router replaces it) must not leave the old proxy in place: every later pull
// would fail on it.
TEST(AsyncPullFailure, DestroyedCommunicatorDropsTheProxiesSoTheNextPullBuildsThemAgain) {
    standin::StandinAgent agent;
    agent.start();
    KOVA::KOVAClientAdapterPtr adapter = makeAdapter({std::string(kAgentKey) + "=" + agent.agentProxyString()});
    KOVA::KOVAClientLibImplPtr engine = std::make_shared<KOVA::KOVAClientLibImpl>(kAgentKey, adapter);
    CompletionPool pool;
    PullRecorder recorder;
    std::string sid = "s";
    KOVA::PullConsumerCallback cb = recorder.callback();
    ASSERT_EQ(0, engine->Consume("rid", sid, 1, cb, nullptr, {}, 0, pool.service()));
    ASSERT_TRUE(recorder.waitFor(1));
    ASSERT_TRUE(Probe::hasAsyncPullProxy(*engine));

    adapter->getCommunicator()->destroy();
    cb = recorder.callback();
    EXPECT_EQ(100, engine->Consume("rid", sid, 1, cb, nullptr, {}, 0, pool.service()));
    EXPECT_FALSE(Probe::hasAsyncPullProxy(*engine));
    EXPECT_FALSE(recorder.waitFor(2, std::chrono::milliseconds(300))) << "a pull not issued never calls back";
}

// A callback on the Ice thread (non-zero status) drops the last outside
// reference to the engine, the only holder of its adapter: released there, the
// adapter would destroy its communicator from that communicator's own thread.
TEST(AsyncPullFailure, LastReferenceDroppedByACallbackOnTheIceThreadIsReleasedOffIt) {
    standin::StandinAgent agent;
    agent.start();
    agent.script().nextConsumeCode(5);
    KOVA::KOVAClientAdapterPtr adapter = makeAdapter({std::string(kAgentKey) + "=" + agent.agentProxyString()});
    const Ice::CommunicatorPtr ic = adapter->getCommunicator();
    auto engine =
        std::make_shared<KOVA::KOVAClientLibImplPtr>(std::make_shared<KOVA::KOVAClientLibImpl>(kAgentKey, adapter));
    adapter = nullptr;
    CompletionPool pool;
    std::promise<void> issued;
    KOVA::PullConsumerCallback drop = [engine, go = issued.get_future().share()](auto&&...) {
        go.wait_for(10s);
        engine->reset();
    };
    std::string sid = "s";
    ASSERT_EQ(0, (*engine)->Consume("rid", sid, 1, drop, nullptr, {}, 0, pool.service()));
    issued.set_value();
    auto destroyed = [&] {
        try {
            return !ic->stringToProxy("x:tcp -h 127.0.0.1 -p 9");
        } catch (const Ice::CommunicatorDestroyedException&) {
            return true;
        }
    };
    if (!engine::eventually(destroyed, 10s, 20ms)) {
        ADD_FAILURE() << "the communicator is being destroyed from one of its own threads";
        std::_Exit(1);  // that thread never returns: a clean teardown would hang
    }
}

// The agent as a process of its own, so that it can die for real.
TEST(AsyncPullAgentDeath, KillingTheAgentDuringALongPollCallsBackOnceWith100) {
    fixtures::AgentProcess agent;
    agent.start();
    KOVA::KOVAClientLibImplPtr engine = makeEngine(agent.agentProxyString());
    CompletionPool pool;
    PullRecorder recorder;
    std::string sid = "long-poll";
    KOVA::PullConsumerCallback cb = recorder.callback();
    ASSERT_EQ(0, engine->Consume("rid", sid, 1, cb, nullptr, {}, 20000, pool.service()));
    engine::eventually([&] { return agent.commandValue("count consume") == "1"; }, 5s, 20ms);
    ASSERT_EQ("1", agent.commandValue("count consume"));
    EXPECT_FALSE(recorder.waitFor(1, 100ms)) << "still polling";

    agent.kill();
    ASSERT_TRUE(recorder.waitFor(1));
    const PullCallback got = recorder.all()[0];
    EXPECT_EQ(100, got.status->Status());
    EXPECT_TRUE(got.status->msgList.empty());
    EXPECT_FALSE(got.status->CommitState());
    EXPECT_EQ("long-poll", got.sid);
    EXPECT_FALSE(pool.ownsThread(got.thread));
    EXPECT_FALSE(recorder.waitFor(2, 500ms));
}

}  // namespace
}  // namespace kova::test::pull
