// The facade: creation of the process's one client, logging level, push
// consumers and pulls. Produce and re-produce are in KOVAClientLibProduce.cpp.
#include "KOVAClientLib.h"

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

std::atomic<KOVAClientManager*> g_liveManager{nullptr};

// The facade's statics. Built by the first GetInstance(), that is after every
// namespace-scope static of the library and of Ice, so at exit they go before
// any of those: the client stops while everything it uses still exists.
struct ClientStatics {
    KOVAClientManagerPtr _kovaCliManager;
    KOVAClientLibPtr _clientInstance;
    std::mutex _kovaCliMutex;

    // The manager stops first, while the instance handle is still held, so a
    // callback running during the stop sequence that asks GetInstance() gets
    // the client and not a released handle.
    ~ClientStatics() {
        _kovaCliManager.reset();
        g_liveManager = nullptr;
    }
};

ClientStatics& clientStatics() {
    static ClientStatics statics;
    return statics;
}

// `makeFacade` builds the facade object; only the facade's own members may.
template <typename Configuration, typename Factory>
KOVAClientLibPtr getInstanceFrom(const Configuration& configuration, const std::string& item,
                                 const Factory& makeFacade) {
    ClientStatics& statics = clientStatics();
    // Taken every time: a first call is rare and a lock-free read of the
    // handle would race with its creation.
    std::lock_guard<std::mutex> lock(statics._kovaCliMutex);
    if (statics._clientInstance) {
        return statics._clientInstance;
    }
    try {
        auto manager = std::make_shared<KOVAClientManager>(configuration, item, true, ReProduceCb);
        KOVAClientLibPtr instance = makeFacade();
        statics._kovaCliManager = manager;
        g_liveManager = manager.get();
        statics._clientInstance = instance;
        // Only now may the re-produce thread call back into the facade.
        manager->StartReProduce();
    } catch (const std::exception& e) {
        LOG_FATAL("Init kova client:%s instance error:%s", item.c_str(), e.what());
    } catch (...) {
        LOG_FATAL("Init kova client:%s instance unknow error", item.c_str());
    }
    return statics._clientInstance;
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
