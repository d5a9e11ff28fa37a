// ConsumeStatus::Commit: the synchronous commit of a pulled batch on the
// callback agent that served it.
#include "ClientGate.h"
#include "KOVAConsumeStatus.h"
#include "KOVAConsumeStatusCommitRule.h"

namespace KOVA {

int ConsumeStatus::Commit(const std::string& sid, int status, int succSize) {
    if (!ClientGateOpen()) {
        // Exiting, or a forked child: the connection is no longer ours to use.
        return COMMON::INTERNAL_ERROR;
    }
    int result = COMMON::SUCCESS;
    LocalConsmueStatus* state = commitState();
    if (state) {
        if (state->_consumeStatus != COMMON::SUCCESS) {
            return COMMON::SUCCESS;  // a failed pull delivered nothing to commit
        }
        int committed = 0;
        if (!commit_rule::Advance(*state, succSize, committed)) {
            return COMMON::COMMIT_INVALID;
        }
        if (commit_rule::RefuseWithoutAgent(*state, committed)) {
            return COMMON::INTERNAL_ERROR;
        }
        try {
            result = state->_commitPrx->Commit(sid, status, state->_commitInfo);
            if (result != COMMON::SUCCESS) {
                commit_rule::TakeBack(*state, committed);
                LOG_WARN("Commit failed, for rid:%s, sid:%s, ret:%d", state->_commitInfo.rid.c_str(), sid.c_str(),
                         result);
            }
        } catch (const Ice::Exception& e) {
            // Whether the agent applied it is unknown; the advance stays and 0
            // is reported, so the batch is never committed twice.
            commit_rule::LogCommitException(e, *state);
        }
    }
    LOG_DEBUG("commit over for sid: %s, status:%d, commitinfo:%s", sid.c_str(), result,
              commit_rule::Describe(state).c_str());
    return result;
}

}  // namespace KOVA
