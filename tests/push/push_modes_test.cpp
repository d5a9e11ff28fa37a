// The listener in its three modes: which registration form reaches the agent,
// the listener's identity and proxy, and pushes reaching the caller in order.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <future>

#include "free_port.h"
#include "infrastructure_environment.h"
#include "push_fixture.h"
#include "standin_agent.h"

namespace kova::test::push {
namespace {

static auto* const kInfra = ::testing::AddGlobalTestEnvironment(new fixtures::InfrastructureTeardown);

std::vector<std::string> bodiesOf(const std::vector<Received>& received) {
    std::vector<std::string> bodies;
    for (const Received& r : received) {
        bodies.push_back(r.body);
    }
    return bodies;
}

class PushModesTest : public ::testing::Test {
protected:
    void SetUp() override { agent.start(); }

    // Registers r1, pushes three records and checks they reach the consumer
    // in order with the cookie, the rid and the push's sid.
    void expectPushesFlow(PushClient& client) {
        RecordingConsumer consumer;
        int cookie = 7;
        ASSERT_EQ(0, client.registerConsumer("r1", consumer, &cookie));
        agent.push("r1", batchOf({"a", "b", "c"}), "push-sid");
        ASSERT_TRUE(agent.waitForPushes(1, std::chrono::seconds(10)));
        const standin::PushRecord record = agent.pushes().at(0);
        EXPECT_TRUE(record.answered) << record.error;
        EXPECT_EQ(0, record.reply);
        const std::vector<Received> received = consumer.all();
        EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), bodiesOf(received));
        for (const Received& r : received) {
            EXPECT_EQ(&cookie, r.cookie);
            EXPECT_EQ("r1", r.rid);
            EXPECT_EQ("push-sid", r.sid);
        }
    }

    StandinAgent agent;
};

TEST_F(PushModesTest, NamedAdapterListensOnItsEndpointsAndRegistersByProxy) {
    PushClient client(clientItems(agent.agentProxyString(), {"px.Endpoints=tcp -h 127.0.0.1"}));
    ASSERT_TRUE(client.activate());
    const KOVA::KOVAClientAdapterPtr& adapter = client.adapter();
    EXPECT_FALSE(adapter->share());
    EXPECT_EQ("px", adapter->getAdapter()->getName());
    ASSERT_TRUE(adapter->getListenerProxy());
    EXPECT_EQ(adapter->getClientID(), adapter->getListenerProxy()->ice_getIdentity().name);
    EXPECT_EQ("", adapter->getListenerProxy()->ice_getIdentity().category);
    ASSERT_EQ(1u, adapter->getListenerProxy()->ice_getEndpoints().size());
    EXPECT_EQ(adapter->getAdapter()->getEndpoints().at(0)->toString(),
              adapter->getListenerProxy()->ice_getEndpoints().at(0)->toString());

    expectPushesFlow(client);
    ASSERT_EQ(1u, agent.callCount(AgentOp::RegisterWithProxy));
    EXPECT_EQ(0u, agent.callCount(AgentOp::RegisterWithId));
    const standin::AgentCall call = agent.calls(AgentOp::RegisterWithProxy).at(0);
    EXPECT_EQ(0u, call.context.count("__kglacier"));
    EXPECT_EQ(100, call.count);
    EXPECT_EQ(1, call.maxBatch);
    EXPECT_NE(std::string::npos, call.listener.find(adapter->getClientID()));
    // Registration session id: milliseconds, "-", the client UUID.
    const std::string suffix = "-" + adapter->getClientID();
    ASSERT_GT(call.sid.size(), suffix.size());
    EXPECT_EQ(suffix, call.sid.substr(call.sid.size() - suffix.size()));
}

TEST_F(PushModesTest, WithoutEndpointsTheListenerIsReachedOverTheEnginesConnection) {
    PushClient client(clientItems(agent.agentProxyString()));
    ASSERT_TRUE(client.activate());
    const KOVA::KOVAClientAdapterPtr& adapter = client.adapter();
    EXPECT_TRUE(adapter->share());
    EXPECT_FALSE(adapter->getListenerProxy());
    EXPECT_EQ("", adapter->getAdapter()->getName());
    EXPECT_TRUE(adapter->getAdapter()->getEndpoints().empty());

    expectPushesFlow(client);
    EXPECT_EQ(0u, agent.callCount(AgentOp::RegisterWithProxy));
    ASSERT_EQ(1u, agent.callCount(AgentOp::RegisterWithId));
    const std::vector<standin::ListenerRegistration> registrations = agent.registrations();
    ASSERT_EQ(1u, registrations.size());
    EXPECT_TRUE(registrations[0].byIdentity);
    EXPECT_EQ(adapter->getClientID(), registrations[0].identity.name);
    EXPECT_EQ("", registrations[0].identity.category);
}

TEST_F(PushModesTest, BehindTheRouterTheListenerIsRoutedAndRegisteredWithTheMarker) {
    SharedInfrastructure& infra = SharedInfrastructure::get();
    PushClient client(clientItems(agent.agentProxyString(),
                                  defaultRouterItems(infra.routerProxy(), SharedInfrastructure::kPassword)));
    const KOVA::KOVAClientAdapterPtr& adapter = client.adapter();
    EXPECT_TRUE(adapter->share());  // no endpoints: until the router takes over
    ASSERT_TRUE(client.activate());
    EXPECT_FALSE(adapter->share());
    // Created without a name (Ice names a routed adapter itself), not as "px".
    EXPECT_NE("px", adapter->getAdapter()->getName());
    ASSERT_TRUE(adapter->getListenerProxy());
    const Ice::Identity identity = adapter->getListenerProxy()->ice_getIdentity();
    EXPECT_EQ(adapter->getClientID(), identity.name);
    Glacier2::RouterPrx router = Glacier2::RouterPrx::uncheckedCast(adapter->getCommunicator()->getDefaultRouter());
    EXPECT_EQ(router->getCategoryForClient(), identity.category);

    expectPushesFlow(client);
    ASSERT_EQ(1u, agent.callCount(AgentOp::RegisterWithProxy));
    EXPECT_EQ(0u, agent.callCount(AgentOp::RegisterWithId));
    const standin::AgentCall call = agent.calls(AgentOp::RegisterWithProxy).at(0);
    ASSERT_EQ(1u, call.context.count("__kglacier"));
    EXPECT_EQ("yes", call.context.at("__kglacier"));
    EXPECT_EQ(identity.category, agent.registrations().at(0).identity.category);
}

TEST_F(PushModesTest, AForcedActivationBehindTheRouterBuildsANewCommunicatorAndSession) {
    SharedInfrastructure& infra = SharedInfrastructure::get();
    PushClient client(clientItems(agent.agentProxyString(),
                                  defaultRouterItems(infra.routerProxy(), SharedInfrastructure::kPassword)));
    ASSERT_TRUE(client.activate());
    const Ice::CommunicatorPtr oldCommunicator = client.adapter()->getCommunicator();
    const std::string oldCategory = client.adapter()->getIdentity().category;

    ASSERT_TRUE(client.adapter()->ActiveAdapter(KOVA::KOVAPushCallback(), true));
    EXPECT_NE(oldCommunicator, client.adapter()->getCommunicator());
    EXPECT_THROW(oldCommunicator->stringToProxy("x:tcp -h 127.0.0.1 -p 9"), Ice::CommunicatorDestroyedException);
    EXPECT_NE(oldCategory, client.adapter()->getIdentity().category);
    EXPECT_EQ(client.adapter()->getIdentity().category,
              client.adapter()->getListenerProxy()->ice_getIdentity().category);
    // The callback given first still serves the pushes.
    expectPushesFlow(client);
}

// A router on a closed port: every forced activation rebuilds the communicator
// (and fails). Other threads read the settings meanwhile; they never change.
TEST_F(PushModesTest, RebuildsBehindARouterLeaveEverySettingAsItWas) {
    const std::string text(40, 'x');  // longer than a short string: a reassignment frees it
    PushClient client(clientItems(
        agent.agentProxyString(),
        {"Ice.Default.Router=TG2/router:tcp -h 127.0.0.1 -p " + std::to_string(fixtures::freeLoopbackPort()),
         "px.Fail.CacheDir=/tmp/" + text, "px.Fail.CacheMatch=" + text, "px.Fail.RepRid=" + text}));
    const KOVA::KOVAClientAdapterPtr adapter = client.adapter();
    EXPECT_FALSE(client.activate());
    ASSERT_FALSE(adapter->share()) << "behind a router the listener is registered by proxy";
    std::atomic<bool> done{false};
    std::atomic<int> changes{0};
    std::thread reader([&] {
        for (; !done; changes += adapter->share() || adapter->getStoreDir() != "/tmp/" + text ||
                                 adapter->getStoreFile() != text || adapter->getRepRid() != text ||
                                 !adapter->getItems().empty()) {
        }
    });
    for (int i = 0; i < 100; ++i) EXPECT_FALSE(adapter->ActiveAdapter(KOVA::KOVAPushCallback(), true));
    done = true;
    reader.join();
    EXPECT_EQ(0, changes.load());
}

TEST_F(PushModesTest, APushThatActivatesDuringARouterRenewalDoesNotBlockTheRenewal) {
    // A push callback that registers further consumers activates the adapter
    // from a dispatch of the communicator that a renewal is destroying.
    // Declared before the client, whose push threads run `hooked`.
    std::promise<void> inPush;
    std::promise<void> resume;
    std::shared_future<void> resumed = resume.get_future().share();
    std::atomic<int> activatedInPush{-1};
    std::atomic<bool> first{true};
    SharedInfrastructure& infra = SharedInfrastructure::get();
    PushClient client(clientItems(agent.agentProxyString(),
                                  defaultRouterItems(infra.routerProxy(), SharedInfrastructure::kPassword)));
    const KOVA::KOVAClientAdapterPtr adapter = client.adapter();
    const KOVA::KOVAPushCallback forward = client.forwardingCallback();
    KOVA::KOVAPushCallback hooked = [&inPush, &resumed, &activatedInPush, &first, forward, listener = adapter.get()](
                                        const std::string& rid, const std::string& sid, const std::string& cid,
                                        const std::vector<KOVAMsg::KOVAMessage>& msgs, const Ice::Current& current) {
        if (first.exchange(false)) {
            inPush.set_value();
            resumed.wait_for(std::chrono::seconds(20));
            activatedInPush = listener->ActiveAdapter(forward, false) ? 1 : 0;
        }
        return forward(rid, sid, cid, msgs, current);
    };
    ASSERT_TRUE(adapter->ActiveAdapter(hooked, false));
    RecordingConsumer consumer;
    ASSERT_EQ(0, client.registerConsumer("r1", consumer));
    agent.push("r1", batchOf({"a"}));
    ASSERT_EQ(std::future_status::ready, inPush.get_future().wait_for(std::chrono::seconds(10)));

    const Ice::CommunicatorPtr oldCommunicator = adapter->getCommunicator();
    std::future<bool> renewal =
        std::async(std::launch::async, [adapter] { return adapter->ActiveAdapter(KOVA::KOVAPushCallback(), true); });
    // The renewal has begun once the old communicator is no longer handed out.
    EXPECT_TRUE(eventually([&] { return adapter->getCommunicator() != oldCommunicator; }, std::chrono::seconds(10)));
    resume.set_value();

    const bool renewalEnded = renewal.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    if (!renewalEnded) {
        ADD_FAILURE() << "the renewal and the push wait for each other";
        std::_Exit(1);  // both threads are stuck for good: a clean teardown would hang
    }
    EXPECT_TRUE(renewal.get());
    EXPECT_TRUE(eventually([&] { return activatedInPush != -1; }, std::chrono::seconds(10)));
    EXPECT_EQ(1, activatedInPush.load());
    EXPECT_TRUE(adapter->active());
}

TEST_F(PushModesTest, WrongRouterPasswordLeavesTheListenerUnserved) {
    SharedInfrastructure& infra = SharedInfrastructure::get();
    PushClient client(clientItems(agent.agentProxyString(), defaultRouterItems(infra.routerProxy(), "wrong")));
    EXPECT_FALSE(client.activate());
    EXPECT_FALSE(client.adapter()->active());
    EXPECT_FALSE(client.adapter()->getListenerProxy());
}

TEST_F(PushModesTest, AListenerWithoutRouterNeverReadsTheDefaultAgentProxy) {
    PushClient client(clientItems("KOVAAgent:tcp -p not-a-port", {"px.Endpoints=tcp -h 127.0.0.1"}));
    EXPECT_TRUE(client.activate());
}

TEST_F(PushModesTest, LaterActivationsKeepTheFirstCallbackAndForceWithoutRouterChangesNothing) {
    int strayCalls = 0;  // outlives the client, which must never call `stray`
    PushClient client(clientItems(agent.agentProxyString(), {"px.Endpoints=tcp -h 127.0.0.1"}));
    ASSERT_TRUE(client.activate());
    const std::string proxyBefore = client.adapter()->getListenerProxy()->ice_toString();
    KOVA::KOVAPushCallback stray = [&strayCalls](const std::string&, const std::string&, const std::string&,
                                                 const std::vector<KOVAMsg::KOVAMessage>&, const Ice::Current&) {
        ++strayCalls;
        return 0;
    };
    EXPECT_TRUE(client.adapter()->ActiveAdapter(stray, false));
    EXPECT_TRUE(client.adapter()->ActiveAdapter(KOVA::KOVAPushCallback(), true));
    EXPECT_EQ(proxyBefore, client.adapter()->getListenerProxy()->ice_toString());

    expectPushesFlow(client);
    EXPECT_EQ(0, strayCalls);
}

}  // namespace
}  // namespace kova::test::push
