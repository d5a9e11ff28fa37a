// Agent session and the proxy families derived from the agent proxy.
#include "KOVAClientLibImpl.h"

#include <algorithm>

#include <IceUtil/Time.h>

#include "KOVAIceFailure.h"
#include "KOVALog.h"

namespace KOVA {

namespace {

// Seconds a locator-resolved endpoint stays cached, so a re-registered agent is
// found again quickly.
const int kLocatorCacheTimeout = 5;

// Every agent proxy chooses its connection anew per call (connection caching
// off), so one broken connection does not pin the engine.
KOVAAgentPrx withAgentSettings(const KOVAAgentPrx& agent) {
    return agent->ice_connectionCached(false)->ice_locatorCacheTimeout(kLocatorCacheTimeout);
}

// The local address of the connection as the agent (or the router) sees us.
// SSL and WebSocket connections keep the IP details in `underlying`. A
// connection without any IP layer (or none at all, for a collocated call)
// gives an empty text rather than failing every produce.
std::string bornHostOf(const Ice::ConnectionPtr& connection) {
    if (!connection) {
        return std::string();
    }
    for (Ice::ConnectionInfoPtr info = connection->getInfo(); info; info = info->underlying) {
        Ice::IPConnectionInfoPtr ip = Ice::IPConnectionInfoPtr::dynamicCast(info);
        if (ip) {
            return ip->localAddress;
        }
    }
    return std::string();
}

const char* masked(const std::string& password) { return password.empty() ? "" : "******"; }

// The router the agent is reached through (checked: a wrong object fails the
// build here); null when there is none. Its calls are bounded like the agent's.
Glacier2::RouterPrx agentRouter(const Ice::CommunicatorPtr& ic, const RouterLogin& login, const std::string& agentID) {
    const Ice::ObjectPrx proxy = RouterProxyFor(ic, agentID, agentID);
    if (!proxy) {
        return Glacier2::RouterPrx();
    }
    const Glacier2::RouterPrx router = Glacier2::RouterPrx::checkedCast(proxy);
    if (!login.router.empty()) {
        LOG_WARN("Enable glacier2 for id:%s, user:%s", agentID.c_str(), login.user.c_str());
    } else {
        LOG_WARN("Enable global glacier2 for id:%s, user:%s pass:%s", agentID.c_str(), login.user.c_str(),
                 masked(login.password));
    }
    return router;
}

// The router session, an IceGrid session kept alive once here. A refused or
// foreign session does not stop the build (null then): the routed call that
// follows reports the failure to whoever uses the proxy.
IceGrid::SessionPrx openIceGridSession(const Glacier2::RouterPrx& router, const RouterLogin& login,
                                       const std::string& agentID) {
    IceGrid::SessionPrx session;
    try {
        Glacier2::SessionPrx routerSession = router->createSession(login.user, login.password);
        if (routerSession) {
            // Unmarshalled with the communicator's defaults: the session lives
            // behind this router (not the default one) and is bounded like it.
            routerSession =
                routerSession->ice_router(router)->ice_invocationTimeout(router->ice_getInvocationTimeout());
        }
        session = IceGrid::SessionPrx::checkedCast(routerSession);
        session->keepAlive();
        LOG_WARN("Create session success for user:`%s', id:`%s'", login.user.c_str(), agentID.c_str());
    } catch (const Ice::Exception& e) {
        LOG_WARN("Create session user:`%s' failed, exception:%s", login.user.c_str(), e.what());
    }
    return session;
}

}  // namespace

KOVAClientLibImpl::KOVAClientLibImpl(const std::string& agentID, const KOVAClientAdapterPtr& clientAdapter)
    : _agentID(agentID),
      _clientID(clientAdapter->getClientID()),
      _clientAdapter(clientAdapter),
      _directPullCount(0),
      _consumers(10) {}

KOVAClientLibImpl::~KOVAClientLibImpl() {}

bool KOVAClientLibImpl::Ping() {
    try {
        initKOVAAgentSession(false);
        currentAgentProxy()->ice_ping();
        return true;
    } catch (const Ice::Exception& e) {
        // A manager that pings again after the router came back must not find
        // the dead session's proxies.
        dropProxiesAfter(e);
        LOG_FATAL("For ping agent:%s get an exception:%s", _agentID.c_str(), e.what());
        return false;
    }
}

KOVAAgentPrx KOVAClientLibImpl::initKOVAAgentSession(bool force) {
    if (!force) {
        KOVAAgentPrx agent = currentAgentProxy();
        if (agent) {
            return agent;
        }
    }
    try {
        MutexLock build(_agentProxyMutex);
        if (!force) {
            KOVAAgentPrx agent = currentAgentProxy();
            if (agent) {
                return agent;
            }
        }
        LOG_INFO("Entering init kova agent:%s.", _agentID.c_str());
        Ice::CommunicatorPtr ic = _clientAdapter->getCommunicator();
        Ice::PropertiesPtr props = ic->getProperties();

        const RouterLogin login = ReadRouterLogin(props, _agentID);
        // Parsed before the router step: a malformed agent proxy costs no router call.
        const Ice::ObjectPrx configured = ic->propertyToProxy(_agentID);
        const Glacier2::RouterPrx router = agentRouter(ic, login, _agentID);
        if (router) {
            {
                MutexLock lock(_agentHandleMutex);
                _router = router;
            }
            const IceGrid::SessionPrx session = openIceGridSession(router, login, _agentID);
            MutexLock lock(_agentHandleMutex);
            _sessionPrx = session;
        }

        KOVAAgentPrx agent = withAgentSettings(KOVAAgentPrx::checkedCast(configured));
        if (router) {
            agent = agent->ice_router(router);
            LOG_WARN("Enable glacier2 success for id:%s", _agentID.c_str());
        }
        _agentInvocationTimeout = agent->ice_getInvocationTimeout();
        {
            MutexLock lock(_agentHandleMutex);
            _agentProxy = agent;
        }
        LOG_INFO("Create kova agent '%s' proxy ok.", _agentID.c_str());
    } catch (const Ice::Exception& e) {
        LOG_FATAL("Create kova agent '%s' proxy failed, error:%s", _agentID.c_str(), e.what());
    }
    return currentAgentProxy();
}

KOVAAgentPrx KOVAClientLibImpl::getRegisterProxyByRid(const std::string& rid, bool force) {
    try {
        KOVAAgentPrx agent = initKOVAAgentSession(force);
        // A fixed proxy bound to the very connection the agent (or the router)
        // is reached on, so pushes come back over a connection we know. Ice
        // gives a fixed proxy no default invocation timeout: it takes the
        // agent proxy's, so an agent that never answers cannot hold
        // registration, pause, resume or the monitor for ever.
        Ice::ConnectionPtr connection = agent->ice_getConnection();
        KOVAAgentPrx registerProxy =
            KOVAAgentPrx::checkedCast(connection->createProxy(agent->ice_getIdentity())
                                          ->ice_invocationTimeout(agent->ice_getInvocationTimeout()));
        const std::string endpoint = connection->getEndpoint()->toString();
        MutexLock lock(_rid2RegPxysMutex);
        _mapRid2RegisterPxyIDs[rid] = endpoint;
        _mapRid2RegisterPxys[rid] = registerProxy;
        return registerProxy;
    } catch (const Ice::Exception& e) {
        LOG_FATAL("Get an exception:%s, while get register push proxy for rid:%s", e.what(), rid.c_str());
        dropProxiesAfter(e);
    }
    return KOVAAgentPrx();
}

void KOVAClientLibImpl::removeRegisterProxyByRid(const std::string& rid) {
    MutexLock lock(_rid2RegPxysMutex);
    _mapRid2RegisterPxyIDs.erase(rid);
    _mapRid2RegisterPxys.erase(rid);
}

void KOVAClientLibImpl::initProduceProxy(bool force) {
    if (!force && currentProduceProxy()) {
        return;
    }
    KOVAAgentPrx agent = initKOVAAgentSession(force);
    // Built outside the family lock: opening the connection is remote work.
    Ice::Context context = agent->ice_getContext();
    context[KOVAMsg::kovasBornHostProperty] = bornHostOf(agent->ice_getConnection());
    KOVAAgentPrx produce = withAgentSettings(agent)->ice_context(context);
    {
        MutexLock lock(_producePxyMutex);
        if (_agentProduceProxy) {
            return;
        }
        _agentProduceProxy = produce;
    }
    LOG_INFO("Create produce proxy for client:%s, cache-timeout:%d", _clientID.c_str(), kLocatorCacheTimeout);
}

void KOVAClientLibImpl::initPullProxy(bool force) {
    if (!force && currentPullProxy()) {
        return;
    }
    KOVAAgentPrx agent = initKOVAAgentSession(force);
    KOVAAgentPrx pull = withAgentSettings(agent);
    {
        MutexLock lock(_pullPxyMutex);
        if (_agentPullProxy) {
            return;
        }
        _agentPullProxy = pull;
    }
    LOG_INFO("Create pull proxy for client:%s, cache-timeout:%d", _clientID.c_str(), kLocatorCacheTimeout);
}

void KOVAClientLibImpl::initAsyncPullProxy(bool force) {
    if (!force && currentAsyncPullProxy()) {
        return;
    }
    KOVAAgentPrx agent = initKOVAAgentSession(force);
    KOVAAgentPrx pull = withAgentSettings(agent);
    {
        MutexLock lock(_asyncPullPxyMutex);
        if (_asyncAgentPullProxy) {
            return;
        }
        _asyncAgentPullProxy = pull;
    }
    LOG_INFO("Create pull proxy for client:%s, cache-timeout:%d", _clientID.c_str(), kLocatorCacheTimeout);
}

void KOVAClientLibImpl::uninitAllproxy() {
    {
        MutexLock lock(_agentHandleMutex);
        _agentProxy = 0;
    }
    {
        MutexLock lock(_producePxyMutex);
        _agentProduceProxy = 0;
    }
    {
        MutexLock lock(_pullPxyMutex);
        _agentPullProxy = 0;
        _directPullProxy = 0;
    }
    {
        MutexLock lock(_asyncPullPxyMutex);
        _asyncAgentPullProxy = 0;
    }
}

bool KOVAClientLibImpl::dropProxiesAfter(const Ice::Exception& e, bool refusedCountsAsLoss) {
    // Proxies of a destroyed communicator are dead whatever the path; the next
    // call builds new ones on the adapter's current communicator.
    const bool lost = ice_failure::isConnectionLost(e) || (refusedCountsAsLoss && ice_failure::isConnectionRefused(e));
    if (ice_failure::isCommunicatorDestroyed(e) || (lost && routed())) {
        uninitAllproxy();
        return true;
    }
    return false;
}

KOVAAgentPrx KOVAClientLibImpl::currentAgentProxy() const {
    MutexLock lock(_agentHandleMutex);
    return _agentProxy;
}

KOVAAgentPrx KOVAClientLibImpl::currentProduceProxy() const {
    MutexLock lock(_producePxyMutex);
    return _agentProduceProxy;
}

KOVAAgentPrx KOVAClientLibImpl::currentPullProxy() const {
    MutexLock lock(_pullPxyMutex);
    return _agentPullProxy;
}

KOVAAgentPrx KOVAClientLibImpl::currentAsyncPullProxy() const {
    MutexLock lock(_asyncPullPxyMutex);
    return _asyncAgentPullProxy;
}

KOVACallbackAgentPrx KOVAClientLibImpl::currentDirectPullProxy() const {
    MutexLock lock(_pullPxyMutex);
    return _directPullProxy;
}

void KOVAClientLibImpl::setDirectPullProxy(const KOVACallbackAgentPrx& prx) {
    MutexLock lock(_pullPxyMutex);
    _directPullProxy = prx;
}

Glacier2::RouterPrx KOVAClientLibImpl::currentRouter() const {
    MutexLock lock(_agentHandleMutex);
    return _router;
}

std::shared_ptr<boost::asio::io_context> KOVAClientLibImpl::adoptAsyncService(
    const std::shared_ptr<boost::asio::io_context>& offered) {
    MutexLock lock(_asyncPullPxyMutex);
    std::shared_ptr<boost::asio::io_context> kept = _asyncPullService.lock();
    // A stopped one would never run a completion again.
    if (!kept || (offered && kept->stopped())) {
        _asyncPullService = offered;
        kept = offered;
    }
    return kept;
}

std::shared_ptr<boost::asio::io_context> KOVAClientLibImpl::currentAsyncService() const {
    MutexLock lock(_asyncPullPxyMutex);
    return _asyncPullService.lock();
}

std::string KOVAClientLibImpl::microsecondsNow() {
    return std::to_string(IceUtil::Time::now(IceUtil::Time::Realtime).toMicroSeconds());
}

std::string KOVAClientLibImpl::millisecondsNow() {
    return std::to_string(IceUtil::Time::now(IceUtil::Time::Realtime).toMilliSeconds());
}

}  // namespace KOVA

namespace KOVA {

void KOVAClientLibImpl::OpenConnections(std::vector<Ice::ConnectionPtr>& out) const {
    const Ice::ObjectPrx proxies[] = {currentAgentProxy(), currentProduceProxy(), currentPullProxy(),
                                      currentAsyncPullProxy(), currentDirectPullProxy()};
    for (const Ice::ObjectPrx& proxy : proxies) {
        if (!proxy) continue;
        try {
            // Only a connection that is already there answers at once: this
            // runs during exit and must neither connect nor wait.
            const Ice::AsyncResultPtr lookup = proxy->begin_ice_getConnection();
            if (!lookup->isCompleted()) continue;
            if (const Ice::ConnectionPtr connection = proxy->end_ice_getConnection(lookup)) {
                if (std::find(out.begin(), out.end(), connection) == out.end()) out.push_back(connection);
            }
        } catch (const std::exception& e) {
            LOG_WARN("No connection of agent:%s to abort:%s", _agentID.c_str(), e.what());
        }
    }
}

}  // namespace KOVA
