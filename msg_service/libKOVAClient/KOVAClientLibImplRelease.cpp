// The one place where a reference to an engine taken on an Ice thread is let
// go. Dropping the last one there would destroy the client adapter, whose
// communicator cannot be destroyed from one of its own threads (it aborts or
// waits for ever). Neither the completion io_context (it may be stopped, gone,
// or destroyed on that very Ice thread, queued handlers and all) nor dropping
// in place is safe, so every such reference goes to the releaser: one thread
// of the process that owns no communicator, started on first use.
#include <sys/types.h>
#include <unistd.h>

#include <condition_variable>
#include <thread>
#include <vector>

#include "KOVAClientLibImpl.h"
#include "KOVALog.h"
#include "KOVAMutex.h"

namespace KOVA {

namespace {

// Thread-safety: hand() from any thread. Ownership: made on first use and
// never destroyed, its thread detached, so neither exit nor a static
// destructor ever waits for a release in progress.
class EngineReleaser {
public:
    void hand(KOVAClientLibImplPtr engine) EXCLUDES(_mutex) {
        MutexLock lock(_mutex);
        // A forked child inherits the queue but not the thread.
        if (_owner != getpid()) {
            try {
                std::thread([this] { run(); }).detach();
                _owner = getpid();
            } catch (const std::exception& e) {
                // Kept queued: a reference left alive is better than an abort.
                LOG_FATAL("No thread to release engine:%s:%s", engine->agentID().c_str(), e.what());
            }
        }
        _queue.push_back(std::move(engine));
        lock.unlock();
        _wake.notify_one();
    }

private:
    void run() EXCLUDES(_mutex) {
        std::vector<KOVAClientLibImplPtr> batch;
        MutexLock lock(_mutex);
        for (;;) {
            // A loop rather than a predicate: the analysis checks a lambda as a
            // function of its own, which would not hold the lock.
            while (_queue.empty()) {
                _wake.wait(lock.unique());
            }
            batch.swap(_queue);
            lock.unlock();
            batch.clear();
            lock.lock();
        }
    }

    Mutex _mutex;
    std::condition_variable _wake;
    std::vector<KOVAClientLibImplPtr> _queue GUARDED_BY(_mutex);
    pid_t _owner GUARDED_BY(_mutex) = 0;
};

EngineReleaser& releaser() {
    static EngineReleaser* instance = new EngineReleaser();
    return *instance;
}

}  // namespace

void KOVAClientLibImpl::releaseOffIceThread(KOVAClientLibImplPtr self) {
    if (self) {
        releaser().hand(std::move(self));
    }
}

}  // namespace KOVA
