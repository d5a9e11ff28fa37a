// Synchronous and asynchronous produce.
#include <boost/asio/post.hpp>

#include <functional>

#include "KOVAAmiCallback.h"
#include "KOVACallerCallback.h"
#include "KOVAClientLibImpl.h"
#include "KOVALog.h"
#include "OwedCallbacks.h"

namespace KOVA {

namespace {

// The produce proxy's own context (born host first) wins over the caller's
// properties, so a caller cannot forge "__ks1". Without properties the proxy's
// context is sent as it is, without a copy.
const Ice::Context& requestContext(const KOVAAgentPrx& produce, const KOVA::COMMON::KOVAProperties& properties,
                                   Ice::Context& merged) {
    if (properties.empty()) {
        return Ice::noExplicitContext;
    }
    merged = produce->ice_getContext();
    merged.insert(properties.begin(), properties.end());
    return merged;
}

// Everything one issued asynchronous produce needs to finish: shared by its
// response and exception paths, exactly one of which runs.
struct ProduceCompletion {
    std::shared_ptr<boost::asio::io_context> service;
    AsyncProduceCallback ocb;
    void* ck;
};

// The caller's callback always runs on the completion io_context, never on the
// Ice thread that saw the reply. The posted handler carries only the callback,
// the cookie and its queued mark: were it to hold the io_context too, a
// handler left queued on a stopped io_context would keep that io_context
// alive for ever.
// The completion threads belong to the caller's io_context (the manager's
// pool).
void callBack(const AsyncProduceCallback& ocb, int code, void* ck) {
    CallCallerCallback(
        ocb, [&] { return "Produce callback threw for code:" + std::to_string(code); }, code, ck);
}

void deliver(const std::shared_ptr<ProduceCompletion>& completion, int code) {
    boost::asio::post(*completion->service,
                      QueuedCompletion(std::bind(callBack, completion->ocb, code, completion->ck)));
}

// Ice names without the leading "::" of ice_id().
std::string exceptionName(const Ice::Exception& e) {
    std::string id = e.ice_id();
    return id.compare(0, 2, "::") == 0 ? id.substr(2) : id;
}

}  // namespace

int KOVAClientLibImpl::Produce(const std::string& rid, const std::string& _sid, const KOVAMsg::KOVABatchMessage& datas,
                               const KOVA::COMMON::KOVAProperties& properties) {
    const std::string sid = _sid.empty() ? microsecondsNow() + "-" + _kova_ClientId() : _sid;
    int result = 0;
    try {
        initProduceProxy(false);
        KOVAAgentPrx produce = currentProduceProxy();
        Ice::Context merged;
        result = produce->Produce(rid, sid, datas, requestContext(produce, properties, merged));
        LOG_INFO("Produce success for resource:%s, session:%s, data count:%d", rid.c_str(), sid.c_str(),
                 static_cast<int>(datas.size()));
    } catch (const Ice::Exception& e) {
        dropProxiesAfter(e);
        LOG_FATAL("Produce failed for rid:%s sid:%s exception:%s", rid.c_str(), sid.c_str(), e.what());
        result = KOVA::COMMON::INTERNAL_ERROR;
    }
    return result;
}

int KOVAClientLibImpl::Produce(const std::string& rid, const std::string& _sid, const KOVAMsg::KOVABatchMessage& datas,
                               const KOVA::COMMON::KOVAProperties& properties, KOVA::AsyncProduceCallback ocb, void* ck,
                               std::shared_ptr<boost::asio::io_context> asycPullService) {
    const std::string sid = _sid.empty() ? microsecondsNow() + "-" + _kova_ClientId() : _sid;
    try {
        initProduceProxy(false);
        std::shared_ptr<ProduceCompletion> completion(
            new ProduceCompletion{adoptAsyncService(asycPullService), std::move(ocb), ck});
        if (!completion->service) {
            // Nowhere to deliver a completion: refuse before issuing.
            LOG_FATAL("Produce Failed for rid:%s sid:%s exception:%s", rid.c_str(), sid.c_str(),
                      "no io_context for completions");
            return KOVA::COMMON::INTERNAL_ERROR;
        }
        KOVAAgentPrx produce = currentProduceProxy();
        Ice::Context merged;
        const Ice::Context& context = requestContext(produce, properties, merged);
        std::weak_ptr<KOVAClientLibImpl> engine = weak_from_this();
        produce->begin_Produce(rid, sid, datas, context,
                               newAgentProduceCallback([completion](Ice::Int code) { deliver(completion, code); },
                                                       [completion, engine](const Ice::Exception& e) {
                                                           LOG_WARN("Produce get exception:%s, excp-name:%s", e.what(),
                                                                    exceptionName(e).c_str());
                                                           deliver(completion, KOVA::COMMON::INTERNAL_ERROR);
                                                           // A reference to the engine taken on this Ice thread
                                                           // could be its last, and releasing it here would
                                                           // destroy the communicator of this very thread: the
                                                           // drop runs on the completion io_context instead.
                                                           std::shared_ptr<const Ice::Exception> failure(e.ice_clone());
                                                           boost::asio::post(*completion->service, [engine, failure]() {
                                                               if (KOVAClientLibImplPtr self = engine.lock()) {
                                                                   self->dropProxiesAfter(*failure);
                                                               }
                                                           });
                                                       }));
        LOG_INFO("Async Produce for resource:%s, session:%s, data count:%d", rid.c_str(), sid.c_str(),
                 static_cast<int>(datas.size()));
        return 0;
    } catch (const Ice::Exception& e) {
        dropProxiesAfter(e, true);
        LOG_FATAL("Produce Failed for rid:%s sid:%s exception:%s", rid.c_str(), sid.c_str(), e.what());
        return KOVA::COMMON::INTERNAL_ERROR;
    }
}

}  // namespace KOVA
