// The facade's view of the client's life: the call gate, the callbacks still
// owed, the owning process and the stop at exit.
#include "KOVAClientLibState.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <utility>

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

std::atomic<KOVAClientManager*> g_liveManager{nullptr};
std::atomic<KOVAClientLib*> g_instance{nullptr};
std::atomic<bool> g_stopping{false};
std::atomic<bool> g_forkedChild{false};
std::atomic<int> g_callsInFlight{0};
// The calls in flight on this thread: a stop run from inside one (a callback
// that a call ran in place) must not wait for them.
thread_local int tCallsHere = 0;
std::atomic<int> g_owedCallbacks{0};
// A client that is not freed at exit: the parent's copy in a forked child, or
// one whose stop could not wait for everything. Held from a global (an atomic,
// so the store is not optimised away), so that leak checkers see it as held.
std::atomic<KOVAClientManagerPtr*> g_keptAtExit{nullptr};

void keepAtExit(KOVAClientManagerPtr manager) { g_keptAtExit = new KOVAClientManagerPtr(std::move(manager)); }

// Settles once: when the callback starts, or when the last copy of an
// uncalled callback goes.
class OwedCallback {
public:
    OwedCallback() { ++g_owedCallbacks; }
    ~OwedCallback() { settle(); }
    OwedCallback(const OwedCallback&) = delete;
    OwedCallback& operator=(const OwedCallback&) = delete;
    void settle() {
        if (!_settled.exchange(true)) {
            --g_owedCallbacks;
        }
    }

private:
    std::atomic<bool> _settled{false};
};

void stopClient(KOVAClientManagerPtr manager) {
    g_stopping = true;
    const int mine = tCallsHere;
    auto othersDone = [mine] { return g_callsInFlight.load() == mine; };
    if (OnClientThread()) {
        manager->StopOnClientThread([othersDone] { return othersDone() && g_owedCallbacks.load() == 0; },
                                    Clock::now() + kClientThreadStopBound);
        // Releasing the engines and the adapter here could wait for this very
        // thread; the process is ending anyway.
        keepAtExit(std::move(manager));
        return;
    }
    manager->BeginStop();
    if (!WaitBounded(othersDone, Clock::now() + kCallsInFlightBound)) {
        LOG_WARN("Stop of the client: %d call(s) still in flight, the client is not freed",
                 g_callsInFlight.load() - mine);
        keepAtExit(std::move(manager));
        return;
    }
    manager.reset();
}

// Built once the client is complete, after everything its construction made
// on first use (Ice's statics, the generated code's, the logger): statics go
// in the reverse order of their construction, so at exit this goes, and the
// client stops, while those still exist.
struct ClientStatics {
    KOVAClientManagerPtr _kovaCliManager;
    KOVAClientLibPtr _clientInstance;

    ~ClientStatics() {
        if (g_forkedChild) {
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
    // Counted before the state is read, and the stop sets the state before it
    // reads the count: either this call sees the stop, or the stop waits for
    // this call.
    g_callsInFlight.fetch_add(1);
    ++tCallsHere;
    if (!g_stopping.load() && !g_forkedChild.load()) {
        _manager = g_liveManager.load();
    }
}

ClientCall::~ClientCall() {
    --tCallsHere;
    g_callsInFlight.fetch_sub(1);
}

KOVAClientLibImplPtr ClientCall::engine(const std::string& rid) const {
    return _manager ? _manager->getClientHandleByRes(rid) : KOVAClientLibImplPtr();
}

AsyncProduceCallback CountedCallback(AsyncProduceCallback cb) {
    if (!cb) {
        return cb;
    }
    auto owed = std::make_shared<OwedCallback>();
    return [owed, cb](int code, void* cookie) {
        owed->settle();
        cb(code, cookie);
    };
}

PullConsumerCallback CountedCallback(PullConsumerCallback cb) {
    if (!cb) {
        return cb;
    }
    auto owed = std::make_shared<OwedCallback>();
    return [owed, cb](const std::string& rid, const std::string& sid, ConsumeStatusPtr status, void* cookie) {
        owed->settle();
        cb(rid, sid, std::move(status), cookie);
    };
}

void AdoptClient(const KOVAClientManagerPtr& manager, const KOVAClientLibPtr& instance) {
    static ClientStatics statics{manager, instance};
    static const int atFork = pthread_atfork(nullptr, nullptr, [] { g_forkedChild = true; });
    static_cast<void>(atFork);
    g_liveManager = manager.get();
    g_instance = instance.get();
}

KOVAClientLib* PublishedInstance() { return g_instance.load(); }

bool ClientStopping() { return g_stopping.load(); }

bool InForkedChild() { return g_forkedChild.load(); }

}  // namespace KOVA
