// The facade's view of the client's life: the call gate, the callbacks still
// owed, the owning process and the stop at exit.
#include "KOVAClientLibState.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "KOVACallerCallback.h"
#include "KOVAClientThreads.h"
#include "KOVALog.h"
#include "KOVAMutex.h"

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
// has settled and no call has ended for this long, no other thread is getting
// to them: the stopping thread settles them itself.
const std::chrono::milliseconds kNoProgressSpell(500);

std::atomic<KOVAClientManager*> g_liveManager{nullptr};
std::atomic<KOVAClientLib*> g_instance{nullptr};
// Calls that got a manager and have not returned.
std::atomic<int> g_callsInFlight{0};
// The calls in flight on this thread: a stop run from inside one (a callback
// that a call ran in place) must not wait for them.
thread_local int tCallsHere = 0;
std::atomic<int> g_owedCallbacks{0};
// Grows whenever an owed callback settles or a call ends: the stop on a
// client thread watches it to tell a slow finish from none at all.
std::atomic<uint64_t> g_progress{0};
std::atomic<int> g_getInstanceInProgress{0};
// What is not freed at exit: the parent's client in a forked child, a client
// whose stop could not wait for everything, and the facade object. Held from
// globals (atomics, so the stores are not optimised away), so that leak
// checkers see them as held.
std::atomic<KOVAClientManagerPtr*> g_keptAtExit{nullptr};
std::atomic<KOVAClientLibPtr*> g_keptFacade{nullptr};

void keepAtExit(KOVAClientManagerPtr manager) { g_keptAtExit = new KOVAClientManagerPtr(std::move(manager)); }

}  // namespace

// One callback owed to a caller. Whoever claims it first runs it: its
// wrapper when the call completes, or the stop (atStop). Registered in the
// owed table for its whole life; a parked one (no wrapper holds it) is owned
// by the table until the stop settles it.
class OwedCallback {
public:
    explicit OwedCallback(std::function<void()> atStop) : _atStop(std::move(atStop)) { ++g_owedCallbacks; }
    ~OwedCallback();
    OwedCallback(const OwedCallback&) = delete;
    OwedCallback& operator=(const OwedCallback&) = delete;

    bool claim() {
        if (_claimed.exchange(true)) {
            return false;
        }
        --g_owedCallbacks;
        ++g_progress;
        return true;
    }
    void settleAtStop() {
        if (claim()) {
            _atStop();
        }
    }
    uint64_t id = 0;

private:
    std::atomic<bool> _claimed{false};
    const std::function<void()> _atStop;
};

namespace {

// The owed table, in the order the callbacks were owed. Its mutex is taken by
// nothing else and never across a callback.
Mutex g_owedMutex;
uint64_t g_nextOwedId GUARDED_BY(g_owedMutex) = 0;
struct OwedEntry {
    std::weak_ptr<OwedCallback> owed;
    std::shared_ptr<OwedCallback> parked;
};
std::map<uint64_t, OwedEntry>& owedTable() REQUIRES(g_owedMutex) {
    // Never destroyed: callbacks may still be owed while statics go.
    static auto* table = new std::map<uint64_t, OwedEntry>();
    return *table;
}

std::shared_ptr<OwedCallback> owe(std::function<void()> atStop, bool parked) {
    auto owed = std::make_shared<OwedCallback>(std::move(atStop));
    MutexLock lock(g_owedMutex);
    owed->id = ++g_nextOwedId;
    owedTable()[owed->id] = OwedEntry{owed, parked ? owed : nullptr};
    return owed;
}

// Runs every callback still owed, here, with its after-exit answer.
void settleOwedCallbacks() {
    std::vector<std::shared_ptr<OwedCallback>> owed;
    {
        MutexLock lock(g_owedMutex);
        for (auto& entry : owedTable()) {
            if (std::shared_ptr<OwedCallback> live = entry.second.owed.lock()) {
                owed.push_back(std::move(live));
            }
            entry.second.parked.reset();
        }
    }
    for (const auto& callback : owed) {
        callback->settleAtStop();
    }
}

// Waits until `done`, the deadline, or a spell without progress.
void waitForOthers(const std::function<bool()>& done, Clock::time_point deadline) {
    uint64_t seen = g_progress.load();
    Clock::time_point lastProgress = Clock::now();
    WaitBounded(
        [&] {
            if (done()) {
                return true;
            }
            const uint64_t now = g_progress.load();
            if (now != seen) {
                seen = now;
                lastProgress = Clock::now();
            }
            return Clock::now() - lastProgress >= kNoProgressSpell;
        },
        deadline);
}

void stopClient(KOVAClientManagerPtr manager) {
    MarkClientStopping();
    const int mine = tCallsHere;
    auto othersDone = [mine] { return g_callsInFlight.load() == mine && g_owedCallbacks.load() == 0; };
    if (OnClientThread()) {
        manager->StopOnClientThread(
            [othersDone] {
                waitForOthers(othersDone, Clock::now() + kClientThreadStopBound);
                settleOwedCallbacks();
            },
            Clock::now() + kClientThreadStopBound);
        // Releasing the engines and the adapter here could wait for this very
        // thread; the process is ending anyway.
        keepAtExit(std::move(manager));
        return;
    }
    manager->BeginStop();
    if (!WaitBounded([mine] { return g_callsInFlight.load() == mine; }, Clock::now() + kCallsInFlightBound)) {
        LOG_WARN("Stop of the client: %d call(s) still in flight, the client is not freed",
                 g_callsInFlight.load() - mine);
        manager->FinishWorkWithin(Clock::now() + kClientThreadStopBound);
        settleOwedCallbacks();
        keepAtExit(std::move(manager));
        return;
    }
    manager->FinishWork();
    // What no thread completed: a callback the facade put off while stopping.
    settleOwedCallbacks();
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

OwedCallback::~OwedCallback() {
    claim();
    MutexLock lock(g_owedMutex);
    owedTable().erase(id);
}

ClientCall::ClientCall() : _manager(nullptr) {
    // Counted before the gate is read, and the stop closes the gate before it
    // reads the count: either this call sees the stop, or the stop waits for
    // this call. A call that gets no manager stops counting at once, so
    // callers spinning on a stopped client do not hold the stop.
    g_callsInFlight.fetch_add(1);
    if (ClientGateOpen()) {
        _manager = g_liveManager.load();
    }
    if (!_manager) {
        g_callsInFlight.fetch_sub(1);
        return;
    }
    ++tCallsHere;
}

ClientCall::~ClientCall() {
    if (_manager) {
        --tCallsHere;
        ++g_progress;
        g_callsInFlight.fetch_sub(1);
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
                                         std::shared_ptr<OwedCallback>* claimed) {
    if (!completion) {
        return completion;
    }
    auto owed = owe([completion, cookie, codeAtStop] { CallProduceCallback(completion, codeAtStop, cookie); }, false);
    if (claimed) {
        *claimed = owed;
    }
    return [owed, completion](int code, void* ck) {
        if (owed->claim()) {
            completion(code, ck);
        }
    };
}

PullConsumerCallback OwedPullCallback(PullConsumerCallback cb, const std::string& rid, const std::string& sid,
                                      void* cookie) {
    if (!cb) {
        return cb;
    }
    auto owed = owe(
        [cb, rid, sid, cookie] {
            ConsumeStatusPtr failed = new ConsumeStatus(COMMON::INTERNAL_ERROR, nullptr);
            CallCallerCallback(
                cb, [&rid] { return "Pull callback threw for rid:" + rid; }, rid, sid, failed, cookie);
        },
        false);
    return [owed, cb](const std::string& r, const std::string& s, ConsumeStatusPtr status, void* ck) {
        if (owed->claim()) {
            cb(r, s, std::move(status), ck);
        }
    };
}

bool TakeOver(const std::shared_ptr<OwedCallback>& owed) { return !owed || owed->claim(); }

void OweUntilStop(AsyncProduceCallback cb, int code, void* cookie) {
    if (!cb) {
        return;
    }
    owe([cb, code, cookie] { CallProduceCallback(cb, code, cookie); }, true);
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
