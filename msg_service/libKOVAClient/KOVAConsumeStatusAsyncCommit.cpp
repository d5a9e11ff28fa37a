// ConsumeStatus::AsyncCommit and its completion.
#include "ClientGate.h"
#include "KOVAAmiCallback.h"
#include "KOVACallerCallback.h"
#include "KOVAConsumeStatus.h"
#include "KOVAConsumeStatusCommitRule.h"

namespace KOVA {

namespace {

// Runs on the Ice thread that completes the commit (or in AsyncCommit when
// nothing is sent). It holds copies of the callback and cookie only, never the
// ConsumeStatus, which may be gone by now.
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
    if (!ClientGateOpen()) {
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
        try {
            state->_commitPrx->begin_Commit(
                sid, status, state->_commitInfo,
                newCallbackAgentCommitCallback([cb, ck](Ice::Int result) { commitComplete(cb, ck, result); },
                                               [cb, ck](const Ice::Exception& e) { commitFailed(cb, ck, e); }));
        } catch (const Ice::Exception& e) {
            commit_rule::LogCommitException(e, *state);
            commitComplete(cb, ck, COMMON::SUCCESS);
        }
    }
    LOG_DEBUG("commit over for sid:%s ,status:0, commitinfo:%s", sid.c_str(), commit_rule::Describe(state).c_str());
}

}  // namespace KOVA
