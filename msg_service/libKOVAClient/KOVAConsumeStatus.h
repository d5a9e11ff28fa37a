// For callers (included by KOVAClientLib.h).
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

    // Commits `succSize` of the remaining messages (negative: all that remain) on
    // the callback agent that served the batch; `status` is the caller's consume
    // result, passed on to the agent. Offsets are cumulative: a valid commit
    // advances the batch's commit offset and lowers what remains before the
    // remote call. Results:
    //  * 0 without anything sent for a failed pull (nothing to commit);
    //  * 41 when nothing remains or succSize exceeds what remains (no call);
    //  * 100 when the reply named no callback agent (no call, nothing advanced);
    //  * the agent's code; a non-zero code takes the advance back, so the same
    //    commit can be repeated and sends the same offset;
    //  * 0 when the call ends in an Ice exception (WARN for a lost connection,
    //    FATAL otherwise), with the advance kept: kept that way on purpose, as
    //    the agent may have applied it, and a batch must never be committed
    //    twice.
    int Commit(const std::string& sid, int status, int succSize);
    // The same commit without waiting. cb (may be empty) gets the result once:
    // 0, 41 or 100 (no callback agent, nothing advanced) before this returns
    // when nothing is sent, 0 as well when issuing
    // throws; otherwise later, on an Ice thread, the agent's code or 0 for an
    // Ice exception (at exit, when no Ice thread completes it, on the exiting
    // thread with 100). The advance is never taken back here, whatever the
    // agent answers. Only copies of cb and ck are kept, not this status.
    void AsyncCommit(const std::string& sid, int status, int succSize, CommitCallback cb, void* ck);
    // Pulls again from the callback agent that served this batch (not through an
    // engine), through the same router if its proxy has one (learnt locally,
    // so nothing after the pull can lose its batch). A status whose own
    // code is not 0, or that carries no commit state, answers a new status 6
    // (WARN) without a remote call; an Ice failure gives a status 100.
    //
    // Commit, AsyncCommit and Consume touch nothing and answer 100 (AsyncCommit
    // calls back once with 100, before it returns) once the client is stopping
    // at exit, and in a forked child, where the status and its connection are
    // the parent's.
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
typedef std::function<void(const std::string&, const std::string&, KOVA::ConsumeStatusPtr, void*)> PullConsumerCallback;

}  // namespace KOVA
