// The harness objects that still exist. The client keeps a harness object as the
// cookie of its push consumer and of late asynchronous callbacks after Python has
// deleted it; callbacks therefore reach an object only through this registry.
//
// Thread safety: every member may be called from any thread. runIfLive() holds the
// registry's mutex while `use` runs, so an object cannot leave (and be destroyed)
// meanwhile. Lock order: this mutex first, then any lock that `use` takes; nobody
// may call add() or remove() while holding a lock that `use` takes.
//
// Ownership: stores addresses only. liveHarnesses() is never destroyed, so callbacks
// that run while the process's statics go still find a valid (empty) registry.
#pragma once

#include <functional>
#include <mutex>
#include <unordered_set>

namespace kova::harness {

class LiveObjects {
public:
    void add(const void* object);
    void remove(const void* object);
    // Runs `use` when `object` is registered; tells whether it ran.
    bool runIfLive(const void* object, const std::function<void()>& use);

private:
    std::mutex mutex_;
    std::unordered_set<const void*> objects_;
};

LiveObjects& liveHarnesses();

}  // namespace kova::harness
