// The session monitor: keep-alives while running and paused, the real
// cadence, and recovery after the agent process or the glacier2router was
// killed and came back on the same port.
#include <gtest/gtest.h>

#include <signal.h>

#include "agent_process.h"
#include "glacier2_router.h"
#include "infrastructure_environment.h"
#include "push_fixture.h"
#include "standin_agent.h"
#include "temp_dir.h"

namespace kova::test::push {
namespace {

using fixtures::AgentProcess;

static auto* const kInfra = ::testing::AddGlobalTestEnvironment(new fixtures::InfrastructureTeardown);

const KOVA::PushMonitorTimings kFast{kFastFirstTick, kFastInterval};

// A router of the test's own that checks passwords with the shared verifier.
fixtures::RouterOptions ownRouterOptions(const std::string& instanceName) {
    fixtures::RouterOptions options;
    options.instanceName = instanceName;
    options.verifierProxy = SharedInfrastructure::get().verifierProxy();
    return options;
}

std::vector<std::string> routedClientItems(const StandinAgent& agent, const fixtures::Glacier2Router& router) {
    return clientItems(agent.agentProxyString(),
                       defaultRouterItems(router.routerProxyString(), SharedInfrastructure::kPassword));
}

TEST(PushMonitorTest, RunningAndPausedConsumersAreKeptAlive) {
    StandinAgent agent;
    agent.start();
    PushClient client(clientItems(agent.agentProxyString()), kFast);
    ASSERT_TRUE(client.activate());
    RecordingConsumer consumer;
    ASSERT_EQ(0, client.registerConsumer("r1", consumer));
    ASSERT_TRUE(agent.waitForCalls(AgentOp::KeepAlive, 2, std::chrono::seconds(10)));
    EXPECT_TRUE(agent.registrations().at(0).lastKeepAlive.has_value());

    client.engine().PauseConsume("r1");
    const size_t beforePause = agent.callCount(AgentOp::KeepAlive);
    EXPECT_TRUE(agent.waitForCalls(AgentOp::KeepAlive, beforePause + 2, std::chrono::seconds(10)));
    // Keep-alives only: a healthy session is never registered again.
    EXPECT_EQ(1u, agent.callCount(AgentOp::RegisterWithId));
}

// The one test of the real cadence: first tick about 2 s after the
// registration, the next about 10 s after that. Only lower bounds are
// asserted (a busy machine can only make ticks late), upper ones are waits.
TEST(PushMonitorTest, RealCadenceIsTwoSecondsThenTenSeconds) {
    StandinAgent agent;
    agent.start();
    PushClient client(clientItems(agent.agentProxyString()));
    ASSERT_TRUE(client.activate());
    RecordingConsumer consumer;
    const auto registeredBefore = std::chrono::steady_clock::now();
    ASSERT_EQ(0, client.registerConsumer("r1", consumer));
    const auto registered = agent.calls(AgentOp::RegisterWithId).at(0).receivedAt;

    ASSERT_TRUE(agent.waitForCalls(AgentOp::KeepAlive, 1, std::chrono::seconds(8)));
    const auto first = agent.calls(AgentOp::KeepAlive).at(0).receivedAt;
    EXPECT_GE(first - registered, std::chrono::milliseconds(1900));
    EXPECT_GE(first - registeredBefore, std::chrono::milliseconds(1900));

    std::this_thread::sleep_for(std::chrono::milliseconds(8000) - (std::chrono::steady_clock::now() - first));
    EXPECT_EQ(1u, agent.callCount(AgentOp::KeepAlive));
    ASSERT_TRUE(agent.waitForCalls(AgentOp::KeepAlive, 2, std::chrono::seconds(10)));
    const auto second = agent.calls(AgentOp::KeepAlive).at(1).receivedAt;
    EXPECT_GE(second - first, std::chrono::milliseconds(9900));
}

std::string registrationCids(AgentProcess& agent) {
    std::string cids;
    for (const std::string& line : agent.command("registrations")) {
        auto fields = fixtures::parseFields(line);
        if (fields[""] == "REG") {
            cids += fields["cid"] + ",";
        }
    }
    return cids;
}

// Named listener (by proxy) and shared connection (by identity).
class AgentRestartTest : public ::testing::TestWithParam<bool> {};

TEST_P(AgentRestartTest, TheNextTickRegistersAgainWithANewCidAndPushesFlow) {
    AgentProcess agent;
    agent.start();
    const bool named = GetParam();
    std::vector<std::string> extra;
    if (named) {
        extra.push_back("px.Endpoints=tcp -h 127.0.0.1");
    }
    PushClient client(clientItems(agent.agentProxyString(), extra), kFast);
    ASSERT_TRUE(client.activate());
    ASSERT_EQ(!named, client.adapter()->share());
    RecordingConsumer consumer;
    ASSERT_EQ(0, client.registerConsumer("r1", consumer));
    ASSERT_EQ("OK", agent.command("push r1 2 before").back());
    ASSERT_TRUE(consumer.waitFor(2));
    const std::string oldCid = Probe::cid(client.engine(), "r1");

    agent.restart();
    ASSERT_TRUE(eventually([&] {
        const std::string cid = Probe::cid(client.engine(), "r1");
        return !cid.empty() && cid != oldCid;
    })) << "still registered as "
        << oldCid;
    const std::string newCid = Probe::cid(client.engine(), "r1");
    EXPECT_EQ(newCid + ",", registrationCids(agent));

    ASSERT_EQ("OK", agent.command("push r1 2 after").back());
    ASSERT_TRUE(consumer.waitFor(4));
    const std::vector<Received> received = consumer.all();
    EXPECT_EQ("after", received.at(3).body);
}

INSTANTIATE_TEST_SUITE_P(Modes, AgentRestartTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "NamedAdapter" : "SharedConnection";
                         });

// The router dies (SIGKILL) for at least two ticks and comes back on the same
// port: the adapter gets a new communicator and router session, the consumer
// is registered with the new routed listener, and the callback given first
// still receives the pushes.
TEST(PushRouterRecoveryTest, AKilledRouterIsFollowedByANewSessionAndPushesFlowAgain) {
    fixtures::TempDir dir("kova-push-router");
    fixtures::RouterOptions options = ownRouterOptions("PG2");
    options.locatorProxy = SharedInfrastructure::get().locatorProxy();
    options.sessionManager = "TGrid/SessionManager";
    fixtures::Glacier2Router router(dir.path().string(), options);
    router.start();

    StandinAgent agent;
    agent.start();
    PushClient client(routedClientItems(agent, router), kFast);
    ASSERT_TRUE(client.activate());
    RecordingConsumer consumer;
    ASSERT_EQ(0, client.registerConsumer("r1", consumer));
    agent.push("r1", batchOf({"before"}));
    ASSERT_TRUE(consumer.waitFor(1));
    const std::string oldCategory = client.adapter()->getIdentity().category;
    // Behind the router every tick registers again (same cid while the agent
    // knows the listener).
    ASSERT_TRUE(agent.waitForCalls(AgentOp::RegisterWithProxy, 3, std::chrono::seconds(10)));
    EXPECT_EQ(1u, agent.registrations().size());

    ::kill(router.pid(), SIGKILL);
    router.stop();  // reaps the killed process
    std::this_thread::sleep_for(3 * kFastInterval);
    router.start();

    // Registered with the new routed listener. The stand-in pushes to the
    // newest registration that has settled, and every tick's registration
    // restarts that wait, so push while the new one has settled.
    ASSERT_TRUE(eventually([&] {
        for (const standin::ListenerRegistration& r : agent.registrations()) {
            if (r.identity.category != oldCategory &&
                std::chrono::steady_clock::now() - r.registeredAt > 2 * agent.options().pushSettle) {
                return true;
            }
        }
        return false;
    })) << "no registration with a new router category";
    EXPECT_TRUE(client.adapter()->active());
    EXPECT_NE(oldCategory, client.adapter()->getIdentity().category);

    agent.push("r1", batchOf({"after"}));
    ASSERT_TRUE(agent.waitForPushes(2, std::chrono::seconds(10)));
    EXPECT_TRUE(agent.pushes().at(1).answered) << agent.pushes().at(1).error << " to " << agent.pushes().at(1).listener;
    ASSERT_TRUE(consumer.waitFor(2));
    EXPECT_EQ("after", consumer.all().at(1).body);
}

// A first activation while the router is down fails; the monitor's later
// forced activation (with an empty callback) must still serve the callback
// given first.
TEST(PushRouterRecoveryTest, AForcedActivationAfterAFailedOneKeepsTheFirstCallback) {
    fixtures::TempDir dir("kova-push-router2");
    fixtures::Glacier2Router router(dir.path().string(), ownRouterOptions("QG2"));
    router.start();
    StandinAgent agent;
    agent.start();
    PushClient client(routedClientItems(agent, router), kFast);
    router.stop();
    EXPECT_FALSE(client.activate());
    router.start();
    ASSERT_TRUE(client.adapter()->ActiveAdapter(KOVA::KOVAPushCallback(), true));

    RecordingConsumer consumer;
    ASSERT_EQ(0, client.registerConsumer("r1", consumer));
    agent.push("r1", batchOf({"x"}));
    ASSERT_TRUE(agent.waitForPushes(1, std::chrono::seconds(10)));
    EXPECT_TRUE(agent.pushes().at(0).answered) << agent.pushes().at(0).error;
    EXPECT_EQ(0, agent.pushes().at(0).reply);
    EXPECT_EQ(1u, consumer.count());
}

}  // namespace
}  // namespace kova::test::push
