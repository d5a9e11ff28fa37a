// Internal (kova_model).
// What the synchronous and asynchronous commits of a ConsumeStatus share: the
// size rule with its advance of the commit offset, and the handling of a
// remote failure. Internal to the ConsumeStatus units.
//
// Thread-safety: none; the commit state belongs to one ConsumeStatus, which is
// committed from one thread at a time.
#pragma once

#include <Ice/Ice.h>

#include <string>

#include "KOVAIceFailure.h"
#include "KOVALog.h"
#include "KOVAPublic.h"

namespace KOVA {
namespace commit_rule {

// Validates `succSize` against what remains and, when valid, advances the
// offset and lowers the remaining size by the count actually committed
// (returned in `committed`; a negative succSize means all that remain). Before
// the remote call, so that a commit whose outcome is unknown (an exception)
// never offers the same messages twice. False (41) changes nothing.
inline bool Advance(LocalConsmueStatus& state, int succSize, int& committed) {
    if (state._size == 0 || state._size < succSize) {
        LOG_WARN("Invalid commit, the succSize is invalid bigger than max success size:%d", state._size);
        return false;
    }
    committed = succSize < 0 ? state._size : succSize;
    state._commitInfo.offset += committed;
    state._size -= committed;
    return true;
}

// Takes an advance back after the agent answered with a code: the same commit
// may then be repeated and sends the same offset.
inline void TakeBack(LocalConsmueStatus& state, int committed) {
    state._commitInfo.offset -= committed;
    state._size += committed;
}

// A batch whose reply named no callback agent cannot be committed at all:
// the advance is taken back and 100 reported, so nothing counts as committed
// that was never sent. False when there is an agent to send the commit to.
inline bool RefuseWithoutAgent(LocalConsmueStatus& state, int committed) {
    if (state._commitPrx) {
        return false;
    }
    TakeBack(state, committed);
    LOG_FATAL("Commit failed, no callback agent for rid:%s, commitinfo:%s", state._commitInfo.rid.c_str(),
              state.ToString().c_str());
    return true;
}

inline std::string Describe(const LocalConsmueStatus* state) { return state ? state->ToString() : std::string(); }

// A lost connection is expected when an agent goes away (WARN); anything else
// is not (FATAL).
inline void LogCommitException(const Ice::Exception& e, const LocalConsmueStatus& state) {
    if (ice_failure::isConnectionLost(e)) {
        LOG_WARN("Commit failed, the remote node is shutdown:%s, commitinfo:%s", e.what(), state.ToString().c_str());
    } else {
        LOG_FATAL("Commit failed, error:%s, commitinfo:%s", e.what(), state.ToString().c_str());
    }
}

}  // namespace commit_rule
}  // namespace KOVA
