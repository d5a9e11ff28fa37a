// Delivery of pushed batches to the caller, the servant's answers, duplicate
// and refused registrations, pause and resume, and concurrent pushes while
// other resources register.
#include <gtest/gtest.h>

#include <atomic>

#include "KOVAClientThreads.h"
#include "push_fixture.h"
#include "standin_agent.h"

namespace kova::test::push {
namespace {

using standin::PushKind;
using standin::PushRecord;

// The listener's own endpoints (named adapter), or none: pushes then come
// over the client's connection and run on the push pool.
std::vector<std::string> listenerItems(bool named) {
    return named ? std::vector<std::string>{"px.Endpoints=tcp -h 127.0.0.1"} : std::vector<std::string>{};
}

// The listener as the service calls it for `rid`: the proxy the agent keeps
// for the registration (bound to the client's connection in the shared mode).
KOVA::KOVAMessageListenerPrx registeredListener(const StandinAgent& agent, const std::string& rid) {
    for (const standin::ListenerRegistration& registration : agent.registrations()) {
        if (registration.resource == rid) {
            return registration.listener->ice_invocationTimeout(10000);
        }
    }
    return KOVA::KOVAMessageListenerPrx();
}

// A named listener (its own endpoints) by default, so the tests can also call
// it directly as the service would.
class PushDeliveryTest : public ::testing::Test {
protected:
    explicit PushDeliveryTest(bool named = true)
        : client(clientItems(agentProxy(), listenerItems(named)),
                 KOVA::PushMonitorTimings{kFastFirstTick, kFastInterval}) {}

    void SetUp() override { ASSERT_TRUE(client.activate()); }

    void TearDown() override {
        if (serviceIc) {
            serviceIc->destroy();
        }
    }

    std::string agentProxy() {
        agent.start();
        return agent.agentProxyString();
    }

    PushRecord pushAndWait(const std::string& rid, const KOVAMsg::KOVABatchMessage& batch) {
        const size_t before = agent.pushes().size();
        agent.push(rid, batch);
        EXPECT_TRUE(agent.waitForPushes(before + 1, std::chrono::seconds(10)));
        return agent.pushes().at(before);
    }

    // The listener as the service reaches it, from a communicator of its own.
    KOVA::KOVAMessageListenerPrx serviceSideListener() {
        if (!serviceIc) {
            serviceIc = Ice::initialize();
        }
        return KOVA::KOVAMessageListenerPrx::uncheckedCast(
            serviceIc->stringToProxy(client.adapter()->getListenerProxy()->ice_toString())
                ->ice_invocationTimeout(10000));
    }

    StandinAgent agent;
    PushClient client;
    RecordingConsumer consumer;
    Ice::CommunicatorPtr serviceIc;
};

TEST_F(PushDeliveryTest, TheFirstNonZeroResultStopsTheBatchAndIsTheReply) {
    ASSERT_EQ(0, client.registerConsumer("r1", consumer));
    consumer.script({0, 5, 0});
    const PushRecord record = pushAndWait("r1", batchOf({"a", "b", "c"}));
    ASSERT_TRUE(record.answered) << record.error;
    EXPECT_EQ(5, record.reply);
    EXPECT_EQ(2u, consumer.count());
}

TEST_F(PushDeliveryTest, AnEmptyBatchIsAFailureWithoutCallingTheConsumer) {
    ASSERT_EQ(0, client.registerConsumer("r1", consumer));
    const PushRecord record = pushAndWait("r1", KOVAMsg::KOVABatchMessage());
    ASSERT_TRUE(record.answered) << record.error;
    EXPECT_EQ(99, record.reply);
    EXPECT_EQ(0u, consumer.count());
}

TEST_F(PushDeliveryTest, AConsumerThatThrowsMidBatchMakesTheServiceDeliverAgain) {
    ASSERT_EQ(0, client.registerConsumer("r1", consumer));
    consumer.script({0, -1});
    const PushRecord record = pushAndWait("r1", batchOf({"a", "b", "c"}));
    ASSERT_TRUE(record.answered) << record.error;
    EXPECT_EQ(99, record.reply);
    EXPECT_EQ(2u, consumer.count());
}

TEST_F(PushDeliveryTest, RawBytesAndUnknownResourcesAreRefusedWithNotExist) {
    ASSERT_EQ(0, client.registerConsumer("r1", consumer));
    const size_t before = agent.pushes().size();
    agent.pushBytes("r1", KOVAMsg::BatchBytes{KOVAMsg::Bytes{1, 2, 3}});
    ASSERT_TRUE(agent.waitForPushes(before + 1, std::chrono::seconds(10)));
    const PushRecord bytes = agent.pushes().at(before);
    EXPECT_EQ(PushKind::OnMessage, bytes.kind);
    ASSERT_TRUE(bytes.answered) << bytes.error;
    EXPECT_EQ(8, bytes.reply);

    EXPECT_EQ(8, serviceSideListener()->ConsumeMessage("ghost", "s", "c", batchOf({"x"})));
    EXPECT_EQ(8, serviceSideListener()->OnMessage("r1", "s", "c", KOVAMsg::BatchBytes()));
    EXPECT_EQ(0u, consumer.count());
}

TEST_F(PushDeliveryTest, APushThatOvertakesTheRegistrationReplyIsRefused) {
    agent.script().nextSleep(AgentOp::RegisterWithProxy, std::chrono::milliseconds(300));
    std::thread registering([&] { EXPECT_EQ(0, client.registerConsumer("r1", consumer)); });
    EXPECT_TRUE(agent.waitForCalls(AgentOp::RegisterWithProxy, 1, std::chrono::seconds(10)));  // joined below
    // The agent holds the reply: the client has not stored the consumer yet.
    EXPECT_EQ(8, serviceSideListener()->ConsumeMessage("r1", "s", "c", batchOf({"early"})));
    registering.join();
    EXPECT_EQ(0, serviceSideListener()->ConsumeMessage("r1", "s", "c", batchOf({"late"})));
    ASSERT_EQ(1u, consumer.count());
    EXPECT_EQ("late", consumer.all().at(0).body);
}

TEST_F(PushDeliveryTest, RegisteringTwiceMakesOneRemoteCall) {
    ASSERT_EQ(0, client.registerConsumer("r1", consumer));
    RecordingConsumer second;
    EXPECT_EQ(0, client.registerConsumer("r1", second));
    EXPECT_EQ(1u, agent.callCount(AgentOp::RegisterWithProxy));
    pushAndWait("r1", batchOf({"a"}));
    EXPECT_EQ(1u, consumer.count());
    EXPECT_EQ(0u, second.count());
}

TEST_F(PushDeliveryTest, ARefusedRegistrationIsNeitherStoredNorMonitored) {
    agent.script().nextCode(AgentOp::RegisterWithProxy, 3);
    EXPECT_EQ(3, client.registerConsumer("r1", consumer));
    EXPECT_FALSE(Probe::hasConsumer(client.engine(), "r1"));
    EXPECT_EQ(8, serviceSideListener()->ConsumeMessage("r1", "s", "c", batchOf({"x"})));
    // Several monitor intervals: a stored consumer would have been kept alive.
    EXPECT_FALSE(agent.waitForCalls(AgentOp::KeepAlive, 1, 4 * kFastInterval));
    // A later attempt registers normally.
    EXPECT_EQ(0, client.registerConsumer("r1", consumer));
    EXPECT_TRUE(agent.waitForCalls(AgentOp::KeepAlive, 1, std::chrono::seconds(10)));
}

TEST_F(PushDeliveryTest, PauseAndResumeReachTheAgentWithTheConsumersCid) {
    ASSERT_EQ(0, client.registerConsumer("r1", consumer));
    const std::string cid = Probe::cid(client.engine(), "r1");
    ASSERT_FALSE(cid.empty());

    client.engine().PauseConsume("r1");
    EXPECT_EQ(KOVA::PAUSEING, Probe::status(client.engine(), "r1"));
    ASSERT_EQ(1u, agent.callCount(AgentOp::PauseConsume));
    EXPECT_EQ(cid, agent.calls(AgentOp::PauseConsume).at(0).cid);
    EXPECT_TRUE(agent.registrations().at(0).paused);

    EXPECT_EQ(0, client.engine().ResumeConsume("r1"));
    EXPECT_EQ(KOVA::RUNNING, Probe::status(client.engine(), "r1"));
    EXPECT_EQ(cid, agent.calls(AgentOp::StartConsume).at(0).cid);
    EXPECT_FALSE(agent.registrations().at(0).paused);
    pushAndWait("r1", batchOf({"a"}));
    EXPECT_EQ(1u, consumer.count());
}

TEST_F(PushDeliveryTest, PauseAndResumeOfAnUnknownResourceMakeNoRemoteCall) {
    client.engine().PauseConsume("ghost");
    EXPECT_EQ(8, client.engine().ResumeConsume("ghost"));
    EXPECT_EQ(0u, agent.callCount(AgentOp::PauseConsume));
    EXPECT_EQ(0u, agent.callCount(AgentOp::StartConsume));
}

TEST_F(PushDeliveryTest, AResumeWhoseConnectionIsClosedByTheAgentCountsAsRunning) {
    ASSERT_EQ(0, client.registerConsumer("r1", consumer));
    client.engine().PauseConsume("r1");
    agent.script().closeNext(AgentOp::StartConsume);
    EXPECT_EQ(0, client.engine().ResumeConsume("r1"));
    EXPECT_EQ(KOVA::RUNNING, Probe::status(client.engine(), "r1"));
    // The next tick finds the connection gone and registers on a new one.
    EXPECT_TRUE(agent.waitForCalls(AgentOp::RegisterWithProxy, 2, std::chrono::seconds(10)));
}

TEST_F(PushDeliveryTest, AResumeAfterTheClientClosedTheConnectionCountsAsRunning) {
    ASSERT_EQ(0, client.registerConsumer("r1", consumer));
    client.engine().PauseConsume("r1");
    // The register proxy is bound to the one connection to the agent's endpoint.
    client.adapter()
        ->getCommunicator()
        ->stringToProxy(agent.agentProxyString())
        ->ice_getConnection()
        ->close(Ice::ConnectionCloseForcefully);
    EXPECT_EQ(0, client.engine().ResumeConsume("r1"));
    EXPECT_EQ(KOVA::RUNNING, Probe::status(client.engine(), "r1"));
    EXPECT_TRUE(agent.waitForCalls(AgentOp::RegisterWithProxy, 2, std::chrono::seconds(10)));
}

// An agent that takes the pause and never answers: the pause gives up after
// the agent proxy's invocation timeout instead of holding the engine's
// registrations and the monitor thread.
TEST(PushStuckAgentTest, APauseThatIsNeverAnsweredGivesUpAfterTheInvocationTimeout) {
    StandinAgent agent;
    agent.start();
    PushClient client(clientItems(agent.agentProxyString(), {"Ice.Default.InvocationTimeout=300"}));
    ASSERT_TRUE(client.activate());
    RecordingConsumer consumer;
    ASSERT_EQ(0, client.registerConsumer("r1", consumer));
    agent.script().nextSleep(AgentOp::PauseConsume, std::chrono::seconds(3));
    client.engine().PauseConsume("r1");
    EXPECT_EQ(KOVA::RUNNING, Probe::status(client.engine(), "r1")) << "the pause timed out";
}

// Without endpoints of its own the listener's pushes arrive on the client's
// Ice threads, which also read the replies of the calls a callback makes: a
// callback that pauses must complete even with a single client thread. The
// thread it runs on is one the stop sequence knows as the client's.
TEST(PushCallbackThreadTest, ACallbackThatCallsTheAgentCompletesWithOneClientThread) {
    StandinAgent agent;
    agent.start();
    std::atomic<bool> onClientThread{false};  // outlives the client, whose push threads write it
    PushClient client(clientItems(agent.agentProxyString(),
                                  {"Ice.ThreadPool.Client.SizeMax=1", "Ice.Default.InvocationTimeout=3000"}));
    ASSERT_TRUE(client.activate());
    ASSERT_TRUE(client.adapter()->share());
    KOVA::PushConsumerCallback pausing = [&client, &onClientThread](void*, const std::string& rid, const std::string&,
                                                                    KOVA::IMessage&&) {
        onClientThread = KOVA::OnClientThread();
        client.engine().PauseConsume(rid);
        return 0;
    };
    ASSERT_EQ(0, client.registerConsumer("r1", pausing));
    agent.push("r1", batchOf({"a"}));
    ASSERT_TRUE(agent.waitForPushes(1, std::chrono::seconds(20)));
    EXPECT_EQ(0, agent.pushes().at(0).reply);
    EXPECT_EQ(KOVA::PAUSEING, Probe::status(client.engine(), "r1"));
    EXPECT_TRUE(onClientThread.load());
}

// Both listener modes: named (Ice server thread) and shared (push pool).
class PushModesTest : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Modes, PushModesTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "NamedAdapter" : "SharedConnection";
                         });

// A callback at the adapter level that throws: the service's call is answered
// with an exception instead of hanging until its timeout.
TEST_P(PushModesTest, ACallbackThatThrowsIsAnsweredWithAnException) {
    StandinAgent agent;
    agent.start();
    std::atomic<int> calls{0};  // outlives the adapter, whose threads count into it
    KOVA::KOVAClientAdapterPtr adapter =
        new KOVA::KOVAClientAdapter(clientItems(agent.agentProxyString(), listenerItems(GetParam())), "px");
    ASSERT_TRUE(adapter->ActiveAdapter(
        [&calls](const std::string&, const std::string&, const std::string&, const std::vector<KOVAMsg::KOVAMessage>&,
                 const Ice::Current&) -> int {
            ++calls;
            throw std::runtime_error("callback broke");
        },
        false));
    // Registered through an engine, so the shared mode has a connection to call back on.
    auto engine = std::make_shared<KOVA::KOVAClientLibImpl>("pxServer.Proxy", adapter);
    boost::asio::io_context monitor;  // never run: no keep-alive
    KOVA::PushConsumerCallback unused = [](void*, const std::string&, const std::string&, KOVA::IMessage&&) {
        return 0;
    };
    ASSERT_EQ(0, engine->RegisterPushConsumer("r1", unused, nullptr, 100, 1, monitor));
    KOVA::KOVAMessageListenerPrx listener = registeredListener(agent, "r1");
    ASSERT_TRUE(listener);
    try {
        listener->ConsumeMessage("r1", "s", "c", batchOf({"x"}));
        ADD_FAILURE() << "the push was answered normally";
    } catch (const Ice::UnknownException& e) {
        EXPECT_NE(std::string::npos, e.unknown.find("callback broke")) << e.unknown;
    }
    EXPECT_EQ(1, calls.load());
}

class PushDeliveryModesTest : public PushDeliveryTest, public ::testing::WithParamInterface<bool> {
protected:
    PushDeliveryModesTest() : PushDeliveryTest(GetParam()) {}
};
INSTANTIATE_TEST_SUITE_P(Modes, PushDeliveryModesTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "NamedAdapter" : "SharedConnection";
                         });

// Four threads push at once (as the service's threads would) while other
// resources register on the same engine.
TEST_P(PushDeliveryModesTest, ConcurrentPushesWhileOtherResourcesRegister) {
    const int kPushers = 4;
    const int kBatches = 40;
    const int kLate = 12;
    std::vector<std::unique_ptr<RecordingConsumer>> consumers;
    for (int i = 0; i < kPushers + kLate; ++i) {
        consumers.push_back(std::make_unique<RecordingConsumer>());
    }
    for (int i = 0; i < kPushers; ++i) {
        ASSERT_EQ(0, client.registerConsumer("r" + std::to_string(i), *consumers[i]));
    }
    KOVA::KOVAMessageListenerPrx listener = registeredListener(agent, "r0");
    ASSERT_TRUE(listener);
    std::atomic<int> unexpected{0};
    std::atomic<int> lateAccepted{0};
    std::vector<std::thread> pushers;
    for (int i = 0; i < kPushers; ++i) {
        pushers.emplace_back([&, i] {
            for (int b = 0; b < kBatches; ++b) {
                try {
                    if (listener->ConsumeMessage("r" + std::to_string(i), "s", "c", batchOf({"m", "n"})) != 0) {
                        ++unexpected;
                    }
                    // A resource still registering is unknown (8) until its
                    // registration is stored, then accepted (0).
                    const int late =
                        listener->ConsumeMessage("late" + std::to_string(b % kLate), "s", "c", batchOf({"z"}));
                    if (late == 0) {
                        ++lateAccepted;
                    } else if (late != 8) {
                        ++unexpected;
                    }
                } catch (const Ice::Exception&) {
                    ++unexpected;
                }
            }
        });
    }
    for (int i = 0; i < kLate; ++i) {
        EXPECT_EQ(0, client.registerConsumer("late" + std::to_string(i), *consumers[kPushers + i]));
    }
    for (std::thread& t : pushers) {
        t.join();
    }
    EXPECT_EQ(0, unexpected.load());
    for (int i = 0; i < kPushers; ++i) {
        EXPECT_EQ(static_cast<size_t>(2 * kBatches), consumers[i]->count());
    }
    size_t late = 0;
    for (int i = 0; i < kLate; ++i) {
        late += consumers[kPushers + i]->count();
    }
    EXPECT_EQ(static_cast<size_t>(lateAccepted.load()), late);
}

}  // namespace
}  // namespace kova::test::push
