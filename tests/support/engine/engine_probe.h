// Read-only views and a few levers into an engine's private state for tests
// and benchmarks: its proxies, its direct-pull budget, its consumer table, and
// its pull completion run on a hand-made reply. The one friend of the engine
// that tests use; every member reads or sets through the engine's own locks or
// atomics.
// Thread-safety: each call is safe from any thread the engine itself allows.
#pragma once

#include <string>

#include "KOVAClientLibImpl.h"

namespace KOVA {

struct KOVAClientLibImplProbe {
    // ---- Agent, produce and register proxies ----
    static bool hasAgentProxy(const KOVAClientLibImpl& engine) { return engine.currentAgentProxy(); }
    static bool hasProduceProxy(const KOVAClientLibImpl& engine) { return engine.currentProduceProxy(); }
    static bool routed(const KOVAClientLibImpl& engine) { return engine.routed(); }
    static bool hasSession(const KOVAClientLibImpl& engine) {
        MutexLock lock(engine._agentHandleMutex);
        return engine._sessionPrx;
    }
    static KOVAAgentPrx newRegisterProxy(KOVAClientLibImpl& engine, const std::string& rid) {
        return engine.getRegisterProxyByRid(rid, false);
    }
    // What the register maps hold for rid (null and empty when nothing).
    static KOVAAgentPrx registeredProxy(KOVAClientLibImpl& engine, const std::string& rid) {
        MutexLock lock(engine._rid2RegPxysMutex);
        auto found = engine._mapRid2RegisterPxys.find(rid);
        return found == engine._mapRid2RegisterPxys.end() ? KOVAAgentPrx() : found->second;
    }
    static std::string registeredEndpoint(KOVAClientLibImpl& engine, const std::string& rid) {
        MutexLock lock(engine._rid2RegPxysMutex);
        auto found = engine._mapRid2RegisterPxyIDs.find(rid);
        return found == engine._mapRid2RegisterPxyIDs.end() ? std::string() : found->second;
    }
    // The engine's produce proxy, built on demand (null when it cannot be built).
    static KOVAAgentPrx produceProxy(KOVAClientLibImpl& engine) {
        try {
            engine.initProduceProxy(false);
        } catch (const Ice::Exception&) {
            return KOVAAgentPrx();
        }
        return engine.currentProduceProxy();
    }

    // ---- Pulls ----
    static int budget(const KOVAClientLibImpl& engine) { return engine._directPullCount.load(); }
    static void setBudget(KOVAClientLibImpl& engine, int budget) { engine._directPullCount.store(budget); }
    // One direct pull's turn, as a pull takes it: the proxy, or null when none is left.
    static KOVACallbackAgentPrx takeDirectPullTurn(KOVAClientLibImpl& engine) { return engine.takeDirectPullTurn(); }
    static KOVACallbackAgentPrx directProxy(const KOVAClientLibImpl& engine) { return engine.currentDirectPullProxy(); }
    static bool hasAsyncPullProxy(const KOVAClientLibImpl& engine) { return engine.currentAsyncPullProxy(); }
    // As if the agent had answered an asynchronous pull with this reply.
    static void completeWith(KOVAClientLibImpl& engine, const std::string& rid, const std::string& sid,
                             PullConsumerCallback cb, const ConsumeResultInfo& reply,
                             const KOVAMsg::KOVABatchMessage& records) {
        engine.PullConsumeSuccess(new _AsyncPullConsumerNode(rid, sid, nullptr, std::move(cb), false), reply, records);
    }

    // ---- Push consumers ----
    static bool hasConsumer(const KOVAClientLibImpl& engine, const std::string& rid) {
        return engine.findConsumer(rid);
    }
    // The cid the agent gave the consumer of rid (empty when none).
    static std::string cid(const KOVAClientLibImpl& engine, const std::string& rid) {
        ConsumerInfoPtr info = engine.findConsumer(rid);
        if (!info) return std::string();
        MutexLock lock(info->_mutex);
        return info->_cid;
    }
    static KOVAConsumerStatus status(const KOVAClientLibImpl& engine, const std::string& rid) {
        ConsumerInfoPtr info = engine.findConsumer(rid);
        return info ? info->_status.load() : STOPED;
    }
};

}  // namespace KOVA
