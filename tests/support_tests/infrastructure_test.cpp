// The real glacier2router and icegridregistry fixtures with the stand-in agent:
// router sessions (IceGrid sessions through the router, refused passwords,
// contexts forwarded intact), the locator path, and a router restart on the
// same port.
#include "test_client.h"

#include "agent_process.h"
#include "free_port.h"
#include "infrastructure_environment.h"
#include "shared_infrastructure.h"
#include "standin_agent.h"

#include <Glacier2/Glacier2.h>
#include <IceGrid/IceGrid.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace kova::test::support_tests {
namespace {

using fixtures::SharedInfrastructure;
using standin::AgentOp;
using standin::StandinAgent;
using namespace std::chrono_literals;

const auto* const kTeardown = ::testing::AddGlobalTestEnvironment(new fixtures::InfrastructureTeardown);

Ice::CommunicatorPtr routedClient(const std::string& routerProxy) {
    return makeClient({{"Ice.Default.Router", routerProxy}});
}

Glacier2::RouterPrx routerOf(const Ice::CommunicatorPtr& client) {
    return Glacier2::RouterPrx::checkedCast(client->getDefaultRouter());
}

TEST(Glacier2Fixture, SessionIsAnIceGridSessionAndRoutedCallsKeepTheirContext) {
    SharedInfrastructure& infra = SharedInfrastructure::get();
    StandinAgent agent;
    agent.start();
    const long acceptedBefore = infra.verifier().verifier().accepted();

    Ice::CommunicatorPtr client = routedClient(infra.routerProxy());
    Glacier2::SessionPrx session =
        routerOf(client)->createSession(SharedInfrastructure::kUser, SharedInfrastructure::kPassword);
    IceGrid::SessionPrx gridSession = IceGrid::SessionPrx::checkedCast(session);
    ASSERT_TRUE(gridSession);
    gridSession->keepAlive();
    EXPECT_EQ(infra.verifier().verifier().accepted(), acceptedBefore + 1);

    auto prx = KOVA::KOVAAgentPrx::uncheckedCast(client->stringToProxy(agent.agentProxyString()));
    ASSERT_TRUE(prx->ice_getRouter());
    Ice::Context context{{"__ks1", "10.9.8.7"}, {"__kglacier", "yes"}, {"user-key", "user-value"}};
    EXPECT_EQ(prx->Produce("routed", "routed-sid", makeBatch(2), context), 0);

    auto calls = agent.calls(AgentOp::Produce);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].context, context);
    EXPECT_EQ(calls[0].sid, "routed-sid");
    EXPECT_EQ(calls[0].peerAddress, "127.0.0.1");

    // The reply's callback agent is reachable through the same router.
    KOVAMsg::KOVABatchMessage datas;
    KOVA::ConsumeResultInfo info = prx->Consume("routed", "s", 10, 0, datas);
    ASSERT_EQ(datas.size(), 2u);
    auto callback = KOVA::KOVACallbackAgentPrx::uncheckedCast(info.callback->ice_router(prx->ice_getRouter()));
    KOVA::CommitInfo commit = info.commit;
    commit.offset += 2;
    EXPECT_EQ(callback->Commit("routed-sid", 0, commit), 0);
    EXPECT_EQ(agent.committedOffset("routed"), 2);
    client->destroy();
}

TEST(Glacier2Fixture, PusherReachesAListenerBehindTheRouter) {
    SharedInfrastructure& infra = SharedInfrastructure::get();
    standin::StandinAgentOptions options;
    options.pushSettle = 0ms;
    StandinAgent agent(options);
    agent.start();
    Ice::CommunicatorPtr client = routedClient(infra.routerProxy());
    Glacier2::RouterPrx router = routerOf(client);
    router->createSession(SharedInfrastructure::kUser, SharedInfrastructure::kPassword);

    RecordingListenerPtr listener = new RecordingListener(0);
    Ice::ObjectAdapterPtr adapter = client->createObjectAdapterWithRouter("RoutedListener", router);
    const Ice::Identity identity{"listener", router->getCategoryForClient()};
    auto listenerPrx = KOVA::KOVAMessageListenerPrx::uncheckedCast(adapter->add(listener, identity));
    adapter->activate();

    auto prx = KOVA::KOVAAgentPrx::uncheckedCast(client->stringToProxy(agent.agentProxyString()));
    std::string cid;
    ASSERT_EQ(prx->RegisterKOVAMsgListenerWithProxy("behind", "s", 10, 1, listenerPrx, cid,
                                                    Ice::Context{{"__kglacier", "yes"}}),
              0);
    EXPECT_EQ(agent.calls(AgentOp::RegisterWithProxy).at(0).context.at("__kglacier"), "yes");
    agent.push("behind", makeBatch(2, "routed"), "push-sid");
    ASSERT_TRUE(listener->waitFor(1, 5s));
    EXPECT_EQ(listener->all()[0].bodies, (std::vector<std::string>{"routed-0", "routed-1"}));
    EXPECT_EQ(listener->all()[0].cid, cid);
    ASSERT_TRUE(agent.waitForPushes(1, 5s));
    EXPECT_TRUE(agent.pushes()[0].answered);
    client->destroy();
}

TEST(Glacier2Fixture, WrongPasswordIsRefusedAndCounted) {
    SharedInfrastructure& infra = SharedInfrastructure::get();
    const long refusedBefore = infra.verifier().verifier().refused();
    Ice::CommunicatorPtr client = routedClient(infra.routerProxy());
    EXPECT_THROW(routerOf(client)->createSession(SharedInfrastructure::kUser, "wrong"),
                 Glacier2::PermissionDeniedException);
    EXPECT_EQ(infra.verifier().verifier().refused(), refusedBefore + 1);
    client->destroy();
}

TEST(Glacier2Fixture, RouterRestartOnTheSamePortNeedsANewSession) {
    SharedInfrastructure& infra = SharedInfrastructure::get();
    StandinAgent agent;
    agent.start();
    Ice::CommunicatorPtr client = routedClient(infra.routerProxy());
    routerOf(client)->createSession(SharedInfrastructure::kUser, SharedInfrastructure::kPassword);
    auto prx = KOVA::KOVAAgentPrx::uncheckedCast(client->stringToProxy(agent.agentProxyString()));
    ASSERT_EQ(prx->Produce("r", "s", makeBatch(1)), 0);
    const long acceptedBefore = infra.verifier().verifier().accepted();
    const int port = infra.router().port();

    infra.router().restart();
    EXPECT_EQ(infra.router().port(), port);
    EXPECT_THROW(prx->Produce("r", "s", makeBatch(1)), Ice::ConnectionLostException);

    routerOf(client)->createSession(SharedInfrastructure::kUser, SharedInfrastructure::kPassword);
    EXPECT_EQ(infra.verifier().verifier().accepted(), acceptedBefore + 1);
    EXPECT_EQ(prx->Produce("r", "s", makeBatch(1)), 0);
    EXPECT_EQ(agent.callCount(AgentOp::Produce), 2u);
    client->destroy();
}

TEST(Glacier2Fixture, RouterWithoutSessionManagerGivesANullSessionYetRoutes) {
    SharedInfrastructure& infra = SharedInfrastructure::get();
    fixtures::RouterOptions options;
    options.instanceName = "PlainG2";
    options.verifierProxy = infra.verifierProxy();
    options.sessionTimeoutSeconds = 5;
    fixtures::Glacier2Router router(infra.workDir().path().string(), options);
    router.start();
    StandinAgent agent;
    agent.start();

    Ice::CommunicatorPtr client = routedClient(router.routerProxyString());
    EXPECT_FALSE(routerOf(client)->createSession(SharedInfrastructure::kUser, SharedInfrastructure::kPassword));
    auto prx = KOVA::KOVAAgentPrx::uncheckedCast(client->stringToProxy(agent.agentProxyString()));
    EXPECT_EQ(prx->Produce("plain", "s", makeBatch(1)), 0);
    EXPECT_EQ(routerOf(client)->getSessionTimeout(), 5);
    client->destroy();
}

TEST(IceGridFixture, StandaloneAgentRegistersItsAdapterToo) {
    SharedInfrastructure& infra = SharedInfrastructure::get();
    fixtures::AgentProcessOptions options;
    options.locator = infra.locatorProxy();
    options.adapterId = infra.uniqueAdapterId("ProcessAgent");
    fixtures::AgentProcess agent(options);
    agent.start();
    Ice::CommunicatorPtr client = makeClient({{"Ice.Default.Locator", infra.locatorProxy()}});
    auto prx = KOVA::KOVAAgentPrx::checkedCast(client->stringToProxy("KOVAAgent@" + options.adapterId));
    ASSERT_TRUE(prx);
    EXPECT_EQ(prx->Produce("located", "s", makeBatch(1)), 0);
    EXPECT_EQ(agent.commandValue("count produce"), "1");
    client->destroy();
}

TEST(IceGridFixture, IndirectProxyResolvesThroughTheRegistry) {
    SharedInfrastructure& infra = SharedInfrastructure::get();
    standin::StandinAgentOptions options;
    options.locator = infra.locatorProxy();
    options.adapterId = infra.uniqueAdapterId();
    StandinAgent agent(options);
    agent.start();
    ASSERT_EQ(agent.indirectProxyString(), "KOVAAgent@" + options.adapterId);

    Ice::CommunicatorPtr client = makeClient({{"Ice.Default.Locator", infra.locatorProxy()}});
    auto prx = KOVA::KOVAAgentPrx::checkedCast(client->stringToProxy(agent.indirectProxyString()));
    ASSERT_TRUE(prx);
    EXPECT_EQ(prx->Produce("located", "s", makeBatch(1)), 0);
    EXPECT_EQ(agent.queued("located"), 1u);
    const std::string endpoint = prx->ice_getConnection()->getEndpoint()->toString();
    EXPECT_NE(endpoint.find("-p " + std::to_string(agent.agentPort())), std::string::npos);
    client->destroy();
}

TEST(FixtureHelpers, FreePortsCanBeBoundAndTempDirsAreRemoved) {
    const int port = fixtures::freeLoopbackPort();
    EXPECT_GT(port, 0);
    standin::StandinAgentOptions options;
    options.agentPort = port;
    StandinAgent agent(options);
    agent.start();
    EXPECT_EQ(agent.agentPort(), port);

    std::filesystem::path kept;
    {
        fixtures::TempDir dir("kova-helper");
        kept = dir.path();
        std::ofstream(dir.file("x.txt")) << "x";
        EXPECT_TRUE(std::filesystem::exists(dir.file("x.txt")));
    }
    EXPECT_FALSE(std::filesystem::exists(kept));
}

}  // namespace
}  // namespace kova::test::support_tests
