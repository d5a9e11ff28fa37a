// In-memory queues per resource, with long-poll waiters and the delivery and
// commit accounting that lets the agent refuse a commit beyond what it delivered.
//
// Offsets: every resource numbers its messages from 0 in production order. A
// delivered batch starts at its base offset; committing offset N means "every
// message below N is handled", so N may not exceed the end of what was delivered.
// Stored records get the queue offset in l_properties[2] ("__kl2"), the store
// time in milliseconds in l_properties[1] and the store host in s_properties[2];
// the born time at l_properties[0] and everything else stay as produced.
//
// Thread-safety: every member is safe to call from any thread (one internal
// mutex); waiter functions run on the calling thread after the lock is released.
// Owned by StandinAgent; kept across an agent restart (like a durable broker).
#pragma once

#include <KOVAMessage.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kova::test::standin {

struct TakenBatch {
    KOVAMsg::KOVABatchMessage messages;
    Ice::Long baseOffset = 0;   // offset of the first message (of the next one when empty)
    Ice::Long batchNumber = 0;  // running number of delivered batches, used as the commit id
};

class MessageStore {
public:
    using Waiter = std::function<void(TakenBatch)>;  // an empty batch means the wait timed out

    explicit MessageStore(bool keepMessages = true) : keepMessages_(keepMessages) {}

    void append(const std::string& rid, const KOVAMsg::KOVABatchMessage& messages);
    // Every pull of rid answers a copy of this batch without draining anything
    // (benchmarks pull the same batch again and again); offsets still advance,
    // so commits are checked as usual. An empty batch ends it.
    void setStandingBatch(const std::string& rid, const KOVAMsg::KOVABatchMessage& messages);
    TakenBatch take(const std::string& rid, int count);
    // Serves at once when messages are queued (returns nullopt, waiter already called);
    // otherwise parks the waiter and returns its id for expire().
    std::optional<uint64_t> takeOrWait(const std::string& rid, int count, Waiter waiter);
    // Answers a still-parked waiter with an empty batch.
    void expire(uint64_t waiterId);
    // Answers every parked waiter with an empty batch (the agent is stopping).
    void expireAll();

    // True and remembered when offset does not go beyond the delivered end.
    bool acceptCommit(const std::string& rid, Ice::Long offset);
    Ice::Long deliveredEnd(const std::string& rid) const;
    std::optional<Ice::Long> committedOffset(const std::string& rid) const;
    size_t queued(const std::string& rid) const;

private:
    struct ParkedWaiter {
        uint64_t id;
        int count;
        Waiter waiter;
    };
    struct Queue {
        std::deque<KOVAMsg::KOVAMessage> messages;
        Ice::Long nextOffset = 0;    // offset the next produced message gets
        Ice::Long deliveredEnd = 0;  // one past the last delivered offset
        std::optional<Ice::Long> committed;
        KOVAMsg::KOVABatchMessage standing;
        std::deque<ParkedWaiter> waiters;
    };

    TakenBatch takeLocked(Queue& queue, int count);

    const bool keepMessages_;
    mutable std::mutex mutex_;
    std::map<std::string, Queue> queues_;
    uint64_t nextWaiterId_ = 1;
    Ice::Long batches_ = 0;
};

}  // namespace kova::test::standin
