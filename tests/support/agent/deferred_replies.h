// Replies the stand-in agent answers later: at a point in time (scripted sleeps,
// long-poll timeouts) or when a test releases them (held replies).
//
// Timed replies run on one internal thread, in due order; held replies run on
// the thread that calls releaseHeld(). stop() runs everything still pending at
// once, and a reply handed in while stopped runs at once: every reply callback
// must be answered exactly once, or Ice would wait for that dispatch for ever
// when the communicator is destroyed. (The agent closes the connections first,
// so such late replies go nowhere, as with a crashed server.)
//
// Thread-safety: every member is safe to call from any thread; the functions
// handed in run without the internal lock held. Owned by StandinAgent.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace kova::test::standin {

class DeferredReplies {
public:
    using Clock = std::chrono::steady_clock;

    DeferredReplies() = default;
    ~DeferredReplies();
    DeferredReplies(const DeferredReplies&) = delete;
    DeferredReplies& operator=(const DeferredReplies&) = delete;

    void start();
    void stop();  // runs every pending reply, then joins the thread

    // Runs fn at `when` (at once when stopped).
    void at(Clock::time_point when, std::function<void()> fn);
    void hold(std::function<void()> fn);

    size_t releaseHeld();  // runs every held reply now; returns how many
    size_t heldCount() const;
    bool waitForHeld(size_t n, std::chrono::milliseconds timeout) const;

private:
    void run();

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::multimap<Clock::time_point, std::function<void()>> timed_;
    std::vector<std::function<void()>> held_;
    bool running_ = false;
    std::thread thread_;
};

}  // namespace kova::test::standin
