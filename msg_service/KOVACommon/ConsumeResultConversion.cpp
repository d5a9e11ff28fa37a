#include "ConsumeResultConversion.h"

#include <memory>

namespace KOVA {

namespace {

KOVA::KOVACallbackAgentPrx CommitProxyFor(const KOVA::KOVACallbackAgentPrx& callback, const Glacier2::RouterPrx& router,
                                          int invocationTimeout) {
    if (!callback) {
        return callback;
    }
    // An unmarshalled proxy has the communicator's default timeout, not the agent's.
    KOVA::KOVACallbackAgentPrx commit = callback->ice_invocationTimeout(invocationTimeout);
    return router ? commit->ice_router(router) : commit;
}

}  // namespace

ConsumeStatusPtr GetLocalStatusFromConsumeResult(const KOVA::ConsumeResultInfo& csinfo,
                                                 KOVAMsg::KOVABatchMessage& datas, const Glacier2::RouterPrx& router,
                                                 int invocationTimeout) {
    if (csinfo.code != COMMON::SUCCESS) {
        return new ConsumeStatus(csinfo.code, nullptr);
    }

    std::unique_ptr<LocalConsmueStatus> pending(new LocalConsmueStatus(csinfo.code));
    LocalConsmueStatus* state = pending.get();
    state->_delay = csinfo.delay;
    state->_commitPrx = CommitProxyFor(csinfo.callback, router, invocationTimeout);
    state->_commitInfo = csinfo.commit;
    ConsumeStatusPtr status = new ConsumeStatus(csinfo.code, pending.release());

    status->msgList.reserve(datas.size());
    for (KOVAMsg::KOVAMessage& record : datas) {
        status->msgList.emplace_back(static_cast<void*>(&record));
    }
    state->_size = static_cast<int>(status->msgList.size());
    return status;
}

}  // namespace KOVA
