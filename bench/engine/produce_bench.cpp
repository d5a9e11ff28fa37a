// Cost of the engine's produce over a bare proxy call.
//
// Both sides send the same batch on the same produce proxy (the engine's own,
// with its born-host context) to the in-process stand-in agent over loopback:
//   Sync/<records>   one synchronous produce per iteration;
//   Async/<inflight> that many asynchronous produces issued, then all awaited.
// The engine side adds the session id, the context merge, the proxy copy and,
// for the asynchronous form, the hop of each completion onto the io_context.
// After the runs the ratio engine/bare of the time per iteration is printed.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "KOVAClientAdapter.h"
#include "KOVAClientLibImpl.h"
#include "batches.h"
#include "bench_pairs.h"
#include "completion_pool.h"
#include "countdown.h"
#include "engine_probe.h"
#include "standin_agent.h"

namespace {

using kova::enginetesting::Countdown;
using kova::enginetesting::CountdownPtr;

const char* const kResource = "bench-rid";
const int kInFlight = 256;

KOVAMsg::KOVABatchMessage smallBatch(int records) {
    return kova::enginetesting::keyedBatch(records, 64, "k");
}

// Agent, client adapter, engine and completion pool, built once for all runs.
struct BenchWorld {
    BenchWorld() : client(benchAgentOptions()) {
        produceProxy = KOVA::KOVAClientLibImplProbe::produceProxy(*client.engine);
        pool = std::make_unique<kova::enginetesting::CompletionPool>(client.adapter->getMaxClientPoolSize());
    }
    ~BenchWorld() { pool.reset(); }

    static kova::standin::StandinAgentOptions benchAgentOptions() {
        kova::standin::StandinAgentOptions options;
        options.keepMessages = false;
        return options;
    }

    kova::enginetesting::BenchClient client;
    KOVA::KOVAAgentPrx produceProxy;
    std::unique_ptr<kova::enginetesting::CompletionPool> pool;
};

BenchWorld& world() {
    static BenchWorld instance;
    return instance;
}

void EngineSync(benchmark::State& state) {
    BenchWorld& w = world();
    const KOVAMsg::KOVABatchMessage batch = smallBatch(static_cast<int>(state.range(0)));
    const KOVA::COMMON::KOVAProperties properties;
    for (auto _ : state) {
        if (w.client.engine->Produce(kResource, "", batch, properties) != 0) {
            state.SkipWithError("engine produce failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BareSync(benchmark::State& state) {
    BenchWorld& w = world();
    const KOVAMsg::KOVABatchMessage batch = smallBatch(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        if (w.produceProxy->Produce(kResource, "bench-sid", batch) != 0) {
            state.SkipWithError("bare produce failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void EngineAsync(benchmark::State& state) {
    BenchWorld& w = world();
    const int inFlight = static_cast<int>(state.range(0));
    const KOVAMsg::KOVABatchMessage batch = smallBatch(1);
    const KOVA::COMMON::KOVAProperties properties;
    const CountdownPtr countdown = new Countdown;
    for (auto _ : state) {
        countdown->reset(inFlight);
        for (int i = 0; i < inFlight; ++i) {
            const int issued = w.client.engine->Produce(
                kResource, "", batch, properties, [](int, void* ck) { static_cast<Countdown*>(ck)->done(); },
                countdown.get(), w.pool->service());
            if (issued != 0) {
                countdown->done();
            }
        }
        countdown->wait();
    }
    state.SetItemsProcessed(state.iterations() * inFlight);
}

void BareAsync(benchmark::State& state) {
    BenchWorld& w = world();
    const int inFlight = static_cast<int>(state.range(0));
    const KOVAMsg::KOVABatchMessage batch = smallBatch(1);
    const CountdownPtr countdown = new Countdown;
    KOVA::Callback_KOVAAgent_ProducePtr callback =
        KOVA::newCallback_KOVAAgent_Produce(countdown, &Countdown::response, &Countdown::exception);
    for (auto _ : state) {
        countdown->reset(inFlight);
        for (int i = 0; i < inFlight; ++i) {
            w.produceProxy->begin_Produce(kResource, "bench-sid", batch, callback);
        }
        // Like the engine side, which hands the codes to its callback: a
        // refused produce still completes the iteration.
        countdown->wait();
    }
    state.SetItemsProcessed(state.iterations() * inFlight);
}

// Each bare run directly precedes its engine run, so both see the same machine
// state (other processes share it).
void registerPairs() {
    for (int records : {1, 100}) {
        const std::string suffix = "Sync/" + std::to_string(records);
        benchmark::RegisterBenchmark(("Bare/" + suffix).c_str(), BareSync)->Arg(records)->UseRealTime();
        benchmark::RegisterBenchmark(("Engine/" + suffix).c_str(), EngineSync)->Arg(records)->UseRealTime();
    }
    const std::string suffix = "Async/" + std::to_string(kInFlight);
    benchmark::RegisterBenchmark(("Bare/" + suffix).c_str(), BareAsync)->Arg(kInFlight)->UseRealTime();
    benchmark::RegisterBenchmark(("Engine/" + suffix).c_str(), EngineAsync)->Arg(kInFlight)->UseRealTime();
}

}  // namespace

int main(int argc, char** argv) {
    // Time summed over repetitions.
    return kova::enginetesting::runPairs(argc, argv, {"Engine", 1.10, false, 12}, registerPairs);
}
