// Timed named locks with recovery of semaphores left locked by dead processes.
#include "KOVANamedLock.h"

#include <map>
#include <mutex>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/interprocess/creation_tags.hpp>
#include <boost/interprocess/sync/named_mutex.hpp>

#include "KOVALog.h"

namespace KOVA {
namespace {

using SteadyTime = std::chrono::steady_clock::time_point;

// First failure to obtain each name since the last success, in this process.
// Made on first use and never destroyed: a client may start before main and a
// store may still be used while the process exits.
std::mutex gFailuresMutex;
std::map<std::string, SteadyTime>& firstFailures() {
    static std::map<std::string, SteadyTime>* failures = new std::map<std::string, SteadyTime>();
    return *failures;
}

// Entries of names nobody asked for again (files deleted meanwhile) are dropped
// after this long; a name asked for later simply starts a new count.
constexpr std::chrono::minutes kForgetFailuresAfter{10};

void forgetFailure(const std::string& name) {
    std::lock_guard<std::mutex> guard(gFailuresMutex);
    firstFailures().erase(name);
}

// Records a failure; true when the name has been unobtainable for kOrphanAfter.
bool failedLongEnough(const std::string& name) {
    const SteadyTime now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> guard(gFailuresMutex);
    std::map<std::string, SteadyTime>& failures = firstFailures();
    for (auto it = failures.begin(); it != failures.end();) {
        it = (now - it->second > kForgetFailuresAfter) ? failures.erase(it) : std::next(it);
    }
    auto inserted = failures.emplace(name, now);
    return !inserted.second && now - inserted.first->second >= KOVANamedLock::kOrphanAfter;
}

// True when the name could not be obtained lately: it is tried without waiting, so a
// lock left by a dead process costs one wait, not one per attempt.
bool failedLately(const std::string& name) {
    std::lock_guard<std::mutex> guard(gFailuresMutex);
    return firstFailures().count(name) != 0;
}

}  // namespace

constexpr std::chrono::milliseconds KOVANamedLock::kDefaultWait;
constexpr std::chrono::seconds KOVANamedLock::kOrphanAfter;
const char* const KOVANamedLock::kDirectoryLock = "/KOVAFaileStoreDir.lock";

std::string KOVANamedLock::ofFile(const std::string& baseName) { return "/" + baseName + ".lock"; }

KOVANamedLock::KOVANamedLock(const std::string& name, std::chrono::milliseconds wait) : _name(name) { lock(wait); }

KOVANamedLock::KOVANamedLock(const std::string& name, Handle& handle, std::chrono::milliseconds wait)
    : _name(name), _mutex(handle) {
    lock(wait);
    handle = _mutex;
}

void KOVANamedLock::lock(std::chrono::milliseconds wait) {
    try {
        if (failedLately(_name)) wait = std::chrono::milliseconds(0);
        _owned = lockWithin(wait) || (failedLongEnough(_name) && recoverOrphan());
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

bool KOVANamedLock::recoverOrphan() {
    LOG_WARN("The lock `%s' has been busy for %d s, take it as left by a dead process and re-create it.", _name.c_str(),
             static_cast<int>(kOrphanAfter.count()));
    _mutex.reset();
    boost::interprocess::named_mutex::remove(_name.c_str());
    _mutex = std::make_shared<boost::interprocess::named_mutex>(boost::interprocess::open_or_create, _name.c_str());
    return _mutex->try_lock();
}

}  // namespace KOVA
