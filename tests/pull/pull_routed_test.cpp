// Pulls and commits behind the real glacier2router (with IceGrid sessions):
// every proxy the pull hands on (commit, direct pull, follow-up pull) goes
// through the router too, and a lost router session is rebuilt.
#include <gtest/gtest.h>

#include <filesystem>

#include "client_items.h"
#include "infrastructure_environment.h"
#include "log_reader.h"
#include "pull_fixture.h"
#include "shared_infrastructure.h"

namespace kova::test::pull {
namespace {

using fixtures::SharedInfrastructure;
using namespace std::chrono_literals;

auto* const kInfrastructure = ::testing::AddGlobalTestEnvironment(new fixtures::InfrastructureTeardown);

class RoutedPullTest : public ::testing::Test {
protected:
    static constexpr const char* kRid = "routed-rid";

    void SetUp() override {
        SharedInfrastructure& infra = SharedInfrastructure::get();
        if (!infra.router().running()) infra.router().start();  // a test before may have stopped it
        agent_.start();
        engine_ = makeEngine(agent_.agentProxyString(),
                             engine::routerItems(std::string(kAgentKey) + ".Router", infra.routerProxy(),
                                                 SharedInfrastructure::kPassword));
        ASSERT_TRUE(engine_->Ping());
    }

    KOVA::ConsumeStatusPtr pull(int count) {
        std::string sid = "routed-sid";
        return engine_->Consume(kRid, sid, count, {}, 0);
    }
    static bool routed(const KOVA::KOVACallbackAgentPrx& prx) { return prx && prx->ice_getRouter(); }

    standin::StandinAgent agent_;
    KOVA::KOVAClientLibImplPtr engine_;
};

TEST_F(RoutedPullTest, PullCommitDirectAndFollowUpPullsAllTravelThroughTheRouter) {
    agent_.preload(kRid, batchOf(20));
    KOVA::ConsumeStatusPtr batch = pull(4);
    ASSERT_EQ(0, batch->Status());
    ASSERT_EQ(4u, batch->msgList.size());
    ASSERT_TRUE(routed(batch->CommitState()->_commitPrx));
    EXPECT_EQ(0, batch->Commit("routed-sid", 0, 2));
    EXPECT_EQ(std::optional<Ice::Long>(2), agent_.committedOffset(kRid));

    std::string sid = "routed-sid";
    KOVA::ConsumeStatusPtr followUp = batch->Consume(kRid, sid, 3, {}, 0);
    ASSERT_EQ(0, followUp->Status());
    EXPECT_EQ(1u, agent_.callCount(AgentOp::CallbackConsume));
    EXPECT_TRUE(routed(followUp->CommitState()->_commitPrx)) << "the follow-up keeps the router";

    agent_.script().nextConsumeDelay(10001);
    ASSERT_EQ(0, pull(1)->Status());
    ASSERT_TRUE(routed(Probe::directProxy(*engine_)));
    agent_.script().delayCycle(AgentOp::CallbackConsume, {5000});
    ASSERT_EQ(0, pull(1)->Status());
    EXPECT_EQ(2u, agent_.callCount(AgentOp::CallbackConsume));

    CompletionPool pool;
    PullRecorder recorder;
    KOVA::PullConsumerCallback cb = recorder.callback();
    ASSERT_EQ(0, engine_->Consume(kRid, sid, 2, cb, nullptr, {}, 0, pool.service()));
    ASSERT_TRUE(recorder.waitFor(1));
    EXPECT_EQ(0, recorder.all()[0].status->Status());

    // With the router gone the remaining commit has no way to the agent: it
    // went through the router all along.
    const size_t commits = agent_.callCount(AgentOp::Commit);
    SharedInfrastructure::get().router().stop();
    const ClientLogMark log;
    EXPECT_EQ(0, batch->Commit("routed-sid", 0, -1)) << "an exception counts as committed";
    EXPECT_EQ(commits, agent_.callCount(AgentOp::Commit));
    EXPECT_EQ(0, batch->CommitState()->_size);
    EXPECT_EQ(1u, log.count("Commit failed, ")) << log.text();
}

// The follow-up pull learns its router locally: a remote check after the pull
// could fail and throw the delivered batch away.
TEST_F(RoutedPullTest, FollowUpPullAsksTheRouterNothingAfterThePull) {
    const std::string iceLog = engine::processLogDir() + "/follow-up-ice.trace";
    std::vector<std::string> items = engine::routerItems(
        std::string(kAgentKey) + ".Router", SharedInfrastructure::get().routerProxy(), SharedInfrastructure::kPassword);
    items.insert(items.end(), {"Ice.Trace.Protocol=1", "Ice.LogFile=" + iceLog});
    KOVA::KOVAClientLibImplPtr traced = makeEngine(agent_.agentProxyString(), items);
    agent_.preload(kRid, batchOf(4));
    std::string sid = "follow";
    KOVA::ConsumeStatusPtr batch = traced->Consume(kRid, sid, 2, {}, 0);
    ASSERT_EQ(0, batch->Status());
    const size_t mark = std::filesystem::file_size(iceLog);
    ASSERT_EQ(0, batch->Consume(kRid, sid, 2, {}, 0)->Status());
    const std::string traces = fixtures::readFile(iceLog);
    EXPECT_NE(std::string::npos, traces.find("operation = Consume", mark)) << traces.substr(mark);
    EXPECT_EQ(std::string::npos, traces.find("operation = ice_isA", mark)) << traces.substr(mark);
}

TEST_F(RoutedPullTest, LostRouterSessionIsRebuiltByTheNextPull) {
    agent_.preload(kRid, batchOf(5));
    ASSERT_EQ(0, pull(1)->Status());
    SharedInfrastructure::get().router().restart();

    const ClientLogMark log;
    // The old connection to the router died with it: the pull fails and drops
    // the proxies, so that the next one opens a new router session.
    KOVA::ConsumeStatusPtr first = pull(1);
    EXPECT_EQ(100, first->Status());
    EXPECT_EQ(1u, log.count("FATAL: Re create session for router for rid:routed-rid")) << log.text();
    KOVA::ConsumeStatusPtr second = pull(1);
    EXPECT_EQ(0, second->Status()) << log.text();
}

// The reply of an asynchronous pull whose callback proxy cannot be routed
// (a fixed proxy) makes the conversion throw; the caller still hears once.
TEST_F(RoutedPullTest, ReplyThatCannotBeConvertedFinishesAsAFailedPull) {
    Ice::CommunicatorPtr ic = Ice::initialize();
    Ice::ConnectionPtr connection = ic->stringToProxy(agent_.callbackProxyString())->ice_getConnection();
    KOVA::ConsumeResultInfo reply{};
    reply.code = 0;
    reply.callback = KOVA::KOVACallbackAgentPrx::uncheckedCast(
        connection->createProxy(Ice::stringToIdentity(standin::StandinAgent::kCallbackIdentity)));

    PullRecorder recorder;
    const ClientLogMark log;
    Probe::completeWith(*engine_, kRid, "conv-sid", recorder.callback(), reply, batchOf(2));
    ASSERT_TRUE(recorder.waitFor(1, 1s));
    EXPECT_EQ(100, recorder.all()[0].status->Status());
    EXPECT_TRUE(recorder.all()[0].status->msgList.empty());
    EXPECT_EQ(1u, log.count("FATAL: Failed Operation for rid:routed-rid sid:conv-sid exception:")) << log.text();
    EXPECT_FALSE(recorder.waitFor(2, 200ms));
    ic->destroy();
}

}  // namespace
}  // namespace kova::test::pull
