// Scenarios about the client's life: creation, threads, back-off, exit.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "KOVAClientManager.h"
#include "batches.h"
#include "client_items.h"
#include "scenario_support.h"
#include "thread_names.h"

namespace kova::test::client {

using fixtures::threadsNamed;

namespace {
std::vector<std::string> g_lateItems;
}  // namespace

void instanceScenario(const ScenarioArgs& args) {
    g_lateItems = clientItems(args, "late");
    // Registered before the client exists, so it runs once the client stopped.
    std::atexit([] { check(!KOVA::KOVAClientLib::GetInstance(g_lateItems, "late"), "no client after exit"); });
    ScenarioArgs unreachable(args);
    unreachable["agent"] = engine::kUnreachableAgent;
    check(!KOVA::KOVAClientLib::GetInstance(clientItems(unreachable, "deadAgentClient"), "deadAgentClient"),
          "a client whose agent does not answer");
    check(logMentions("FATAL") && logMentions("Init kova client:deadAgentClient instance error:"),
          "the FATAL line naming the item");
    KOVA::KOVAClientLibPtr client = requireClient(args);
    check(KOVA::KOVAClientLib::GetInstance(std::vector<std::string>{"other=1"}, "other").get() == client.get(),
          "another call with other items returns the same client");
    check(KOVA::KOVAClientLib::GetInstance("/nonexistent/ice.client", "third").get() == client.get(),
          "another call with a file returns the same client");
}

void threadsScenario(const ScenarioArgs& args) {
    KOVA::KOVAClientLibPtr client = requireClient(args, {"Ice.ThreadPool.Client.SizeMax=2"});
    check(threadsNamed("kova-reproduce") == 1, "the re-produce thread runs with a fail-store");
    check(client->Produce("threads", "", messages({"sync"}), {}, 0) == 0, "synchronous produce");
    check(threadsNamed("kova-async") == 0 && threadsNamed("kova-monitor") == 0, "no pool before first use");
    const int pool = static_cast<int>(std::min(2u, std::max(1u, std::thread::hardware_concurrency())));
    for (int call = 0; call < 2; ++call) {
        std::string sid;
        KOVA::PullConsumerCallback cb = [](const std::string&, const std::string&, KOVA::ConsumeStatusPtr, void*) {};
        check(client->Consume("threads", sid, cb, nullptr, 1, {}, 0) == 0, "asynchronous pull issued");
        check(threadsNamed("kova-async") == pool, "the pool's size after asynchronous pull " + std::to_string(call));
    }
    KOVA::PushConsumerCallback push = [](void*, const std::string&, const std::string&, KOVA::IMessage&&) { return 0; };
    check(client->RegisterPushConsumer("threads", push, nullptr), "push registration");
    check(threadsNamed("kova-monitor") == 1, "one monitor thread after the first registration");
}

void backOffScenario(const ScenarioArgs& args) {
    ScenarioArgs unreachable(args);
    unreachable["agent"] = engine::kUnreachableAgent;
    // Declared before the manager: its re-produce thread runs the sleeper
    // until the manager's destructor has joined it.
    std::mutex mutex;
    std::vector<int> slept;
    std::atomic<bool> accept{false}, threw{false};
    const size_t refusals = 12;
    KOVA::KOVAClientManager manager(clientItems(unreachable, "backoff"), "backoff", false, nullptr);
    manager.setReProduceSleeper([&](std::chrono::seconds length) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (slept.empty() || slept.back() != 20) {
                slept.push_back(static_cast<int>(length.count()));
            }
            accept = slept.size() >= refusals;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    check(manager.Store("backoff", engine::batchOf({"stored"}), {}), "store one batch");
    check(manager.LoadStore(
              [&](const std::string&, const KOVAMsg::KOVABatchMessage&, const KOVA::COMMON::KOVAProperties&) {
                  // The first refusal is a throw: it counts as a failure like the others.
                  return !threw.exchange(true) ? throw std::runtime_error("refused") : accept.load();
              }),
          "re-produce thread started");
    check(!manager.LoadStore(nullptr), "a second start is refused");
    check(eventually([&] {
              std::lock_guard<std::mutex> lock(mutex);
              return !slept.empty() && slept.back() == 20;
          }),
          "the loop reaches the empty store");
    // Refused passes back off 1..10 s, then stay at 10 s; after the accepted
    // pass (no wait) the empty store rests 20 s.
    const std::vector<int> expected{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 10, 10, 20};
    std::lock_guard<std::mutex> lock(mutex);
    check(slept == expected, "back-off sequence");
}

namespace {

// Every asynchronous call of the exit scenario has a slot: issued calls must
// have been called back exactly once when the client has stopped.
constexpr int kSlots = 64;  // 8 pulls, each with a produce at exit, and 16 produces
std::array<std::atomic<int>, kSlots> g_callbacks{};
std::array<bool, kSlots> g_issued{};
std::array<bool, kSlots> g_lost{};  // a produce called back with anything but 0 ("stored")
std::atomic<int> g_nextSlot{0};
std::atomic<int> g_pushes{0};
std::atomic<int> g_stored{1};  // the batch stored by "STORE"

void* takeSlot() { return reinterpret_cast<void*>(static_cast<intptr_t>(g_nextSlot++)); }
void calledBack(void* cookie) { ++g_callbacks[reinterpret_cast<intptr_t>(cookie)]; }
void noteIssued(void* cookie, bool issued) { g_issued[reinterpret_cast<intptr_t>(cookie)] = issued; }

// Registered before the client exists, so it runs after the client stopped.
void verifyCallbacksAfterStop() {
    for (int slot = 0; slot < g_nextSlot; ++slot) {
        if (g_callbacks[slot] != (g_issued[slot] ? 1 : 0) || g_lost[slot]) {
            std::fprintf(stderr, "SCENARIO FAILED: call %d issued:%d called back %d times, lost:%d\n", slot,
                         g_issued[slot] ? 1 : 0, g_callbacks[slot].load(), g_lost[slot] ? 1 : 0);
            std::_Exit(3);
        }
    }
    announce("VERIFIED\tcalls=" + std::to_string(g_nextSlot.load()) + "\tstored=" + std::to_string(g_stored.load()));
}

// No produce reply ever comes (the agent holds them): each produce fails at
// exit and must be stored, which this client reports as 0.
void produceCalledBack(int code, void* cookie) {
    g_lost[reinterpret_cast<intptr_t>(cookie)] = code != 0;
    g_stored += code == 0 ? 1 : 0;
    calledBack(cookie);
}

void produceAsync(const KOVA::KOVAClientLibPtr& client, const std::string& rid) {
    void* slot = takeSlot();
    KOVA::AsyncProduceCallback cb = produceCalledBack;
    noteIssued(slot, client->Produce(rid, "", messages({"m"}), cb, slot, {}, 0) == 0);
}

// A pull failing at exit produces from its callback, through the instance
// that GetInstance still returns then; the communicator is gone, so the
// produce cannot be issued and is stored.
void pullCalledBack(const std::string&, const std::string&, KOVA::ConsumeStatusPtr status, void* cookie) {
    calledBack(cookie);
    if (status->Status() == KOVA::COMMON::INTERNAL_ERROR) {
        KOVA::KOVAClientLibPtr client = KOVA::KOVAClientLib::GetInstance(std::vector<std::string>{}, "any");
        check(client.get() != nullptr, "the client during exit");
        produceAsync(client, "exit-late");
    }
}

}  // namespace

void exitBusyScenario(const ScenarioArgs& args) {
    std::atexit(verifyCallbacksAfterStop);
    KOVA::KOVAClientLibPtr client =
        requireClient(args, {"Ice.ThreadPool.Client.SizeMax=4", "scenario.Fail.EnableSucc=1"});
    KOVA::PushConsumerCallback push = [](void*, const std::string&, const std::string&, KOVA::IMessage&&) {
        ++g_pushes;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return 0;
    };
    const std::string pushed = "exit-push-" + args.at("tag");
    check(client->RegisterPushConsumer(pushed, push, nullptr), "push registration");
    for (int pull = 0; pull < 8; ++pull) {
        std::string sid;
        void* slot = takeSlot();
        KOVA::PullConsumerCallback cb = pullCalledBack;
        noteIssued(slot, client->Consume("exit-pull", sid, cb, slot, 1, {}, 10000) == 0);
    }
    // The agent pushes each batch back.
    for (int produce = 0; produce < 16; ++produce) {
        produceAsync(client, pushed);
    }
    check(client->Produce("exit-store", "", messages({"s"}), {{"STORE", ""}}, 0) == 0, "stored for re-produce");
    check(eventually([] { return g_pushes > 0; }), "pushes arrive");
    announce("BUSY");
    waitForQuit();
}

// A push consumer whose first keep-alive the agent never answers, with no
// invocation timeout: the monitor's tick waits for ever until exit.
void exitKeepAliveScenario(const ScenarioArgs& args) {
    KOVA::KOVAClientLibPtr client = requireClient(args, {"Ice.Default.InvocationTimeout=-1"});
    KOVA::PushConsumerCallback push = [](void*, const std::string&, const std::string&, KOVA::IMessage&&) { return 0; };
    check(client->RegisterPushConsumer("exit-keepalive", push, nullptr), "push registration");
    announce("REGISTERED");
    waitForQuit();
}

}  // namespace kova::test::client
