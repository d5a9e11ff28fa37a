// The facade: creation of the process's one client, logging level, push
// consumers and pulls. Produce and re-produce are in KOVAClientLibProduce.cpp.
#include "KOVAClientLib.h"

#include <Glacier2/Router.h>
#include <IceGrid/Session.h>

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>

#include "KOVAClientLibState.h"
#include "KOVALog.h"

namespace KOVA {

namespace {

// A push consumer is registered for single messages, at most this many in
// flight.
const int kPushMaxCount = 100;
const int kPushMaxBatch = 1;

// Guards the creation of the client. Constant-initialised and without work at
// exit, so it is usable at any time.
std::mutex _kovaCliMutex;
// Views of the client for every thread; set once the client is complete and
// cleared only after it has stopped.
std::atomic<KOVAClientManager*> g_liveManager{nullptr};
std::atomic<KOVAClientLib*> g_instance{nullptr};
// Set once the client has stopped at exit. A client built after that would
// have no holder and be freed under its caller, so none is built.
bool g_stopped = false;

// Owns the client until exit. Statics are destroyed in the reverse order of
// their construction, and Ice, the generated Slice code and this library make
// some of theirs on first use: this holder is built only once the client is
// complete, after everything its construction touched, so at exit it goes (and
// the client stops) while those still exist.
struct ClientStatics {
    KOVAClientManagerPtr _kovaCliManager;
    KOVAClientLibPtr _clientInstance;

    // The manager stops first, while the instance is still held, so a
    // callback running during the stop sequence that asks GetInstance() gets
    // the client and not a released handle.
    ~ClientStatics() {
        _kovaCliManager.reset();
        std::lock_guard<std::mutex> lock(_kovaCliMutex);
        g_stopped = true;
        g_liveManager = nullptr;
        g_instance = nullptr;
    }
};

void holdUntilExit(const KOVAClientManagerPtr& manager, const KOVAClientLibPtr& instance) {
    static ClientStatics statics{manager, instance};
}

// Type ids that the engine first needs after start-up (a pull's callback
// agent, the listener, a router session) are made now, before the holder
// above, so that they outlive the client's stop at exit.
void makeTypeIdsNow() {
    KOVA::KOVAAgent::ice_staticId();
    KOVA::KOVACallbackAgent::ice_staticId();
    KOVA::KOVAMessageListener::ice_staticId();
    KOVA::KOVAClient::ice_staticId();
    Glacier2::Router::ice_staticId();
    IceGrid::Session::ice_staticId();
}

// `makeFacade` builds the facade object; only the facade's own members may.
template <typename Configuration, typename Factory>
KOVAClientLibPtr getInstanceFrom(const Configuration& configuration, const std::string& item,
                                 const Factory& makeFacade) {
    // Taken every time: a first call is rare and a lock-free read of the
    // handle would race with its creation.
    std::lock_guard<std::mutex> lock(_kovaCliMutex);
    if (KOVAClientLib* existing = g_instance.load()) {
        return existing;
    }
    if (g_stopped) {
        LOG_FATAL("Init kova client:%s instance error:%s", item.c_str(), "the process is exiting");
        return nullptr;
    }
    try {
        auto manager = std::make_shared<KOVAClientManager>(configuration, item, true, ReProduceCb);
        KOVAClientLibPtr instance = makeFacade();
        makeTypeIdsNow();
        holdUntilExit(manager, instance);
        g_liveManager = manager.get();
        g_instance = instance.get();
        // Only now may the re-produce thread call back into the facade.
        manager->StartReProduce();
        return instance;
    } catch (const std::exception& e) {
        LOG_FATAL("Init kova client:%s instance error:%s", item.c_str(), e.what());
    } catch (...) {
        LOG_FATAL("Init kova client:%s instance unknow error", item.c_str());
    }
    return g_instance.load();
}

TQPublicTool::KOVALog* processLog() { return TQPublicTool::KOVALog::getLogInstance("", "", ""); }

}  // namespace

KOVAClientManager* currentClientManager() { return g_liveManager.load(); }

KOVAClientLibImplPtr engineFor(const std::string& rid) {
    KOVAClientManager* manager = currentClientManager();
    return manager ? manager->getClientHandleByRes(rid) : KOVAClientLibImplPtr();
}

KOVAClientLib::KOVAClientLib() {}

KOVAClientLib::~KOVAClientLib() {}

KOVAClientLibPtr KOVAClientLib::GetInstance(const std::string& config, const std::string& item) {
    return getInstanceFrom(config, item, [] { return KOVAClientLibPtr(new KOVAClientLib()); });
}

KOVAClientLibPtr KOVAClientLib::GetInstance(const std::vector<std::string>& configs, const std::string& item) {
    return getInstanceFrom(configs, item, [] { return KOVAClientLibPtr(new KOVAClientLib()); });
}

std::string KOVAClientLib::Version() {
    static const int64_t __kova_CPPSDKVersion = 102;
    return std::to_string(__kova_CPPSDKVersion);
}

void KOVAClientLib::SetLogLevel(KOVA::COMMON::elogLevel logLevel) { processLog()->setLogLevel(logLevel); }

KOVA::COMMON::elogLevel KOVAClientLib::GetLogLevel() { return processLog()->getLogLevel(); }

bool KOVAClientLib::RegisterPushConsumer(const std::string& rid, KOVA::PushConsumerCallback& cb, void* cookie) {
    KOVAClientManager* manager = currentClientManager();
    if (!manager || !manager->getClientAdapter()->ActiveAdapter(pushConsumerCallback, false)) {
        return false;
    }
    std::shared_ptr<boost::asio::io_context> monitor = manager->getMonitorService();
    KOVAClientLibImplPtr engine = manager->getClientHandleByRes(rid);
    if (!monitor || !engine) {
        // Only while the client exits.
        return false;
    }
    return engine->RegisterPushConsumer(rid, cb, cookie, kPushMaxCount, kPushMaxBatch, *monitor) == 0;
}

int pushConsumerCallback(const std::string& rid, const std::string& sid, const std::string& cid,
                         const std::vector<KOVAMsg::KOVAMessage>& datas, const Ice::Current& cu) {
    KOVAClientLibImplPtr engine = engineFor(rid);
    if (!engine) {
        return KOVA::COMMON::NOT_EXIST;
    }
    return engine->ConsumeCallback(rid, sid, cid, datas, cu);
}

bool KOVAClientLib::PauseConsumer(const std::string& rid) {
    if (KOVAClientLibImplPtr engine = engineFor(rid)) {
        engine->PauseConsume(rid);
    }
    return true;
}

bool KOVAClientLib::ResumeConsumer(const std::string& rid) {
    KOVAClientLibImplPtr engine = engineFor(rid);
    return engine && engine->ResumeConsume(rid) == 0;
}

KOVA::ConsumeStatusPtr KOVAClientLib::Consume(const std::string& rid, std::string& sid, int maxFetch,
                                              const KOVA::COMMON::KOVAProperties& properties, int timeout) {
    KOVAClientLibImplPtr engine = engineFor(rid);
    if (!engine) {
        return new ConsumeStatus(KOVA::COMMON::INTERNAL_ERROR, nullptr);
    }
    return engine->Consume(rid, sid, maxFetch, properties, timeout);
}

int KOVAClientLib::Consume(const std::string& rid, std::string& sid, KOVA::PullConsumerCallback& cb, void* ck,
                           int maxFetch, const KOVA::COMMON::KOVAProperties& properties, int timeout) {
    KOVAClientManager* manager = currentClientManager();
    KOVAClientLibImplPtr engine = engineFor(rid);
    if (!manager || !engine) {
        return KOVA::COMMON::INTERNAL_ERROR;
    }
    return engine->Consume(rid, sid, maxFetch, cb, ck, properties, timeout, manager->getAsyncPullService());
}

}  // namespace KOVA
