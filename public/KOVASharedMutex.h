// Internal. A reader-writer mutex the thread-safety analysis can see
// (KOVAThreadAnnotations.h), for tables read far more often than written.
//
// KOVA::SharedMutex is a std::shared_mutex whose exclusive and shared locks carry
// the capability; KOVA::WriterMutexLock holds it exclusively for a scope,
// KOVA::ReaderMutexLock shared (fields GUARDED_BY it may then be read, not written).
#pragma once

#include <shared_mutex>

#include "KOVAThreadAnnotations.h"

namespace KOVA {

class CAPABILITY("mutex") SharedMutex {
public:
    SharedMutex() = default;
    SharedMutex(const SharedMutex&) = delete;
    SharedMutex& operator=(const SharedMutex&) = delete;

    void lock() ACQUIRE() { _mutex.lock(); }
    void unlock() RELEASE() { _mutex.unlock(); }
    void lock_shared() ACQUIRE_SHARED() { _mutex.lock_shared(); }
    void unlock_shared() RELEASE_SHARED() { _mutex.unlock_shared(); }

private:
    std::shared_mutex _mutex;
};

class SCOPED_CAPABILITY WriterMutexLock {
public:
    explicit WriterMutexLock(SharedMutex& mutex) ACQUIRE(mutex) : _mutex(mutex) { _mutex.lock(); }
    ~WriterMutexLock() RELEASE() { _mutex.unlock(); }

    WriterMutexLock(const WriterMutexLock&) = delete;
    WriterMutexLock& operator=(const WriterMutexLock&) = delete;

private:
    SharedMutex& _mutex;
};

class SCOPED_CAPABILITY ReaderMutexLock {
public:
    explicit ReaderMutexLock(SharedMutex& mutex) ACQUIRE_SHARED(mutex) : _mutex(mutex) { _mutex.lock_shared(); }
    ~ReaderMutexLock() RELEASE() { _mutex.unlock_shared(); }

    ReaderMutexLock(const ReaderMutexLock&) = delete;
    ReaderMutexLock& operator=(const ReaderMutexLock&) = delete;

private:
    SharedMutex& _mutex;
};

}  // namespace KOVA
