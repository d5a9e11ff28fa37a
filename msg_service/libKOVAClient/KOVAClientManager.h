// Internal (kova_client).
// KOVA::KOVAClientManager: everything one client needs behind the facade: the
// client adapter with its communicator, one engine per separately configured
// resource plus the default engine, the fail-store, and three kinds of worker:
// the session-monitor io_context (one thread), the asynchronous pool (an
// io_context on getMaxClientPoolSize() threads) and the re-produce thread.
//
// Thread-safety: every public operation may be called from any thread once the
// constructor returned. The engine table is written only by the constructor and
// by the last step of the destructor, when no thread of the client is left;
// lookups take no lock. _kovaManagerMutex guards the lazy creation of the two
// io_contexts and the start of the re-produce thread; no other lock is taken
// under it but the logger's, and no client code runs under it (when a pool
// thread fails to start, those already started are joined under it; they have
// run no handler). _reProduceWaitMutex only pairs with the condition
// variable that wakes the re-produce thread. The two are never held together;
// the compiler checks both (KOVAThreadAnnotations.h).
//
// Threads and what runs on them:
//   kova-monitor    the push consumers' session-monitor timers (engine code);
//   kova-async      asynchronous pull results with status 0 and every
//                   asynchronous produce completion (the caller's callbacks);
//   kova-reproduce  KOVAStoreFile::Read, which calls the re-produce callback
//                   with the fail-store's read mutex held.
// None runs before it is first needed; the re-produce thread runs only once
// StartReProduce() (or LoadStore()) is called, which the facade does after it
// has stored the manager, so the callback always finds it.
//
// Ownership: one per process, owned by the facade's static std::shared_ptr. The
// manager owns the adapter (shared with the engines), the engines, the
// fail-store, both io_contexts and every thread it starts.
//
// Stop. BeginStop() ends the client's work without waiting for any thread: the
// re-produce thread is told to stop and woken, the monitor's io_context is
// stopped, and the adapter is closed and the communicator destroyed
// (outstanding calls, a monitor tick's keep-alive included, complete with a
// failure; pushes in progress end). The destructor runs BeginStop() when it
// has not run, then joins the monitor and the re-produce thread, lets the
// asynchronous pool run what is queued to its end and joins it, and releases
// the engines and then the adapter. The destructor must not run on a thread
// of the client (it would wait for itself): there, StopOnClientThread() is the
// stop, and the manager is then kept, not destroyed.
#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "KOVAClientAdapter.h"
#include "KOVAClientLibImpl.h"
#include "KOVAMutex.h"
#include "KOVAStoreFile.h"
#include "KOVAThreadAnnotations.h"

namespace KOVA {

// Polls `done` until it holds (true) or `deadline` passes (false). Used by the
// stop, where a condition variable would be one more object that exit
// destroys while late callers may still touch it.
bool WaitBounded(const std::function<bool()>& done, std::chrono::steady_clock::time_point deadline);

class KOVAClientManager {
public:
    // How the re-produce loop waits between passes. Empty: a wait on the
    // manager's condition variable, cut short by the destructor.
    typedef std::function<void(std::chrono::seconds)> ReProduceSleeper;

    // Builds the adapter, the engines (pinging them when `valid`) and, when a
    // store directory is configured, the fail-store. Starts no thread. Throws
    // std::runtime_error ("Valid config failed!", or the adapter's and the
    // fail-store's own errors); nothing is left running then.
    KOVAClientManager(const std::string& config, const std::string& item, bool valid, const readCacheCb& rcb);
    KOVAClientManager(const std::vector<std::string>& configs, const std::string& item, bool valid,
                      const readCacheCb& rcb);
    ~KOVAClientManager();

    KOVAClientManager(const KOVAClientManager&) = delete;
    KOVAClientManager& operator=(const KOVAClientManager&) = delete;

    KOVAClientAdapterPtr getClientAdapter() const { return _clientAdapter; }
    // The engine of `rid`, else the default engine; null only once the
    // destructor has released the engines.
    KOVAClientLibImplPtr getClientHandleByRes(const std::string& rid) const;

    // Created with their threads on the first call. Null once the destructor
    // has begun, unless created before, and when the system refused a thread.
    std::shared_ptr<boost::asio::io_context> getMonitorService() EXCLUDES(_kovaManagerMutex);
    std::shared_ptr<boost::asio::io_context> getAsyncPullService() EXCLUDES(_kovaManagerMutex);

    // Writes one batch to the fail-store; false when it is disabled (WARN) or
    // the write fails or throws (ERROR): the caller is still owed its code, or
    // its one callback.
    bool Store(const std::string& rid, const KOVAMsg::KOVABatchMessage& datas,
               const KOVA::COMMON::KOVAProperties& properties);
    // Starts the re-produce thread on `rcb`; true only for the call that
    // started it, false without a fail-store, once it runs, or when the system
    // refused the thread (ERROR line).
    bool LoadStore(const readCacheCb& rcb) EXCLUDES(_kovaManagerMutex);
    // LoadStore() with the callback given to the constructor.
    bool StartReProduce() EXCLUDES(_kovaManagerMutex);
    bool ReProduce() const { return _reProduce.load(); }
    std::shared_ptr<KOVAStoreFile> StoreHandle() const { return _storeFailHandle; }

    // The first half of the stop (see the top of this file); later calls do
    // nothing. Threads already in a call of the client finish it with 100.
    void BeginStop() EXCLUDES(_kovaManagerMutex, _reProduceWaitMutex);
    // The second half of the stop on the exiting thread when it is none of
    // the client's: joins the monitor and the re-produce thread, lets the
    // asynchronous pool run what is queued to its end and joins it. Later
    // calls (and the destructor) find nothing left to do.
    void FinishWork() EXCLUDES(_kovaManagerMutex);
    // The same without joining, for a manager that is kept: the asynchronous
    // pool is left to run what is queued, and the manager's threads are
    // waited for until `deadline`.
    void FinishWorkWithin(std::chrono::steady_clock::time_point deadline) EXCLUDES(_kovaManagerMutex);
    // The stop on one of the client's own threads, which it must neither join
    // nor wait for: the connections are closed at once, BeginStop(); when
    // this thread is one of the asynchronous pool's, a stand-in thread keeps
    // the pool running; then `waitForOthers` (the facade waits there for the
    // callbacks owed and the calls in flight), then the asynchronous pool is
    // stopped and every other thread of the manager waited for until
    // `deadline`, and last `settle` (the facade settles what no other thread
    // got to, with no pool thread running a callback beside it). Joins
    // nothing; the manager must not be destroyed afterwards.
    void StopOnClientThread(const std::function<void()>& waitForOthers, const std::function<void()>& settle,
                            std::chrono::steady_clock::time_point deadline)
        EXCLUDES(_kovaManagerMutex, _reProduceWaitMutex);

    // Replaces the re-produce loop's waits (tests record the back-off). Call
    // before the re-produce thread starts.
    void setReProduceSleeper(ReProduceSleeper sleeper) { _sleeper = std::move(sleeper); }

private:
    typedef boost::asio::executor_work_guard<boost::asio::io_context::executor_type> WorkGuard;

    // Everything after the adapter is built; `valid` pings as described above.
    void buildEngines(const std::string& item, bool valid);
    void openFailStore();
    void reProduceLoop(readCacheCb rcb);
    // One Read() of the fail-store; an exception (of the callback) counts as a
    // failed pass.
    int readOnePass(const readCacheCb& rcb);
    void sleepBetweenPasses(std::chrono::seconds length) EXCLUDES(_reProduceWaitMutex);
    // The stop steps of the destructor.
    void wakeReProduce() EXCLUDES(_reProduceWaitMutex);
    // Closes every engine's open connections at once (the stop on a client thread).
    void abortConnections();
    // On a thread of the asynchronous pool: one more thread runs the pool.
    void keepPoolRunningWithoutSelf() EXCLUDES(_kovaManagerMutex);
    void stopMonitor() EXCLUDES(_kovaManagerMutex);
    void joinMonitor() EXCLUDES(_kovaManagerMutex);
    void destroyCommunicator();
    void joinReProduce() EXCLUDES(_kovaManagerMutex);
    void drainAsyncPool() EXCLUDES(_kovaManagerMutex);
    // Threads carry a name so that operators (and tests) can tell the client's
    // threads apart; at most 15 characters. Each marks itself as the client's
    // (MarkClientThread) and is counted in _runningThreads until its body ends.
    std::shared_ptr<std::thread> startNamedThread(const char* name, std::function<void()> body);
    // Whether the calling thread is one that this manager started.
    bool isOwnThread() EXCLUDES(_kovaManagerMutex);
    // An io_context, the guard that keeps it running while it has nothing to
    // do, and the threads that run it: all set together, or none.
    struct Service {
        std::shared_ptr<boost::asio::io_context> context;
        std::unique_ptr<WorkGuard> work;
        std::vector<std::shared_ptr<std::thread>> threads;
    };
    // The io_context of `service`, started first on `count` threads named
    // `name`. Null once the stop has begun (unless started before), and when
    // the system refuses a thread (ERROR line; the threads already started are
    // stopped and joined, and the next request tries again).
    std::shared_ptr<boost::asio::io_context> runningService(Service& service, const char* name, int count)
        REQUIRES(_kovaManagerMutex);
    // A stop step running on one of the threads it waits for would wait for
    // itself: that thread is left to end on its own.
    static void joinUnlessSelf(const std::shared_ptr<std::thread>& thread);

    // Members go in the reverse order: the fail-store (below) before the
    // io_contexts, and this mutex last.
    //
    // The lazy io_contexts and the re-produce thread: started, handed out and
    // taken for the stop under it.
    Mutex _kovaManagerMutex;
    // The session monitor (one thread) and the asynchronous pool.
    Service _monitor GUARDED_BY(_kovaManagerMutex);
    Service _asyncPool GUARDED_BY(_kovaManagerMutex);
    std::shared_ptr<std::thread> _reProduceThread GUARDED_BY(_kovaManagerMutex);

    // Set by the constructor (the sleeper before the re-produce thread starts)
    // and read-only afterwards, until the destructor's last steps, when no
    // thread of the client is left: read without a lock.
    KOVAClientAdapterPtr _clientAdapter;
    KOVAClientLibImplPtr _clientProxy;
    std::map<std::string, KOVAClientLibImplPtr> _rid2ClientServer;
    std::shared_ptr<KOVAStoreFile> _storeFailHandle;
    readCacheCb _reProduceCb;
    ReProduceSleeper _sleeper;

    // Atomics, read anywhere without a lock. _reProduce is cleared under
    // _reProduceWaitMutex, so the re-produce thread's wait cannot miss it.
    std::atomic<bool> _reProduce{false};
    // Set first thing by BeginStop(): no io_context or thread is created
    // afterwards.
    std::atomic<bool> _closing{false};
    std::atomic<int> _runningThreads{0};

    // Guards no field: pairs with the condition variable.
    Mutex _reProduceWaitMutex;
    std::condition_variable _reProduceWake;
};

typedef std::shared_ptr<KOVAClientManager> KOVAClientManagerPtr;

}  // namespace KOVA
