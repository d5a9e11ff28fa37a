// Internal (kova_store).
// KOVA::KOVAStoreFileLock: an exclusive lock on a store file itself (an
// open-file-description lock on its first byte), taken with a bounded wait.
//
// It keeps a writer's existence test and record write apart from a reader's final
// check and removal (or move) of an idle file. Unlike a named semaphore, the kernel
// releases it when its holder dies, so a writer killed in the middle of a record
// never hides its file from readers. Locks of different descriptors conflict even
// inside one process.
//
// Only EAGAIN and EACCES mean that someone else holds the lock. Any other error means
// that the file system cannot lock files (ENOLCK on some network file systems,
// EINVAL without open-file-description locks): then the file's named semaphore is
// taken in its place, which is how peers without file locks keep out of each other's
// way, and a FATAL line says so once per process. Treating such an error as "busy"
// would abandon the write file on every Store and never remove a finished one.
//
// Thread-safety: one object belongs to one thread (a scope guard); the descriptor
// must stay open while the object lives.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "KOVANamedLock.h"

namespace KOVA {

class KOVAStoreFileLock {
public:
    static constexpr std::chrono::milliseconds kDefaultWait{1000};

    // Locks the store file `path`, open as `fd`; `semaphore` keeps that file's named
    // semaphore open for the fallback (see KOVANamedLock).
    KOVAStoreFileLock(int fd, const std::string& path, KOVANamedLock::Handle& semaphore,
                      std::chrono::milliseconds wait = kDefaultWait);
    ~KOVAStoreFileLock();
    KOVAStoreFileLock(const KOVAStoreFileLock&) = delete;
    KOVAStoreFileLock& operator=(const KOVAStoreFileLock&) = delete;

    bool owned() const { return _owned || (_fallback && _fallback->owned()); }

private:
    int _fd;
    bool _owned = false;
    std::unique_ptr<KOVANamedLock> _fallback;
};

}  // namespace KOVA
