#include "LiveObjects.h"

namespace kova::harness {

void* LiveObjects::add(void* object) {
    std::lock_guard<std::mutex> lock(mutex_);
    // A counter, not an address: 2^64 registrations would take far longer than any process lives.
    void* const cookie = reinterpret_cast<void*>(++lastCookie_);
    objects_.emplace(cookie, object);
    return cookie;
}

void LiveObjects::remove(const void* cookie) {
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.erase(cookie);
}

bool LiveObjects::runIfLive(const void* cookie, const std::function<void(void* object)>& use) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = objects_.find(cookie);
    if (found == objects_.end()) return false;
    use(found->second);
    return true;
}

LiveObjects& liveHarnesses() {
    // Deliberately never destroyed: Ice and pool threads may still deliver callbacks
    // while the process's static objects are being destroyed at exit.
    static LiveObjects* const registry = new LiveObjects;
    return *registry;
}

}  // namespace kova::harness
