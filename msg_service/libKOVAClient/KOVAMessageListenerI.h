// Internal (kova_engine).
// KOVA::KOVAMessageListenerI: the listener object on which the service pushes
// batches. Each ConsumeMessage call is handed to one push callback and the
// callback's integer is the reply; the raw-bytes OnMessage form is refused
// with 8 (NOT_EXIST).
//
// Thread-safety: the callback is copied at construction and never changes;
// several pushes are delivered at once and the callback is called without a
// lock, so it must be safe for concurrent calls. Which thread calls it: with a
// push pool (shared-connection and router modes, whose pushes arrive on the
// client's Ice threads) a thread of that pool, the Ice thread being given back
// at once and the reply sent when the callback returns; without one (named
// adapter) the Ice server thread that dispatches the push.
// Ownership: held by IceUtil::Handle; the object adapter keeps it alive once
// added, and a push waiting on the push pool keeps it alive too. The pool
// belongs to the client adapter, which destroys its communicators (so no push
// is dispatched any more, and every pooled one has answered) before it.
#pragma once

#include "KOVAClientAdapter.h"
#include "KOVAMessageService.h"
#include "KOVAPushPool.h"

namespace KOVA {

class KOVAMessageListenerI : virtual public KOVAMessageListener {
public:
    // pool: where the callback runs instead of the dispatching thread;
    // null: in place.
    KOVAMessageListenerI(const KOVAPushCallback& cb, KOVAPushPool* pool);
    virtual ~KOVAMessageListenerI();

    virtual void OnMessage_async(const AMD_KOVAClient_OnMessagePtr& handle, const std::string& rid,
                                 const std::string& sid, const std::string& cid, const KOVAMsg::BatchBytes& datas,
                                 const Ice::Current& current);
    virtual void ConsumeMessage_async(const AMD_KOVAMessageListener_ConsumeMessagePtr& handle, const std::string& rid,
                                      const std::string& sid, const std::string& cid,
                                      const KOVAMsg::KOVABatchMessage& datas, const Ice::Current& current);

private:
    friend class KOVAPushPool;

    void deliver(const AMD_KOVAMessageListener_ConsumeMessagePtr& handle, const std::string& rid,
                 const std::string& sid, const std::string& cid, const KOVAMsg::KOVABatchMessage& datas,
                 const Ice::Current& current);

    const KOVAPushCallback _cb;
    KOVAPushPool* const _pool;
};

typedef IceUtil::Handle<KOVAMessageListenerI> KOVAMessageListenerIPtr;

}  // namespace KOVA
