// Agent sessions for real: a stand-in agent on loopback, registered with the
// real icegridregistry, and the real glacier2router with an IceGrid session
// manager and a counting permissions verifier.
#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine_fixture.h"
#include "free_port.h"
#include "infrastructure_environment.h"
#include "shared_infrastructure.h"
#include "standin_agent.h"

namespace kova::test::engine {
namespace {

auto* const kInfrastructure = ::testing::AddGlobalTestEnvironment(new fixtures::InfrastructureTeardown);

class EngineSessionTest : public SuiteAgentTest {
protected:
    static void SetUpTestSuite() {
        SharedInfrastructure& infra = SharedInfrastructure::get();
        standin::StandinAgentOptions options;
        options.locator = infra.locatorProxy();
        options.adapterId = infra.uniqueAdapterId();
        startAgent(options);
    }
    static long acceptedSessions() { return SharedInfrastructure::get().verifier().verifier().accepted(); }
    static int produce(KOVA::KOVAClientLibImpl& engine) { return engine.Produce("rid", "", batchOf(1), {}); }
};

TEST_F(EngineSessionTest, DirectAgentIsReachedWithoutRouterOrSession) {
    KOVA::KOVAClientLibImplPtr engine = engineFor("Direct", {"Direct=" + agent_->agentProxyString()});
    const long sessionsBefore = acceptedSessions();

    ASSERT_TRUE(engine->Ping());
    EXPECT_FALSE(Probe::routed(*engine));
    EXPECT_FALSE(Probe::hasSession(*engine));
    EXPECT_EQ(0, produce(*engine));
    ASSERT_EQ(1u, agent_->callCount(AgentOp::Produce));
    EXPECT_EQ("127.0.0.1", agent_->calls(AgentOp::Produce)[0].peerAddress);
    EXPECT_EQ(sessionsBefore, acceptedSessions());
}

TEST_F(EngineSessionTest, LocatorResolvesAgentThroughRegistry) {
    ASSERT_FALSE(agent_->indirectProxyString().empty());
    KOVA::KOVAClientLibImplPtr engine = engineFor(
        "Located",
        {"Located=" + agent_->indirectProxyString(), "Located.Locator=" + SharedInfrastructure::get().locatorProxy()});

    ASSERT_TRUE(engine->Ping());
    EXPECT_FALSE(Probe::routed(*engine));
    EXPECT_EQ(0, produce(*engine));
    EXPECT_EQ(1u, agent_->callCount(AgentOp::Produce));
}

TEST_F(EngineSessionTest, AgentRouterCreatesOneIceGridSessionAndRoutesCalls) {
    const long sessionsBefore = acceptedSessions();
    KOVA::KOVAClientLibImplPtr engine = routedEngine();

    ASSERT_TRUE(engine->Ping());
    EXPECT_TRUE(Probe::routed(*engine));
    EXPECT_TRUE(Probe::hasSession(*engine)) << "the router's session manager makes IceGrid sessions";
    EXPECT_EQ(sessionsBefore + 1, acceptedSessions());
    EXPECT_EQ(0, produce(*engine));
    EXPECT_EQ(0, produce(*engine));
    EXPECT_EQ(sessionsBefore + 1, acceptedSessions()) << "later calls reuse the session";
    EXPECT_EQ(2u, agent_->callCount(AgentOp::Produce));
}

// The default router serves an agent without a router of its own; a router of
// its own, and the session opened there, are reached directly, not through the
// default one (which may be dead).
TEST_F(EngineSessionTest, DefaultRouterServesAgentWithoutRouterOfItsOwnAndRoutesNoRouter) {
    const std::string router = SharedInfrastructure::get().routerProxy();
    const std::string dead = "Dead/router:tcp -h 127.0.0.1 -p " + std::to_string(fixtures::freeLoopbackPort());
    const std::vector<std::pair<bool, std::string>> rows{{false, router}, {true, router}, {true, dead}};
    for (const auto& [own, defaultRouter] : rows) {
        SCOPED_TRACE((own ? "a router of its own too, default " : "the default router only, ") + defaultRouter);
        const long sessionsBefore = acceptedSessions();
        std::vector<std::string> items =
            routerItems("Ice.Default.Router", defaultRouter, SharedInfrastructure::kPassword);
        const std::vector<std::string> agent =
            own ? routedAgentItems("Plain", agent_->agentProxyString(), router, SharedInfrastructure::kPassword)
                : std::vector<std::string>{"Plain=" + agent_->agentProxyString()};
        items.insert(items.end(), agent.begin(), agent.end());
        KOVA::KOVAClientLibImplPtr engine = engineFor("Plain", items);

        ASSERT_TRUE(engine->Ping());
        EXPECT_TRUE(Probe::routed(*engine));
        EXPECT_TRUE(Probe::hasSession(*engine));
        EXPECT_EQ(sessionsBefore + 1, acceptedSessions());
        EXPECT_EQ(0, produce(*engine));
    }
}

// A router that never answers holds the engine's calls no longer than the
// agent's invocation timeout, and an activation of the listener no longer than
// the default agent's, though no default timeout is set.
TEST_F(EngineSessionTest, ARouterThatNeverAnswersHoldsCallsOnlyForTheirInvocationTimeout) {
    standin::StandinAgent router;  // its silent object plays the router
    router.start();
    const KOVA::KOVAClientAdapterPtr adapter =
        makeTestAdapter("et",
                        {"Mute=" + agent_->agentProxyString(), "Mute.InvocationTimeout=300",
                         "Mute.Router=" + router.silentProxyString(), "etServer.Proxy.InvocationTimeout=300",
                         "et.Router=" + router.silentProxyString()},
                        std::chrono::milliseconds(-1));
    KOVA::KOVAClientLibImpl engine("Mute", adapter);
    std::future<int> produced = std::async(std::launch::async, [&] { return produce(engine); });
    std::future<bool> activated =
        std::async(std::launch::async, [&] { return adapter->ActiveAdapter(KOVA::KOVAPushCallback(), false); });
    const bool bounded = produced.wait_for(std::chrono::seconds(30)) == std::future_status::ready &&
                         activated.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    router.stop();  // fails what it holds and refuses the rest: nothing waits past here
    EXPECT_TRUE(bounded);
    EXPECT_EQ(KOVA::COMMON::INTERNAL_ERROR, produced.get());
    EXPECT_FALSE(activated.get());
}

TEST_F(EngineSessionTest, RefusedCredentialsLeaveNoAgentProxy) {
    const long refusedBefore = SharedInfrastructure::get().verifier().verifier().refused();
    KOVA::KOVAClientLibImplPtr engine = routedEngine("wrong-password");

    EXPECT_FALSE(engine->Ping());
    EXPECT_FALSE(Probe::hasAgentProxy(*engine));
    EXPECT_GT(SharedInfrastructure::get().verifier().verifier().refused(), refusedBefore);
    EXPECT_EQ(KOVA::COMMON::INTERNAL_ERROR, produce(*engine));
    EXPECT_EQ(0u, agent_->callCount(AgentOp::Produce));
}

TEST_F(EngineSessionTest, RouterRestartFailsOneCallAndNextCallBuildsNewSession) {
    KOVA::KOVAClientLibImplPtr engine = routedEngine();
    ASSERT_EQ(0, produce(*engine));
    const long sessionsBefore = acceptedSessions();

    SharedInfrastructure::get().router().restart();

    EXPECT_EQ(KOVA::COMMON::INTERNAL_ERROR, produce(*engine)) << "the old session died with the router";
    EXPECT_FALSE(Probe::hasAgentProxy(*engine)) << "a lost connection behind a router drops the proxies";
    EXPECT_EQ(0, produce(*engine));
    EXPECT_EQ(sessionsBefore + 1, acceptedSessions());
}

TEST_F(EngineSessionTest, SixteenConcurrentFirstCallsShareOneSession) {
    KOVA::KOVAClientLibImplPtr engine = routedEngine();
    const long sessionsBefore = acceptedSessions();
    const int kThreads = 16;

    std::mutex mutex;
    std::condition_variable go;
    bool started = false;
    std::vector<int> results(kThreads, -1);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            {
                std::unique_lock<std::mutex> lock(mutex);
                go.wait(lock, [&] { return started; });
            }
            results[i] = produce(*engine);
        });
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        started = true;
    }
    go.notify_all();
    for (std::thread& t : threads) {
        t.join();
    }

    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(0, results[i]) << "thread " << i;
    }
    EXPECT_EQ(sessionsBefore + 1, acceptedSessions());
    // A second build racing the first would have its createSession refused on
    // the shared router connection and leave the engine without a session.
    EXPECT_TRUE(Probe::hasSession(*engine));
    EXPECT_EQ(static_cast<size_t>(kThreads), agent_->callCount(AgentOp::Produce));
}

TEST_F(EngineSessionTest, EveryRegisterProxyIsNewAndBoundToTheAgentConnection) {
    KOVA::KOVAClientLibImplPtr engine = engineFor("Direct", {"Direct=" + agent_->agentProxyString()});

    KOVA::KOVAAgentPrx first = Probe::newRegisterProxy(*engine, "rid");
    KOVA::KOVAAgentPrx second = Probe::newRegisterProxy(*engine, "rid");
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_NE(first.get(), second.get());
    EXPECT_EQ(second.get(), Probe::registeredProxy(*engine, "rid").get());
    EXPECT_NE(std::string::npos,
              Probe::registeredEndpoint(*engine, "rid").find("-p " + std::to_string(agent_->agentPort())));

    second->keepAlive();
    EXPECT_EQ(1u, agent_->callCount(AgentOp::KeepAlive));
}

TEST_F(EngineSessionTest, MissingAgentPropertyGivesNoProxy) {
    KOVA::KOVAClientLibImplPtr engine = engineFor("Nowhere", {});

    EXPECT_FALSE(engine->Ping());
    EXPECT_FALSE(Probe::hasAgentProxy(*engine));
    EXPECT_FALSE(Probe::newRegisterProxy(*engine, "rid"));
    EXPECT_EQ(KOVA::COMMON::INTERNAL_ERROR, produce(*engine));
}

}  // namespace
}  // namespace kova::test::engine
