// The harness objects that still exist. The client keeps a harness's cookie for its
// push consumer and for late asynchronous callbacks after Python has deleted the
// object; callbacks therefore reach an object only through this registry. Each object
// is registered under a cookie that no other object of the process ever gets, since a
// new object may be built at a deleted one's address: its late callbacks must not
// land there. A script may also call a callback with a live object itself, so a
// registered object's own address finds it too; cookies are odd and objects' addresses
// even, so the one is never taken for the other.
//
// Thread safety: every member may be called from any thread. runIfLive() holds the
// registry's mutex while `use` runs, so an object cannot leave (and be destroyed)
// meanwhile. Lock order: this mutex first, then any lock that `use` takes; nobody
// may call add() or remove() while holding a lock that `use` takes.
//
// Ownership: stores addresses only. liveHarnesses() is never destroyed, so callbacks
// that run while the process's statics go still find a valid (empty) registry.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace kova::harness {

class LiveObjects {
public:
    // Registers `object` (at an even address, as is any object holding a pointer or an
    // int) and gives its cookie, never null and never given before.
    void* add(void* object);
    void remove(const void* cookie);
    // Runs `use` with the object registered under `cookie`, or with `cookie` itself when
    // it is a registered object's address; tells whether it ran.
    bool runIfLive(const void* cookie, const std::function<void(void* object)>& use);

private:
    std::mutex mutex_;
    std::uintptr_t lastCookie_ = 0;
    std::unordered_map<const void*, void*> objects_;  // cookie -> object
    std::unordered_set<const void*> addresses_;       // of the objects in objects_
};

LiveObjects& liveHarnesses();

}  // namespace kova::harness
