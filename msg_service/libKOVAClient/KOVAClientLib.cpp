// The facade: creation of the process's one client, logging level, push
// consumers and pulls. Produce and re-produce are in KOVAClientLibProduce.cpp.
#include "KOVAClientLib.h"

#include <Glacier2/Router.h>
#include <IceGrid/Session.h>

#include <exception>
#include <memory>
#include <type_traits>

#include "KOVAClientLibState.h"
#include "KOVALog.h"
#include "KOVAMutex.h"

namespace KOVA {

namespace {

// A push consumer is registered for single messages, at most this many in
// flight.
const int kPushMaxCount = 100;
const int kPushMaxBatch = 1;

// Guards the creation of the client (the state it publishes is atomics, see
// KOVAClientLibState.h). Constant-initialised (KOVA::Mutex's constructor is
// std::mutex's, constexpr) and without work at exit, so it is usable at any time.
Mutex _kovaCliMutex;
static_assert(std::is_trivially_destructible<Mutex>::value, "the creation mutex must outlive every static");

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
KOVAClientLibPtr getInstanceFrom(const Configuration& configuration, const std::string& item, const Factory& makeFacade)
    EXCLUDES(_kovaCliMutex) {
    GetInstanceInProgress inProgress;
    if (InForkedChild()) {
        // The parent's client; its locks may have been held by threads that
        // do not exist here, so nothing (not even the log) is touched.
        return nullptr;
    }
    // Taken every time: a first call is rare and a lock-free read of the
    // handle would race with its creation.
    MutexLock lock(_kovaCliMutex);
    if (KOVAClientLib* existing = PublishedInstance()) {
        return existing;
    }
    if (ClientStopping()) {
        LOG_FATAL("Init kova client:%s instance error:%s", item.c_str(), "the process is exiting");
        return nullptr;
    }
    try {
        auto manager = std::make_shared<KOVAClientManager>(configuration, item, true, ReProduceCb);
        KOVAClientLibPtr instance = makeFacade();
        makeTypeIdsNow();
        AdoptClient(manager, instance);
        // Only now may the re-produce thread call back into the facade.
        manager->StartReProduce();
        return instance;
    } catch (const std::exception& e) {
        LOG_FATAL("Init kova client:%s instance error:%s", item.c_str(), e.what());
    } catch (...) {
        LOG_FATAL("Init kova client:%s instance unknow error", item.c_str());
    }
    return PublishedInstance();
}

TQPublicTool::KOVALog* processLog() { return TQPublicTool::KOVALog::getLogInstance("", "", ""); }

}  // namespace

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
    ClientCall call;
    KOVAClientManager* manager = call.manager();
    if (!manager || !manager->getClientAdapter()->ActiveAdapter(pushConsumerCallback, false)) {
        return false;
    }
    std::shared_ptr<boost::asio::io_context> monitor = manager->getMonitorService();
    KOVAClientLibImplPtr engine = manager->getClientHandleByRes(rid);
    if (!monitor || !engine) {
        return false;
    }
    return engine->RegisterPushConsumer(rid, cb, cookie, kPushMaxCount, kPushMaxBatch, *monitor) == 0;
}

int pushConsumerCallback(const std::string& rid, const std::string& sid, const std::string& cid,
                         const std::vector<KOVAMsg::KOVAMessage>& datas, const Ice::Current& cu) {
    ClientCall call;
    KOVAClientLibImplPtr engine = call.engine(rid);
    if (!engine) {
        return KOVA::COMMON::NOT_EXIST;
    }
    return engine->ConsumeCallback(rid, sid, cid, datas, cu);
}

bool KOVAClientLib::PauseConsumer(const std::string& rid) {
    ClientCall call;
    if (KOVAClientLibImplPtr engine = call.engine(rid)) {
        engine->PauseConsume(rid);
    }
    return true;
}

bool KOVAClientLib::ResumeConsumer(const std::string& rid) {
    ClientCall call;
    KOVAClientLibImplPtr engine = call.engine(rid);
    return engine && engine->ResumeConsume(rid) == 0;
}

KOVA::ConsumeStatusPtr KOVAClientLib::Consume(const std::string& rid, std::string& sid, int maxFetch,
                                              const KOVA::COMMON::KOVAProperties& properties, int timeout) {
    ClientCall call;
    KOVAClientLibImplPtr engine = call.engine(rid);
    if (!engine) {
        return new ConsumeStatus(KOVA::COMMON::INTERNAL_ERROR, nullptr);
    }
    return engine->Consume(rid, sid, maxFetch, properties, timeout);
}

int KOVAClientLib::Consume(const std::string& rid, std::string& sid, KOVA::PullConsumerCallback& cb, void* ck,
                           int maxFetch, const KOVA::COMMON::KOVAProperties& properties, int timeout) {
    ClientCall call;
    KOVAClientLibImplPtr engine = call.engine(rid);
    if (!engine) {
        return KOVA::COMMON::INTERNAL_ERROR;
    }
    // The session id is settled first: the stop may have to call back with it.
    // A copy of the callback: the caller's stays as it was, for its next call.
    KOVAClientLibImpl::fillPullSid(sid);
    OwedCallbackPtr claim;
    PullConsumerCallback owed = OwedPullCallback(cb, rid, sid, ck, &claim);
    const int code =
        engine->Consume(rid, sid, maxFetch, owed, ck, properties, timeout, call.manager()->getAsyncPullService());
    if (code != 0 && !Claim(claim)) {
        // The stop called back meanwhile (a status of 100): that was the
        // caller's one answer, and 0 promises exactly one.
        return 0;
    }
    return code;
}

}  // namespace KOVA
