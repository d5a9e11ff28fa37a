#include "LiveObjects.h"

namespace kova::harness {

void* LiveObjects::add(void* object) {
    std::lock_guard<std::mutex> lock(mutex_);
    // An odd counter, never an address: 2^63 registrations would take far longer than any process lives.
    void* const cookie = reinterpret_cast<void*>(++lastCookie_ * 2 + 1);
    objects_.emplace(cookie, object);
    addresses_.insert(object);
    return cookie;
}

void LiveObjects::remove(const void* cookie) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = objects_.find(cookie);
    if (found == objects_.end()) return;
    addresses_.erase(found->second);
    objects_.erase(found);
}

bool LiveObjects::runIfLive(const void* cookie, const std::function<void(void* object)>& use) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = objects_.find(cookie);
    if (found != objects_.end()) {
        use(found->second);
    } else if (addresses_.count(cookie)) {
        use(const_cast<void*>(cookie));
    } else {
        return false;
    }
    return true;
}

LiveObjects& liveHarnesses() {
    // Deliberately never destroyed: Ice and pool threads may still deliver callbacks
    // while the process's static objects are being destroyed at exit.
    static LiveObjects* const registry = new LiveObjects;
    return *registry;
}

}  // namespace kova::harness
