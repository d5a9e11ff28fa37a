// KOVA::ConsumeStatus: the result of one pull: its status code, the pulled messages
// and the commit state with which the caller later commits what it handled.
//
// Thread safety: no lock. Commits move the commit state's offset and remaining size
// without synchronisation, so a batch is committed from one thread at a time;
// reading msgList from several threads is fine while nobody changes it.
//
// Ownership: shared by intrusive reference count (ConsumeStatusPtr). The status owns
// its messages and its commit state (a _LocalConsmueStatus, or null for a failed
// pull) and deletes the state when it goes; it cannot be copied.
//
// The data part lives in KOVAConsumeStatus.cpp. The remote operations are defined in
// their own units beside it: Commit in KOVAConsumeStatusCommit.cpp, AsyncCommit (with
// its completion) in KOVAConsumeStatusAsyncCommit.cpp, the follow-up Consume in
// KOVAConsumeStatusConsume.cpp.
#pragma once

#include "KOVACommon.h"
#include "KOVAIMessage.h"
#include "KOVAPublic.h"

#include <IceUtil/Handle.h>
#include <IceUtil/Shared.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace KOVA {

class ConsumeStatus;
typedef IceUtil::Handle<ConsumeStatus> ConsumeStatusPtr;

// Caller's handler of an asynchronous commit: the result code (41 when the batch
// cannot be committed) and the cookie.
typedef std::function<void(int, void*)> CommitCallback;

class ConsumeStatus : public virtual IceUtil::Shared {
public:
    // Takes ownership of `commitinfo`, a _LocalConsmueStatus or null.
    ConsumeStatus(int status, COMMON::CommitInfoType commitinfo);
    virtual ~ConsumeStatus();

    ConsumeStatus(const ConsumeStatus&) = delete;
    ConsumeStatus& operator=(const ConsumeStatus&) = delete;

    // The pull's code: 0 when messages were delivered.
    int Status() const { return _consumeStatus; }
    // The server's delay hint; 0 without commit state.
    int64_t Delay() const;

    // Commits `succSize` of the remaining messages (negative: all that remain).
    int Commit(const std::string& sid, int status, int succSize);
    void AsyncCommit(const std::string& sid, int status, int succSize, CommitCallback cb, void* ck);
    // Pulls again from the agent that served this batch.
    ConsumeStatusPtr Consume(const std::string& rid, std::string& sid, int maxFetch,
                             const COMMON::KOVAProperties& properties, int timeout);

    // The commit state, or null for a failed pull (read-only, for diagnostics).
    const LocalConsmueStatus* CommitState() const { return commitState(); }

    std::vector<KOVA::IMessage> msgList;

private:
    LocalConsmueStatus* commitState() const { return static_cast<LocalConsmueStatus*>(_commitinfo); }

    COMMON::CommitInfoType _commitinfo;
    int _consumeStatus;
};

// Caller's handler of an asynchronous pull: resource id, session id, the result
// (always a status object; 100 when the call failed) and the cookie.
typedef std::function<void(const std::string&, const std::string&, KOVA::ConsumeStatusPtr, void*)>
    PullConsumerCallback;

}  // namespace KOVA
