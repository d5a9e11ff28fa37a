// Push consumers: registration of the listener with the agent, delivery of a
// pushed batch to the caller's callback, pause and resume. The session monitor
// that keeps registrations alive is in KOVAClientLibImplPushMonitor.cpp.
#include <IceUtil/Time.h>

#include "KOVACallerCallback.h"
#include "KOVAClientLibImpl.h"
#include "KOVAClientLibImplPushShared.h"
#include "KOVAIceFailure.h"
#include "KOVALog.h"

namespace KOVA {

namespace {

// Sent with every registration behind a router, so the agent knows the
// listener proxy points at a router.
Ice::Context routedContext() {
    Ice::Context context;
    context[kovaGlacierProperty] = "yes";
    return context;
}

// A connection that is gone for good, whoever closed it: the consumer's fixed
// register proxy can never be used again and the monitor will register anew.
bool connectionGone(const Ice::Exception& e) {
    return ice_failure::isConnectionLost(e) || ice_failure::isConnectionClosed(e) ||
           ice_failure::isCommunicatorDestroyed(e);
}

}  // namespace

KOVAClientLibImpl::KOVAClientLibImpl(const std::string& agentID, const KOVAClientAdapterPtr& clientAdapter,
                                     const PushMonitorTimings& monitorTimings)
    : KOVAClientLibImpl(agentID, clientAdapter) {
    _monitorTimings = monitorTimings;
}

ConsumerInfoPtr KOVAClientLibImpl::findConsumer(const std::string& rid) const {
    ReaderMutexLock lock(_consumersTableMutex);
    auto found = _consumers.find(rid);
    return found == _consumers.end() ? ConsumerInfoPtr() : found->second;
}

int KOVAClientLibImpl::registerListener(const KOVAAgentPrx& pxy, const std::string& rid, const std::string& sid,
                                        int maxcount, int maxbatch, std::string& cid) {
    const Ice::Context context = routed() ? routedContext() : Ice::Context();
    if (_clientAdapter->share()) {
        // The agent calls the listener back over this very connection.
        pxy->ice_getConnection()->setAdapter(_clientAdapter->getAdapter());
        const int result = pxy->RegisterKOVAMsgListenerWithId(rid, sid, maxcount, maxbatch,
                                                              _clientAdapter->getIdentity(), cid, context);
        LOG_WARN("Open bidir connection for id:%s, client:%s, ret:%d", _agentID.c_str(), _clientID.c_str(), result);
        return result;
    }
    // A router-session renewal clears the listener proxy until its new one is
    // made; activating again waits for that renewal (and makes a proxy that is
    // still missing), so the registration goes out with the new one.
    KOVAMessageListenerPrx listener = _clientAdapter->getListenerProxy();
    if (!listener && _clientAdapter->ActiveAdapter(KOVAPushCallback(), false)) {
        listener = _clientAdapter->getListenerProxy();
    }
    if (!listener) {
        LOG_FATAL("Register resource:%s sid:%s without a listener proxy: the listener is not served", rid.c_str(),
                  sid.c_str());
        return COMMON::INTERNAL_ERROR;
    }
    return pxy->RegisterKOVAMsgListenerWithProxy(rid, sid, maxcount, maxbatch, listener, cid, context);
}

int KOVAClientLibImpl::RegisterPushConsumer(const std::string& rid, PushConsumerCallback& cb, void* cookie,
                                            int maxcount, int maxbatch, boost::asio::io_context& monitorService) {
    const std::string sid = millisecondsNow() + "-" + _clientID;
    std::string cid;
    int result = COMMON::SUCCESS;
    try {
        MutexLock lock(_consumerMutex);
        if (findConsumer(rid)) {
            LOG_WARN("The resource id:%s has registered for client:%s", rid.c_str(), _clientID.c_str());
            return COMMON::SUCCESS;
        }
        const KOVAAgentPrx pxy = getRegisterProxyByRid(rid, false);
        if (!pxy) {
            removeRegisterProxyByRid(rid);
            LOG_FATAL("Register consumer:%s for resourceid:%s, sid:%s failed, error: the proxy is not available.",
                      cid.c_str(), rid.c_str(), sid.c_str());
            return COMMON::INTERNAL_ERROR;
        }
        const std::string sessionText = push::sessionTextOf(rid, pxy);
        result = registerListener(pxy, rid, sid, maxcount, maxbatch, cid);
        if (result == COMMON::SUCCESS) {
            ConsumerInfoPtr info = new _ConsumerInfo(pxy, rid, sessionText, cb, cookie, maxbatch, maxcount, cid);
            {
                WriterMutexLock table(_consumersTableMutex);
                _consumers[rid] = info;
            }
            addKeepAliveWork(info, monitorService);
        } else {
            removeRegisterProxyByRid(rid);
            LOG_FATAL("Register consumer:%s for resourceid:%s, sid:%s failed, ret:%d.", cid.c_str(), rid.c_str(),
                      sid.c_str(), result);
        }
    } catch (const Ice::Exception& e) {
        LOG_FATAL("Get an exception:%s for register rid:%s, sid:%s", e.what(), rid.c_str(), sid.c_str());
        result = COMMON::INTERNAL_ERROR;
    }
    // Written at FATAL on success too: operators grep for it.
    LOG_FATAL("Register consumer:%s for resourceid:%s, sid:%s, ret:%d.", cid.c_str(), rid.c_str(), sid.c_str(), result);
    return result;
}

int KOVAClientLibImpl::ConsumeCallback(const std::string& rid, const std::string& sid, const std::string&,
                                       const KOVAMsg::KOVABatchMessage& _datas, const Ice::Current&) {
    // A push that overtakes its own registration reply lands here too and is
    // refused; the agent delivers it again.
    const ConsumerInfoPtr info = findConsumer(rid);
    if (!info) {
        LOG_FATAL("Consume rid:%s, sid:%s not exist consumer", rid.c_str(), sid.c_str());
        return COMMON::NOT_EXIST;
    }
    const std::string cid = push::endpointOf(info).cid;
    int result = COMMON::CONSUME_FAILED;
    LOG_DEBUG("Begin Consume rid:%s, sid:%s, cid:%s, size:%d", rid.c_str(), sid.c_str(), cid.c_str(),
              static_cast<int>(_datas.size()));
    for (const KOVAMsg::KOVAMessage& record : _datas) {
        // Built from the const record, copied once: the batch belongs to the
        // dispatch. Part of the batch may have been accepted when the callback
        // throws; only a failure makes the service deliver the rest again.
        if (!CallCallerCallback([&] { result = info->_cb(info->_cookie, rid, sid, IMessage(record)); },
                                [&] { return "Consume rid:" + rid + ", sid:" + sid + ", cid:" + cid + " failed,"; })) {
            return COMMON::CONSUME_FAILED;
        }
        if (result != COMMON::SUCCESS) {
            LOG_WARN("Consume failed for rid:%s, sid:%s, total:%d", rid.c_str(), sid.c_str(),
                     static_cast<int>(_datas.size()));
            break;
        }
    }
    LOG_DEBUG("End Consume rid:%s, sid:%s, cid:%s success, ret:%d", rid.c_str(), sid.c_str(), cid.c_str(), result);
    return result;
}

void KOVAClientLibImpl::PauseConsume(const std::string& rid) {
    const std::string sid = microsecondsNow() + "-" + _kova_ClientId();
    MutexLock lock(_consumerMutex);
    const ConsumerInfoPtr info = findConsumer(rid);
    if (!info) {
        LOG_FATAL("Pause resource:%s sid:%s failed, rid not register", rid.c_str(), sid.c_str());
        return;
    }
    const push::ConsumerEndpoint endpoint = push::endpointOf(info);
    try {
        endpoint.pxy->PauseConsume(rid, sid, endpoint.cid);
        info->_status = PAUSEING;
        LOG_INFO("Pause resource ok for rid:%s sid:%s cid:%s", rid.c_str(), sid.c_str(), endpoint.cid.c_str());
    } catch (const Ice::Exception& e) {
        LOG_FATAL("Pause resource exception for rid:%s sid:%s cid:%s failed:%s.", rid.c_str(), sid.c_str(),
                  endpoint.cid.c_str(), e.what());
    }
}

int KOVAClientLibImpl::ResumeConsume(const std::string& rid) {
    const std::string sid = microsecondsNow() + "-" + _kova_ClientId();
    MutexLock lock(_consumerMutex);
    const ConsumerInfoPtr info = findConsumer(rid);
    if (!info) {
        LOG_FATAL("Resume resource:%s sid:%s failed, rid not register", rid.c_str(), sid.c_str());
        return COMMON::NOT_EXIST;
    }
    const push::ConsumerEndpoint endpoint = push::endpointOf(info);
    int result = COMMON::INTERNAL_ERROR;
    try {
        result = endpoint.pxy->StartConsume(rid, sid, endpoint.cid);
        info->_status = RUNNING;
        LOG_INFO("Resume resource for rid:%s sid:%s cid:%s, ret:%d", rid.c_str(), sid.c_str(), endpoint.cid.c_str(),
                 result);
        return result;
    } catch (const Ice::Exception& e) {
        if (connectionGone(e)) {
            // Running again, so the next monitor tick registers the consumer
            // on a new connection; that registration starts it.
            info->_status = RUNNING;
            LOG_WARN("Resume resource:%s, the proxy is invalid for now, set the status to RUNNING, exception:%s",
                     rid.c_str(), e.what());
            return COMMON::SUCCESS;
        }
        LOG_FATAL("Resume resource exception for rid:%s sid:%s cid:%s failed:%s.", rid.c_str(), sid.c_str(),
                  endpoint.cid.c_str(), e.what());
        return COMMON::INTERNAL_ERROR;
    }
}

}  // namespace KOVA
