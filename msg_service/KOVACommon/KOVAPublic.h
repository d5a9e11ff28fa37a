// For callers (included by KOVAClientLib.h).
// Push-consumer states and the commit state of a pulled batch.
//
// Thread safety: _LocalConsmueStatus takes no lock. It is owned by exactly one
// KOVA::ConsumeStatus, and that status is committed from one thread at a time.
//
// Ownership: a _LocalConsmueStatus is created by the consume-result conversion and
// deleted by the ConsumeStatus that holds it (through its untyped CommitInfoType
// handle); it owns its commit record and shares the commit proxy by reference count.
#pragma once

#include <IceUtil/Shared.h>
#include <KOVAMessageService.h>

#include <cstdint>
#include <string>

namespace KOVA {

// State of one registered push consumer.
enum KOVAConsumerStatus {
    RUNNING = 1,
    PAUSEING = 2,
    STOPED = 3
};

// What a later commit of a pulled batch needs: where to send it, what to name, and
// how many messages of the batch are still uncommitted.
struct _LocalConsmueStatus : public IceUtil::Shared {
    explicit _LocalConsmueStatus(int status);
    virtual ~_LocalConsmueStatus();

    _LocalConsmueStatus(const _LocalConsmueStatus&) = delete;
    _LocalConsmueStatus& operator=(const _LocalConsmueStatus&) = delete;

    // One-line JSON for log lines: fixed key order, no blanks, strings unescaped
    // (a quote inside a topic yields text that is not valid JSON; kept as is).
    std::string ToString() const;

    int _consumeStatus;
    int64_t _delay;  // server's delay hint; -1 until set
    int _size;       // messages of the batch not yet committed
    KOVA::KOVACallbackAgentPrx _commitPrx;
    KOVA::CommitInfo _commitInfo;
};

typedef _LocalConsmueStatus LocalConsmueStatus;

}  // namespace KOVA
