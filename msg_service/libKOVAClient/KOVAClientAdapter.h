// Internal (kova_engine).
// KOVA::KOVAClientAdapter: the root object of one client. It owns the Ice
// communicator, settles the configuration (forced Ice settings, thread-pool sizes,
// fail-store settings, which resources need an engine of their own), starts the
// process logger and, on demand, serves the push listener object.
//
// Thread safety: construction runs on one thread before any engine exists. After
// that the settings accessors read fields that never change and may be called from
// any thread without locking: the settings and the listener mode are settled once,
// at construction, and a renewal of the router session builds its communicator
// from the properties settled then, without computing anything again. The
// listener half (ActiveAdapter and the adapter thread) serialises itself on
// _adapterMutex. The communicator, the object adapter, the listener identity and
// the listener proxy are replaced when a router session is renewed: their
// accessors copy them under a leaf lock (_handleMutex). share() and active() read
// atomics. The compiler checks which lock guards which field
// (KOVAThreadAnnotations.h).
//
// Ownership: held through KOVAClientAdapterPtr (reference counted); the manager
// and every engine hold a reference. The adapter owns its communicator and its
// adapter thread: the destructor destroys the one and joins the other, or, on
// a client thread, leaves both to a detached helper (DestroyCommunicator) and
// the adapter is freed while its adapter thread may still run; that thread
// reads nothing of the adapter once the activation is reported.
#pragma once

#include <atomic>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <Glacier2/Router.h>
#include <Glacier2/Session.h>
#include <Ice/Ice.h>
#include <IceUtil/Shared.h>

#include "KOVAMessageService.h"
#include "KOVAMutex.h"

namespace KOVA {

// The process client id: local private IPv4 address (empty when there is none), "-"
// and the process id. Rebuilt by every adapter construction; read by the engines for
// their session ids. An accessor (a copy taken under a lock) rather than a global
// object, so it is usable before main and while another adapter rebuilds it.
std::string _kova_ClientId();

// Hands one pushed batch to the client and returns the reply code for the server.
// Thread: in the shared-connection and router modes, whose pushes arrive on the
// client's Ice threads, a thread of the adapter's push pool (as many threads as
// the server pool's maximum), so that a synchronous remote call made from here
// (pause, resume, produce, pull, registering another consumer) always finds a
// free Ice thread for its reply; with a named adapter, the Ice server thread
// that dispatches the push. Several run at once. It may call the engine and the
// adapter freely, and may drop the last reference to either: both are client
// threads, so the tear-down runs on a detached helper and waits for this push
// to be answered there, not here.
typedef std::function<int(const std::string& rid, const std::string& sid, const std::string& cid,
                          const std::vector<KOVAMsg::KOVAMessage>& msgs, const Ice::Current& current)>
    KOVAPushCallback;

// Starts the process logger (only the first call creates it) and applies logLevel.
// An empty logDir selects $HOME/kovalogs/kova-cpp (the user database's home when
// HOME is unset, /tmp when there is none either).
void initkovaLogger(const std::string& logDir, const std::string& appName, const std::string& logLevel,
                    const std::string& logName);

// Which router the calls of `id` (the adapter id or an agent id) go through, and
// the credentials of its router session: the router `<id>.Router` names, with
// `<id>.Router.User` and `<id>.Router.Password`; without one, the communicator's
// default router (when there is one), with `Ice.Default.Router.User` and
// `Ice.Default.Router.Password`. Unset credentials are empty.
struct RouterLogin {
    std::string router;  // the value of `<id>.Router`; empty: the default router
    std::string user;
    std::string password;
};
RouterLogin ReadRouterLogin(const Ice::PropertiesPtr& props, const std::string& id);

// The router that ReadRouterLogin names for `id`, null when there is none.
// `<id>.Router` is read as a proxy property, so its own sub-keys apply
// (`<id>.Router.InvocationTimeout`, ...), as Ice applies those of
// `Ice.Default.Router` to the default router. A router is never routed itself.
// Without an invocation timeout key of its own it takes the one of the proxy
// property `led`, whose calls it carries (when it is set): opening a router
// session waits no longer than those calls would. `led` is parsed only then,
// so a caller without a router never reads it.
Ice::ObjectPrx RouterProxyFor(const Ice::CommunicatorPtr& ic, const std::string& id, const std::string& led);

// Destroys a communicator that a renewal replaced (internal to the adapter).
class RetiredCommunicator;

// Runs push callbacks off the Ice threads (KOVAPushPool.h).
class KOVAPushPool;

// The one tear-down of a communicator (internal to the adapter): destroy() it,
// which also ends the wait of the adapter thread serving it, then join that
// thread, then the push pool. Any of them may be null. A failure is logged,
// never thrown. On one of the client's own threads (KOVAClientThreads.h) the
// tear-down would wait for that very thread (its dispatch, its pool): it then
// runs on a detached helper thread and this call returns at once.
void DestroyCommunicator(const Ice::CommunicatorPtr& ic, const std::shared_ptr<std::thread>& adapterThread,
                         const std::shared_ptr<KOVAPushPool>& pushPool, const std::string& adapterID);

class KOVAClientAdapter : virtual public IceUtil::Shared {
public:
    // File form: cfgFile is an Ice configuration file. List form: each element is one
    // Key=Value item. item is the adapter id, the prefix of the client's own keys.
    // Both throw std::runtime_error on an invalid configuration ("Config is invalid!",
    // "Invalid locator.", "Invalid proxy.", and for the list form
    // "Invalid config for item:<item>"); Ice exceptions of reading the configuration
    // pass through. No communicator outlives a failed construction.
    KOVAClientAdapter(const std::string& cfgFile, const std::string& item);
    KOVAClientAdapter(const std::vector<std::string>& configs, const std::string& item);
    virtual ~KOVAClientAdapter();

    KOVAClientAdapter(const KOVAClientAdapter&) = delete;
    KOVAClientAdapter& operator=(const KOVAClientAdapter&) = delete;

    // Resources that get an engine of their own: resource id -> the configuration key
    // holding its agent proxy (the resource id itself).
    const std::map<std::string, std::string>& getItems() const { return _rid2ConfigItems; }
    // Effective client thread-pool maximum (at least 1, at most the processor count).
    int getMaxClientPoolSize() const { return _maxCSize; }
    int getMaxServerPoolSize() const { return _maxSSize; }

    // Fail-store settings. An empty store dir disables the fail-store.
    const std::string& getStoreDir() const { return _storeDir; }
    const std::string& getStoreFile() const { return _storeFile; }
    int getMaxFileNums() const { return _maxStoreNums; }
    int getMaxFileSize() const { return _maxStoreSize; }  // bytes
    bool isAsyncFlush() const { return _asyncFlush; }
    const std::string& getRepRid() const { return _replaceRid; }
    int storeSuccessCode() const { return _failStoreCode; }

    // The client UUID of this adapter (name of the listener identity).
    const std::string& getClientID() const { return _clientID; }
    const std::string& getAdapterID() const { return _adapterID; }
    // The default agent's configuration key: adapter id + "Server.Proxy".
    const std::string& getServerAdapterID() const { return _serverAdapterID; }

    // Null only after a failed rebuild of the communicator (see ActiveAdapter).
    Ice::CommunicatorPtr getCommunicator() const EXCLUDES(_handleMutex) {
        MutexLock lock(_handleMutex);
        return _ic;
    }

    // Listener half.
    Ice::ObjectAdapterPtr getAdapter() const EXCLUDES(_handleMutex) {
        MutexLock lock(_handleMutex);
        return _adapter;
    }
    // Name: the client UUID. Category: empty, or behind a router the current
    // router session's category for callbacks (a renewal changes it).
    Ice::Identity getIdentity() const EXCLUDES(_handleMutex) {
        MutexLock lock(_handleMutex);
        return _ident;
    }
    KOVA::KOVAMessageListenerPrx getListenerProxy() const EXCLUDES(_handleMutex) {
        MutexLock lock(_handleMutex);
        return _clientProxy;
    }
    bool share() const { return _shareConn; }
    // The object adapter serving the listener is active.
    bool active() const { return _ok; }

    // Makes the listener object reachable. A non-empty cb replaces the stored push
    // callback (an empty one keeps it). With force and a router, rebuilds the
    // communicator and the router session. True when the listener is served.
    // A dispatch of this adapter's communicator may call it without force (a
    // renewal does not wait for it under the lock), never with force: the
    // renewal waits for the old communicator's dispatches to end.
    bool ActiveAdapter(const KOVAPushCallback& cb, bool force) EXCLUDES(_adapterMutex, _handleMutex);

    // At exit: refuses every later activation (ActiveAdapter gives false; a
    // communicator a renewal builds afterwards is destroyed at once), then
    // destroys the communicator, which waits for pushes in progress. It takes
    // no lock that is held across a remote call: an activation or a renewal
    // in progress (inside createSession under _adapterMutex) fails fast once
    // the communicator is gone. On a client thread the destroy runs on a
    // helper thread (see DestroyCommunicator). The adapter thread is joined
    // by the destructor's tear-down: on a client thread that is the detached
    // helper's, which ends after the adapter is freed.
    void Close() EXCLUDES(_handleMutex);

private:
    // Sets every field to its initial value; the public constructors delegate to it,
    // so the destructor (which destroys the communicator) also runs when they throw.
    KOVAClientAdapter(const std::string& item, const std::string& clientConfig,
                      const std::vector<std::string>& configs);

    void initCommunicator(const std::string& cfg);
    void initCommunicator(const std::vector<std::string>& items);
    void initCommandArgvs(const std::string& cfg);
    void startLoggerFrom(const Ice::PropertiesPtr& props);
    // Validation and the shared-connection rule, once _ic exists.
    void applyCommunicatorSettings();
    void checkAndUpdateConfig();
    void readFailStoreConfig(const Ice::PropertiesPtr& props);
    void checkSeparateResources(const Ice::PropertiesPtr& props);
    void logConfig();

    // Listener half: body of the adapter thread and the listener proxy's creation.
    // Once it has reported the activation, run() waits for the communicator's
    // shutdown and touches nothing of the adapter: the adapter may be gone.
    void run(const KOVAPushCallback& cb, std::promise<bool>* activated);
    bool createClientProxy() REQUIRES(_adapterMutex) EXCLUDES(_handleMutex);
    // Behind the router already in _router (`login`'s, else the default one):
    // opens the router session and makes the routed adapter, whose callbacks
    // take the session's category in `ident`. On the adapter thread, for the
    // activating caller.
    Ice::ObjectAdapterPtr createRoutedAdapter(const Ice::CommunicatorPtr& ic, const RouterLogin& login,
                                              Ice::Identity& ident) REQUIRES(_adapterMutex);
    // Under _adapterMutex: start the adapter thread and wait for its report;
    // hand the communicator and its adapter thread to `retired` (destroyed and
    // joined once the caller has released _adapterMutex) and build a new one from
    // the stored configuration (false, with a null communicator, when that fails).
    bool startAdapterThreadLocked() REQUIRES(_adapterMutex);
    bool rebuildCommunicatorLocked(RetiredCommunicator& retired) REQUIRES(_adapterMutex) EXCLUDES(_handleMutex);
    // False (and `ic` destroyed) once Close() ran.
    bool setCommunicator(const Ice::CommunicatorPtr& ic) EXCLUDES(_handleMutex);
    // The communicator settings every communicator of the adapter gets.
    Ice::InitializationData initializationData(const Ice::PropertiesPtr& props) const;
    // The push pool, made by the first activation that needs it.
    KOVAPushPool* pushPool() REQUIRES(_adapterMutex);

    // ---- Constant after construction (read from any thread without a lock) ----
    std::string _clientConfig;          // "--Ice.Config=<file>" (file form)
    std::vector<std::string> _configs;  // the Key=Value items (list form)
    int _argc;                          // _argv as handed to Ice (file form)
    const char* _argv[64];
    std::string _clientID;
    std::string _adapterID;
    std::string _serverAdapterID;
    int _maxCSize;
    int _maxSSize;
    std::map<std::string, std::string> _rid2ConfigItems;
    std::string _storeDir;
    std::string _storeFile;
    int _maxStoreSize;
    int _maxStoreNums;
    bool _asyncFlush;
    std::string _replaceRid;
    int _failStoreCode;
    // No endpoints of its own (adapter id or ".Endpoints" empty); behind a
    // router it names the routed adapter "".
    bool _endpointless;
    // The communicator's properties once every computed key was written; a
    // renewal builds its communicator from a copy.
    Ice::PropertiesPtr _settledProperties;

    // ---- Atomics: written under _adapterMutex, read anywhere ----
    std::atomic<bool> _ok;             // the object adapter serving the listener is active
    std::atomic<bool> _shareConn;      // listeners registered by identity over the engine's connection
    std::atomic<bool> _closed{false};  // set by Close() under _handleMutex; no activation after it

    // ---- _adapterMutex: serialises activation and renewal; guards ----
    // (the adapter thread writes _router and _sessionPrx on behalf of the
    // activating caller, which holds the mutex while it waits for the thread;
    // the destructor, the last user, reads _app without it)
    Mutex _adapterMutex ACQUIRED_BEFORE(_handleMutex);
    KOVAPushCallback _cb GUARDED_BY(_adapterMutex);
    std::shared_ptr<std::thread> _app GUARDED_BY(_adapterMutex);
    Glacier2::RouterPrx _router GUARDED_BY(_adapterMutex);
    Glacier2::SessionPrx _sessionPrx GUARDED_BY(_adapterMutex);
    // Runs the push callbacks of the modes whose pushes arrive on Ice client
    // threads; made by the first activation that needs it, lives as long as
    // the adapter (shared only to hand it to the tear-down).
    std::shared_ptr<KOVAPushPool> _pushPool GUARDED_BY(_adapterMutex);

    // ---- _handleMutex (a leaf): guards what a renewal replaces ----
    mutable Mutex _handleMutex;
    Ice::CommunicatorPtr _ic GUARDED_BY(_handleMutex);
    Ice::ObjectAdapterPtr _adapter GUARDED_BY(_handleMutex);
    Ice::Identity _ident GUARDED_BY(_handleMutex);
    KOVA::KOVAMessageListenerPrx _clientProxy GUARDED_BY(_handleMutex);
};

typedef IceUtil::Handle<KOVAClientAdapter> KOVAClientAdapterPtr;

}  // namespace KOVA
