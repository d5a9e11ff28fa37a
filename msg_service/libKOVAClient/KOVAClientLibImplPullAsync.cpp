// Asynchronous pull: issuing to the agent or the direct-pull proxy, and the
// completions that hand every issued pull to the caller's callback exactly once.
#include <boost/asio/post.hpp>

#include "ConsumeResultConversion.h"
#include "KOVAAmiCallback.h"
#include "KOVACallerCallback.h"
#include "KOVAClientLibImpl.h"
#include "KOVAIceFailure.h"
#include "KOVALog.h"
#include "OwedCallbacks.h"

namespace KOVA {

namespace {

typedef std::unique_ptr<_AsyncPullConsumerNode> PullNodePtr;

// Hands the result to the caller; the caller's smart pointer frees the node
// afterwards, whatever the callback does.
void asyncDispatch(const _AsyncPullConsumerNode& node, const ConsumeStatusPtr& cstatus) {
    CallCallerCallback(
        node._cb, [&] { return "Pull callback threw for rid:" + node._rid + " sid:" + node._sid; }, node._rid,
        node._sid, cstatus, node._cookie);
}

// A completion that outlived its engine (process exit) still owes the caller
// its one callback.
void finishWithoutEngine(PullNodePtr node) {
    LOG_WARN("Pull completion without engine for rid:%s sid:%s", node->_rid.c_str(), node->_sid.c_str());
    asyncDispatch(*node, new ConsumeStatus(KOVA::COMMON::INTERNAL_ERROR, nullptr));
}

Callback_KOVAAgent_ConsumePtr consumeCallbackFor(const KOVAAgentPrx&, AmiConsumeResponse response,
                                                 AmiExceptionFunction exception) {
    return newAgentConsumeCallback(std::move(response), std::move(exception));
}

Callback_KOVACallbackAgent_ConsumePtr consumeCallbackFor(const KOVACallbackAgentPrx&, AmiConsumeResponse response,
                                                         AmiExceptionFunction exception) {
    return newCallbackAgentConsumeCallback(std::move(response), std::move(exception));
}

}  // namespace

template <typename Proxy>
void KOVAClientLibImpl::beginPull(const Proxy& proxy, std::unique_ptr<_AsyncPullConsumerNode> node, int maxFetchCount,
                                  const KOVA::COMMON::KOVAProperties& properties, int timeout) {
    // Ice calls exactly one of the two closures once; whichever runs takes the
    // node over. Until begin_Consume returns without throwing, `node` owns it.
    _AsyncPullConsumerNode* issued = node.get();
    std::weak_ptr<KOVAClientLibImpl> engine = weak_from_this();
    AmiConsumeResponse response = [engine, issued](const ConsumeResultInfo& csinfo,
                                                   const KOVAMsg::KOVABatchMessage& datas) {
        if (KOVAClientLibImplPtr self = engine.lock()) {
            self->PullConsumeSuccess(issued, csinfo, datas);
            releaseOffIceThread(std::move(self));
        } else {
            finishWithoutEngine(PullNodePtr(issued));
        }
    };
    AmiExceptionFunction exception = [engine, issued](const Ice::Exception& e) {
        if (KOVAClientLibImplPtr self = engine.lock()) {
            self->PullConsumeException(issued, e);
            releaseOffIceThread(std::move(self));
        } else {
            finishWithoutEngine(PullNodePtr(issued));
        }
    };
    proxy->begin_Consume(node->_rid, node->_sid, maxFetchCount, timeout, properties,
                         consumeCallbackFor(proxy, std::move(response), std::move(exception)));
    node.release();
}

int KOVAClientLibImpl::Consume(const std::string& rid, std::string& _sid, int maxFetchCount, PullConsumerCallback& cb,
                               void* cookie, const KOVA::COMMON::KOVAProperties& properties, int timeout,
                               std::shared_ptr<boost::asio::io_context> asyncPullService) {
    int result = KOVA::COMMON::INTERNAL_ERROR;
    fillPullSid(_sid);
    const std::string sid = _sid;
    // Every call offers its io_context: one that is gone or stopped is replaced.
    adoptAsyncService(asyncPullService);
    try {
        initAsyncPullProxy(false);
        if (directConsume(rid, _sid, maxFetchCount, cb, cookie, properties, timeout, asyncPullService) == 0) {
            return 0;
        }
        LOG_DEBUG("Begin Consume data for rid%s sid:%s maxCount:%d", rid.c_str(), sid.c_str(), maxFetchCount);
        PullNodePtr node(new _AsyncPullConsumerNode(rid, sid, cookie, std::move(cb), false));
        beginPull(currentAsyncPullProxy(), std::move(node), maxFetchCount, properties, timeout);
        result = 0;
    } catch (const Ice::Exception& e) {
        if (ice_failure::isConnectionLost(e) && routed()) {
            // The router dropped our session: build a new one now rather than
            // let the next pull find out the same way.
            try {
                initAsyncPullProxy(true);
            } catch (const Ice::Exception&) {
                // Logged below; the next pull tries again.
            }
            LOG_FATAL("Failed Operation re create sesion for rid:%s sid:%s exception:%s", rid.c_str(), sid.c_str(),
                      e.what());
        } else {
            LOG_FATAL("Failed Operation for rid:%s sid:%s exception:%s", rid.c_str(), sid.c_str(), e.what());
            // Proxies of a destroyed communicator would fail every later pull.
            dropProxiesAfter(e);
        }
    }
    return result;
}

int KOVAClientLibImpl::directConsume(const std::string& rid, std::string& _sid, int maxFetchCount,
                                     PullConsumerCallback& cb, void* cookie,
                                     const KOVA::COMMON::KOVAProperties& properties, int timeout,
                                     std::shared_ptr<boost::asio::io_context>) {
    KOVACallbackAgentPrx direct = takeDirectPullTurn();
    if (!direct) {
        return KOVA::COMMON::INTERNAL_ERROR;
    }
    // A copy: should issuing fail, the agent pull that follows still needs cb.
    PullConsumerCallback copy = cb;
    const std::string& sid = _sid;
    try {
        LOG_DEBUG("Begin Consume data for rid%s sid:%s maxCount:%d", rid.c_str(), sid.c_str(), maxFetchCount);
        PullNodePtr node(new _AsyncPullConsumerNode(rid, sid, cookie, std::move(copy), true));
        node->_directPrx = direct;
        beginPull(direct, std::move(node), maxFetchCount, properties, timeout);
        return 0;
    } catch (const Ice::Exception& e) {
        LOG_FATAL("Failed Operation for rid:%s sid:%s exception:%s", rid.c_str(), sid.c_str(), e.what());
        stopDirectPull(direct);
    }
    return KOVA::COMMON::INTERNAL_ERROR;
}

void KOVAClientLibImpl::PullConsumeSuccess(_AsyncPullConsumerNode* issued, const ConsumeResultInfo& csinfo,
                                           const KOVAMsg::KOVABatchMessage& datas) {
    PullNodePtr node(issued);
    ConsumeStatusPtr status;
    try {
        // The conversion takes the records apart; the reply's batch belongs to
        // the Ice callback wrapper, so work on a copy.
        KOVAMsg::KOVABatchMessage records(datas);
        status = GetLocalStatusFromConsumeResult(csinfo, records, currentRouter(), _agentInvocationTimeout);
    } catch (const std::exception& e) {
        // Left to Ice, this would vanish inside the response and the caller,
        // told the pull was issued, would never hear of it.
        finishFailedPull(std::move(node), e.what());
        return;
    }

    if (status->Status() != KOVA::COMMON::SUCCESS) {
        LOG_INFO("Consume data failed rid:%s sid:%s code:%d.", node->_rid.c_str(), node->_sid.c_str(),
                 status->Status());
        if (node->_isDirect) {
            stopDirectPull(node->_directPrx);
        }
        asyncDispatch(*node, status);
        return;
    }

    LOG_DEBUG("Consume data success rid:%s sid:%s msgcount:%d", node->_rid.c_str(), node->_sid.c_str(),
              static_cast<int>(status->msgList.size()));
    if (!node->_isDirect && status->Delay() > kDirectPullDelay) {
        startDirectPull(csinfo.callback, status->Delay());
    } else if (node->_isDirect && status->Delay() < kAsyncDirectKeepDelay) {
        stopDirectPull(node->_directPrx);
    }
    std::shared_ptr<boost::asio::io_context> service = currentAsyncService();
    if (!service) {
        LOG_WARN("No io_context for the pull completion of rid:%s sid:%s, calling back in place", node->_rid.c_str(),
                 node->_sid.c_str());
        asyncDispatch(*node, status);
        return;
    }
    // A handler that never runs (stopped io_context) still frees the node.
    std::shared_ptr<_AsyncPullConsumerNode> posted(std::move(node));
    boost::asio::post(*service, QueuedCompletion([posted, status]() { asyncDispatch(*posted, status); }));
}

void KOVAClientLibImpl::PullConsumeException(_AsyncPullConsumerNode* issued, const Ice::Exception& e) {
    finishFailedPull(PullNodePtr(issued), e.what());
    dropProxiesAfter(e);
}

void KOVAClientLibImpl::finishFailedPull(std::unique_ptr<_AsyncPullConsumerNode> node, const char* what) {
    LOG_FATAL("Failed Operation for rid:%s sid:%s exception:%s", node->_rid.c_str(), node->_sid.c_str(), what);
    if (node->_isDirect) {
        stopDirectPull(node->_directPrx);
    }
    asyncDispatch(*node, new ConsumeStatus(KOVA::COMMON::INTERNAL_ERROR, nullptr));
}

}  // namespace KOVA
