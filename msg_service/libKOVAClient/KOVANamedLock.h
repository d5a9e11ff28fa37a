// Internal (kova_store).
// KOVA::KOVANamedLock: a cross-process lock on a named POSIX semaphore (Boost's
// named_mutex), taken with a bounded wait.
//
// A process killed while holding such a lock leaves the semaphore locked for ever, so
// no caller waits without bound: a lock not obtained within the wait is reported as
// not owned and the caller skips its work for now. Holders keep these locks for
// milliseconds, so a semaphore that has stayed unavailable for the orphan period (60 s)
// is taken to be left by a dead process: removed, re-created, and locked anew. It
// counts as continuously unavailable when every attempt on it failed, no attempt
// began more than half the period after the previous one ended, it is still the same
// semaphore (its file under /dev/shm), and the last attempt waited the full wait (the
// attempts before it do not wait, so a dead holder costs one wait, not one per
// attempt).
//
// Two processes may reach that verdict at once. Recoverers take turns on a file lock
// on the semaphore's own file, which dies with its holder, and remove only the
// semaphore they watched: a late one finds a new semaphore and starts watching again.
//
// Semaphores are created open-or-create with Boost's default permissions and never
// removed except by the orphan recovery above.
//
// Thread-safety: one object belongs to one thread (a scope guard). The record of
// failed names is process-wide and guarded by its own mutex, which is a leaf.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace boost {
namespace interprocess {
class named_mutex;
}
}  // namespace boost

namespace KOVA {

class KOVANamedLock {
public:
    static constexpr std::chrono::milliseconds kDefaultWait{1000};
    static constexpr std::chrono::seconds kOrphanAfter{60};

    // The orphan period in force (kOrphanAfter unless set; tests shorten it).
    static std::chrono::milliseconds orphanAfter();
    static void setOrphanAfter(std::chrono::milliseconds period);

    using Handle = std::shared_ptr<boost::interprocess::named_mutex>;

    // Tries to lock `name` (e.g. "/KOVAFaileStoreDir.lock") for up to `wait`.
    explicit KOVANamedLock(const std::string& name, std::chrono::milliseconds wait = kDefaultWait);
    // The same through `handle`, the semaphore of `name` kept open by the caller for
    // repeated use (opening one costs far more than taking it); opened here when
    // empty, replaced when an orphan was re-created.
    KOVANamedLock(const std::string& name, Handle& handle, std::chrono::milliseconds wait = kDefaultWait);
    ~KOVANamedLock();
    KOVANamedLock(const KOVANamedLock&) = delete;
    KOVANamedLock& operator=(const KOVANamedLock&) = delete;

    bool owned() const { return _owned; }
    const std::string& name() const { return _name; }

    // The lock of a store file: "/" + the file's base name + ".lock".
    static std::string ofFile(const std::string& baseName);
    // The lock around the creation of store and dirty-file directories.
    static const char* const kDirectoryLock;

private:
    void lock(std::chrono::milliseconds wait);
    bool lockWithin(std::chrono::milliseconds wait);
    bool recoverOrphan(unsigned long watched);

    std::string _name;
    Handle _mutex;
    bool _owned = false;
};

}  // namespace KOVA
