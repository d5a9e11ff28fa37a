// ConsumeStatus::AsyncCommit and its completion.
#include <memory>

#include "ClientGate.h"
#include "KOVAAmiCallback.h"
#include "KOVACallerCallback.h"
#include "KOVAConsumeStatus.h"
#include "KOVAConsumeStatusCommitRule.h"
#include "OwedCallbacks.h"

namespace KOVA {

namespace {

// Runs on the Ice thread that completes the commit, in AsyncCommit when
// nothing is sent, or at the stop at exit. It holds copies of the callback and
// cookie only, never the ConsumeStatus, which may be gone by now.
void commitComplete(const CommitCallback& cb, void* ck, int result) {
    CallCallerCallback(
        cb, [&] { return "Commit callback threw for code:" + std::to_string(result); }, result, ck);
}

// An exception counts as committed (0), as in the synchronous form.
void commitFailed(const CommitCallback& cb, void* ck, const Ice::Exception& e) {
    if (ice_failure::isConnectionLost(e)) {
        LOG_WARN("Commit ignore failed! get exception:%s", e.what());
    } else {
        LOG_FATAL("Commit failed, get un expect exception:%s", e.what());
    }
    commitComplete(cb, ck, COMMON::SUCCESS);
}

}  // namespace

void ConsumeStatus::AsyncCommit(const std::string& sid, int status, int succSize, CommitCallback cb, void* ck) {
    // In flight like a facade call: the callback it may owe on its way out is
    // settled at the stop, however late in the stop it gets there.
    CallInFlight inFlight;
    if (!inFlight.admitted()) {
        // Exiting, or a forked child: the connection is no longer ours to use.
        commitComplete(cb, ck, COMMON::INTERNAL_ERROR);
        return;
    }
    LocalConsmueStatus* state = commitState();
    if (!state || state->_consumeStatus != COMMON::SUCCESS) {
        commitComplete(cb, ck, COMMON::SUCCESS);
    } else {
        int committed = 0;
        if (!commit_rule::Advance(*state, succSize, committed)) {
            commitComplete(cb, ck, COMMON::COMMIT_INVALID);
            return;
        }
        if (commit_rule::RefuseWithoutAgent(*state, committed)) {
            commitComplete(cb, ck, COMMON::INTERNAL_ERROR);
            return;
        }
        // Owed until it runs: when every Ice thread is held (a callback
        // calling exit()), only the stop can call it back.
        CommitCallback owed = cb;
        if (cb) {
            auto held = std::make_shared<const CommitCallback>(std::move(cb));
            owed = OwedCall(Owe([held, ck] { commitComplete(*held, ck, COMMON::INTERNAL_ERROR); }), held);
        }
        try {
            state->_commitPrx->begin_Commit(
                sid, status, state->_commitInfo,
                newCallbackAgentCommitCallback([owed, ck](Ice::Int result) { commitComplete(owed, ck, result); },
                                               [owed, ck](const Ice::Exception& e) { commitFailed(owed, ck, e); }));
        } catch (const Ice::Exception& e) {
            commit_rule::LogCommitException(e, *state);
            commitComplete(owed, ck, COMMON::SUCCESS);
        }
    }
    LOG_DEBUG("commit over for sid:%s ,status:0, commitinfo:%s", sid.c_str(), commit_rule::Describe(state).c_str());
}

}  // namespace KOVA
