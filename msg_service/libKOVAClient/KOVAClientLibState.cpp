// The facade's view of the client's life: the call gate, the callbacks still
// owed, the owning process and the stop at exit.
#include "KOVAClientLibState.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "KOVACallerCallback.h"
#include "KOVAClientThreads.h"
#include "KOVALog.h"

namespace KOVA {

namespace {

typedef std::chrono::steady_clock Clock;

// A stop on one of the client's own threads cannot wait for that thread: it
// waits this long for the rest (other callbacks, calls in flight, the
// manager's threads) and then lets the process end.
const std::chrono::seconds kClientThreadStopBound(5);
// Calls in flight end soon after the communicator is gone. One that does not
// (a caller's callback run inside it that blocks) leaves the client unfreed
// rather than holding exit.
const std::chrono::seconds kCallsInFlightBound(10);
// Once the connections are closed, the calls still outstanding fail within
// milliseconds wherever a thread is free to complete them. When nothing owed
// has settled, no completion has been queued or run and no call has ended for
// this long, no other thread is getting to them: the stopping thread settles
// them itself.
const std::chrono::milliseconds kNoProgressSpell(500);

std::atomic<KOVAClientManager*> g_liveManager{nullptr};
std::atomic<KOVAClientLib*> g_instance{nullptr};
std::atomic<int> g_getInstanceInProgress{0};
// What is not freed at exit: the parent's client in a forked child, a client
// whose stop could not wait for everything, and the facade object. Held from
// globals (atomics, so the stores are not optimised away), so that leak
// checkers see them as held.
std::atomic<KOVAClientManagerPtr*> g_keptAtExit{nullptr};
std::atomic<KOVAClientLibPtr*> g_keptFacade{nullptr};

void keepAtExit(KOVAClientManagerPtr manager) { g_keptAtExit = new KOVAClientManagerPtr(std::move(manager)); }

// Waits until `done`, the deadline, or a spell without progress. While the
// pool still runs and has completions queued (`poolRuns`), those are progress
// to come: the wait goes on, up to the deadline.
void waitForOthers(const std::function<bool()>& done, Clock::time_point deadline, bool poolRuns) {
    uint64_t seen = StopProgress();
    Clock::time_point lastProgress = Clock::now();
    WaitBounded(
        [&] {
            if (done()) {
                return true;
            }
            const uint64_t now = StopProgress();
            if (now != seen || (poolRuns && QueuedCompletionCount() > 0)) {
                seen = now;
                lastProgress = Clock::now();
            }
            return Clock::now() - lastProgress >= kNoProgressSpell;
        },
        deadline);
}

// Runs every callback still owed on this thread. A call still in flight may
// owe one more on its way out, also while the callbacks run: as long as such
// calls end, they are waited for and what they owe is settled too. Whether
// they were done is read before each round, so a round that follows the last
// call's end settles what it left; and a call that ends during a round counts
// as progress for the wait after it.
void settleOwedAndLate(int mine, Clock::time_point deadline) {
    auto callsDone = [mine] { return CallsInFlight() == mine; };
    uint64_t seen = StopProgress();
    for (;;) {
        const bool wereDone = callsDone();
        SettleOwedCallbacks();
        if (wereDone) {
            return;
        }
        waitForOthers(callsDone, deadline, false);
        const uint64_t now = StopProgress();
        if (now == seen) {
            return;
        }
        seen = now;
    }
}

void stopClient(KOVAClientManagerPtr manager) {
    MarkClientStopping();
    const int mine = CallsInFlightOnThisThread();
    if (OnClientThread()) {
        const Clock::time_point deadline = Clock::now() + kClientThreadStopBound;
        manager->StopOnClientThread(
            [mine, deadline] {
                waitForOthers([mine] { return CallsInFlight() == mine && OwedCallbackCount() == 0; }, deadline, true);
            },
            [mine, deadline] { settleOwedAndLate(mine, deadline); }, deadline);
        // Releasing the engines and the adapter here could wait for this very
        // thread; the process is ending anyway.
        keepAtExit(std::move(manager));
        return;
    }
    manager->BeginStop();
    if (!WaitBounded([mine] { return CallsInFlight() == mine; }, Clock::now() + kCallsInFlightBound)) {
        LOG_WARN("Stop of the client: %d call(s) still in flight, the client is not freed", CallsInFlight() - mine);
        const Clock::time_point deadline = Clock::now() + kClientThreadStopBound;
        manager->FinishWorkWithin(deadline);
        settleOwedAndLate(mine, deadline);
        keepAtExit(std::move(manager));
        return;
    }
    manager->FinishWork();
    // What no thread completed: a callback the facade put off while stopping.
    settleOwedAndLate(mine, Clock::now() + kClientThreadStopBound);
    manager.reset();
}

// Built once the client is complete, after everything its construction made
// on first use (Ice's statics, the generated code's, the logger): statics go
// in the reverse order of their construction, so at exit this goes, and the
// client stops, while those still exist.
struct ClientStatics {
    KOVAClientManagerPtr _kovaCliManager;

    ~ClientStatics() {
        if (InForkedChild()) {
            // The parent's client, without its threads: stopping it would
            // wait for threads that do not exist here.
            keepAtExit(std::move(_kovaCliManager));
            return;
        }
        // The instance stays published during the stop: a callback that asks
        // GetInstance() then gets the client, whose calls answer as after exit.
        stopClient(std::move(_kovaCliManager));
        g_liveManager = nullptr;
        g_instance = nullptr;
    }
};

}  // namespace

ClientCall::ClientCall() : _manager(nullptr) {
    if (_inFlight.admitted()) {
        _manager = g_liveManager.load();
    }
    if (!_manager) {
        _inFlight.leave();
    }
}

KOVAClientLibImplPtr ClientCall::engine(const std::string& rid) const {
    return _manager ? _manager->getClientHandleByRes(rid) : KOVAClientLibImplPtr();
}

void CallProduceCallback(const AsyncProduceCallback& cb, int code, void* cookie) {
    CallCallerCallback(
        cb, [code] { return "Produce callback threw for code:" + std::to_string(code); }, code, cookie);
}

AsyncProduceCallback OwedProduceCallback(AsyncProduceCallback completion, void* cookie, int codeAtStop,
                                         OwedCallbackPtr* claimed) {
    if (!completion) {
        return completion;
    }
    auto held = std::make_shared<const AsyncProduceCallback>(std::move(completion));
    OwedCallbackPtr owed = Owe([held, cookie, codeAtStop] { CallProduceCallback(*held, codeAtStop, cookie); });
    if (claimed) {
        *claimed = owed;
    }
    return OwedCall(std::move(owed), std::move(held));
}

PullConsumerCallback OwedPullCallback(PullConsumerCallback cb, const std::string& rid, const std::string& sid,
                                      void* cookie, OwedCallbackPtr* claimed) {
    if (!cb) {
        return cb;
    }
    auto held = std::make_shared<const PullConsumerCallback>(std::move(cb));
    OwedCallbackPtr owed = Owe([held, rid, sid, cookie] {
        ConsumeStatusPtr failed = new ConsumeStatus(COMMON::INTERNAL_ERROR, nullptr);
        CallCallerCallback(
            *held, [&rid] { return "Pull callback threw for rid:" + rid; }, rid, sid, failed, cookie);
    });
    if (claimed) {
        *claimed = owed;
    }
    return OwedCall(std::move(owed), std::move(held));
}

void OweUntilStop(AsyncProduceCallback cb, int code, void* cookie) {
    if (!cb) {
        return;
    }
    Owe([cb, code, cookie] { CallProduceCallback(cb, code, cookie); }, true);
}

void AdoptClient(const KOVAClientManagerPtr& manager, const KOVAClientLibPtr& instance) {
    static ClientStatics statics{manager};
    // The facade object holds nothing: never freed, so a GetInstance racing
    // the stop can never take a reference to a freed one.
    g_keptFacade = new KOVAClientLibPtr(instance);
    g_liveManager = manager.get();
    g_instance = instance.get();
}

KOVAClientLib* PublishedInstance() { return g_instance.load(); }

GetInstanceInProgress::GetInstanceInProgress() {
    ++g_getInstanceInProgress;
    static const int atFork = pthread_atfork(nullptr, nullptr, [] {
        if (g_instance.load() || g_liveManager.load() || g_getInstanceInProgress.load() > 0) {
            MarkForkedChild();
        }
    });
    static_cast<void>(atFork);
}

GetInstanceInProgress::~GetInstanceInProgress() { --g_getInstanceInProgress; }

}  // namespace KOVA
