// The re-produce thread: reads stored batches back and hands them to the
// re-produce callback, backing off after failures and resting when the store
// is empty.
#include <exception>

#include "KOVAClientManager.h"
#include "KOVALog.h"

namespace KOVA {

namespace {

// Read() ignores its interval; the value is kept for its callers' sake.
const int kReadInterval = 5;
// After n failures in a row the loop waits n seconds, at most this many.
const int kMaxBackOffSeconds = 10;
const std::chrono::seconds kEmptyStoreRest(20);

}  // namespace

bool KOVAClientManager::LoadStore(const readCacheCb& rcb) {
    MutexLock lock(_kovaManagerMutex);
    if (!_storeFailHandle || _reProduceThread || _closing) {
        return false;
    }
    try {
        _reProduceThread = startNamedThread("kova-reproduce", [this, rcb] { reProduceLoop(rcb); });
    } catch (const std::exception& e) {
        LOG_ERROR("Start the re-produce thread of client:%s failed:%s", _clientAdapter->getClientID().c_str(),
                  e.what());
        return false;
    }
    return true;
}

bool KOVAClientManager::StartReProduce() { return LoadStore(_reProduceCb); }

void KOVAClientManager::reProduceLoop(readCacheCb rcb) {
    int failures = 0;
    bool reportEmpty = true;
    while (ReProduce()) {
        const int ret = readOnePass(rcb);
        if (ret < 0) {
            reportEmpty = true;
            if (++failures > kMaxBackOffSeconds) {
                LOG_WARN("ReProducer data failed exceed `%d' times consecutively.", failures);
                failures = kMaxBackOffSeconds;
            }
            sleepBetweenPasses(std::chrono::seconds(failures));
        } else if (ret == 0) {
            failures = 0;
            if (reportEmpty) {
                reportEmpty = false;
                LOG_WARN("There is not valid re-produce data in `%s'", _clientAdapter->getStoreDir().c_str());
            }
            sleepBetweenPasses(kEmptyStoreRest);
        } else {
            failures = 0;
            reportEmpty = true;
        }
        LOG_DEBUG("Reproduce for client:`%s' ret: %d", _clientAdapter->getClientID().c_str(), ret);
    }
}

int KOVAClientManager::readOnePass(const readCacheCb& rcb) {
    try {
        return StoreHandle()->Read(rcb, kReadInterval);
    } catch (const std::exception& e) {
        // Escaping the thread would end the process; the batch stays stored.
        LOG_ERROR("Re-produce pass of client:%s failed, exception:%s", _clientAdapter->getClientID().c_str(), e.what());
    } catch (...) {
        LOG_ERROR("Re-produce pass of client:%s failed, exception:%s", _clientAdapter->getClientID().c_str(),
                  "unknown");
    }
    return -1;
}

void KOVAClientManager::sleepBetweenPasses(std::chrono::seconds length) {
    if (_sleeper) {
        _sleeper(length);
        return;
    }
    MutexLock lock(_reProduceWaitMutex);
    _reProduceWake.wait_for(lock.unique(), length, [this] { return !_reProduce.load(); });
}

void KOVAClientManager::wakeReProduce() {
    {
        // Under the wait mutex, so the flag cannot change between the loop's
        // test and its wait.
        MutexLock lock(_reProduceWaitMutex);
        _reProduce = false;
    }
    _reProduceWake.notify_all();
}

void KOVAClientManager::joinReProduce() {
    std::shared_ptr<std::thread> thread;
    {
        MutexLock lock(_kovaManagerMutex);
        thread = _reProduceThread;
    }
    joinUnlessSelf(thread);
}

}  // namespace KOVA
