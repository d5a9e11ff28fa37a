// KOVA::KOVAMessageListenerI: the listener object on which the service pushes
// batches. Each ConsumeMessage call is handed to one push callback and the
// callback's integer is the reply; the raw-bytes OnMessage form is refused
// with 8 (NOT_EXIST).
//
// Thread-safety: the callback is copied at construction and never changes;
// several dispatches run at once on Ice server (or client, for bidirectional
// and routed connections) threads, and the callback is called without a lock,
// so it must be safe for concurrent calls.
// Ownership: held by IceUtil::Handle; the object adapter keeps it alive once
// added.
#pragma once

#include "KOVAClientAdapter.h"
#include "KOVAMessageService.h"

namespace KOVA {

class KOVAMessageListenerI : virtual public KOVAMessageListener {
public:
    explicit KOVAMessageListenerI(const KOVAPushCallback& cb);
    virtual ~KOVAMessageListenerI();

    virtual void OnMessage_async(const AMD_KOVAClient_OnMessagePtr& handle, const std::string& rid,
                                 const std::string& sid, const std::string& cid, const KOVAMsg::BatchBytes& datas,
                                 const Ice::Current& current);
    virtual void ConsumeMessage_async(const AMD_KOVAMessageListener_ConsumeMessagePtr& handle,
                                      const std::string& rid, const std::string& sid, const std::string& cid,
                                      const KOVAMsg::KOVABatchMessage& datas, const Ice::Current& current);

private:
    const KOVAPushCallback _cb;
};

typedef IceUtil::Handle<KOVAMessageListenerI> KOVAMessageListenerIPtr;

}  // namespace KOVA
