// Internal. A mutex the thread-safety analysis can see (KOVAThreadAnnotations.h).
//
// KOVA::Mutex is a std::mutex whose lock and unlock carry the capability;
// KOVA::MutexLock holds it for a scope and can hand its std::unique_lock to a
// std::condition_variable, whose wait releases and retakes the same mutex (to the
// analysis the lock is held throughout, which is what the waiting code may assume).
#pragma once

#include <condition_variable>
#include <mutex>

#include "KOVAThreadAnnotations.h"

namespace KOVA {

class CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() ACQUIRE() { _mutex.lock(); }
    void unlock() RELEASE() { _mutex.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return _mutex.try_lock(); }

    // Tells the analysis the caller holds it (a callee reached only under the lock).
    void assertHeld() ASSERT_CAPABILITY(this) {}

    std::mutex& native() { return _mutex; }

private:
    std::mutex _mutex;
};

class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : _lock(mutex.native()) {}
    ~MutexLock() RELEASE() {}

    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    // Leaves the lock early (and takes it again) inside the scope.
    void unlock() RELEASE() { _lock.unlock(); }
    void lock() ACQUIRE() { _lock.lock(); }

    // For std::condition_variable::wait and friends.
    std::unique_lock<std::mutex>& unique() { return _lock; }

private:
    std::unique_lock<std::mutex> _lock;
};

}  // namespace KOVA
