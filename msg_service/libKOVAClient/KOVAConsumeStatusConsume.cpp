// ConsumeStatus::Consume: a follow-up pull from the callback agent that served
// this batch, bypassing the engine.
#include <Glacier2/Router.h>

#include "ClientGate.h"
#include "ConsumeResultConversion.h"
#include "KOVAConsumeStatus.h"
#include "KOVALog.h"

namespace KOVA {

ConsumeStatusPtr ConsumeStatus::Consume(const std::string& rid, std::string& sid, int maxFetch,
                                        const COMMON::KOVAProperties& properties, int timeout) {
    if (!ClientGateOpen()) {
        // Exiting, or a forked child: the connection is no longer ours to use.
        return new ConsumeStatus(COMMON::INTERNAL_ERROR, nullptr);
    }
    const LocalConsmueStatus* state = commitState();
    // A status built by hand with code 0 but no commit state has no agent to
    // ask either: refused like a failed pull.
    if (_consumeStatus != COMMON::SUCCESS || !state) {
        LOG_WARN("Invalid direct consumer handler for rid: `%s'", rid.c_str());
        return new ConsumeStatus(COMMON::INVALID_OP, nullptr);
    }
    try {
        KOVAMsg::KOVABatchMessage batch;
        const ConsumeResultInfo reply = state->_commitPrx->Consume(rid, sid, maxFetch, timeout, batch, properties);
        // The next batch is committed the way this one is reached: through
        // the same router, if any. Cast locally: a remote check here could
        // fail after the pull and throw the delivered batch away.
        Glacier2::RouterPrx router = Glacier2::RouterPrx::uncheckedCast(state->_commitPrx->ice_getRouter());
        ConsumeStatusPtr result =
            GetLocalStatusFromConsumeResult(reply, batch, router, state->_commitPrx->ice_getInvocationTimeout());
        if (result->Status() == COMMON::SUCCESS) {
            LOG_DEBUG("Consume data success rid:%s sid:%s msgcount:%d", rid.c_str(), sid.c_str(),
                      static_cast<int>(result->msgList.size()));
        } else {
            LOG_FATAL("Consume data failed rid:%s sid:%s code:%d.", rid.c_str(), sid.c_str(), result->Status());
        }
        return result;
    } catch (const Ice::Exception& e) {
        LOG_FATAL("Failed Operation for rid:%s sid:%s exception:%s", rid.c_str(), sid.c_str(), e.what());
    }
    return new ConsumeStatus(COMMON::INTERNAL_ERROR, nullptr);
}

}  // namespace KOVA
