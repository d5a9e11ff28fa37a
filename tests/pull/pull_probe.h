// Read and set an engine's direct-pull state, and run its pull completion on a
// hand-made reply, for the pull tests.
// Thread-safety: each call goes through the engine's own locks or atomics.
#pragma once

#include "KOVAClientLibImpl.h"

namespace KOVA {

struct KOVAClientLibImplPullProbe {
    static int budget(const KOVAClientLibImpl& engine) { return engine._directPullCount.load(); }
    static void setBudget(KOVAClientLibImpl& engine, int budget) { engine._directPullCount.store(budget); }
    // One direct pull's turn, as a pull takes it: the proxy, or null when none is left.
    static KOVACallbackAgentPrx takeDirectPullTurn(KOVAClientLibImpl& engine) { return engine.takeDirectPullTurn(); }
    static KOVACallbackAgentPrx directProxy(const KOVAClientLibImpl& engine) {
        return engine.currentDirectPullProxy();
    }
    static bool hasAsyncPullProxy(const KOVAClientLibImpl& engine) { return engine.currentAsyncPullProxy(); }
    // As if the agent had answered an asynchronous pull with this reply.
    static void completeWith(KOVAClientLibImpl& engine, const std::string& rid, const std::string& sid,
                             PullConsumerCallback cb, const ConsumeResultInfo& reply,
                             const KOVAMsg::KOVABatchMessage& records) {
        engine.PullConsumeSuccess(new _AsyncPullConsumerNode(rid, sid, nullptr, std::move(cb), false), reply,
                                  records);
    }
};

}  // namespace KOVA
