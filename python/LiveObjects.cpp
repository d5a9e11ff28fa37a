#include "LiveObjects.h"

namespace kova::harness {

void LiveObjects::add(const void* object) {
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.insert(object);
}

void LiveObjects::remove(const void* object) {
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.erase(object);
}

bool LiveObjects::runIfLive(const void* object, const std::function<void()>& use) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (object == nullptr || objects_.count(object) == 0) return false;
    use();
    return true;
}

LiveObjects& liveHarnesses() {
    // Deliberately never destroyed: Ice and pool threads may still deliver callbacks
    // while the process's static objects are being destroyed at exit.
    static LiveObjects* const registry = new LiveObjects;
    return *registry;
}

}  // namespace kova::harness
