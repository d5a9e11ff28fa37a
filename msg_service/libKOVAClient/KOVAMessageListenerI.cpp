#include "KOVAMessageListenerI.h"

#include "KOVACommon.h"
#include "KOVALog.h"

namespace KOVA {

namespace {

// Answers a push that could not be delivered with an exception, so the
// server's call never waits for a reply that will not come. A reply that
// cannot be sent either is only logged: the connection is gone.
template <typename Handle, typename Failure>
void answerWithException(const Handle& handle, const std::string& rid, const std::string& sid, const std::string& cid,
                         const char* what, const Failure& failure) {
    LOG_WARN("Response the server exception for rid:%s, sid:%s, cid:%s, exception:%s", rid.c_str(), sid.c_str(),
             cid.c_str(), what);
    try {
        handle->ice_exception(failure);
    } catch (const std::exception& e) {
        LOG_WARN("Response the server exception for rid:%s, sid:%s, cid:%s, exception:%s", rid.c_str(), sid.c_str(),
                 cid.c_str(), e.what());
    }
}

}  // namespace

KOVAMessageListenerI::KOVAMessageListenerI(const KOVAPushCallback& cb, KOVAPushPool* pool) : _cb(cb), _pool(pool) {}

KOVAMessageListenerI::~KOVAMessageListenerI() {}

void KOVAMessageListenerI::ConsumeMessage_async(const AMD_KOVAMessageListener_ConsumeMessagePtr& handle,
                                                const std::string& rid, const std::string& sid, const std::string& cid,
                                                const KOVAMsg::KOVABatchMessage& datas, const Ice::Current& current) {
    if (!_pool) {
        deliver(handle, rid, sid, cid, datas, current);
        return;
    }
    // Ice unmarshals the batch into a variable of its own dispatch that it
    // only destroys once this returns, and the variable itself is not const:
    // the pool takes it over, because copying a batch of records costs more
    // than the rest of the hand-off together.
    _pool->post(this, handle, rid, sid, cid, const_cast<KOVAMsg::KOVABatchMessage&>(datas), current);
}

void KOVAMessageListenerI::deliver(const AMD_KOVAMessageListener_ConsumeMessagePtr& handle, const std::string& rid,
                                   const std::string& sid, const std::string& cid,
                                   const KOVAMsg::KOVABatchMessage& datas, const Ice::Current& current) {
    int result = COMMON::CONSUME_FAILED;
    try {
        result = _cb(rid, sid, cid, datas, current);
    } catch (const std::exception& e) {
        answerWithException(handle, rid, sid, cid, e.what(), e);
        return;
    } catch (...) {
        const std::runtime_error unknown("unknown exception from the push callback");
        answerWithException(handle, rid, sid, cid, unknown.what(), unknown);
        return;
    }
    try {
        handle->ice_response(result);
    } catch (const std::exception& e) {
        answerWithException(handle, rid, sid, cid, e.what(), e);
    }
}

void KOVAMessageListenerI::OnMessage_async(const AMD_KOVAClient_OnMessagePtr& handle, const std::string& rid,
                                           const std::string& sid, const std::string& cid, const KOVAMsg::BatchBytes&,
                                           const Ice::Current&) {
    LOG_FATAL("Get invalid call on OnMessage_async for rid:%s, sid:%s, cid:%s", rid.c_str(), sid.c_str(), cid.c_str());
    try {
        handle->ice_response(COMMON::NOT_EXIST);
    } catch (...) {
        // The server's connection is gone; there is no one left to answer.
    }
}

}  // namespace KOVA
