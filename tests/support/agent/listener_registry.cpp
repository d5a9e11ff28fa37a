#include "listener_registry.h"

#include <algorithm>

namespace kova::test::standin {

void ListenerRegistry::setCidPrefix(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(mutex_);
    cidPrefix_ = prefix;
    nextCid_ = 1;
}

void ListenerRegistry::setOnChange(std::function<void()> onChange) {
    std::lock_guard<std::mutex> lock(mutex_);
    onChange_ = std::move(onChange);
}

void ListenerRegistry::notify() {
    std::function<void()> onChange;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        onChange = onChange_;
    }
    if (onChange) onChange();
}

std::string ListenerRegistry::add(ListenerRegistration registration) {
    std::string cid;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        registration.registeredAt = std::chrono::steady_clock::now();
        auto found = std::find_if(registrations_.begin(), registrations_.end(), [&](const ListenerRegistration& r) {
            return r.resource == registration.resource && r.identity == registration.identity;
        });
        if (found != registrations_.end()) {
            registration.cid = found->cid;
            registration.paused = found->paused;
            registration.registrations = found->registrations + 1;
            registration.lastKeepAlive = found->lastKeepAlive;
            // A renewal (the client's monitor re-registers behind a router) must not
            // pause pushes to a listener that is already known.
            registration.registeredAt = found->registeredAt;
            *found = std::move(registration);
            cid = found->cid;
        } else {
            registration.cid = cidPrefix_ + "-" + std::to_string(nextCid_++);
            registration.registrations = 1;
            cid = registration.cid;
            registrations_.push_back(std::move(registration));
        }
    }
    notify();
    return cid;
}

bool ListenerRegistry::setPaused(const std::string& resource, const std::string& cid, bool paused) {
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& r : registrations_) {
            if (r.resource == resource && r.cid == cid) {
                r.paused = paused;
                found = true;
            }
        }
    }
    if (found) notify();
    return found;
}

bool ListenerRegistry::remove(const std::string& resource, const std::string& cid) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto before = registrations_.size();
    registrations_.erase(
        std::remove_if(registrations_.begin(), registrations_.end(),
                       [&](const ListenerRegistration& r) { return r.resource == resource && r.cid == cid; }),
        registrations_.end());
    return registrations_.size() != before;
}

void ListenerRegistry::keepAliveFrom(const Ice::ConnectionPtr& connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    for (auto& r : registrations_) {
        if (r.connection.get() == connection.get()) r.lastKeepAlive = now;
    }
}

std::optional<ListenerRegistration> ListenerRegistry::pushTarget(const std::string& resource,
                                                                 std::chrono::milliseconds settle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    const ListenerRegistration* best = nullptr;
    for (const auto& r : registrations_) {
        if (r.resource != resource || r.paused || now - r.registeredAt < settle) continue;
        if (!best || r.registeredAt >= best->registeredAt) best = &r;
    }
    if (!best) return std::nullopt;
    return *best;
}

std::vector<ListenerRegistration> ListenerRegistry::all() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return registrations_;
}

void ListenerRegistry::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    registrations_.clear();
}

}  // namespace kova::test::standin
