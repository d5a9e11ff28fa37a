// The process-wide client's life at its edges: exit() from a callback, a
// forked child, threads still calling while main returns, a caller's lock
// held across an asynchronous produce. Each case builds its client in a
// forked child (one client per process) against the stand-in agent, which
// runs as a process of its own so that this process never has Ice threads to
// fork.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "ClientGate.h"
#include "KOVAClientLib.h"
#include "PublicTools.h"
#include "agent_process.h"
#include "callback_recorders.h"
#include "client_items.h"
#include "forked_child.h"
#include "temp_dir.h"
#include "unique_prefix.h"
#include "waits.h"

namespace kova::test::client {
namespace {

using fixtures::RunWithPipedStdout;
using std::chrono::milliseconds;
using std::chrono::seconds;

const int kExitCode = 7;
const int kHeldProduces = 3;
const int kTriggerCallbacks = 4;

std::vector<KOVA::OMessage> oneMessage() { return {KOVA::OMessage("m", KOVA::COMMON::E_RAW)}; }

// Bodies whose gzip conversion takes about `span` on this machine (measured
// over three of them): a produce of them is still converting `span` later.
// Four letters at random are slow to compress and keep the batch small
// enough for one fail-store file.
std::vector<std::string> bodiesCompressedIn(milliseconds span) {
    std::string body(1 << 20, '\0');
    uint32_t noise = 1;
    for (char& c : body) {
        noise = noise * 1664525u + 1013904223u;
        c = static_cast<char>('a' + (noise >> 30));
    }
    std::string compressed;
    const int kMeasured = 3;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kMeasured; ++i) {
        TQPublicTool::EncodeContentGzip(body, compressed);
    }
    const auto one = std::max<std::chrono::steady_clock::duration>(
        (std::chrono::steady_clock::now() - start) / kMeasured, milliseconds(1));
    return std::vector<std::string>(static_cast<size_t>(span / one) + 1, body);
}

// The held produces' callbacks and those a trigger issued, checked once the
// client has stopped: the code of a callback that ran exactly once, else
// "x<count>".
struct HeldCallback {
    std::atomic<int> count{0};
    std::atomic<int> code{-1};
};
HeldCallback g_held[kHeldProduces];
HeldCallback g_triggered[kTriggerCallbacks];
std::atomic<int> g_triggeredIssued{0};

void recordCode(int code, void* slot) {
    static_cast<HeldCallback*>(slot)->code = code;
    ++static_cast<HeldCallback*>(slot)->count;
}

void reportHeldCallbacks() {
    auto report = [](const HeldCallback& held) {
        if (held.count == 1) {
            std::printf("%d,", held.code.load());
        } else {
            std::printf("x%d,", held.count.load());
        }
    };
    for (auto& held : g_held) {
        report(held);
    }
    for (int i = 0; i < g_triggeredIssued; ++i) {
        report(g_triggered[i]);
    }
}

class ClientLifetimeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        fixtures::AgentProcessOptions options;
        options.autoPush = true;  // a produced batch is pushed to the resource's consumer
        agent_ = new fixtures::AgentProcess(options);
        agent_->start();
    }
    static void TearDownTestSuite() {
        delete agent_;
        agent_ = nullptr;
    }
    void SetUp() override {
        agent_->command("release");
        agent_->command("reset_script");
    }

    // Builds the child's client; items made in the child, so its log
    // directory is the child's.
    static KOVA::KOVAClientLibPtr client(const std::vector<std::string>& extra = {}) {
        KOVA::KOVAClientLibPtr client = KOVA::KOVAClientLib::GetInstance(
            engine::testClientItems("life", agent_->agentProxyString(), extra), "life");
        if (!client) {
            std::printf("no client");
            std::exit(2);
        }
        return client;
    }

    // Not a static object: a child's exit() would stop the agent with it.
    static fixtures::AgentProcess* agent_;
};

fixtures::AgentProcess* ClientLifetimeTest::agent_ = nullptr;

// exit() from a callback ends the process, and every callback the client
// still owed (produces the agent holds, failing at exit) runs exactly once.
struct ExitCase {
    const char* name;
    const char* agentScript;  // commands for the agent, separated by ';'
    void (*trigger)(const KOVA::KOVAClientLibPtr&, fixtures::AgentProcess&);
    // What the trigger's own callbacks got, at pool size 1 and 4; null: the
    // case is not run at that size.
    const char* triggered[2] = {"", ""};
};

// Names the case in test listings instead of its bytes.
void PrintTo(const ExitCase& c, std::ostream* os) { *os << c.name; }

const ExitCase kExitCases[] = {
    {"KovaAsyncProduceCallback", "",
     [](const KOVA::KOVAClientLibPtr& client, fixtures::AgentProcess&) {
         KOVA::AsyncProduceCallback cb = [](int, void*) { std::exit(kExitCode); };
         client->Produce("life-exit", "", oneMessage(), cb, nullptr, {}, 0);
     }},
    {"IceThreadFailedPullCallback", "code consume 3",
     [](const KOVA::KOVAClientLibPtr& client, fixtures::AgentProcess&) {
         std::string sid;
         KOVA::PullConsumerCallback cb = [](const std::string&, const std::string&, KOVA::ConsumeStatusPtr, void*) {
             std::exit(kExitCode);
         };
         client->Consume("life-exit", sid, cb, nullptr, 1, {}, 0);
     }},
    {"IceThreadCommitCallback", "",
     [](const KOVA::KOVAClientLibPtr& client, fixtures::AgentProcess&) {
         client->Produce("life-commit", "", oneMessage(), {}, 0);
         std::string sid;
         KOVA::ConsumeStatusPtr status = client->Consume("life-commit", sid, 1, {}, 0);
         status->AsyncCommit(
             sid, 0, -1, [](int, void*) { std::exit(kExitCode); }, nullptr);
     }},
    {"PushPoolPushCallback", "",
     [](const KOVA::KOVAClientLibPtr& client, fixtures::AgentProcess&) {
         KOVA::PushConsumerCallback cb = [](void*, const std::string&, const std::string&, KOVA::IMessage&&) {
             std::exit(kExitCode);
             return 0;
         };
         // A resource of this child's own: the agent keeps pushing to earlier children's listeners.
         const std::string rid = "life-push-" + std::to_string(getpid());
         client->RegisterPushConsumer(rid, cb, nullptr);
         client->Produce(rid, "", oneMessage(), {}, 0);
     }},
    // The commit's reply is held too: with one Ice thread (the exiting one)
    // only the stop can call it back (100); with four, its failure does (0).
    {"IceThreadFailedPullCallbackCommitHeld",
     "code consume 0 3;hold commit",
     [](const KOVA::KOVAClientLibPtr& client, fixtures::AgentProcess&) {
         client->Produce("life-held-commit", "", oneMessage(), {}, 0);
         std::string sid;
         KOVA::ConsumeStatusPtr status = client->Consume("life-held-commit", sid, 1, {}, 0);
         status->AsyncCommit(sid, 0, -1, recordCode, &g_triggered[g_triggeredIssued++]);
         KOVA::PullConsumerCallback cb = [](const std::string&, const std::string&, KOVA::ConsumeStatusPtr, void*) {
             std::exit(kExitCode);
         };
         client->Consume("life-exit", sid, cb, nullptr, 1, {}, 0);
     },
     {"100,", "0,"}},
    // Answered produces: the first callback exits once the others are queued
    // behind it, and the second then runs on the stand-in pool thread for
    // longer than the stop waits without progress. Each completion that
    // arrived before the exit runs with its own answer, and nothing is stored
    // (a stored batch would be reported 200).
    {"AnsweredProducesQueuedBehindExitingCallback",
     "",
     [](const KOVA::KOVAClientLibPtr& client, fixtures::AgentProcess& agent) {
         static std::atomic<bool> othersQueued{false};
         const std::string rid = "life-answered-" + std::to_string(getpid());
         for (auto& slot : g_triggered) {
             KOVA::AsyncProduceCallback cb = [](int code, void* held) {
                 static std::atomic<int> started{0};
                 recordCode(code, held);
                 const int order = ++started;
                 while (order == 1 && !othersQueued) {
                     std::this_thread::sleep_for(milliseconds(1));
                 }
                 if (order == 1) {
                     std::exit(kExitCode);
                 } else if (order == 2) {
                     std::this_thread::sleep_for(seconds(1));
                 }
             };
             ++g_triggeredIssued;
             client->Produce(rid, "", oneMessage(), cb, &slot, {}, 0);
         }
         // Once the agent has answered all four, the client reads the replies at once.
         for (int answered = 0; answered < kTriggerCallbacks; std::this_thread::sleep_for(milliseconds(5))) {
             answered = 0;
             for (const std::string& line : agent.command("calls produce")) {
                 auto call = fixtures::parseFields(line);
                 answered += call["rid"] == rid && call["outcome"] == "answered";
             }
         }
         std::this_thread::sleep_for(milliseconds(300));
         othersQueued = true;
     },
     {"0,0,0,0,", "0,0,0,0,"}},
    // A call in progress when the exit starts ends while the stop runs the
    // owed callbacks: an asynchronous BatchProduce still compressing its
    // bodies (for about 1.2 s: the stop starts to settle after some 0.5 s).
    // The held commit's callback, settled at the stop (the only Ice thread
    // is the exiting one), waits until that call has returned. The
    // batch can no longer be sent: it is stored, and its one callback reports
    // it stored. (With four Ice threads the commit's failure runs its
    // callback elsewhere, and the stop need not wait for a call that makes no
    // progress.)
    {"CallEndingWhileTheStopSettles",
     "code consume 0 3;hold commit",
     [](const KOVA::KOVAClientLibPtr& client, fixtures::AgentProcess&) {
         static std::atomic<bool> lateReturned{false};
         client->Produce("life-late", "", oneMessage(), {}, 0);
         std::string sid;
         KOVA::ConsumeStatusPtr status = client->Consume("life-late", sid, 1, {}, 0);
         status->AsyncCommit(
             sid, 0, -1,
             [](int code, void* slot) {
                 engine::eventually([] { return lateReturned.load(); }, seconds(4));
                 recordCode(code, slot);
             },
             &g_triggered[g_triggeredIssued++]);
         HeldCallback* lateSlot = &g_triggered[g_triggeredIssued++];
         std::thread([client, lateSlot] {
             const std::vector<std::string> bodies = bodiesCompressedIn(milliseconds(1200));
             client->BatchProduce("life-late", bodies, recordCode, lateSlot, KOVA::COMMON::E_GZIP, false, {});
             lateReturned = true;
         }).detach();
         // Exit only once the late call is in flight (nothing else is).
         engine::eventually([] { return KOVA::CallsInFlight() > 0; }, seconds(20), milliseconds(1));
         KOVA::PullConsumerCallback cb = [](const std::string&, const std::string&, KOVA::ConsumeStatusPtr, void*) {
             std::exit(kExitCode);
         };
         client->Consume("life-exit", sid, cb, nullptr, 1, {}, 0);
     },
     {"100,200,", nullptr}},
};

// With one Ice client thread the exiting callback may hold the only thread
// that could complete the held produces; so may the only pool thread.
class ExitFromCallbackTest : public ClientLifetimeTest,
                             public ::testing::WithParamInterface<std::tuple<ExitCase, int>> {};

TEST_P(ExitFromCallbackTest, EndsTheProcess) {
    const ExitCase& c = std::get<0>(GetParam());
    const std::string poolSize = std::to_string(std::get<1>(GetParam()));
    std::istringstream script(c.agentScript);
    for (std::string command; std::getline(script, command, ';');) {
        agent_->command(command);
    }
    agent_->command("hold produce " + std::to_string(kHeldProduces));
    fixtures::TempDir store("life-exit-store");
    store::UniquePrefix match("life-exit");
    auto child = RunWithPipedStdout(
        [&] {
            std::atexit(reportHeldCallbacks);  // before the client: runs after its stop
            KOVA::KOVAClientLibPtr life =
                client({"Ice.ThreadPool.Client.Size=" + poolSize, "Ice.ThreadPool.Client.SizeMax=" + poolSize,
                        "life.Fail.CacheDir=" + store.str() + "/", "life.Fail.CacheMatch=" + match.str(),
                        "life.Fail.EnableSucc=0"});
            for (auto& held : g_held) {
                KOVA::AsyncProduceCallback cb = recordCode;
                life->Produce("life-held", "", oneMessage(), cb, &held, {}, 0);
            }
            // Parked before the trigger's produce arrives, which the agent would park instead.
            // (The parent waits for this child and does not use the agent's pipe meanwhile.)
            while (agent_->command("held").front() != "OK " + std::to_string(kHeldProduces)) {
                std::this_thread::sleep_for(milliseconds(5));
            }
            c.trigger(life, *agent_);
            for (;;) {
                std::this_thread::sleep_for(seconds(1));
            }
            return 0;
        },
        seconds(30));
    EXPECT_TRUE(child.finished) << "still running after the bound";
    EXPECT_EQ(child.exitCode, kExitCode) << child.output;
    // Each held batch failed at exit, was stored and reported once as stored.
    EXPECT_EQ(child.output, std::string("200,200,200,") + c.triggered[poolSize == "1" ? 0 : 1]);
}

std::vector<std::tuple<ExitCase, int>> exitCasesByPoolSize() {
    std::vector<std::tuple<ExitCase, int>> cases;
    for (const ExitCase& c : kExitCases) {
        for (int size : {1, 4}) {
            if (c.triggered[size == 1 ? 0 : 1]) {
                cases.emplace_back(c, size);
            }
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Callbacks, ExitFromCallbackTest, ::testing::ValuesIn(exitCasesByPoolSize()),
                         [](const ::testing::TestParamInfo<std::tuple<ExitCase, int>>& info) {
                             return std::string(std::get<0>(info.param).name) + "Pool" +
                                    std::to_string(std::get<1>(info.param));
                         });

// A forked child may exit while the parent's client lives on; there the
// client, and a pulled batch's status it inherited, answer as after exit
// without using the parent's connection, and the parent's go on working.
TEST_F(ClientLifetimeTest, AForkedChildLeavesTheParentsClientAlone) {
    const std::string commitsBefore = agent_->commandValue("count commit");
    auto parent = RunWithPipedStdout(
        [] {
            KOVA::KOVAClientLibPtr life = client({"Ice.Default.InvocationTimeout=3000"});
            life->Produce("life-fork", "", oneMessage(), {}, 0);
            std::string pulledSid;
            KOVA::ConsumeStatusPtr pulled = life->Consume("life-fork", pulledSid, 1, {}, 0);
            auto child = RunWithPipedStdout(
                [&life, &pulled, &pulledSid] {
                    std::string sid;
                    KOVA::PullConsumerCallback pull = [](const std::string&, const std::string&, KOVA::ConsumeStatusPtr,
                                                         void*) {};
                    KOVA::PushConsumerCallback push = [](void*, const std::string&, const std::string&,
                                                         KOVA::IMessage&&) { return 0; };
                    std::printf("%d %d %d %d %d", life->Produce("life-fork", "", oneMessage(), {}, 0),
                                life->Consume("life-fork", sid, 1, {}, 0)->Status(),
                                life->Consume("life-fork", sid, pull, nullptr, 1, {}, 0),
                                life->RegisterPushConsumer("life-fork", push, nullptr),
                                KOVA::KOVAClientLib::GetInstance(std::vector<std::string>{}, "life").get() != nullptr);
                    engine::CodeRecorder commits;
                    pulled->AsyncCommit(pulledSid, 0, 1, commits.callback(), nullptr);
                    std::printf(" status %d %d %d", pulled->Commit(pulledSid, 0, 1), commits.code(0),
                                pulled->Consume("life-fork", sid, 1, {}, 0)->Status());
                    return 0;
                },
                seconds(10));
            std::printf("child %d %d [%s] parent %d %d", child.finished, child.exitCode, child.output.c_str(),
                        life->Produce("life-fork", "", oneMessage(), {}, 0), pulled->Commit(pulledSid, 0, 1));
            return 0;
        },
        seconds(60));
    EXPECT_TRUE(parent.finished);
    EXPECT_EQ(parent.output, "child 1 0 [100 100 100 0 0 status 100 100 100] parent 0 0");
    EXPECT_EQ(std::stoi(agent_->commandValue("count commit")), std::stoi(commitsBefore) + 1)
        << "the agent saw the child's commit";
}

// Threads of the caller still calling the client while main returns: the
// client stops under them, and no run dies by a signal.
TEST_F(ClientLifetimeTest, ThreadsStillCallingWhileMainReturns) {
    for (int run = 0; run < 20; ++run) {
        auto child = RunWithPipedStdout(
            [] {
                KOVA::KOVAClientLibPtr life = client();
                for (int thread = 0; thread < 4; ++thread) {
                    std::thread([life] {
                        const std::vector<KOVA::OMessage> batch = oneMessage();
                        for (;;) {
                            std::string sid;
                            KOVA::PullConsumerCallback pulled = [](const std::string&, const std::string&,
                                                                   KOVA::ConsumeStatusPtr, void*) {};
                            KOVA::AsyncProduceCallback produced = [](int, void*) {};
                            life->Consume("life-busy", sid, 1, {}, 0);
                            life->Consume("life-busy", sid, pulled, nullptr, 1, {}, 0);
                            life->Produce("life-busy", "", batch, {}, 0);
                            life->Produce("life-busy", "", batch, produced, nullptr, {}, 0);
                        }
                    }).detach();
                }
                std::this_thread::sleep_for(milliseconds(20));
                return 0;
            },
            seconds(30));
        ASSERT_TRUE(child.finished) << "run " << run;
        ASSERT_EQ(child.exitCode, 0) << "run " << run;
    }
}

// The default agent is down: an asynchronous produce cannot be issued, the
// fail-store takes it, and its callback must not run inside Produce(), where
// the caller still holds the lock that the callback takes.
TEST_F(ClientLifetimeTest, AStoredAsynchronousProduceCallsBackOutsideTheCallersLock) {
    fixtures::TempDir store("life-store");
    store::UniquePrefix match("life");
    auto child = RunWithPipedStdout(
        [&store, &match] {
            KOVA::KOVAClientLibPtr life = KOVA::KOVAClientLib::GetInstance(
                engine::testClientItems("life", engine::kUnreachableAgent,
                                        {"lifeSeparateRes.List=up", "up=" + agent_->agentProxyString(),
                                         "life.Fail.CacheDir=" + store.path().string() + "/",
                                         "life.Fail.CacheMatch=" + match.str(), "life.Fail.EnableSucc=1"}),
                "life");
            // Owned by the callback: the client outlives this frame and
            // settles what it still owes at exit.
            struct Caller {
                std::mutex lock;
                std::atomic<int> calls{0};
            };
            const auto caller = std::make_shared<Caller>();
            KOVA::AsyncProduceCallback cb = [caller](int, void*) {
                std::lock_guard<std::mutex> lock(caller->lock);
                ++caller->calls;
            };
            int code = -2;
            bool issued = false;
            {
                std::lock_guard<std::mutex> lock(caller->lock);
                code = life->Produce("down", "", oneMessage(), cb, nullptr, {}, 0);
                issued = life->Produce("down", "m", cb, nullptr, KOVA::COMMON::E_RAW, false, {});
            }
            engine::eventually([&] { return caller->calls >= 2; }, seconds(10));
            std::this_thread::sleep_for(milliseconds(100));  // room for a second call
            std::printf("%d %d %d", code, issued, caller->calls.load());
            return 0;
        },
        seconds(30));
    EXPECT_TRUE(child.finished) << "deadlocked";
    EXPECT_EQ(child.output, "0 1 2");
}

}  // namespace
}  // namespace kova::test::client
