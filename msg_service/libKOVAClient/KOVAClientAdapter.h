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
// atomics.
//
// Ownership: held through KOVAClientAdapterPtr (reference counted); the manager
// and every engine hold a reference. The adapter owns its communicator and its
// adapter thread: the destructor destroys the one and joins the other.
#pragma once

#include <atomic>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <Glacier2/Router.h>
#include <Glacier2/Session.h>
#include <Ice/Ice.h>
#include <IceUtil/Shared.h>

#include "KOVAMessageService.h"

namespace KOVA {

// The process client id: local private IPv4 address (empty when there is none), "-"
// and the process id. Rebuilt by every adapter construction; read by the engines for
// their session ids.
extern std::string _kova_ClientId;

// Hands one pushed batch to the client and returns the reply code for the server.
// Thread: in the shared-connection and router modes, whose pushes arrive on the
// client's Ice threads, a thread of the adapter's push pool (as many threads as
// the server pool's maximum), so that a synchronous remote call made from here
// (pause, resume, produce, pull, registering another consumer) always finds a
// free Ice thread for its reply; with a named adapter, the Ice server thread
// that dispatches the push. Several run at once. It may call the engine and the
// adapter freely, but must not drop the last reference to either: their
// destruction waits for the push being answered.
typedef std::function<int(const std::string& rid, const std::string& sid, const std::string& cid,
                          const std::vector<KOVAMsg::KOVAMessage>& msgs, const Ice::Current& current)>
    KOVAPushCallback;

// Replaces every ${NAME} in `value` by the environment variable NAME (empty when
// unset). Plain text substitution: the rest of the value is copied untouched.
std::string TransConfigWithVar(const std::string& value);

// Starts the process logger (only the first call creates it) and applies logLevel.
// An empty logDir selects $HOME/kovalogs/kova-cpp (the user database's home when
// HOME is unset, /tmp when there is none either).
void initkovaLogger(const std::string& logDir, const std::string& appName, const std::string& logLevel,
                    const std::string& logName);

// Destroys a communicator that a renewal replaced (internal to the adapter).
class RetiredCommunicator;

// The one tear-down of a communicator (internal to the adapter): destroy() it,
// which also ends the wait of the adapter thread serving it, then join that
// thread. Either may be null. A failure is logged, never thrown.
void DestroyCommunicator(const Ice::CommunicatorPtr& ic, const std::shared_ptr<std::thread>& adapterThread,
                         const std::string& adapterID);

}  // namespace KOVA

namespace KOVA {

class KOVAPushPool;

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
    Ice::CommunicatorPtr getCommunicator() const {
        std::lock_guard<std::mutex> lock(_handleMutex);
        return _ic;
    }

    // Listener half.
    Ice::ObjectAdapterPtr getAdapter() const {
        std::lock_guard<std::mutex> lock(_handleMutex);
        return _adapter;
    }
    // Name: the client UUID. Category: empty, or behind a router the current
    // router session's category for callbacks (a renewal changes it).
    Ice::Identity getIdentity() const {
        std::lock_guard<std::mutex> lock(_handleMutex);
        return _ident;
    }
    KOVA::KOVAMessageListenerPrx getListenerProxy() const {
        std::lock_guard<std::mutex> lock(_handleMutex);
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
    bool ActiveAdapter(const KOVAPushCallback& cb, bool force);

    // At exit: refuses every later activation (ActiveAdapter gives false), then
    // destroys the communicator, which waits for pushes in progress. The destroy
    // runs outside _adapterMutex because a push callback may be waiting for it in
    // ActiveAdapter. The adapter thread is joined by the destructor.
    void Close();

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
    void run(const KOVAPushCallback& cb, std::promise<bool>* activated);
    bool createClientProxy();
    // Under _adapterMutex: start the adapter thread and wait for its report;
    // hand the communicator and its adapter thread to `retired` (destroyed and
    // joined once the caller has released _adapterMutex) and build a new one from
    // the stored configuration (false, with a null communicator, when that fails).
    bool startAdapterThreadLocked();
    bool rebuildCommunicatorLocked(RetiredCommunicator& retired);
    void reportActivationFailure(const Ice::ObjectAdapterPtr& adapter, bool reported, std::promise<bool>* activated,
                                 const char* what);
    void setCommunicator(const Ice::CommunicatorPtr& ic);
    // The push pool, made by the first activation that needs it.
    KOVAPushPool* pushPool();

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
    std::atomic<bool> _closed{false};  // set by Close(); no activation after it

    // ---- _adapterMutex: serialises activation and renewal; guards ----
    // (the adapter thread writes _router and _sessionPrx on behalf of the
    // activating caller, which holds the mutex while it waits for the thread)
    std::mutex _adapterMutex;
    KOVAPushCallback _cb;
    std::shared_ptr<std::thread> _app;
    Glacier2::RouterPrx _router;
    Glacier2::SessionPrx _sessionPrx;
    // Runs the push callbacks of the modes whose pushes arrive on Ice client
    // threads; made by the first activation that needs it, lives as long as
    // the adapter.
    std::unique_ptr<KOVAPushPool> _pushPool;

    // ---- _handleMutex (a leaf): guards what a renewal replaces ----
    mutable std::mutex _handleMutex;
    Ice::CommunicatorPtr _ic;
    Ice::ObjectAdapterPtr _adapter;
    Ice::Identity _ident;
    KOVA::KOVAMessageListenerPrx _clientProxy;
};

typedef IceUtil::Handle<KOVAClientAdapter> KOVAClientAdapterPtr;

}  // namespace KOVA
