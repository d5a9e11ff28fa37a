// The process-wide client's life at its edges: exit() from a callback, a
// forked child, threads still calling while main returns, a caller's lock
// held across an asynchronous produce. Each case builds its client in a
// forked child (one client per process) against the stand-in agent, which
// runs as a process of its own so that this process never has Ice threads to
// fork.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "KOVAClientLib.h"
#include "agent_process.h"
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

std::vector<KOVA::OMessage> oneMessage() { return {KOVA::OMessage("m", KOVA::COMMON::E_RAW)}; }

// The held produces' callbacks, checked once the client has stopped.
std::atomic<int> g_heldCallbacks[kHeldProduces];

void reportHeldCallbacks() {
    for (auto& count : g_heldCallbacks) {
        std::printf("%d,", count.load());
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
    const char* agentScript;  // a command for the agent, or empty
    void (*trigger)(const KOVA::KOVAClientLibPtr&);
};

// Names the case in test listings instead of its bytes.
void PrintTo(const ExitCase& c, std::ostream* os) { *os << c.name; }

const ExitCase kExitCases[] = {
    {"KovaAsyncProduceCallback", "",
     [](const KOVA::KOVAClientLibPtr& client) {
         KOVA::AsyncProduceCallback cb = [](int, void*) { std::exit(kExitCode); };
         client->Produce("life-exit", "", oneMessage(), cb, nullptr, {}, 0);
     }},
    {"IceThreadFailedPullCallback", "code consume 3",
     [](const KOVA::KOVAClientLibPtr& client) {
         std::string sid;
         KOVA::PullConsumerCallback cb = [](const std::string&, const std::string&, KOVA::ConsumeStatusPtr, void*) {
             std::exit(kExitCode);
         };
         client->Consume("life-exit", sid, cb, nullptr, 1, {}, 0);
     }},
    {"PushPoolPushCallback", "",
     [](const KOVA::KOVAClientLibPtr& client) {
         KOVA::PushConsumerCallback cb = [](void*, const std::string&, const std::string&, KOVA::IMessage&&) {
             std::exit(kExitCode);
             return 0;
         };
         client->RegisterPushConsumer("life-push", cb, nullptr);
         client->Produce("life-push", "", oneMessage(), {}, 0);
     }},
};

class ExitFromCallbackTest : public ClientLifetimeTest, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(ExitFromCallbackTest, EndsTheProcess) {
    const ExitCase& c = GetParam();
    if (*c.agentScript) {
        agent_->command(c.agentScript);
    }
    agent_->command("hold produce " + std::to_string(kHeldProduces));
    auto child = RunWithPipedStdout(
        [&c] {
            std::atexit(reportHeldCallbacks);  // before the client: runs after its stop
            KOVA::KOVAClientLibPtr life = client({"Ice.ThreadPool.Client.SizeMax=4"});
            for (int held = 0; held < kHeldProduces; ++held) {
                KOVA::AsyncProduceCallback cb = [](int, void* slot) { ++*static_cast<std::atomic<int>*>(slot); };
                life->Produce("life-held", "", oneMessage(), cb, &g_heldCallbacks[held], {}, 0);
            }
            // Parked before the trigger's produce arrives, which the agent would park instead.
            // (The parent waits for this child and does not use the agent's pipe meanwhile.)
            while (agent_->command("held").front() != "OK " + std::to_string(kHeldProduces)) {
                std::this_thread::sleep_for(milliseconds(5));
            }
            c.trigger(life);
            for (;;) {
                std::this_thread::sleep_for(seconds(1));
            }
            return 0;
        },
        seconds(30));
    EXPECT_TRUE(child.finished) << "still running after the bound";
    EXPECT_EQ(child.exitCode, kExitCode) << child.output;
    EXPECT_EQ(child.output, "1,1,1,");
}

INSTANTIATE_TEST_SUITE_P(Callbacks, ExitFromCallbackTest, ::testing::ValuesIn(kExitCases),
                         [](const ::testing::TestParamInfo<ExitCase>& info) { return info.param.name; });

// A forked child may exit while the parent's client lives on; there the
// client answers as after exit, and the parent's goes on working.
TEST_F(ClientLifetimeTest, AForkedChildLeavesTheParentsClientAlone) {
    auto parent = RunWithPipedStdout(
        [] {
            KOVA::KOVAClientLibPtr life = client();
            auto child = RunWithPipedStdout(
                [&life] {
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
                    return 0;
                },
                seconds(20));
            std::printf("child %d %d [%s] parent %d", child.finished, child.exitCode, child.output.c_str(),
                        life->Produce("life-fork", "", oneMessage(), {}, 0));
            return 0;
        },
        seconds(60));
    EXPECT_TRUE(parent.finished);
    EXPECT_EQ(parent.output, "child 1 0 [100 100 100 0 0] parent 0");
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
            std::mutex callerLock;
            std::atomic<int> calls{0};
            KOVA::AsyncProduceCallback cb = [&](int, void*) {
                std::lock_guard<std::mutex> lock(callerLock);
                ++calls;
            };
            int code = -2;
            bool issued = false;
            {
                std::lock_guard<std::mutex> lock(callerLock);
                code = life->Produce("down", "", oneMessage(), cb, nullptr, {}, 0);
                issued = life->Produce("down", "m", cb, nullptr, KOVA::COMMON::E_RAW, false, {});
            }
            engine::eventually([&] { return calls >= 2; }, seconds(10));
            std::this_thread::sleep_for(milliseconds(100));  // room for a second call
            std::printf("%d %d %d", code, issued, calls.load());
            return 0;
        },
        seconds(30));
    EXPECT_TRUE(child.finished) << "deadlocked";
    EXPECT_EQ(child.output, "0 1 2");
}

}  // namespace
}  // namespace kova::test::client
