// Listener half of the client adapter: activation of the object adapter that
// serves the push listener, the adapter thread, the listener proxy, and the
// rebuild of the communicator when a router session has to be renewed.
#include "KOVAClientAdapter.h"

#include <Glacier2/Glacier2.h>

#include <algorithm>
#include <stdexcept>

#include "KOVALog.h"
#include "KOVAMessageListenerI.h"
#include "KOVAPushPool.h"

namespace KOVA {

namespace {

// The adapter thread's failure. Not a member: once the activation has been
// reported the adapter may be gone.
void ReportRunFailure(const std::string& clientID, const Ice::ObjectAdapterPtr& adapter, bool reported,
                      std::promise<bool>* activated, const char* what) {
    if (reported) {
        LOG_FATAL("KOVA client id:%s exit, exception:%s", clientID.c_str(), what);
        return;
    }
    LOG_FATAL("Active the client communicator failed, get exception:%s", what);
    if (adapter) {
        // A communicator takes one routed adapter per router: a half-made one
        // would make every retry fail.
        try {
            adapter->destroy();
        } catch (...) {
        }
    }
    activated->set_value(false);
}

}  // namespace

// The communicator and adapter thread that a renewal replaced. They are
// destroyed on a thread of their own and waited for only after _adapterMutex
// is released: a dispatch of that communicator (a push callback that
// registers a consumer) may be waiting for _adapterMutex, and destroy() waits
// for every dispatch to end.
class RetiredCommunicator {
public:
    RetiredCommunicator() = default;
    RetiredCommunicator(const RetiredCommunicator&) = delete;
    RetiredCommunicator& operator=(const RetiredCommunicator&) = delete;
    ~RetiredCommunicator() {
        if (_destroyer.joinable()) {
            _destroyer.join();
        }
    }

    void retire(const Ice::CommunicatorPtr& ic, const std::shared_ptr<std::thread>& adapterThread,
                const std::string& adapterID) {
        // Takes the routed adapter, the router session and every connection
        // with the old communicator.
        _destroyer =
            std::thread([ic, adapterThread, adapterID] { DestroyCommunicator(ic, adapterThread, nullptr, adapterID); });
    }

private:
    std::thread _destroyer;
};

bool KOVAClientAdapter::ActiveAdapter(const KOVAPushCallback& cb, bool force) {
    // Declared before the lock so that it is waited for after the lock is
    // released: the caller still returns only once the old communicator is gone.
    RetiredCommunicator retired;
    MutexLock lock(_adapterMutex);
    if (_closed) {
        // The client is exiting: nothing may build a communicator again.
        return false;
    }
    // _router is written by the adapter thread before it reports through the
    // promise, and read here only after an earlier activation has reported.
    const bool renewRouterSession = force && _router;
    if (_ok && !renewRouterSession) {
        // A listener proxy that could not be made earlier is tried again, so a
        // registration never goes out without one.
        if (!_shareConn && !getListenerProxy()) {
            return createClientProxy();
        }
        return true;
    }
    // The monitor re-activates with an empty callback: the one given first
    // must keep serving pushes, whatever happened in between.
    if (cb) {
        _cb = cb;
    }
    if (renewRouterSession) {
        // Also after a failed re-activation (_ok false): that communicator's
        // router connection has no usable session and may hold a half-made
        // routed adapter, so only a fresh communicator can succeed.
        LOG_WARN("Re Active adapter for client:%s, adapter:%s", _kova_ClientId().c_str(), _adapterID.c_str());
        if (!rebuildCommunicatorLocked(retired)) {
            return false;
        }
    } else if (!getCommunicator()) {
        // An earlier rebuild failed; without a communicator nothing can be served.
        if (!rebuildCommunicatorLocked(retired)) {
            return false;
        }
    }
    return startAdapterThreadLocked();
}

void KOVAClientAdapter::Close() {
    // Not _adapterMutex: a renewal holds it across the router's createSession,
    // which only the destroy below cuts short.
    Ice::CommunicatorPtr ic;
    {
        MutexLock handles(_handleMutex);
        _closed = true;
        ic = _ic;
    }
    // Waits for dispatches in progress (pushes); outstanding asynchronous calls
    // complete with CommunicatorDestroyedException. A renewal that has swapped
    // the communicator out destroys the old one itself and refuses the new one.
    DestroyCommunicator(ic, nullptr, nullptr, _adapterID);
}

bool KOVAClientAdapter::startAdapterThreadLocked() {
    // Shared with the thread: it may still be inside set_value when this
    // caller has its answer and returns.
    auto activated = std::make_shared<std::promise<bool>>();
    std::future<bool> outcome = activated->get_future();
    if (_app && _app->joinable()) {
        _app->join();
    }
    _app = std::make_shared<std::thread>([this, cb = _cb, activated] { run(cb, activated.get()); });
    _ok = outcome.get();
    if (!_ok) {
        LOG_FATAL("EMERGE: Create client server for '%s' failed!", _clientID.c_str());
        if (_app->joinable()) {
            _app->join();
        }
        return false;
    }
    return createClientProxy();
}

bool KOVAClientAdapter::rebuildCommunicatorLocked(RetiredCommunicator& retired) {
    Ice::CommunicatorPtr old;
    {
        MutexLock handles(_handleMutex);
        old.swap(_ic);
        _adapter = 0;
        // Points at the old router session; a new one is made with the new adapter.
        _clientProxy = 0;
    }
    _ok = false;
    // A routed adapter takes no endpoints of its own, so the new communicator
    // can be built while the old one is still being destroyed.
    retired.retire(old, _app, _adapterID);
    _app.reset();
    try {
        // The settings and the listener mode stay as settled at construction:
        // engines, the manager and the fail-store read them from other threads
        // without a lock. Only the communicator is new, with the same properties.
        return setCommunicator(Ice::initialize(initializationData(_settledProperties->clone()), ICE_INT_VERSION));
    } catch (const std::exception& e) {
        LOG_FATAL("Rebuild the communicator of adapter:%s failed, exception:%s", _adapterID.c_str(), e.what());
        return false;
    }
}

void KOVAClientAdapter::run(const KOVAPushCallback& cb, std::promise<bool>* activated) {
    // Not held by this thread, but by the activating caller, which waits for
    // the report below and so serialises every write here with the others.
    _adapterMutex.assertHeld();
    // Once activation is reported, the adapter may be freed while this thread
    // still waits: its last reference may go on a client thread, where the
    // destructor leaves the join to a detached helper. From then on this
    // thread reads only its own copies.
    const std::string clientID = _clientID;
    bool reported = false;
    Ice::ObjectAdapterPtr adapter;
    try {
        const Ice::CommunicatorPtr ic = getCommunicator();
        if (!ic) {
            throw std::runtime_error("the client communicator is gone");
        }
        Ice::Identity ident;
        ident.name = _clientID;

        const Ice::PropertiesPtr props = ic->getProperties();
        const RouterLogin login = ReadRouterLogin(props, _adapterID);
        // The activating caller waits for this thread: the router step is
        // bounded by the invocation timeout of the default agent's calls.
        _router = Glacier2::RouterPrx::uncheckedCast(RouterProxyFor(ic, _adapterID, _serverAdapterID));

        const bool routed = _router;
        // Pushes that arrive over our own outgoing connections (routed or
        // shared) are dispatched on the client pool, which also reads the
        // replies of every call a callback makes: they run on the push pool.
        KOVAMessageListenerIPtr servant = new KOVAMessageListenerI(cb, routed || _endpointless ? pushPool() : nullptr);
        if (routed) {
            adapter = createRoutedAdapter(ic, login, ident);
        } else if (_shareConn) {
            LOG_WARN("Open bidir connection for id:%s, client:%s", _adapterID.c_str(), _clientID.c_str());
            adapter = ic->createObjectAdapter("");
        } else {
            adapter = ic->createObjectAdapter(_adapterID);
        }
        adapter->add(servant, ident);
        adapter->activate();
        {
            MutexLock handles(_handleMutex);
            _adapter = adapter;
            _ident = ident;
        }
        _ok = true;
        LOG_INFO("Active kova client success client id:%s, adapter:%s", _clientID.c_str(), _adapterID.c_str());
        reported = true;
        activated->set_value(true);
        ic->waitForShutdown();
        LOG_FATAL("KOVA client id:%s exit...", clientID.c_str());
    } catch (const std::exception& e) {
        ReportRunFailure(clientID, adapter, reported, activated, e.what());
    } catch (...) {
        ReportRunFailure(clientID, adapter, reported, activated, "unknown exception");
    }
}

Ice::ObjectAdapterPtr KOVAClientAdapter::createRoutedAdapter(const Ice::CommunicatorPtr& ic, const RouterLogin& login,
                                                             Ice::Identity& ident) {
    // Behind a router the listener is always registered by proxy.
    _shareConn = false;
    if (!login.router.empty()) {
        LOG_WARN("Active adapter use router:`%s' for adapterid:%s", login.router.c_str(), _adapterID.c_str());
    } else {
        LOG_WARN("Active adapter use router:`Ice.Default.Router' for adapterid:%s", _adapterID.c_str());
    }
    try {
        _sessionPrx = _router->createSession(login.user, login.password);
    } catch (const Glacier2::CannotCreateSessionException& e) {
        // Typically "session exists": an engine of this communicator
        // opened the session on the shared router connection already.
        LOG_FATAL("create session for client adapter failed get exception:%s, reason:%s", e.what(), e.reason.c_str());
    }
    // Glacier2 routes callbacks by the session's category, so the
    // identity follows each new router session.
    ident.category = _router->getCategoryForClient();
    Ice::ObjectAdapterPtr adapter = ic->createObjectAdapterWithRouter(_endpointless ? "" : _adapterID, _router);
    LOG_WARN("Active adapter use router:`%s' success for adapterid:%s success.", login.router.c_str(),
             _adapterID.c_str());
    return adapter;
}

KOVAPushPool* KOVAClientAdapter::pushPool() {
    if (!_pushPool) {
        _pushPool = std::make_shared<KOVAPushPool>(_maxSSize);
    }
    return _pushPool.get();
}

bool KOVAClientAdapter::setCommunicator(const Ice::CommunicatorPtr& ic) {
    {
        MutexLock handles(_handleMutex);
        if (!_closed) {
            _ic = ic;
            return true;
        }
    }
    LOG_WARN("The client adapter:%s is closed, the new communicator is destroyed", _adapterID.c_str());
    DestroyCommunicator(ic, nullptr, nullptr, _adapterID);
    return false;
}

bool KOVAClientAdapter::createClientProxy() {
    if (_shareConn) {
        LOG_WARN("Use bidir, proxy not used!");
        return true;
    }
    try {
        const Ice::ObjectAdapterPtr adapter = getAdapter();
        if (!adapter) {
            throw IceUtil::NullHandleException(__FILE__, __LINE__);
        }
        KOVAMessageListenerPrx proxy = KOVAMessageListenerPrx::uncheckedCast(adapter->createProxy(getIdentity()));
        MutexLock handles(_handleMutex);
        _clientProxy = proxy;
        return true;
    } catch (const std::exception& e) {
        LOG_ERROR("Init client proxy failed for cliendid:%s, error:%s", _clientID.c_str(), e.what());
        return false;
    }
}

}  // namespace KOVA
