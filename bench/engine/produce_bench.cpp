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

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

#include "KOVAClientAdapter.h"
#include "KOVAClientLibImpl.h"
#include "engine_probe.h"
#include "standin_agent.h"

namespace {

const char* const kResource = "bench-rid";
const char* const kAgentKey = "BenchAgent";
const int kInFlight = 256;

KOVAMsg::KOVABatchMessage smallBatch(int records) {
    KOVAMsg::KOVABatchMessage batch;
    for (int i = 0; i < records; ++i) {
        KOVAMsg::KOVAMessage message{};
        message.properties["KEYS"] = "k" + std::to_string(i);
        message.message.assign(64, static_cast<Ice::Byte>('a' + i % 26));
        batch.push_back(message);
    }
    return batch;
}

// Counts completions of one iteration's asynchronous calls.
class Countdown {
public:
    void reset(int n) {
        std::lock_guard<std::mutex> lock(_mutex);
        _remaining = n;
    }
    void done() {
        std::lock_guard<std::mutex> lock(_mutex);
        if (--_remaining == 0) {
            _zero.notify_all();
        }
    }
    void wait() {
        std::unique_lock<std::mutex> lock(_mutex);
        _zero.wait(lock, [this] { return _remaining <= 0; });
    }

private:
    std::mutex _mutex;
    std::condition_variable _zero;
    int _remaining = 0;
};

// The bare side's completion target: the generated typed callback on a plain
// servant-less class, as an application without the engine would write it.
class BareProduceCallback : public IceUtil::Shared {
public:
    explicit BareProduceCallback(Countdown& countdown) : _countdown(countdown) {}
    void response(Ice::Int) { _countdown.done(); }
    void exception(const Ice::Exception&) { _countdown.done(); }

private:
    Countdown& _countdown;
};

// Agent, client adapter, engine and completion pool, built once for all runs.
struct BenchWorld {
    BenchWorld() : agent(benchAgentOptions()) {
        agent.start();
        adapter = new KOVA::KOVAClientAdapter(
            std::vector<std::string>{"bench.LogDir=" + logDir, "benchServer.Proxy=" + agent.agentProxyString(),
                                     "benchServer.Proxy.Locator=TGrid/Locator:tcp -h 127.0.0.1 -p 9",
                                     std::string(kAgentKey) + "=" + agent.agentProxyString()},
            "bench");
        engine = std::make_shared<KOVA::KOVAClientLibImpl>(kAgentKey, adapter);
        if (!engine->Ping()) {
            std::fprintf(stderr, "stand-in agent not reachable\n");
            std::exit(1);
        }
        produceProxy = KOVA::KOVAClientLibImplProbe::produceProxy(*engine);
        service = std::make_shared<boost::asio::io_context>();
        work.reset(new WorkGuard(service->get_executor()));
        for (int i = 0; i < adapter->getMaxClientPoolSize(); ++i) {
            threads.emplace_back([this] { service->run(); });
        }
    }
    ~BenchWorld() {
        std::error_code ignored;
        std::filesystem::remove_all(logDir, ignored);
        work.reset();
        service->stop();
        for (std::thread& t : threads) {
            t.join();
        }
        engine.reset();
        adapter = 0;
        agent.stop();
    }

    static kova::standin::StandinAgentOptions benchAgentOptions() {
        kova::standin::StandinAgentOptions options;
        options.recordCalls = false;
        options.keepMessages = false;
        return options;
    }

    typedef boost::asio::executor_work_guard<boost::asio::io_context::executor_type> WorkGuard;
    const std::string logDir = "/tmp/kova-engine-bench-" + std::to_string(getpid());
    kova::standin::StandinAgent agent;
    KOVA::KOVAClientAdapterPtr adapter;
    KOVA::KOVAClientLibImplPtr engine;
    KOVA::KOVAAgentPrx produceProxy;
    std::shared_ptr<boost::asio::io_context> service;
    std::unique_ptr<WorkGuard> work;
    std::vector<std::thread> threads;
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
        if (w.engine->Produce(kResource, "", batch, properties) != 0) {
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
    Countdown countdown;
    for (auto _ : state) {
        countdown.reset(inFlight);
        for (int i = 0; i < inFlight; ++i) {
            const int issued = w.engine->Produce(
                kResource, "", batch, properties, [](int, void* ck) { static_cast<Countdown*>(ck)->done(); },
                &countdown, w.service);
            if (issued != 0) {
                countdown.done();
            }
        }
        countdown.wait();
    }
    state.SetItemsProcessed(state.iterations() * inFlight);
}

void BareAsync(benchmark::State& state) {
    BenchWorld& w = world();
    const int inFlight = static_cast<int>(state.range(0));
    const KOVAMsg::KOVABatchMessage batch = smallBatch(1);
    Countdown countdown;
    IceUtil::Handle<BareProduceCallback> target = new BareProduceCallback(countdown);
    KOVA::Callback_KOVAAgent_ProducePtr callback = KOVA::newCallback_KOVAAgent_Produce(
        target, &BareProduceCallback::response, &BareProduceCallback::exception);
    for (auto _ : state) {
        countdown.reset(inFlight);
        for (int i = 0; i < inFlight; ++i) {
            w.produceProxy->begin_Produce(kResource, "bench-sid", batch, callback);
        }
        countdown.wait();
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

// Console output as usual, plus the time per iteration of every run (summed
// over repetitions), so that the engine/bare ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !run.error_occurred) {
                Totals& totals = _totals[run.run_name.function_name];
                totals.seconds += run.real_accumulated_time;
                totals.iterations += static_cast<double>(run.iterations);
            }
        }
    }

    void printRatios() const {
        std::printf("\nengine/bare time per iteration (goal <= 1.10):\n");
        for (const auto& entry : _totals) {
            const std::string& name = entry.first;
            if (name.compare(0, 7, "Engine/") != 0) {
                continue;
            }
            const auto bare = _totals.find("Bare/" + name.substr(7));
            if (bare == _totals.end()) {
                continue;
            }
            const double engineSeconds = entry.second.perIteration();
            const double bareSeconds = bare->second.perIteration();
            std::printf("  %-12s %.3f  (engine %.1f us, bare %.1f us per iteration)\n", name.substr(7).c_str(),
                        engineSeconds / bareSeconds, engineSeconds * 1e6, bareSeconds * 1e6);
        }
    }

private:
    struct Totals {
        double seconds = 0;
        double iterations = 0;
        double perIteration() const { return seconds / iterations; }
    };
    std::map<std::string, Totals> _totals;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    registerPairs();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
