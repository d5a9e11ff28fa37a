// The agent's pusher: one thread that delivers queued batches to the listener
// registered for their resource, by `ConsumeMessage` (or `OnMessage` for raw
// byte batches), and records each reply.
//
// A job waits until its resource has a registration that is not paused and is
// at least `settle` old, so the push reaches the client after the registration
// reply. Jobs are delivered one at a time in queue order. Every call carries an
// invocation timeout, so a client that never answers cannot block the pusher.
//
// Thread-safety: every member is safe to call from any thread. Owned by
// StandinAgent; it must outlive the registry callback that calls wake().
#pragma once

#include "listener_registry.h"

#include <KOVAMessageService.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kova::test::standin {

enum class PushKind {
    ConsumeMessage,
    OnMessage
};

struct PushJob {
    std::string resource;
    std::string sid = "standin-push";
    PushKind kind = PushKind::ConsumeMessage;
    KOVAMsg::KOVABatchMessage messages;  // ConsumeMessage
    KOVAMsg::BatchBytes bytes;           // OnMessage
};

struct PushRecord {
    std::string resource;
    std::string sid;
    std::string cid;
    std::string listener;  // proxy string of the listener called
    bool byIdentity = false;
    PushKind kind = PushKind::ConsumeMessage;
    int messageCount = 0;
    bool answered = false;  // false: the call failed, see error
    int reply = 0;
    std::string error;
};

class Pusher {
public:
    Pusher(ListenerRegistry& registry, std::chrono::milliseconds settle, std::chrono::milliseconds invocationTimeout);
    ~Pusher();
    Pusher(const Pusher&) = delete;
    Pusher& operator=(const Pusher&) = delete;

    void start();
    // Drops the jobs not yet delivered and tells the thread to end; a push in
    // progress finishes (or fails when the agent's communicator goes).
    void beginStop();
    void join();
    void stop() {
        beginStop();
        join();
    }
    void enqueue(PushJob job);
    void wake();

    std::vector<PushRecord> records() const;
    bool waitForRecords(size_t n, std::chrono::milliseconds timeout) const;
    size_t pendingJobs() const;
    void clearRecords();

private:
    void run();
    PushRecord deliver(const PushJob& job, const ListenerRegistration& target);

    ListenerRegistry& registry_;
    const std::chrono::milliseconds settle_;
    const std::chrono::milliseconds invocationTimeout_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<PushJob> jobs_;
    std::vector<PushRecord> records_;
    bool running_ = false;
    std::thread thread_;
};

}  // namespace kova::test::standin
