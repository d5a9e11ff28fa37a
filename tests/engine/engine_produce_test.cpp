// Produce, both forms, against the stand-in agent on loopback (and, where the
// router matters, through the real glacier2router).
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "KOVAAmiCallback.h"
#include "engine_fixture.h"
#include "free_port.h"
#include "infrastructure_environment.h"
#include "shared_infrastructure.h"
#include "standin_agent.h"

namespace kova::test::engine {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const int kInternalError = KOVA::COMMON::INTERNAL_ERROR;

auto* const kInfrastructure = ::testing::AddGlobalTestEnvironment(new fixtures::InfrastructureTeardown);

class EngineProduceTest : public SuiteAgentTest {
protected:
    // On 127.0.0.2, so that the local address of a connection (the born host,
    // 127.0.0.1) differs from the agent's.
    static void SetUpTestSuite() {
        standin::StandinAgentOptions options;
        options.host = "127.0.0.2";
        startAgent(options);
    }
    void SetUp() override {
        SuiteAgentTest::SetUp();
        engine_ = directEngine();
    }

    static KOVA::KOVAClientLibImplPtr directEngine() {
        return engineFor("Direct", {"Direct=" + agent_->agentProxyString()});
    }
    int produceAsync(KOVA::KOVAClientLibImpl& engine, const CodeRecorder& completions, size_t index,
                     const std::shared_ptr<boost::asio::io_context>& service) {
        return engine.Produce("rid", "", batchOf(1), {}, completions.callback(), CodeRecorder::cookie(index), service);
    }

    KOVA::KOVAClientLibImplPtr engine_;
    CompletionPool pool_{4};
};

TEST_F(EngineProduceTest, ServerCodesPassThroughBothForms) {
    agent_->script().nextCodes(AgentOp::Produce, {13, 0, 31});
    EXPECT_EQ(13, engine_->Produce("rid", "", batchOf(2), {}));
    EXPECT_EQ(0, engine_->Produce("rid", "", batchOf(2), {}));

    CodeRecorder completions;
    ASSERT_EQ(0, produceAsync(*engine_, completions, 0, pool_.service()));
    ASSERT_TRUE(completions.waitFor(1, seconds(10)));
    EXPECT_EQ(31, completions.code(0));
    EXPECT_EQ(3u, agent_->callCount(AgentOp::Produce));
}

TEST_F(EngineProduceTest, BornHostAndSessionIdReachTheAgentAndCallerCannotForgeBornHost) {
    const KOVA::COMMON::KOVAProperties properties{{"__ks1", "forged"}, {"app-key", "app-value"}};
    ASSERT_EQ(0, engine_->Produce("rid", "", batchOf(3), properties));
    ASSERT_EQ(0, engine_->Produce("rid", "given-sid", batchOf(1), {}));
    CodeRecorder completions;
    ASSERT_EQ(0, engine_->Produce("rid", "", batchOf(1), properties, completions.callback(), CodeRecorder::cookie(0),
                                  pool_.service()));
    ASSERT_TRUE(completions.waitFor(1, seconds(10)));

    const std::vector<standin::AgentCall> calls = agent_->calls(AgentOp::Produce);
    ASSERT_EQ(3u, calls.size());
    for (const standin::AgentCall& call : calls) {
        ASSERT_EQ(1u, call.context.count("__ks1"));
        EXPECT_EQ("127.0.0.1", call.context.at("__ks1"));
    }
    EXPECT_EQ("app-value", calls[0].context.at("app-key"));
    EXPECT_EQ(0u, calls[1].context.count("app-key")) << "no properties, no extra keys";
    EXPECT_EQ("app-value", calls[2].context.at("app-key"));
    EXPECT_EQ(3, calls[0].messageCount);
    // Generated ids: microseconds since 1970, "-", the process client id.
    const std::string suffix = "-" + KOVA::_kova_ClientId();
    for (size_t i : {0u, 2u}) {
        const std::string& sid = calls[i].sid;
        ASSERT_GT(sid.size(), suffix.size());
        EXPECT_EQ(suffix, sid.substr(sid.size() - suffix.size()));
        EXPECT_EQ(std::string::npos, sid.substr(0, sid.size() - suffix.size()).find_first_not_of("0123456789")) << sid;
    }
    EXPECT_EQ("given-sid", calls[1].sid);
}

TEST_F(EngineProduceTest, UnreachableAgentGives100AndNoCallback) {
    KOVA::KOVAClientLibImplPtr engine = std::make_shared<KOVA::KOVAClientLibImpl>(
        "Gone", makeAdapter({"Gone=KOVAAgent:tcp -h 127.0.0.1 -p " + std::to_string(fixtures::freeLoopbackPort())}));

    EXPECT_EQ(kInternalError, engine->Produce("rid", "", batchOf(1), {}));
    CodeRecorder completions;
    EXPECT_EQ(kInternalError, produceAsync(*engine, completions, 0, pool_.service()));
    ASSERT_TRUE(pool_.drain(seconds(10)));
    EXPECT_EQ(0u, completions.count());
}

TEST_F(EngineProduceTest, WithoutAnyIoContextAsyncProduceIsRefusedBeforeIssuing) {
    CodeRecorder completions;
    EXPECT_EQ(kInternalError, produceAsync(*engine_, completions, 0, nullptr));
    EXPECT_EQ(0u, agent_->callCount(AgentOp::Produce));
    EXPECT_EQ(0u, completions.count());
    EXPECT_EQ(0, engine_->Produce("rid", "", batchOf(1), {})) << "the synchronous form needs no io_context";
}

TEST_F(EngineProduceTest, CompletionsStayOnTheFirstIoContext) {
    CompletionPool other(2);
    CodeRecorder completions;
    ASSERT_EQ(0, produceAsync(*engine_, completions, 0, pool_.service()));
    ASSERT_EQ(0, produceAsync(*engine_, completions, 1, other.service()));
    ASSERT_TRUE(completions.waitFor(2, seconds(10)));
    EXPECT_TRUE(pool_.ownsThread(completions.thread(0)));
    EXPECT_TRUE(pool_.ownsThread(completions.thread(1)));
}

TEST_F(EngineProduceTest, ThousandAsyncProducesInFlightCompleteExactlyOnceOnThePool) {
    const size_t kCalls = 1000;
    agent_->script().nextCodes(AgentOp::Produce, std::vector<int>(10, 5));
    CodeRecorder completions;
    for (size_t i = 0; i < kCalls; ++i) {
        ASSERT_EQ(0, produceAsync(*engine_, completions, i, pool_.service())) << i;
    }
    ASSERT_TRUE(completions.waitFor(kCalls, seconds(60)));
    ASSERT_TRUE(pool_.drain(seconds(10)));

    size_t scripted = 0;
    for (size_t i = 0; i < kCalls; ++i) {
        ASSERT_EQ(1, completions.calls(i)) << i;
        ASSERT_TRUE(pool_.ownsThread(completions.thread(i))) << i;
        scripted += completions.code(i) == 5 ? 1 : 0;
    }
    EXPECT_EQ(10u, scripted);
    EXPECT_EQ(kCalls, completions.count());
    EXPECT_EQ(kCalls, agent_->callCount(AgentOp::Produce));
}

TEST_F(EngineProduceTest, LostConnectionWithoutRouterKeepsProxies) {
    ASSERT_EQ(0, engine_->Produce("rid", "", batchOf(1), {}));
    agent_->script().closeNext(AgentOp::Produce, 2);

    EXPECT_EQ(kInternalError, engine_->Produce("rid", "", batchOf(1), {}));
    CodeRecorder completions;
    ASSERT_EQ(0, produceAsync(*engine_, completions, 0, pool_.service()));
    ASSERT_TRUE(completions.waitFor(1, seconds(10)));
    EXPECT_EQ(kInternalError, completions.code(0));

    EXPECT_TRUE(Probe::hasAgentProxy(*engine_));
    EXPECT_TRUE(Probe::hasProduceProxy(*engine_));
    EXPECT_EQ(0, engine_->Produce("rid", "", batchOf(1), {}));
}

TEST_F(EngineProduceTest, LostConnectionBehindRouterDropsProxiesInBothForms) {
    KOVA::KOVAClientLibImplPtr engine = routedEngine();
    ASSERT_EQ(0, engine->Produce("rid", "", batchOf(1), {}));

    agent_->script().closeNext(AgentOp::Produce);
    EXPECT_EQ(kInternalError, engine->Produce("rid", "", batchOf(1), {}));
    EXPECT_FALSE(Probe::hasAgentProxy(*engine));
    EXPECT_FALSE(Probe::hasProduceProxy(*engine));
    ASSERT_EQ(0, engine->Produce("rid", "", batchOf(1), {})) << "the next call builds everything again";

    agent_->script().closeNext(AgentOp::Produce);
    CodeRecorder completions;
    ASSERT_EQ(0, produceAsync(*engine, completions, 0, pool_.service()));
    ASSERT_TRUE(completions.waitFor(1, seconds(10)));
    EXPECT_EQ(kInternalError, completions.code(0));
    // The drop follows the posted completion on the Ice thread.
    eventually([&] { return !Probe::hasProduceProxy(*engine); }, seconds(10), milliseconds(5));
    EXPECT_FALSE(Probe::hasProduceProxy(*engine));
    EXPECT_EQ(0, engine->Produce("rid", "", batchOf(1), {}));
}

TEST_F(EngineProduceTest, DestroyedCommunicatorDropsProxiesWithoutRouter) {
    KOVA::KOVAClientAdapterPtr adapter = makeAdapter({"Direct=" + agent_->agentProxyString()});
    KOVA::KOVAClientLibImplPtr engine = std::make_shared<KOVA::KOVAClientLibImpl>("Direct", adapter);
    ASSERT_EQ(0, engine->Produce("rid", "", batchOf(1), {}));

    adapter->getCommunicator()->destroy();

    EXPECT_EQ(kInternalError, engine->Produce("rid", "", batchOf(1), {}));
    EXPECT_FALSE(Probe::hasAgentProxy(*engine)) << "dead proxies would fail every later call";
    EXPECT_FALSE(Probe::hasProduceProxy(*engine));
}

TEST_F(EngineProduceTest, CompletionsOutlivingTheirEngineAreStillDeliveredOnce) {
    // The communicator stays; only the engine goes while its call is out.
    KOVA::KOVAClientAdapterPtr adapter = makeAdapter({"Direct=" + agent_->agentProxyString()});
    CodeRecorder completions;

    // Reply path.
    KOVA::KOVAClientLibImplPtr engine = std::make_shared<KOVA::KOVAClientLibImpl>("Direct", adapter);
    agent_->script().holdNext(AgentOp::Produce);
    ASSERT_EQ(0, produceAsync(*engine, completions, 0, pool_.service()));
    ASSERT_TRUE(agent_->waitForHeld(1, seconds(10)));
    engine.reset();
    agent_->releaseHeld();
    ASSERT_TRUE(completions.waitFor(1, seconds(10)));
    EXPECT_EQ(0, completions.code(0));

    // Failure path, which would also look at the engine's router.
    engine = std::make_shared<KOVA::KOVAClientLibImpl>("Direct", adapter);
    agent_->script().nextSleep(AgentOp::Produce, milliseconds(100));
    agent_->script().closeNext(AgentOp::Produce);
    ASSERT_EQ(0, produceAsync(*engine, completions, 1, pool_.service()));
    engine.reset();
    ASSERT_TRUE(completions.waitFor(2, seconds(10)));
    EXPECT_EQ(kInternalError, completions.code(1));

    ASSERT_TRUE(pool_.drain(seconds(10)));
    EXPECT_EQ(1, completions.calls(0));
    EXPECT_EQ(1, completions.calls(1));
}

// A completion io_context that is stopped (the manager stops it at exit and
// never runs what is still queued) must still be freed once its owner lets
// go: a queued completion must not keep it alive.
TEST_F(EngineProduceTest, CompletionQueuedOnAStoppedIoContextDoesNotKeepItAlive) {
    auto service = std::make_shared<boost::asio::io_context>();
    std::weak_ptr<boost::asio::io_context> watch = service;
    CodeRecorder completions;
    ASSERT_EQ(0, produceAsync(*engine_, completions, 0, service));
    // Answered, so its completion is queued on the io_context nobody runs.
    ASSERT_TRUE(eventually([&] { return agent_->callCount(AgentOp::Produce) == 1; }, seconds(10)));
    service->stop();
    service.reset();
    engine_.reset();  // the engine kept the io_context as its completion service

    eventually([&] { return watch.expired(); }, seconds(10), milliseconds(5));
    EXPECT_TRUE(watch.expired()) << "the queued completion holds its own io_context";
    EXPECT_EQ(0u, completions.count());
    EXPECT_EQ(1u, agent_->callCount(AgentOp::Produce));
}

// The completion threads are the manager's: a caller's callback that is empty
// or throws must not end one of them (an exception leaving a std::thread ends
// the process), and later completions still arrive.
TEST_F(EngineProduceTest, EmptyOrThrowingCallbackLeavesTheCompletionThreadsRunning) {
    ASSERT_EQ(0, engine_->Produce("rid", "", batchOf(1), {}, KOVA::AsyncProduceCallback(), nullptr, pool_.service()));
    ASSERT_EQ(0,
              engine_->Produce(
                  "rid", "", batchOf(1), {}, [](int, void*) { throw std::runtime_error("caller's callback failed"); },
                  nullptr, pool_.service()));
    ASSERT_TRUE(eventually([&] { return agent_->callCount(AgentOp::Produce) == 2; }, seconds(10)));
    ASSERT_TRUE(pool_.drain(seconds(10)));

    CodeRecorder completions;
    ASSERT_EQ(0, produceAsync(*engine_, completions, 0, pool_.service()));
    ASSERT_TRUE(completions.waitFor(1, seconds(10)));
    EXPECT_TRUE(pool_.ownsThread(completions.thread(0)));
}

TEST_F(EngineProduceTest, SynchronousProduceFromAnIceThreadDoesNotHang) {
    KOVA::KOVAClientAdapterPtr adapter = makeAdapter({"Direct=" + agent_->agentProxyString()});
    if (adapter->getMaxClientPoolSize() < 2) {
        GTEST_SKIP() << "a single processor gives a single client thread";
    }
    KOVA::KOVAClientLibImplPtr engine = std::make_shared<KOVA::KOVAClientLibImpl>("Direct", adapter);
    KOVA::KOVAAgentPrx agentProxy = Probe::produceProxy(*engine);
    ASSERT_TRUE(agentProxy);

    // The completion of an asynchronous call runs on an Ice client thread, like
    // a dispatch over a bidirectional connection; a synchronous call made there
    // needs a second client thread to read its reply.
    auto nested = std::make_shared<std::promise<int>>();
    std::future<int> result = nested->get_future();
    typedef KOVA::KOVAAmiCallback<> Shim;
    // The test holds the engine until the result arrived; a strong reference in
    // the callback could make an Ice thread destroy the communicator it runs on.
    KOVA::KOVAClientLibImpl* const raw = engine.get();
    IceUtil::Handle<Shim> shim = new Shim([raw, nested] { nested->set_value(raw->Produce("rid", "", batchOf(1), {})); },
                                          [nested](const Ice::Exception&) { nested->set_value(-1); });
    agentProxy->begin_ice_ping(Ice::newCallback_Object_ice_ping(shim, &Shim::response, &Shim::exception));

    ASSERT_EQ(std::future_status::ready, result.wait_for(seconds(30)));
    EXPECT_EQ(0, result.get());
}

}  // namespace
}  // namespace kova::test::engine
