#include "message_store.h"

#include <IceUtil/Time.h>

#include <algorithm>

namespace kova::test::standin {

namespace {
constexpr size_t kStoreTime = 1, kQueueOffset = 2;  // l_properties[0] is the born time, kept
constexpr size_t kStoreHost = 2;

void stamp(KOVAMsg::KOVAMessage& message, Ice::Long offset, Ice::Long nowMs) {
    if (message.l_properties.size() <= kQueueOffset) message.l_properties.resize(kQueueOffset + 1, 0);
    message.l_properties[kStoreTime] = nowMs;
    message.l_properties[kQueueOffset] = offset;
    if (message.s_properties.size() <= kStoreHost) message.s_properties.resize(kStoreHost + 1);
    message.s_properties[kStoreHost] = "127.0.0.1";
}
}  // namespace

void MessageStore::append(const std::string& rid, const KOVAMsg::KOVABatchMessage& messages) {
    std::vector<std::pair<Waiter, TakenBatch>> served;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Queue& queue = queues_[rid];
        const Ice::Long nowMs = IceUtil::Time::now(IceUtil::Time::Realtime).toMilliSeconds();
        for (const auto& message : messages) {
            Ice::Long offset = queue.nextOffset++;
            if (!keepMessages_) continue;
            queue.messages.push_back(message);
            stamp(queue.messages.back(), offset, nowMs);
        }
        if (!keepMessages_) queue.deliveredEnd = queue.nextOffset;
        while (!queue.waiters.empty() && !queue.messages.empty()) {
            ParkedWaiter parked = std::move(queue.waiters.front());
            queue.waiters.pop_front();
            served.emplace_back(std::move(parked.waiter), takeLocked(queue, parked.count));
        }
    }
    for (auto& [waiter, batch] : served) waiter(std::move(batch));
}

void MessageStore::setStandingBatch(const std::string& rid, const KOVAMsg::KOVABatchMessage& messages) {
    std::lock_guard<std::mutex> lock(mutex_);
    queues_[rid].standing = messages;
}

TakenBatch MessageStore::takeLocked(Queue& queue, int count) {
    TakenBatch batch;
    if (!queue.standing.empty()) {
        batch.messages = queue.standing;
        batch.baseOffset = queue.deliveredEnd;
        queue.deliveredEnd += static_cast<Ice::Long>(batch.messages.size());
        queue.nextOffset = std::max(queue.nextOffset, queue.deliveredEnd);
        batch.batchNumber = ++batches_;
        return batch;
    }
    batch.baseOffset = queue.nextOffset - static_cast<Ice::Long>(queue.messages.size());
    const size_t wanted = static_cast<size_t>(std::max(count, 1));
    const size_t n = std::min(wanted, queue.messages.size());
    batch.messages.assign(std::make_move_iterator(queue.messages.begin()),
                          std::make_move_iterator(queue.messages.begin() + static_cast<long>(n)));
    queue.messages.erase(queue.messages.begin(), queue.messages.begin() + static_cast<long>(n));
    if (n > 0) {
        queue.deliveredEnd = batch.baseOffset + static_cast<Ice::Long>(n);
        batch.batchNumber = ++batches_;
    }
    return batch;
}

TakenBatch MessageStore::take(const std::string& rid, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    return takeLocked(queues_[rid], count);
}

std::optional<uint64_t> MessageStore::takeOrWait(const std::string& rid, int count, Waiter waiter) {
    TakenBatch batch;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Queue& queue = queues_[rid];
        if (queue.messages.empty() && queue.standing.empty()) {
            uint64_t id = nextWaiterId_++;
            queue.waiters.push_back(ParkedWaiter{id, count, std::move(waiter)});
            return id;
        }
        batch = takeLocked(queue, count);
    }
    waiter(std::move(batch));
    return std::nullopt;
}

void MessageStore::expire(uint64_t waiterId) {
    Waiter expired;
    TakenBatch empty;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& [rid, queue] : queues_) {
            auto found = std::find_if(queue.waiters.begin(), queue.waiters.end(),
                                      [&](const ParkedWaiter& w) { return w.id == waiterId; });
            if (found == queue.waiters.end()) continue;
            expired = std::move(found->waiter);
            queue.waiters.erase(found);
            empty.baseOffset = queue.nextOffset - static_cast<Ice::Long>(queue.messages.size());
            break;
        }
    }
    if (expired) expired(std::move(empty));
}

void MessageStore::expireAll() {
    std::vector<std::pair<Waiter, TakenBatch>> expired;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& entry : queues_) {
            Queue& queue = entry.second;
            for (auto& parked : queue.waiters) {
                TakenBatch empty;
                empty.baseOffset = queue.nextOffset - static_cast<Ice::Long>(queue.messages.size());
                expired.emplace_back(std::move(parked.waiter), std::move(empty));
            }
            queue.waiters.clear();
        }
    }
    for (auto& [waiter, batch] : expired) waiter(std::move(batch));
}

bool MessageStore::acceptCommit(const std::string& rid, Ice::Long offset) {
    std::lock_guard<std::mutex> lock(mutex_);
    Queue& queue = queues_[rid];
    if (offset < 0 || offset > queue.deliveredEnd) return false;
    queue.committed = std::max(queue.committed.value_or(offset), offset);
    return true;
}

Ice::Long MessageStore::deliveredEnd(const std::string& rid) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = queues_.find(rid);
    return found == queues_.end() ? 0 : found->second.deliveredEnd;
}

std::optional<Ice::Long> MessageStore::committedOffset(const std::string& rid) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = queues_.find(rid);
    return found == queues_.end() ? std::nullopt : found->second.committed;
}

size_t MessageStore::queued(const std::string& rid) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = queues_.find(rid);
    return found == queues_.end() ? 0 : found->second.messages.size();
}

}  // namespace kova::test::standin
