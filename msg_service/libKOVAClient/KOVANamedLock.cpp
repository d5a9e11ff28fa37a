// Timed named locks with recovery of semaphores left locked by dead processes.
#include "KOVANamedLock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <map>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/interprocess/creation_tags.hpp>
#include <boost/interprocess/sync/named_mutex.hpp>

#include "KOVALog.h"
#include "KOVAMutex.h"

namespace KOVA {
namespace {

using SteadyTime = std::chrono::steady_clock::time_point;

// A run of failed attempts on one semaphore.
struct Unavailable {
    SteadyTime first;
    SteadyTime last;
    unsigned long semaphore;  // inode of its file; 0 when unknown
};

// Names this process failed to obtain since its last success with each.
// Made on first use and never destroyed: a client may start before main and a
// store may still be used while the process exits.
Mutex gFailuresMutex;
std::map<std::string, Unavailable>& failures() REQUIRES(gFailuresMutex) {
    static auto* runs = new std::map<std::string, Unavailable>();
    return *runs;
}
std::atomic<int64_t> gOrphanAfterMs{std::chrono::milliseconds(KOVANamedLock::kOrphanAfter).count()};

// Entries of names nobody asked for again (files deleted meanwhile) are dropped.
constexpr std::chrono::minutes kForgetFailuresAfter{10};

// Where glibc keeps a named semaphore.
std::string semaphoreFile(const std::string& name) { return "/dev/shm/sem." + name.substr(1); }

unsigned long semaphoreOf(const std::string& name) {
    struct stat st;
    return ::stat(semaphoreFile(name).c_str(), &st) == 0 ? static_cast<unsigned long>(st.st_ino) : 0;
}

void forgetFailure(const std::string& name) {
    MutexLock guard(gFailuresMutex);
    failures().erase(name);
}

// True when the name's run of failures has lasted the orphan period, so that the
// next attempt must wait in full and may decide.
bool runIsDue(const std::string& name) {
    MutexLock guard(gFailuresMutex);
    auto it = failures().find(name);
    return it == failures().end() ||
           std::chrono::steady_clock::now() - it->second.first >= KOVANamedLock::orphanAfter();
}

// Records a failure on `semaphore` of an attempt that began at `began` (the semaphore
// was seen unavailable throughout its wait); the watched semaphore when the run of
// failures on it has lasted the orphan period, else 0.
unsigned long recordFailure(const std::string& name, unsigned long semaphore, SteadyTime began) {
    const SteadyTime now = std::chrono::steady_clock::now();
    const auto period = KOVANamedLock::orphanAfter();
    MutexLock guard(gFailuresMutex);
    std::map<std::string, Unavailable>& runs = failures();
    for (auto it = runs.begin(); it != runs.end();) {
        it = (now - it->second.last > kForgetFailuresAfter) ? runs.erase(it) : std::next(it);
    }
    auto inserted = runs.emplace(name, Unavailable{began, now, semaphore});
    Unavailable& run = inserted.first->second;
    if (!inserted.second) {
        // Unobserved for too long, or another semaphore by now: start over.
        if (semaphore == 0 || run.semaphore != semaphore || began - run.last > period / 2) run.first = began;
        run.last = now;
        run.semaphore = semaphore;
    }
    return semaphore != 0 && now - run.first >= period ? semaphore : 0;
}

}  // namespace

constexpr std::chrono::milliseconds KOVANamedLock::kDefaultWait;
constexpr std::chrono::seconds KOVANamedLock::kOrphanAfter;
const char* const KOVANamedLock::kDirectoryLock = "/KOVAFaileStoreDir.lock";

std::chrono::milliseconds KOVANamedLock::orphanAfter() { return std::chrono::milliseconds(gOrphanAfterMs.load()); }

void KOVANamedLock::setOrphanAfter(std::chrono::milliseconds period) { gOrphanAfterMs.store(period.count()); }

std::string KOVANamedLock::ofFile(const std::string& baseName) { return "/" + baseName + ".lock"; }

KOVANamedLock::KOVANamedLock(const std::string& name, std::chrono::milliseconds wait) : _name(name) { lock(wait); }

KOVANamedLock::KOVANamedLock(const std::string& name, Handle& handle, std::chrono::milliseconds wait)
    : _name(name), _mutex(handle) {
    lock(wait);
    handle = _mutex;
}

void KOVANamedLock::lock(std::chrono::milliseconds wait) {
    try {
        const bool due = runIsDue(_name);
        const SteadyTime began = std::chrono::steady_clock::now();
        _owned = lockWithin(due ? wait : std::chrono::milliseconds(0));
        if (!_owned) {
            // The next attempt opens the name again: a kept handle may be of a semaphore
            // that someone has re-created meanwhile.
            _mutex.reset();
            const unsigned long watched = recordFailure(_name, semaphoreOf(_name), began);
            _owned = due && watched != 0 && recoverOrphan(watched);
        }
        if (_owned) forgetFailure(_name);
        else LOG_WARN("The lock `%s' is busy, skip it for now.", _name.c_str());
    } catch (const std::exception& e) {
        LOG_WARN("Take the lock `%s' get an exception: %s", _name.c_str(), e.what());
        _owned = false;
    }
}

KOVANamedLock::~KOVANamedLock() {
    if (!_owned) return;
    try {
        _mutex->unlock();
    } catch (const std::exception& e) {
        LOG_FATAL("Release the lock `%s' get an exception: %s", _name.c_str(), e.what());
    }
}

bool KOVANamedLock::lockWithin(std::chrono::milliseconds wait) {
    if (!_mutex)
        _mutex = std::make_shared<boost::interprocess::named_mutex>(boost::interprocess::open_or_create, _name.c_str());
    const boost::posix_time::ptime deadline =
        boost::posix_time::microsec_clock::universal_time() + boost::posix_time::milliseconds(wait.count());
    return _mutex->timed_lock(deadline);
}

bool KOVANamedLock::recoverOrphan(unsigned long watched) {
    const std::string file = semaphoreFile(_name);
    const int fd = ::open(file.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock range = {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_len = 1;
    struct stat opened;
    bool owned = false;
    // Both tests under the file lock: the file opened is the watched one, and the name
    // still leads to it.
    if (::fcntl(fd, F_OFD_SETLK, &range) == 0 && ::fstat(fd, &opened) == 0 &&
        static_cast<unsigned long>(opened.st_ino) == watched && semaphoreOf(_name) == watched) {
        LOG_WARN("The lock `%s' has been busy for %d ms, take it as left by a dead process and re-create it.",
                 _name.c_str(), static_cast<int>(orphanAfter().count()));
        _mutex.reset();
        boost::interprocess::named_mutex::remove(_name.c_str());
        _mutex = std::make_shared<boost::interprocess::named_mutex>(boost::interprocess::open_or_create, _name.c_str());
        owned = _mutex->try_lock();
    }
    ::close(fd);  // releases the file lock
    return owned;
}

}  // namespace KOVA
