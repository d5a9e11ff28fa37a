#include "KOVAClientAdapter.h"

#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "KOVAClientThreads.h"
#include "KOVACommon.h"
#include "KOVAConfigText.h"
#include "KOVALog.h"
#include "KOVAPushPool.h"
#include "PublicTools.h"

namespace KOVA {

namespace {

// Namespace-scope objects here are constant-initialised (character arrays,
// numbers): GetInstance may run from another program's static initialiser,
// before any dynamic initialiser of this library.

// Always given to Ice. In the file form they follow "--Ice.Config=" on the command
// line and so override the file; in the list form they come first (without the
// dashes) and a caller's item for the same key overrides them.
constexpr const char* kForcedOptions[] = {"--Ice.MessageSizeMax=0", "--Ice.BackgroundLocatorCacheUpdates=1",
                                          "--Ice.ACM.Client.Heartbeat=1"};
constexpr size_t kCommandLineDashes = 2;

constexpr char kClientPool[] = "Ice.ThreadPool.Client";
constexpr char kServerPool[] = "Ice.ThreadPool.Server";

const int kDefaultStoreNums = 100;
const int kMinStoreNums = 1;
const int kDefaultStoreSizeMiB = 100;
const int kMinStoreSizeMiB = 20;
// The byte count is a signed 32-bit int: 2048 MiB and more would overflow it.
const int kOverflowStoreSizeMiB = 2048;
const int kMaxStoreSizeMiB = 2000;
const int kMiBShift = 20;
const int kInitialStoreSize = kDefaultStoreSizeMiB << kMiBShift;

std::string ProcessIdText() { return std::to_string(static_cast<long>(getpid())); }

int ProcessorCount() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n);
}

// The sizing rule of one Ice thread pool: the larger of SizeMax and Size, cut to the
// processor count; nothing usable configured (below 1) means the processor count,
// which is then written to SizeMax. Running it twice gives the same result, so it can
// size the properties before Ice::initialize (Ice builds its client pool there) and
// be applied again to the communicator's properties.
int SizeThreadPool(const Ice::PropertiesPtr& props, const std::string& pool) {
    const int cpus = ProcessorCount();
    const std::string maxKey = pool + ".SizeMax";
    int max = props->getPropertyAsIntWithDefault(maxKey, -1);
    const int size = props->getPropertyAsIntWithDefault(pool + ".Size", -1);
    if (max < size) {
        max = size;
    }
    if (max < 1) {
        max = cpus;
        props->setProperty(maxKey, std::to_string(cpus));
    } else if (max > cpus) {
        max = cpus;
    }
    return max;
}

// Settings that only take effect when present before Ice::initialize: the pools are
// created there, and the unknown-property check (which would warn about the
// router's User and Password keys) runs there too.
void PrepareInitProperties(const Ice::PropertiesPtr& props) {
    SizeThreadPool(props, kClientPool);
    SizeThreadPool(props, kServerPool);
    props->setProperty("Ice.Warn.UnknownProperties", "0");
}

// Writes the proxy property `from` into `to` with its sub-keys (a router's User
// and Password, Ice's proxy sub-keys), each unless `to` has it already: an
// inherited route is used as configured.
void InheritProxyProperty(const Ice::PropertiesPtr& props, const std::string& from, const std::string& to) {
    props->setProperty(to, props->getProperty(from));
    for (const auto& entry : props->getPropertiesForPrefix(from + ".")) {
        std::string subKey = entry.first;
        subKey.replace(0, from.size(), to);
        if (props->getProperty(subKey).empty()) {
            props->setProperty(subKey, entry.second);
        }
    }
}

std::string HomeDirectory() {
    if (const char* home = getenv("HOME")) {
        return home;
    }
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof(buffer), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] != '\0') {
        return found->pw_dir;
    }
    return "/tmp";
}

struct ClientIdSlot {
    Mutex mutex;
    std::string id GUARDED_BY(mutex);
};

// Made on first use and never destroyed: threads still producing while the
// process exits read it after static destruction has begun.
ClientIdSlot& clientIdSlot() {
    static ClientIdSlot* slot = new ClientIdSlot();
    return *slot;
}

// Built fresh each time so that a host without a private address gives "-<pid>" and
// never a growing "-<pid>-<pid>".
void RebuildProcessClientId() {
    std::string ip;
    TQPublicTool::GetLocalIP(ip);
    const std::string id = ip + "-" + ProcessIdText();
    ClientIdSlot& slot = clientIdSlot();
    MutexLock lock(slot.mutex);
    slot.id = id;
}

void TearDownNow(const Ice::CommunicatorPtr& ic, const std::shared_ptr<std::thread>& adapterThread,
                 const std::shared_ptr<KOVAPushPool>& pushPool, const std::string& adapterID) {
    if (ic) {
        try {
            ic->destroy();
        } catch (const std::exception& e) {
            LOG_WARN("Destroy communicator of adapter:%s failed:%s", adapterID.c_str(), e.what());
        }
    }
    if (adapterThread && adapterThread->joinable()) {
        adapterThread->join();
    }
    if (pushPool) {
        // Every push it ran has been answered: destroy() waited for them.
        pushPool->join();
    }
}

}  // namespace

std::string _kova_ClientId() {
    ClientIdSlot& slot = clientIdSlot();
    MutexLock lock(slot.mutex);
    return slot.id;
}

RouterLogin ReadRouterLogin(const Ice::PropertiesPtr& props, const std::string& id) {
    RouterLogin login;
    login.router = props->getPropertyWithDefault(id + ".Router", "");
    const std::string prefix = login.router.empty() ? std::string("Ice.Default.Router") : id + ".Router";
    login.user = props->getPropertyWithDefault(prefix + ".User", "");
    login.password = props->getPropertyWithDefault(prefix + ".Password", "");
    return login;
}

Ice::ObjectPrx RouterProxyFor(const Ice::CommunicatorPtr& ic, const std::string& id, const std::string& led) {
    const Ice::PropertiesPtr props = ic->getProperties();
    std::string key = id + ".Router";
    Ice::ObjectPrx router;
    if (!props->getProperty(key).empty()) {
        router = ic->propertyToProxy(key);
    } else {
        key = "Ice.Default.Router";
        router = ic->getDefaultRouter();
    }
    if (!router) {
        return router;
    }
    // Otherwise a router of its own would be reached through the default one.
    router = router->ice_router(nullptr);
    if (props->getProperty(key + ".InvocationTimeout").empty()) {
        const Ice::ObjectPrx carried = ic->propertyToProxy(led);
        if (carried) {
            router = router->ice_invocationTimeout(carried->ice_getInvocationTimeout());
        }
    }
    return router;
}

void initkovaLogger(const std::string& logDir, const std::string& appName, const std::string& logLevel,
                    const std::string& logName) {
    const std::string dir = logDir.empty() ? HomeDirectory() + "/kovalogs/kova-cpp" : logDir;
    const std::string instance = appName.empty() ? ProcessIdText() + "-KOVAClient_kova" : "-" + appName + "_kova";
    TQPublicTool::KOVALog* log = TQPublicTool::KOVALog::getLogInstance(dir, instance, logName);
    if (!logLevel.empty()) {
        log->setLogLevel(logLevel);
    }
}

KOVAClientAdapter::KOVAClientAdapter(const std::string& item, const std::string& clientConfig,
                                     const std::vector<std::string>& configs)
    : _clientConfig(clientConfig),
      _configs(configs),
      _argc(0),
      _argv(),
      _clientID(IceUtil::generateUUID()),
      _adapterID(item),
      _serverAdapterID(item + "Server.Proxy"),
      _maxCSize(0),
      _maxSSize(0),
      _storeDir("/tmp/"),
      _maxStoreSize(kInitialStoreSize),
      _maxStoreNums(kDefaultStoreNums),
      _asyncFlush(true),
      _failStoreCode(COMMON::PRODUCE_MESSAGE_CACHED),
      _endpointless(false),
      _ok(false),
      _shareConn(false) {}

KOVAClientAdapter::KOVAClientAdapter(const std::string& cfgFile, const std::string& item)
    : KOVAClientAdapter(item, "--Ice.Config=" + cfgFile, std::vector<std::string>()) {
    RebuildProcessClientId();
    initCommunicator(_clientConfig);
    _settledProperties = _ic->getProperties()->clone();
    logConfig();
}

KOVAClientAdapter::KOVAClientAdapter(const std::vector<std::string>& configs, const std::string& item)
    : KOVAClientAdapter(item, std::string(), configs) {
    RebuildProcessClientId();
    initCommunicator(_configs);
    _settledProperties = _ic->getProperties()->clone();
    logConfig();
}

void DestroyCommunicator(const Ice::CommunicatorPtr& ic, const std::shared_ptr<std::thread>& adapterThread,
                         const std::shared_ptr<KOVAPushPool>& pushPool, const std::string& adapterID) {
    if (!OnClientThread()) {
        TearDownNow(ic, adapterThread, pushPool, adapterID);
        return;
    }
    // A process that calls exit() from a callback ends without it: the helper
    // is detached and nothing waits for it.
    try {
        std::thread([ic, adapterThread, pushPool, adapterID] {
            TearDownNow(ic, adapterThread, pushPool, adapterID);
        }).detach();
    } catch (const std::exception& e) {
        LOG_FATAL("No thread to destroy the communicator of adapter:%s, left alive:%s", adapterID.c_str(), e.what());
    }
}

KOVAClientAdapter::~KOVAClientAdapter() { DestroyCommunicator(_ic, _app, _pushPool, _adapterID); }

Ice::InitializationData KOVAClientAdapter::initializationData(const Ice::PropertiesPtr& props) const {
    Ice::InitializationData initData;
    initData.properties = props;
    // Marks every Ice thread, so a tear-down on one of them knows not to wait for itself.
    initData.threadHook = ClientThreadHook();
    return initData;
}

void KOVAClientAdapter::initCommandArgvs(const std::string& cfg) {
    _argc = 0;
    _argv[_argc++] = cfg.c_str();
    for (const char* forced : kForcedOptions) {
        _argv[_argc++] = forced;
    }
}

void KOVAClientAdapter::initCommunicator(const std::string& cfg) {
    initCommandArgvs(cfg);
    // Ice consumes the arguments it parses: hand it a copy so _argv stays whole for a
    // rebuild. The properties are read here rather than inside Ice::initialize so the
    // thread pools are sized before Ice creates its client pool.
    int argc = _argc;
    const char* argv[sizeof(_argv) / sizeof(_argv[0])];
    std::copy(_argv, _argv + _argc, argv);
    const Ice::PropertiesPtr props = Ice::createProperties(argc, argv);
    PrepareInitProperties(props);
    setCommunicator(Ice::initialize(initializationData(props), ICE_INT_VERSION));

    startLoggerFrom(getCommunicator()->getProperties());
    applyCommunicatorSettings();
}

void KOVAClientAdapter::initCommunicator(const std::vector<std::string>& items) {
    std::vector<std::string> ordered(items);
    for (const char* forced : kForcedOptions) {
        ordered.insert(ordered.begin(), std::string(forced + kCommandLineDashes));
    }

    Ice::PropertiesPtr props = Ice::createProperties();
    std::string error;
    for (const std::string& item : ordered) {
        const std::vector<std::string> pieces = SplitConfigItem(item);
        if (pieces.size() == 2) {
            props->setProperty(pieces[0], pieces[1]);
        } else {
            error = "Invalid config for item:" + item;
        }
    }
    // The logger comes up even for a bad list, so the failure can be read in it.
    startLoggerFrom(props);
    if (!error.empty()) {
        throw std::runtime_error(error);
    }

    PrepareInitProperties(props);
    setCommunicator(Ice::initialize(initializationData(props), ICE_INT_VERSION));
    applyCommunicatorSettings();
}

void KOVAClientAdapter::startLoggerFrom(const Ice::PropertiesPtr& props) {
    const std::string logDir = TransConfigWithVar(props->getPropertyWithDefault(_adapterID + ".LogDir", ""));
    std::string logName = TransConfigWithVar(props->getPropertyWithDefault(_adapterID + ".LogName", ""));
    if (!logName.empty()) {
        logName += "." + ProcessIdText();
    }
    initkovaLogger(logDir, "", props->getProperty(_adapterID + ".LogLevel"), logName);
}

void KOVAClientAdapter::applyCommunicatorSettings() {
    checkAndUpdateConfig();
    const std::string endpoints =
        getCommunicator()->getProperties()->getPropertyWithDefault(_adapterID + ".Endpoints", "");
    _endpointless = _adapterID.empty() || endpoints.empty();
    _shareConn = _endpointless;
}

void KOVAClientAdapter::checkAndUpdateConfig() {
    const Ice::PropertiesPtr props = getCommunicator()->getProperties();
    _maxCSize = SizeThreadPool(props, kClientPool);
    _maxSSize = SizeThreadPool(props, kServerPool);
    readFailStoreConfig(props);
    checkSeparateResources(props);
}

void KOVAClientAdapter::readFailStoreConfig(const Ice::PropertiesPtr& props) {
    const std::string prefix = _adapterID + ".Fail.";
    _storeDir = TransConfigWithVar(props->getPropertyWithDefault(prefix + "CacheDir", ""));
    _storeFile = TransConfigWithVar(props->getPropertyWithDefault(prefix + "CacheMatch", ""));
    _maxStoreNums = std::max(kMinStoreNums, props->getPropertyAsIntWithDefault(prefix + "CacheNum", kDefaultStoreNums));

    int sizeMiB =
        std::max(kMinStoreSizeMiB, props->getPropertyAsIntWithDefault(prefix + "CacheSize", kDefaultStoreSizeMiB));
    if (sizeMiB >= kOverflowStoreSizeMiB) {
        LOG_WARN("Fail-store size %d MiB of `%sCacheSize' does not fit 32 bits, using %d MiB", sizeMiB, prefix.c_str(),
                 kMaxStoreSizeMiB);
        sizeMiB = kMaxStoreSizeMiB;
    }

    _failStoreCode =
        props->getPropertyAsIntWithDefault(prefix + "EnableSucc", 1) != 0 ? 0 : COMMON::PRODUCE_MESSAGE_CACHED;
    _asyncFlush = !StartsWithIgnoreCase(props->getPropertyWithDefault(prefix + "FlushMode", "async"), "sync");
    _replaceRid = props->getPropertyWithDefault(prefix + "RepRid", "");
    _maxStoreSize = sizeMiB << kMiBShift;
}

void KOVAClientAdapter::checkSeparateResources(const Ice::PropertiesPtr& props) {
    const std::string& server = _serverAdapterID;
    const std::string sLoc = props->getPropertyWithDefault(server + ".Locator", "");
    const std::string sPrx = props->getPropertyWithDefault(server, "");
    const std::string sRouter = props->getPropertyWithDefault(server + ".Router", "");
    const std::string dRouter = props->getPropertyWithDefault("Ice.Default.Router", "");

    if (sLoc.empty() || sPrx.empty()) {
        LOG_WARN("Global adapter config absent for `%s' or `%s.Locator'", server.c_str(), server.c_str());
    }
    props->setProperty("Ice.Warn.UnknownProperties", "0");

    const Ice::StringSeq rids = props->getPropertyAsList(_adapterID + "SeparateRes.List");
    if (rids.empty()) {
        if (sPrx.empty() || (sRouter.empty() && sLoc.empty())) {
            LOG_FATAL("Config is invalid, need config `%s' and (`%s.Locator' or `%s.Router')", server.c_str(),
                      server.c_str(), server.c_str());
            throw std::runtime_error("Config is invalid!");
        }
        return;
    }

    for (const std::string& rid : rids) {
        std::string rRouter = props->getPropertyWithDefault(rid + ".Router", "");
        std::string rLoc = props->getPropertyWithDefault(rid + ".Locator", "");
        const std::string rPrx = props->getPropertyWithDefault(rid, "");

        // A resource without a route of its own inherits the default agent's route,
        // written as properties so that propertyToProxy on the resource id applies it.
        if (rLoc.empty() && rRouter.empty()) {
            if (sLoc.empty() && sRouter.empty() && dRouter.empty()) {
                LOG_FATAL(
                    "The locator or router is invalid for resource:`%s', need config:`%s' or `%s' or "
                    "`Ice.Default.Router'",
                    rid.c_str(), (rid + ".Locator").c_str(), (rid + ".Router").c_str());
                throw std::runtime_error("Invalid locator.");
            }
            if (!sLoc.empty()) {
                rLoc = sLoc;
                InheritProxyProperty(props, server + ".Locator", rid + ".Locator");
            } else if (!sRouter.empty()) {
                rRouter = sRouter;
                InheritProxyProperty(props, server + ".Router", rid + ".Router");
            } else {
                rRouter = dRouter;
            }
        }

        if (rPrx.empty()) {
            if (sPrx.empty()) {
                LOG_FATAL("The proxy is invalid for resource:%s, need config:%s", rid.c_str(), rid.c_str());
                throw std::runtime_error("Invalid proxy.");
            }
            props->setProperty(rid, sPrx);
            continue;
        }

        const bool sameRoute = rLoc == sLoc || rRouter == sRouter || rRouter == dRouter;
        if (rPrx == sPrx && sameRoute) {
            continue;
        }
        _rid2ConfigItems[rid] = rid;
    }
}

void KOVAClientAdapter::logConfig() {
    const Ice::StringSeq options = getCommunicator()->getProperties()->getCommandLineOptions();
    for (const std::string& option : options) {
        LOG_WARN("[INFO] client:`%s' config:`%s'", _kova_ClientId().c_str(), MaskSecretOption(option).c_str());
    }
}

}  // namespace KOVA
