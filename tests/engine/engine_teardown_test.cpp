// Where an engine and its client adapter are torn down: never on a thread of
// their own communicator, whatever became of the completion io_context, and a
// Close() from a push callback returns. Each case runs in a child process with
// an agent of its own: a hang or an abort there is the fault, bounded by the
// child's deadline.
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>

#include <future>
#include <memory>
#include <string>

#include "KOVAClientLibImpl.h"
#include "batches.h"
#include "client_items.h"
#include "forked_child.h"
#include "standin_agent.h"
#include "thread_names.h"
#include "waits.h"

namespace kova::test::engine {
namespace {

using Engine = KOVA::KOVAClientLibImpl;
using standin::AgentOp;

constexpr std::chrono::seconds kChildBound{30};
constexpr std::chrono::seconds kWait{10};

KOVA::KOVAClientAdapterPtr adapterFor(const standin::StandinAgent& agent, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> items{"Agent=" + agent.agentProxyString()};
    items.insert(items.end(), extra.begin(), extra.end());
    return makeTestAdapter("td", items);
}

std::shared_ptr<Engine> engineFor(const standin::StandinAgent& agent) {
    return std::make_shared<Engine>("Agent", adapterFor(agent));
}

// Runs `body` in a child and expects it to report `expected` in time.
void expectChildReports(const std::function<std::string()>& body, const std::string& expected) {
    processLogDir();  // made here: the child ends without exit handlers and leaves it to this process
    const fixtures::ForkedResult run = fixtures::RunForked(body, kChildBound);
    ASSERT_TRUE(run.finished) << "the child hung; it reported: " << run.output;
    EXPECT_EQ(0, run.exitCode) << "the child died; it reported: " << run.output;
    EXPECT_EQ(expected, run.output);
}

// 7a: the caller stopped its io_context (nothing runs there any more) and
// dropped it with a produce in flight; the produce's completion then holds
// the last io_context reference, and the reply destroys it on an Ice thread.
TEST(EngineTeardownTest, AnIoContextDroppedWithAProduceInFlightReleasesNothingOnTheIceThread) {
    expectChildReports(
        [] {
            standin::StandinAgent agent;
            agent.start();
            std::promise<void> pulled;  // outlives the engine, whose Ice thread sets it
            std::shared_ptr<Engine> engine = engineFor(agent);
            std::weak_ptr<Engine> watch = engine;
            auto service = std::make_shared<boost::asio::io_context>();
            service->stop();
            // A failed pull (16 after its 1 ms wait) calls back on the Ice
            // thread, which then lets go of the engine reference it took.
            KOVA::PullConsumerCallback cb = [&pulled](const std::string&, const std::string&, KOVA::ConsumeStatusPtr,
                                                      void*) { pulled.set_value(); };
            std::string sid;
            if (engine->Consume("rid", sid, 1, cb, nullptr, {}, 1, service) != 0 ||
                pulled.get_future().wait_for(kWait) != std::future_status::ready) {
                return std::string("no pull completion");
            }
            agent.script().holdNext(AgentOp::Produce);
            if (engine->Produce("rid", "", batchOf(1), {}, KOVA::AsyncProduceCallback(), nullptr, service) != 0 ||
                !agent.waitForHeld(1, kWait)) {
                return std::string("no produce in flight");
            }
            service.reset();
            engine.reset();
            agent.releaseHeld();
            return std::string(eventually([&] { return watch.expired(); }) ? "released" : "engine kept");
        },
        "released");
}

// 7b: no io_context at all; the caller's callback, on the Ice thread, drops
// the caller's reference, so the completion holds the last one.
TEST(EngineTeardownTest, AnEngineWithoutIoContextIsNotReleasedOnTheIceThread) {
    expectChildReports(
        [] {
            standin::StandinAgent agent;
            agent.start();
            std::promise<void> called;  // outlives the client, whose Ice thread sets it
            KOVA::KOVAClientAdapterPtr adapter = adapterFor(agent);
            // Destroying it again waits for the destroy in progress to end.
            const Ice::CommunicatorPtr ic = adapter->getCommunicator();
            auto holder = std::make_shared<std::shared_ptr<Engine>>(std::make_shared<Engine>("Agent", adapter));
            adapter = nullptr;
            std::weak_ptr<Engine> watch = *holder;
            KOVA::PullConsumerCallback cb = [holder, &called](const std::string&, const std::string&,
                                                              KOVA::ConsumeStatusPtr, void*) {
                holder->reset();
                called.set_value();
            };
            std::string sid;
            {
                // The agent answers 16 after 300 ms: by then only the holder is left.
                std::shared_ptr<Engine> engine = *holder;
                if (engine->Consume("rid", sid, 1, cb, nullptr, {}, 300, nullptr) != 0) {
                    return std::string("no pull issued");
                }
            }
            if (called.get_future().wait_for(kWait) != std::future_status::ready) {
                return std::string("no callback");
            }
            if (!eventually([&] { return watch.expired(); })) {
                return std::string("engine kept");
            }
            ic->destroy();
            return std::string("released");
        },
        "released");
}

// A push callback that closes the client adapter, or lets go of the last
// reference to the engine (and so to the adapter): in the shared-connection
// mode it runs on the push pool, with a named adapter on the Ice thread that
// dispatches the push. Neither waits for that very push, and the adapter
// thread, which outlives the adapter then, reads nothing of it (ASan).
TEST(EngineTeardownTest, CloseOrTheLastReleaseFromAPushCallbackEndsInBothListenerModes) {
    for (const bool named : {true, false}) {
        for (const bool release : {false, true}) {
            SCOPED_TRACE(std::string(named ? "named adapter, " : "shared connection, ") +
                         (release ? "last release" : "close"));
            expectChildReports(
                [named, release] {
                    standin::StandinAgent agent;
                    agent.start();
                    const size_t baseline = fixtures::threadNames().size();
                    std::promise<void> done;  // outlives the adapter and engine that call `ending`
                    KOVA::KOVAClientAdapterPtr owner =
                        adapterFor(agent, named ? std::vector<std::string>{"td.Endpoints=tcp -h 127.0.0.1"}
                                                : std::vector<std::string>{});
                    auto engine = std::make_shared<std::shared_ptr<Engine>>(std::make_shared<Engine>("Agent", owner));
                    KOVA::KOVAClientAdapter* adapter = owner.get();
                    const KOVA::KOVAPushCallback ending =
                        [adapter, engine, release, &done](const std::string&, const std::string&, const std::string&,
                                                          const std::vector<KOVAMsg::KOVAMessage>&,
                                                          const Ice::Current&) {
                            release ? engine->reset() : adapter->Close();
                            done.set_value();
                            return 0;
                        };
                    boost::asio::io_context monitor;  // never run: no keep-alive
                    KOVA::PushConsumerCallback unused = [](void*, const std::string&, const std::string&,
                                                           KOVA::IMessage&&) { return 0; };
                    if (!adapter->ActiveAdapter(ending, false) ||
                        (*engine)->RegisterPushConsumer("r1", unused, nullptr, 100, 1, monitor) != 0) {
                        return std::string("not registered");
                    }
                    if (release) {
                        owner = nullptr;
                    }
                    agent.push("r1", batchOf(1));
                    if (done.get_future().wait_for(kWait) != std::future_status::ready) {
                        return std::string("still ending");
                    }
                    // Every thread of the client, the adapter thread last, has ended.
                    return std::string(!release ||
                                               eventually([&] { return fixtures::threadNames().size() <= baseline; })
                                           ? "ended"
                                           : "threads left");
                },
                "ended");
        }
    }
}

}  // namespace
}  // namespace kova::test::engine
