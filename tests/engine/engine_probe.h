// Read-only view of an engine's proxy state for tests and benchmarks: which
// proxies it holds right now and what its produce proxy sends.
// Thread-safety: each call copies under the engine's own handle locks.
#pragma once

#include "KOVAClientLibImpl.h"

namespace KOVA {

struct KOVAClientLibImplProbe {
    static bool hasAgentProxy(const KOVAClientLibImpl& engine) { return engine.currentAgentProxy(); }
    static bool hasProduceProxy(const KOVAClientLibImpl& engine) { return engine.currentProduceProxy(); }
    static bool routed(const KOVAClientLibImpl& engine) { return engine.routed(); }
    static bool hasSession(const KOVAClientLibImpl& engine) {
        std::lock_guard<std::mutex> lock(engine._agentHandleMutex);
        return engine._sessionPrx;
    }
    static KOVAAgentPrx newRegisterProxy(KOVAClientLibImpl& engine, const std::string& rid) {
        return engine.getRegisterProxyByRid(rid, false);
    }
    // What the register maps hold for rid (null and empty when nothing).
    static KOVAAgentPrx registeredProxy(KOVAClientLibImpl& engine, const std::string& rid) {
        std::lock_guard<std::mutex> lock(engine._rid2RegPxysMutex);
        auto found = engine._mapRid2RegisterPxys.find(rid);
        return found == engine._mapRid2RegisterPxys.end() ? KOVAAgentPrx() : found->second;
    }
    static std::string registeredEndpoint(KOVAClientLibImpl& engine, const std::string& rid) {
        std::lock_guard<std::mutex> lock(engine._rid2RegPxysMutex);
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
};

}  // namespace KOVA
