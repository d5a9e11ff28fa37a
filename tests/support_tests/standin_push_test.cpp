// Listener registration and the agent's pusher over real Ice: the identity form
// calls back over the registering connection, the proxy form calls the given
// proxy; cids are stable per listener and change after a restart; pause holds
// pushes back; a listener that never answers cannot block the pusher.
#include "agent_client_fixture.h"

#include "standin_agent.h"

#include <gtest/gtest.h>

namespace kova::test::support_tests {
namespace {

using standin::AgentOp;
using standin::StandinAgentOptions;
using namespace std::chrono_literals;

StandinAgentOptions quickPushOptions() {
    StandinAgentOptions options;
    options.pushSettle = 0ms;
    options.pushInvocationTimeout = 300ms;
    return options;
}

class StandinPushTest : public AgentClientTest {
protected:
    StandinPushTest() : AgentClientTest(quickPushOptions()) {}

    void TearDown() override {
        listener_->answerHeld();
        AgentClientTest::TearDown();
    }

    // A listener on an endpoint-less adapter, reachable only over prx_'s connection.
    Ice::Identity serveOnAgentConnection() {
        Ice::ObjectAdapterPtr adapter = client_->createObjectAdapter("");
        Ice::Identity identity{"listener-1", "client-uuid"};
        adapter->add(listener_, identity);
        adapter->activate();
        prx_->ice_getConnection()->setAdapter(adapter);
        return identity;
    }

    KOVA::KOVAMessageListenerPrx serveOnOwnEndpoint() {
        Ice::ObjectAdapterPtr adapter =
            client_->createObjectAdapterWithEndpoints("PushListener", "tcp -h 127.0.0.1 -p 0");
        Ice::ObjectPrx proxy = adapter->add(listener_, Ice::Identity{"listener-2", ""});
        adapter->activate();
        return KOVA::KOVAMessageListenerPrx::uncheckedCast(proxy);
    }

    RecordingListenerPtr listener_ = new RecordingListener(7);
};

TEST_F(StandinPushTest, IdentityRegistrationIsCalledBackOverTheRegisteringConnection) {
    const Ice::Identity identity = serveOnAgentConnection();
    std::string cid;
    ASSERT_EQ(prx_->RegisterKOVAMsgListenerWithId("r1", "reg-sid", 100, 1, identity, cid,
                                                  Ice::Context{{"__kglacier", "yes"}}),
              0);
    ASSERT_FALSE(cid.empty());

    agent_.push("r1", makeBatch(3, "p"), "push-sid");
    agent_.pushBytes("r1", {{'x', 'y'}});
    ASSERT_TRUE(agent_.waitForPushes(2, 5s));

    auto received = listener_->all();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].operation, "ConsumeMessage");
    EXPECT_EQ(received[0].resource, "r1");
    EXPECT_EQ(received[0].sid, "push-sid");
    EXPECT_EQ(received[0].cid, cid);
    EXPECT_EQ(received[0].bodies, (std::vector<std::string>{"p-0", "p-1", "p-2"}));
    EXPECT_EQ(received[0].connection, prx_->ice_getConnection().get());
    EXPECT_EQ(received[1].operation, "OnMessage");
    EXPECT_EQ(received[1].bodies, (std::vector<std::string>{"xy"}));

    auto pushes = agent_.pushes();
    EXPECT_TRUE(pushes[0].answered);
    EXPECT_TRUE(pushes[0].byIdentity);
    EXPECT_EQ(pushes[0].reply, 7);
    EXPECT_EQ(pushes[1].reply, 8);

    auto registrations = agent_.registrations();
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_EQ(registrations[0].identity, identity);
    EXPECT_EQ(registrations[0].context.at("__kglacier"), "yes");
    EXPECT_EQ(agent_.calls(AgentOp::RegisterWithId).at(0).cid, cid);
}

TEST_F(StandinPushTest, SameListenerKeepsItsCidUntilTheAgentRestarts) {
    const KOVA::KOVAMessageListenerPrx listener = serveOnOwnEndpoint();
    std::string first, second, other;
    ASSERT_EQ(prx_->RegisterKOVAMsgListenerWithProxy("r2", "s1", 100, 1, listener, first), 0);
    ASSERT_EQ(prx_->RegisterKOVAMsgListenerWithProxy("r2", "s2", 100, 1, listener, second), 0);
    ASSERT_EQ(prx_->RegisterKOVAMsgListenerWithProxy("r3", "s3", 100, 1, listener, other), 0);
    EXPECT_EQ(first, second);
    EXPECT_NE(first, other);
    EXPECT_EQ(agent_.registrations().size(), 2u);

    agent_.restart();
    std::string afterRestart;
    // A connection of its own: the old one may not be known as closed yet, and a
    // registration is not retried on a connection lost mid-call.
    ASSERT_EQ(prx_->ice_connectionId("after-restart")
                  ->RegisterKOVAMsgListenerWithProxy("r2", "s4", 100, 1, listener, afterRestart),
              0);
    EXPECT_NE(afterRestart, first);
    EXPECT_EQ(agent_.registrations().size(), 1u);
}

TEST_F(StandinPushTest, PausedListenerGetsNoPushUntilStarted) {
    const KOVA::KOVAMessageListenerPrx listener = serveOnOwnEndpoint();
    std::string cid;
    ASSERT_EQ(prx_->RegisterKOVAMsgListenerWithProxy("r4", "s", 10, 1, listener, cid), 0);
    prx_->PauseConsume("r4", "s", cid);
    agent_.push("r4", makeBatch(1));
    EXPECT_TRUE(agent_.pushes().empty());  // a paused listener is never a push target
    EXPECT_EQ(prx_->StartConsume("r4", "s", "no-such-cid"), 8);
    EXPECT_EQ(prx_->StartConsume("r4", "s", cid), 0);
    ASSERT_TRUE(agent_.waitForPushes(1, 5s));
    EXPECT_FALSE(agent_.pushes()[0].byIdentity);
    EXPECT_EQ(listener_->all().size(), 1u);
}

TEST_F(StandinPushTest, KeepAliveIsStampedOnTheRegistrationsOfItsConnection) {
    const Ice::Identity identity = serveOnAgentConnection();
    std::string cid;
    ASSERT_EQ(prx_->RegisterKOVAMsgListenerWithId("r5", "s", 10, 1, identity, cid), 0);
    EXPECT_FALSE(agent_.registrations()[0].lastKeepAlive);
    prx_->keepAlive();
    EXPECT_TRUE(agent_.registrations()[0].lastKeepAlive);
    EXPECT_EQ(agent_.callCount(AgentOp::KeepAlive), 1u);
}

TEST_F(StandinPushTest, AListenerThatNeverAnswersTimesOutAndTheNextPushStillGoesOut) {
    const Ice::Identity identity = serveOnAgentConnection();
    std::string cid;
    ASSERT_EQ(prx_->RegisterKOVAMsgListenerWithId("r6", "s", 10, 1, identity, cid), 0);
    listener_->setHoldReplies(true);
    agent_.push("r6", makeBatch(1, "stuck"));
    ASSERT_TRUE(agent_.waitForPushes(1, 5s));
    EXPECT_FALSE(agent_.pushes()[0].answered);
    EXPECT_NE(agent_.pushes()[0].error.find("InvocationTimeoutException"), std::string::npos);

    listener_->setHoldReplies(false);
    agent_.push("r6", makeBatch(1, "fine"));
    ASSERT_TRUE(agent_.waitForPushes(2, 5s));
    EXPECT_TRUE(agent_.pushes()[1].answered);
    EXPECT_EQ(agent_.pushes()[1].reply, 7);
}

TEST_F(StandinPushTest, RefusedRegistrationStoresNothing) {
    const KOVA::KOVAMessageListenerPrx listener = serveOnOwnEndpoint();
    agent_.script().nextCode(AgentOp::RegisterWithProxy, 3);
    std::string cid;
    EXPECT_EQ(prx_->RegisterKOVAMsgListenerWithProxy("r7", "s", 10, 1, listener, cid), 3);
    EXPECT_TRUE(cid.empty());
    EXPECT_TRUE(agent_.registrations().empty());
}

}  // namespace
}  // namespace kova::test::support_tests
