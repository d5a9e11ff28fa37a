// The session monitor of push consumers: one timer chain per consumer on the
// manager's monitor io_context. Each tick keeps the registration alive
// (keepAlive, or behind a router a repeated registration, which also renews
// the router's view of the listener) and, after a failure, renews the router
// session and registers the consumer again on a fresh connection.
#include "KOVAClientLibImpl.h"
#include "KOVAClientLibImplPushShared.h"
#include "KOVAIceFailure.h"
#include "KOVALog.h"

namespace KOVA {

namespace {

// The two failures that mean the router session is gone.
bool routerSessionGone(const Ice::Exception& e) {
    return ice_failure::isConnectionLost(e) || ice_failure::isConnectionRefused(e);
}

}  // namespace

void KOVAClientLibImpl::addKeepAliveWork(ConsumerInfoPtr info, boost::asio::io_context& monitorService) {
    armSessionMonitor(info, std::make_shared<boost::asio::steady_timer>(monitorService), _monitorTimings.firstTick);
}

void KOVAClientLibImpl::armSessionMonitor(const ConsumerInfoPtr& info,
                                          const std::shared_ptr<boost::asio::steady_timer>& t,
                                          std::chrono::milliseconds delay) {
    t->expires_after(delay);
    std::weak_ptr<KOVAClientLibImpl> engine = weak_from_this();
    // The wait's outcome is not looked at: a cancelled wait still ticks. A
    // stopped io_context never runs the handler, and destroying it releases
    // the handler together with the timer and the consumer it holds.
    t->async_wait([engine, info, t](const boost::system::error_code&) {
        if (std::shared_ptr<KOVAClientLibImpl> self = engine.lock()) {
            self->sessionMonitor(info, t);
        }
    });
}

void KOVAClientLibImpl::sessionMonitor(ConsumerInfoPtr info, std::shared_ptr<boost::asio::steady_timer> t) {
    if (info->_status == STOPED) {
        std::string sessionText;
        {
            MutexLock lock(info->_mutex);
            sessionText = info->_sid;
        }
        LOG_WARN("The push consumer has stoped for rid:%s, client:%s, session:%s, clean it.", info->_rid.c_str(),
                 _clientID.c_str(), sessionText.c_str());
        return;  // the chain ends; the timer goes with its last handle
    }

    // Nothing may escape a tick: an exception out of the handler would end
    // the monitor thread, and the chain must go on whatever happened.
    try {
        bool reRegister = false;
        if (routed() && !_clientAdapter->active()) {
            // An earlier renewal of the router session failed: nothing serves the
            // listener, so neither a keep-alive nor a registration can help.
            reRegister = renewRouterSession(info->_rid) && adoptFreshRegisterProxy(info);
        } else {
            try {
                keepConsumerAlive(info);
            } catch (const Ice::Exception& e) {
                reRegister = recoverConsumerSession(info, e);
            }
        }
        if (reRegister) {
            reRegisterConsumer(info);
        }
    } catch (const std::exception& e) {
        LOG_FATAL("For rid:%s, client:%s get session exception:%s, try again later.", info->_rid.c_str(),
                  _clientID.c_str(), e.what());
    }
    armSessionMonitor(info, t, _monitorTimings.interval);
}

void KOVAClientLibImpl::keepConsumerAlive(const ConsumerInfoPtr& info) {
    const push::ConsumerEndpoint endpoint = push::endpointOf(info);
    if (!routed()) {
        endpoint.pxy->keepAlive();
    } else {
        // Behind a router the registration itself is the keep-alive: the
        // agent answers the same cid while it still knows the listener.
        std::string cid = endpoint.cid;
        const std::string sid = millisecondsNow() + "-" + _clientID;
        // Known before the registration, so a new cid is never lost to a
        // failure after the agent has handed it out.
        const std::string sessionText = push::sessionTextOf(info->_rid, endpoint.pxy);
        const int result = registerListener(endpoint.pxy, info->_rid, sid, info->_count, info->_batch, cid);
        if (result == COMMON::SUCCESS && cid != endpoint.cid) {
            push::setRegistration(info, cid, sessionText);
            LOG_WARN("Re-Register consumer success for rid:%s, client:%s, new-server:%s, cid:%s", info->_rid.c_str(),
                     _clientID.c_str(), sessionText.c_str(), cid.c_str());
        } else if (result != COMMON::SUCCESS) {
            LOG_FATAL("Re-Register consumer error:%d, for rid:%s, client:%s, try again later.", result,
                      info->_rid.c_str(), _clientID.c_str());
        }
    }
}

bool KOVAClientLibImpl::recoverConsumerSession(const ConsumerInfoPtr& info, const Ice::Exception& e) {
    const KOVAConsumerStatus status = info->_status;
    LOG_FATAL("For rid:%s,  status:%s, client:%s get session exception:%s, exception-name:%s", info->_rid.c_str(),
              push::statusName(status), _clientID.c_str(), e.what(), e.ice_id().c_str());

    if (routed() && routerSessionGone(e) && !renewRouterSession(info->_rid)) {
        return false;
    }
    return adoptFreshRegisterProxy(info);
}

bool KOVAClientLibImpl::renewRouterSession(const std::string& rid) {
    // A new communicator, router session and routed listener; every proxy of
    // the old communicator is dropped so the next call builds it again.
    if (_clientAdapter->ActiveAdapter(KOVAPushCallback(), true)) {
        uninitAllproxy();
        LOG_WARN("Use router success, and force is true! for register resource:`%s' push", rid.c_str());
        return true;
    }
    LOG_FATAL("Use router failed! for register resource:`%s' push", rid.c_str());
    return false;
}

bool KOVAClientLibImpl::adoptFreshRegisterProxy(const ConsumerInfoPtr& info) {
    if (info->_status != RUNNING) {
        return false;  // a paused consumer is registered again after its resume
    }
    const KOVAAgentPrx fresh = getRegisterProxyByRid(info->_rid, false);
    if (!fresh) {
        // Keep the old proxy: a resume on it then reports a connection that is
        // gone (and succeeds) instead of failing on a null proxy.
        return false;
    }
    push::setProxy(info, fresh);
    return true;
}

void KOVAClientLibImpl::reRegisterConsumer(const ConsumerInfoPtr& info) {
    const std::string sid = millisecondsNow() + "-" + _clientID;
    try {
        const push::ConsumerEndpoint endpoint = push::endpointOf(info);
        std::string cid = endpoint.cid;
        // The cid and the session text are stored together, and only once
        // both are known: nothing may fail between the registration and the
        // store, or the consumer would keep a cid the agent no longer knows.
        const std::string sessionText = push::sessionTextOf(info->_rid, endpoint.pxy);
        const int result = registerListener(endpoint.pxy, info->_rid, sid, info->_count, info->_batch, cid);
        if (result == COMMON::SUCCESS) {
            push::setRegistration(info, cid, sessionText);
            LOG_WARN("Re-Register consumer success for rid:%s, client:%s, new-server:%s", info->_rid.c_str(),
                     _clientID.c_str(), sessionText.c_str());
        } else {
            LOG_FATAL("Re-Register consumer error:%d, for rid:%s, client:%s, try again later.", result,
                      info->_rid.c_str(), _clientID.c_str());
        }
    } catch (const Ice::Exception& e) {
        LOG_FATAL("For rid:%s, client:%s get session exception:%s, try again later.", info->_rid.c_str(),
                  _clientID.c_str(), e.what());
        if (routed() && routerSessionGone(e)) {
            uninitAllproxy();
        }
    }
}

}  // namespace KOVA
