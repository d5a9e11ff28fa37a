// Synchronous pull, the synchronous direct pull, and the direct-pull state that
// both forms share (session ids, turning direct pulling on and off, spending
// the budget).
#include <algorithm>

#include "ConsumeResultConversion.h"
#include "KOVAClientLibImpl.h"
#include "KOVALog.h"

namespace KOVA {

void KOVAClientLibImpl::fillPullSid(std::string& sid) {
    if (sid.empty()) {
        sid = _kova_ClientId() + "-" + microsecondsNow();
    }
}

KOVACallbackAgentPrx KOVAClientLibImpl::takeDirectPullTurn() {
    KOVACallbackAgentPrx direct = currentDirectPullProxy();
    // The load keeps an idle engine from counting down forever; the single
    // fetch_sub decides, so racing pullers cannot spend the last unit twice.
    // A count left below zero is harmless: the next grant overwrites it.
    if (!direct || _directPullCount.load() <= 0 || _directPullCount.fetch_sub(1) <= 0) {
        return KOVACallbackAgentPrx();
    }
    return direct;
}

void KOVAClientLibImpl::startDirectPull(const KOVACallbackAgentPrx& callback, int64_t delay) {
    // Unmarshalled with the communicator's defaults: the agent's own timeout
    // is set, so a configured bound also holds for the callback agent.
    KOVACallbackAgentPrx direct = callback ? callback->ice_invocationTimeout(_agentInvocationTimeout) : callback;
    Glacier2::RouterPrx router = currentRouter();
    if (direct && router) {
        direct = direct->ice_router(router);
    }
    setDirectPullProxy(direct);
    _directPullCount.store(static_cast<int>(std::min(kMaxDirectPulls, delay / kDelayPerDirectPull)));
}

void KOVAClientLibImpl::stopDirectPull(const KOVACallbackAgentPrx& used) {
    MutexLock lock(_pullPxyMutex);
    // By object, not by value: a later grant naming the same callback agent
    // installs a new proxy object, which this stale pull must not switch off.
    if (_directPullProxy.get() == used.get()) {
        _directPullProxy = 0;
    }
}

ConsumeStatusPtr KOVAClientLibImpl::Consume(const std::string& rid, std::string& _sid, int maxFetchCount,
                                            const KOVA::COMMON::KOVAProperties& properties, int timeout) {
    fillPullSid(_sid);
    const std::string sid = _sid;
    LOG_DEBUG("Begin Consume data for rid%s sid:%s maxCount:%d", rid.c_str(), sid.c_str(), maxFetchCount);
    ConsumeStatusPtr result;
    try {
        result = directConsume(rid, _sid, maxFetchCount, properties, timeout);
        if (result && result->Status() == KOVA::COMMON::SUCCESS) {
            return result;
        }
        initPullProxy(false);
        KOVAAgentPrx pull = currentPullProxy();
        KOVAMsg::KOVABatchMessage batch;
        const ConsumeResultInfo reply = pull->Consume(rid, sid, maxFetchCount, timeout, batch, properties);
        result = GetLocalStatusFromConsumeResult(reply, batch, currentRouter(), _agentInvocationTimeout);
        if (result->Status() == KOVA::COMMON::SUCCESS) {
            if (result->Delay() > kDirectPullDelay) {
                startDirectPull(reply.callback, result->Delay());
            }
            LOG_DEBUG("Consume data success rid:%s sid:%s msgcount:%d", rid.c_str(), sid.c_str(),
                      static_cast<int>(result->msgList.size()));
        } else {
            LOG_FATAL("Consume data failed rid:%s sid:%s code:%d.", rid.c_str(), sid.c_str(), result->Status());
        }
    } catch (const Ice::Exception& e) {
        LOG_FATAL("Failed Operation for rid:%s sid:%s exception:%s", rid.c_str(), sid.c_str(), e.what());
        result = new ConsumeStatus(KOVA::COMMON::INTERNAL_ERROR, nullptr);
        if (dropProxiesAfter(e) && routed()) {
            LOG_FATAL("Re create session for router for rid:%s", rid.c_str());
        }
    }
    return result;
}

ConsumeStatusPtr KOVAClientLibImpl::directConsume(const std::string& rid, std::string& _sid, int maxFetchCount,
                                                  const KOVA::COMMON::KOVAProperties& properties, int timeout) {
    KOVACallbackAgentPrx direct = takeDirectPullTurn();
    if (!direct) {
        return ConsumeStatusPtr();
    }
    const std::string& sid = _sid;
    LOG_DEBUG("Begin Consume data for rid%s sid:%s maxCount:%d", rid.c_str(), sid.c_str(), maxFetchCount);
    try {
        KOVAMsg::KOVABatchMessage batch;
        const ConsumeResultInfo reply = direct->Consume(rid, sid, maxFetchCount, timeout, batch, properties);
        ConsumeStatusPtr result =
            GetLocalStatusFromConsumeResult(reply, batch, currentRouter(), _agentInvocationTimeout);
        if (result->Status() == KOVA::COMMON::SUCCESS) {
            if (result->Delay() < kSyncDirectKeepDelay) {
                stopDirectPull(direct);
            }
            LOG_DEBUG("Consume data success rid:%s sid:%s msgcount:%d", rid.c_str(), sid.c_str(),
                      static_cast<int>(result->msgList.size()));
        } else {
            stopDirectPull(direct);
            LOG_FATAL("Consume data failed rid:%s sid:%s code:%d.", rid.c_str(), sid.c_str(), result->Status());
        }
        return result;
    } catch (const Ice::Exception& e) {
        LOG_FATAL("Failed Operation for rid:%s sid:%s exception:%s", rid.c_str(), sid.c_str(), e.what());
        stopDirectPull(direct);
    }
    return ConsumeStatusPtr();
}

}  // namespace KOVA
