// The facade's produce forms with their fail-store policy, and the re-produce
// callback that the manager's re-produce thread calls for each stored batch.
#include <boost/asio/post.hpp>

#include <exception>

#include "KOVAClientLib.h"
#include "KOVAClientLibState.h"
#include "KOVALog.h"
#include "ProduceConversion.h"

namespace KOVA {

namespace {

const int kEncodingFailed = -1;
const char* const kReProduceSid = "dummysid";

bool toBatch(const std::vector<OMessage>& datas, KOVAMsg::KOVABatchMessage& batch) {
    batch.resize(datas.size());
    for (size_t i = 0; i < datas.size(); ++i) {
        if (!OMessageToKOVAMessage(datas[i], batch[i])) {
            return false;
        }
    }
    return true;
}

// The older forms' encoding: with `trans`, a compressed type means the caller
// encoded the body already.
COMMON::IEncodingType effectiveEncoding(COMMON::IEncodingType etype, bool trans) {
    if (!trans) {
        return etype;
    }
    switch (etype) {
        case COMMON::E_GZIP: return COMMON::E_TGZIP;
        case COMMON::E_LZ4: return COMMON::E_TLZ4;
        case COMMON::E_ZSTD: return COMMON::E_TZSTD;
        default: return etype;
    }
}

bool bodiesToBatch(const std::string* bodies, size_t count, COMMON::IEncodingType etype, bool trans,
                   KOVAMsg::KOVABatchMessage& batch) {
    const COMMON::IEncodingType encoding = effectiveEncoding(etype, trans);
    batch.resize(count);
    for (size_t i = 0; i < count; ++i) {
        OMessage message;
        message.SetEtype(encoding);
        message.SetMessage(bodies[i]);
        if (!OMessageToKOVAMessage(message, batch[i])) {
            return false;
        }
    }
    return true;
}

// A message-list produce made ready: the batch, or (`failed` not 0) the code
// the call returns without sending.
struct ListProduce {
    KOVAMsg::KOVABatchMessage batch;
    int failed = 0;
};

// The client is asked first: while it stops, nothing (the message
// conversion's constants included) may be touched.
ListProduce prepareProduce(const ClientCall& call, const std::vector<OMessage>& datas) {
    ListProduce ready;
    if (!call.manager()) {
        ready.failed = COMMON::INTERNAL_ERROR;
    } else if (!toBatch(datas, ready.batch)) {
        ready.failed = kEncodingFailed;
    }
    return ready;
}

bool hasStoreKey(const COMMON::KOVAProperties& properties) {
    return properties.find(COMMON::KOVA_STORE_PROPERTY) != properties.end();
}

int storeSuccessCode(KOVAClientManager& manager) { return manager.getClientAdapter()->storeSuccessCode(); }

// The callback of an asynchronous produce that the facade settled itself (the
// batch was stored): on the asynchronous pool like every other completion, so
// that a caller holding its own lock across Produce() may take it in the
// callback. Without a pool: while the client stops, the stop runs it; in
// place only when the system refused the pool's threads.
void callBackLater(KOVAClientManager& manager, const AsyncProduceCallback& cb, int code, void* cookie) {
    std::shared_ptr<boost::asio::io_context> pool = manager.getAsyncPullService();
    if (pool) {
        const AsyncProduceCallback owed = OwedProduceCallback(cb, cookie, code);
        boost::asio::post(*pool, QueuedCompletion([owed, code, cookie] { CallProduceCallback(owed, code, cookie); }));
    } else if (ClientStopping()) {
        OweUntilStop(cb, code, cookie);
    } else {
        CallProduceCallback(cb, code, cookie);
    }
}

// "STORE" asked: the batch goes to the fail-store only, without the key.
int storeOnly(KOVAClientManager& manager, const std::string& rid, const KOVAMsg::KOVABatchMessage& batch,
              const COMMON::KOVAProperties& properties) {
    COMMON::KOVAProperties stored(properties);
    stored.erase(COMMON::KOVA_STORE_PROPERTY);
    return manager.Store(rid, batch, stored) ? storeSuccessCode(manager) : COMMON::PRODUCE_MESSAGE_CACHED_FAIL;
}

// What the engine calls back when an asynchronous produce ends: with the
// fail-store on, a failed batch is stored first and the caller told the
// store-success code. Runs on the asynchronous pool, which the manager drains
// before it goes (or, stopped from one of its own threads, is never freed),
// so the plain manager pointer stays valid.
AsyncProduceCallback completionFor(KOVAClientManager& manager, const std::string& rid,
                                   const KOVAMsg::KOVABatchMessage& batch, const COMMON::KOVAProperties& properties,
                                   const AsyncProduceCallback& cb) {
    if (!manager.StoreHandle()) {
        return cb;
    }
    KOVAClientManager* owner = &manager;
    return [owner, rid, batch, properties, cb](int code, void* cookie) {
        if (code != 0 && owner->Store(rid, batch, properties)) {
            code = storeSuccessCode(*owner);
        }
        if (cb) {
            cb(code, cookie);
        }
    };
}

// Issues the asynchronous produce. 0: issued, the callback runs later. A call
// that could not be issued is stored when possible; `stored` tells so and the
// store-success code is returned.
int issueAsync(KOVAClientManager& manager, const std::string& rid, const std::string& sid,
               const KOVAMsg::KOVABatchMessage& batch, const COMMON::KOVAProperties& properties,
               const AsyncProduceCallback& cb, void* cookie, bool& stored) {
    stored = false;
    OwedCallbackPtr owed;
    const AsyncProduceCallback completion =
        OwedProduceCallback(completionFor(manager, rid, batch, properties, cb), cookie, COMMON::INTERNAL_ERROR, &owed);
    KOVAClientLibImplPtr engine = manager.getClientHandleByRes(rid);
    int code = COMMON::INTERNAL_ERROR;
    if (engine) {
        code = engine->Produce(rid, sid, batch, properties, completion, cookie, manager.getAsyncPullService());
    }
    if (code != 0 && !Claim(owed)) {
        // The stop settled it meanwhile (storing the batch first when it
        // could): its one callback has run.
        return 0;
    }
    if (code != 0 && manager.Store(rid, batch, properties)) {
        stored = true;
        code = storeSuccessCode(manager);
    }
    return code;
}

// Produces synchronously; a batch that did not get through is stored when
// possible (`stored`), and the store-success code returned for it.
int produceSync(KOVAClientManager& manager, const std::string& rid, const std::string& sid,
                const KOVAMsg::KOVABatchMessage& batch, const COMMON::KOVAProperties& properties, bool& stored) {
    KOVAClientLibImplPtr engine = manager.getClientHandleByRes(rid);
    const int code = engine ? engine->Produce(rid, sid, batch, properties) : COMMON::INTERNAL_ERROR;
    stored = code != 0 && manager.Store(rid, batch, properties);
    return stored ? storeSuccessCode(manager) : code;
}

bool produceBodiesSync(const std::string& rid, const std::string* bodies, size_t count, COMMON::IEncodingType etype,
                       bool trans, const COMMON::KOVAProperties& properties) {
    ClientCall call;
    KOVAClientManager* manager = call.manager();
    KOVAMsg::KOVABatchMessage batch;
    if (!manager || !bodiesToBatch(bodies, count, etype, trans, batch)) {
        return false;
    }
    bool stored = false;
    return produceSync(*manager, rid, std::string(), batch, properties, stored) == 0 || stored;
}

bool produceBodiesAsync(const std::string& rid, const std::string* bodies, size_t count, const AsyncProduceCallback& cb,
                        void* cookie, COMMON::IEncodingType etype, bool trans,
                        const COMMON::KOVAProperties& properties) {
    ClientCall call;
    KOVAClientManager* manager = call.manager();
    KOVAMsg::KOVABatchMessage batch;
    if (!manager || !bodiesToBatch(bodies, count, etype, trans, batch)) {
        return false;
    }
    bool stored = false;
    const int code = issueAsync(*manager, rid, std::string(), batch, properties, cb, cookie, stored);
    if (stored) {
        // Reported as success: the caller then waits for its one callback.
        callBackLater(*manager, cb, code, cookie);
        return true;
    }
    return code == 0;
}

}  // namespace

int KOVAClientLib::Produce(const std::string& rid, const std::string& sid, const std::vector<KOVA::OMessage>& datas,
                           const KOVA::COMMON::KOVAProperties& publicProperties, int) {
    ClientCall call;
    const ListProduce ready = prepareProduce(call, datas);
    if (ready.failed != 0) {
        return ready.failed;
    }
    if (hasStoreKey(publicProperties)) {
        return storeOnly(*call.manager(), rid, ready.batch, publicProperties);
    }
    bool stored = false;
    return produceSync(*call.manager(), rid, sid, ready.batch, publicProperties, stored);
}

int KOVAClientLib::Produce(const std::string& rid, const std::string& sid, const std::vector<KOVA::OMessage>& datas,
                           KOVA::AsyncProduceCallback& cb, void* cookie,
                           const KOVA::COMMON::KOVAProperties& publicProperties, int) {
    ClientCall call;
    const ListProduce ready = prepareProduce(call, datas);
    if (ready.failed != 0) {
        return ready.failed;
    }
    KOVAClientManager& manager = *call.manager();
    if (hasStoreKey(publicProperties)) {
        CallProduceCallback(cb, storeOnly(manager, rid, ready.batch, publicProperties), cookie);
        return 0;
    }
    bool stored = false;
    const int code = issueAsync(manager, rid, sid, ready.batch, publicProperties, cb, cookie, stored);
    if (stored && code == 0) {
        // 0 promises one callback; the engine will not make it.
        callBackLater(manager, cb, code, cookie);
    }
    return code;
}

bool KOVAClientLib::Produce(const std::string& rid, const std::string& data, KOVA::COMMON::IEncodingType etype,
                            bool trans, const KOVA::COMMON::KOVAProperties& properties) {
    return produceBodiesSync(rid, &data, 1, etype, trans, properties);
}

bool KOVAClientLib::BatchProduce(const std::string& rid, const std::vector<std::string>& datas,
                                 KOVA::COMMON::IEncodingType etype, bool trans,
                                 const KOVA::COMMON::KOVAProperties& properties) {
    return produceBodiesSync(rid, datas.data(), datas.size(), etype, trans, properties);
}

bool KOVAClientLib::Produce(const std::string& rid, const std::string& data, const KOVA::AsyncProduceCallback& cb,
                            void* cookie, KOVA::COMMON::IEncodingType etype, bool trans,
                            const KOVA::COMMON::KOVAProperties& properties) {
    return produceBodiesAsync(rid, &data, 1, cb, cookie, etype, trans, properties);
}

bool KOVAClientLib::BatchProduce(const std::string& rid, const std::vector<std::string>& datas,
                                 const KOVA::AsyncProduceCallback& cb, void* cookie, KOVA::COMMON::IEncodingType etype,
                                 bool trans, const KOVA::COMMON::KOVAProperties& properties) {
    return produceBodiesAsync(rid, datas.data(), datas.size(), cb, cookie, etype, trans, properties);
}

bool ReProduceCb(const std::string& rid, const KOVAMsg::KOVABatchMessage& datas,
                 const KOVA::COMMON::KOVAProperties& props) {
    ClientCall call;
    KOVAClientManager* manager = call.manager();
    const std::string replacement = manager ? manager->getClientAdapter()->getRepRid() : std::string();
    const std::string& target = replacement.empty() ? rid : replacement;
    KOVAClientLibImplPtr engine = call.engine(target);
    const int code = engine ? engine->Produce(target, kReProduceSid, datas, props) : COMMON::INTERNAL_ERROR;
    if (code != 0) {
        LOG_WARN("Re produce rid:`%s' reprid:`%s' data-size:`%d' failed! code:`%d'", rid.c_str(), target.c_str(),
                 static_cast<int>(datas.size()), code);
        return false;
    }
    return true;
}

}  // namespace KOVA
