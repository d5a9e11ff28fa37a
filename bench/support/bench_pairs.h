// For the engine's benchmarks: the pair ratio reporter (pair_ratio.h) and the
// stand-in agent with an engine that reaches it.
// Thread-safety: used from the benchmark's main thread only.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "KOVAClientAdapter.h"
#include "KOVAClientLibImpl.h"
#include "client_items.h"
#include "pair_ratio.h"
#include "standin_agent.h"

namespace kova::test::bench {

// A benchmark of an engine that cannot reach its agent measures nothing.
inline void requireReachable(KOVA::KOVAClientLibImpl& engine) {
    if (!engine.Ping()) {
        std::fprintf(stderr, "stand-in agent not reachable\n");
        std::exit(1);
    }
}

// A stand-in agent that records no calls (`options` says the rest) and an
// engine on agent key "BenchAgent" of an adapter of its own named "bench".
// Exits the process when the engine cannot reach the agent.
struct BenchClient {
    static constexpr const char* kAgentKey = "BenchAgent";

    // `extra`: further client configuration items (thread-pool sizes, say).
    explicit BenchClient(kova::test::standin::StandinAgentOptions options, const std::vector<std::string>& extra = {})
        : agent(withoutCallRecords(options)) {
        agent.start();
        std::vector<std::string> items{std::string(kAgentKey) + "=" + agent.agentProxyString()};
        items.insert(items.end(), extra.begin(), extra.end());
        adapter = new KOVA::KOVAClientAdapter(engine::clientItems("bench", agent.agentProxyString(), items), "bench");
        engine = std::make_shared<KOVA::KOVAClientLibImpl>(kAgentKey, adapter);
        requireReachable(*engine);
    }
    ~BenchClient() {
        engine.reset();
        adapter = 0;
        agent.stop();
    }
    BenchClient(const BenchClient&) = delete;
    BenchClient& operator=(const BenchClient&) = delete;

    kova::test::standin::StandinAgent agent;
    KOVA::KOVAClientAdapterPtr adapter;
    KOVA::KOVAClientLibImplPtr engine;

private:
    static kova::test::standin::StandinAgentOptions withoutCallRecords(
        kova::test::standin::StandinAgentOptions options) {
        options.recordCalls = false;
        return options;
    }
};

}  // namespace kova::test::bench
