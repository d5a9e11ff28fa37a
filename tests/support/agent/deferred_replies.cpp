#include "deferred_replies.h"

namespace kova::test::standin {

DeferredReplies::~DeferredReplies() { stop(); }

void DeferredReplies::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_) return;
    running_ = true;
    thread_ = std::thread([this] { run(); });
}

void DeferredReplies::stop() {
    std::thread worker;
    std::multimap<Clock::time_point, std::function<void()>> timed;
    std::vector<std::function<void()>> held;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
        worker = std::move(thread_);
        changed_.notify_all();
    }
    if (worker.joinable()) worker.join();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        timed.swap(timed_);
        held.swap(held_);
        changed_.notify_all();
    }
    for (auto& entry : timed) entry.second();
    for (auto& fn : held) fn();
}

void DeferredReplies::at(Clock::time_point when, std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (running_) {
            timed_.emplace(when, std::move(fn));
            changed_.notify_all();
            return;
        }
    }
    fn();
}

void DeferredReplies::hold(std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (running_) {
            held_.push_back(std::move(fn));
            changed_.notify_all();
            return;
        }
    }
    fn();
}

size_t DeferredReplies::releaseHeld() {
    std::vector<std::function<void()>> released;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        released.swap(held_);
        changed_.notify_all();
    }
    for (auto& fn : released) fn();
    return released.size();
}

size_t DeferredReplies::heldCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_.size();
}

bool DeferredReplies::waitForHeld(size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return held_.size() >= n; });
}

void DeferredReplies::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (running_) {
        if (timed_.empty()) {
            changed_.wait(lock);
            continue;
        }
        auto due = timed_.begin()->first;
        if (Clock::now() < due) {
            changed_.wait_until(lock, due);
            continue;
        }
        auto fn = std::move(timed_.begin()->second);
        timed_.erase(timed_.begin());
        lock.unlock();
        fn();
        lock.lock();
    }
}

}  // namespace kova::test::standin
