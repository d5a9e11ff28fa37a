#include "pusher.h"

#include <optional>

namespace kova::test::standin {

namespace {
// A job whose resource has no listener yet is looked at again this often, so a
// registration that has just settled is picked up without a notification.
constexpr std::chrono::milliseconds kRecheck{20};
}  // namespace

Pusher::Pusher(ListenerRegistry& registry, std::chrono::milliseconds settle,
               std::chrono::milliseconds invocationTimeout)
    : registry_(registry), settle_(settle), invocationTimeout_(invocationTimeout) {}

Pusher::~Pusher() { stop(); }

void Pusher::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_) return;
    running_ = true;
    thread_ = std::thread([this] { run(); });
}

void Pusher::beginStop() {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    jobs_.clear();
    changed_.notify_all();
}

void Pusher::join() {
    std::thread worker;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        worker = std::move(thread_);
    }
    if (worker.joinable()) worker.join();
}

void Pusher::enqueue(PushJob job) {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
    changed_.notify_all();
}

void Pusher::wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_all();
}

std::vector<PushRecord> Pusher::records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
}

bool Pusher::waitForRecords(size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return records_.size() >= n; });
}

size_t Pusher::pendingJobs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_.size();
}

void Pusher::clearRecords() {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.clear();
}

void Pusher::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (running_) {
        std::optional<PushJob> job;
        std::optional<ListenerRegistration> target;
        for (auto it = jobs_.begin(); it != jobs_.end(); ++it) {
            target = registry_.pushTarget(it->resource, settle_);
            if (target) {
                job = std::move(*it);
                jobs_.erase(it);
                break;
            }
        }
        if (!job) {
            changed_.wait_for(lock, kRecheck);
            continue;
        }
        lock.unlock();
        PushRecord record = deliver(*job, *target);
        lock.lock();
        records_.push_back(std::move(record));
        changed_.notify_all();
    }
}

PushRecord Pusher::deliver(const PushJob& job, const ListenerRegistration& target) {
    PushRecord record;
    record.resource = job.resource;
    record.sid = job.sid;
    record.cid = target.cid;
    record.byIdentity = target.byIdentity;
    record.kind = job.kind;
    record.messageCount =
        static_cast<int>(job.kind == PushKind::ConsumeMessage ? job.messages.size() : job.bytes.size());
    try {
        record.listener = target.listener->ice_toString();
        auto listener = KOVA::KOVAMessageListenerPrx::uncheckedCast(
            target.listener->ice_invocationTimeout(static_cast<int>(invocationTimeout_.count())));
        record.reply = job.kind == PushKind::ConsumeMessage
                           ? listener->ConsumeMessage(job.resource, job.sid, target.cid, job.messages)
                           : listener->OnMessage(job.resource, job.sid, target.cid, job.bytes);
        record.answered = true;
    } catch (const std::exception& e) {
        record.error = e.what();
    }
    return record;
}

}  // namespace kova::test::standin
