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
// Thread-safety: one object belongs to one thread (a scope guard); the descriptor
// must stay open while the object lives.
#pragma once

#include <chrono>

namespace KOVA {

class KOVAStoreFileLock {
public:
    static constexpr std::chrono::milliseconds kDefaultWait{1000};

    explicit KOVAStoreFileLock(int fd, std::chrono::milliseconds wait = kDefaultWait);
    ~KOVAStoreFileLock();
    KOVAStoreFileLock(const KOVAStoreFileLock&) = delete;
    KOVAStoreFileLock& operator=(const KOVAStoreFileLock&) = delete;

    bool owned() const { return _owned; }

private:
    int _fd;
    bool _owned = false;
};

}  // namespace KOVA
