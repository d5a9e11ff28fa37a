// Cost of the engine's produce over a bare proxy call.
//
// Both sides send the same batch on the same produce proxy (the engine's own,
// with its born-host context) to the in-process stand-in agent over loopback:
//   Sync/<records>   one synchronous produce per iteration;
//   Async/<inflight> that many asynchronous produces issued, then all awaited.
// The engine side adds the session id, the context merge, the proxy copy and,
// for the asynchronous form, the hop of each completion onto the io_context.
// After the runs the ratio engine/bare of the time per iteration is printed.
// Every case runs twice: with the client pool sized by the adapter's rule (as
// many threads as processors) and, as "Pool1/<case>", with
// Ice.ThreadPool.Client.SizeMax=1 in the client's configuration. A single
// client thread pipelines produce faster, but the listener's pushes in the
// shared-connection and router modes then share that thread with every reply.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "KOVAClientAdapter.h"
#include "KOVAClientLibImpl.h"
#include "batches.h"
#include "bench_pairs.h"
#include "completion_pool.h"
#include "countdown.h"
#include "engine_probe.h"
#include "standin_agent.h"

namespace {

using kova::test::bench::Countdown;
using kova::test::bench::CountdownPtr;

const char* const kResource = "bench-rid";
const int kInFlight = 256;

KOVAMsg::KOVABatchMessage smallBatch(int records) { return kova::test::engine::keyedBatch(records, 64, "k"); }

// Agent, client adapter, engine and completion pool, built once for all runs.
struct BenchWorld {
    explicit BenchWorld(const std::vector<std::string>& items) : client(benchAgentOptions(), items) {
        produceProxy = KOVA::KOVAClientLibImplProbe::produceProxy(*client.engine);
        pool = std::make_unique<kova::test::engine::CompletionPool>(client.adapter->getMaxClientPoolSize());
    }
    ~BenchWorld() { pool.reset(); }

    static kova::test::standin::StandinAgentOptions benchAgentOptions() {
        kova::test::standin::StandinAgentOptions options;
        options.keepMessages = false;
        return options;
    }

    kova::test::bench::BenchClient client;
    KOVA::KOVAAgentPrx produceProxy;
    std::unique_ptr<kova::test::engine::CompletionPool> pool;
};

BenchWorld& world(bool singleClientThread) {
    if (singleClientThread) {
        static BenchWorld single({"Ice.ThreadPool.Client.SizeMax=1"});
        return single;
    }
    static BenchWorld sized({});
    return sized;
}

void EngineSync(benchmark::State& state, bool singleClientThread) {
    BenchWorld& w = world(singleClientThread);
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

void BareSync(benchmark::State& state, bool singleClientThread) {
    BenchWorld& w = world(singleClientThread);
    const KOVAMsg::KOVABatchMessage batch = smallBatch(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        if (w.produceProxy->Produce(kResource, "bench-sid", batch) != 0) {
            state.SkipWithError("bare produce failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void EngineAsync(benchmark::State& state, bool singleClientThread) {
    BenchWorld& w = world(singleClientThread);
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

void BareAsync(benchmark::State& state, bool singleClientThread) {
    BenchWorld& w = world(singleClientThread);
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
    for (bool single : {false, true}) {
        const std::string pool = single ? "Pool1/" : "";
        for (int records : {1, 100}) {
            const std::string suffix = pool + "Sync/" + std::to_string(records);
            benchmark::RegisterBenchmark(("Bare/" + suffix).c_str(), BareSync, single)->Arg(records)->UseRealTime();
            benchmark::RegisterBenchmark(("Engine/" + suffix).c_str(), EngineSync, single)->Arg(records)->UseRealTime();
        }
        const std::string suffix = pool + "Async/" + std::to_string(kInFlight);
        benchmark::RegisterBenchmark(("Bare/" + suffix).c_str(), BareAsync, single)->Arg(kInFlight)->UseRealTime();
        benchmark::RegisterBenchmark(("Engine/" + suffix).c_str(), EngineAsync, single)->Arg(kInFlight)->UseRealTime();
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Time summed over repetitions.
    return kova::test::bench::runPairs(argc, argv, {"Engine", 1.10, false, 18}, registerPairs);
}
