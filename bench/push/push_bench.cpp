// Push throughput: batches of 100 records of 1 KiB (raw bodies) pushed by a
// service-side communicator to
//   Listener/...  the client's listener, through the engine's delivery, to a
//                 no-op push callback;
//   Bare/...      a bare AMD servant of the same interface on the client's
//                 communicator that answers at once.
//   .../Sync      one push per iteration;
//   .../Async/16  16 pushes in flight per iteration.
// After the runs the ratio listener/bare of the time per iteration is printed
// (goal: at most 1.20). Each benchmark runs in repetitions and the ratio uses
// the fastest repetition of each side: on a shared machine the minimum is the
// figure least disturbed by other processes.
#include <benchmark/benchmark.h>

#include <boost/asio/io_context.hpp>

#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

#include "KOVAClientAdapter.h"
#include "KOVAClientLibImpl.h"
#include "standin_agent.h"

namespace {

const int kRecords = 100;
const size_t kBodyBytes = 1024;
const int kInFlight = 16;
// Bare and listener runs alternate this many times.
const int kRounds = 3;

class BareListener : public KOVA::KOVAMessageListener {
public:
    void OnMessage_async(const KOVA::AMD_KOVAClient_OnMessagePtr& cb, const std::string&, const std::string&,
                         const std::string&, const KOVAMsg::BatchBytes&, const Ice::Current&) override {
        cb->ice_response(8);
    }
    void ConsumeMessage_async(const KOVA::AMD_KOVAMessageListener_ConsumeMessagePtr& cb, const std::string&,
                              const std::string&, const std::string&, const KOVAMsg::KOVABatchMessage&,
                              const Ice::Current&) override {
        cb->ice_response(0);
    }
};

KOVAMsg::KOVABatchMessage benchBatch() {
    KOVAMsg::KOVABatchMessage batch;
    for (int i = 0; i < kRecords; ++i) {
        KOVAMsg::KOVAMessage message{};
        message.properties["KEYS"] = "key-" + std::to_string(i);
        message.message.assign(kBodyBytes, static_cast<Ice::Byte>('a' + i % 26));
        batch.push_back(message);
    }
    return batch;
}

// Everything both sides need, built once.
struct BenchWorld {
    BenchWorld() {
        kova::standin::StandinAgentOptions options;
        options.recordCalls = false;
        options.keepMessages = false;
        agent = std::make_unique<kova::standin::StandinAgent>(options);
        agent->start();
        adapter = new KOVA::KOVAClientAdapter(
            std::vector<std::string>{"pb.LogLevel=ERROR", "pb.LogDir=/tmp/kova-push-bench-log",
                                     "pb.Endpoints=tcp -h 127.0.0.1",
                                     "pbServer.Proxy=" + agent->agentProxyString(),
                                     "pbServer.Proxy.Locator=TGrid/Locator:tcp -h 127.0.0.1 -p 9"},
            "pb");
        engine = std::make_shared<KOVA::KOVAClientLibImpl>("pbServer.Proxy", adapter);
        std::weak_ptr<KOVA::KOVAClientLibImpl> weak = engine;
        adapter->ActiveAdapter(
            [weak](const std::string& rid, const std::string& sid, const std::string& cid,
                   const std::vector<KOVAMsg::KOVAMessage>& msgs, const Ice::Current& current) {
                std::shared_ptr<KOVA::KOVAClientLibImpl> live = weak.lock();
                return live ? live->ConsumeCallback(rid, sid, cid, msgs, current) : 8;
            },
            false);
        KOVA::PushConsumerCallback noop = [](void*, const std::string&, const std::string&, KOVA::IMessage&&) {
            return 0;
        };
        if (engine->RegisterPushConsumer(kResource, noop, nullptr, 100, 1, monitor) != 0) {
            std::fprintf(stderr, "push consumer registration failed\n");
            std::abort();
        }
        Ice::ObjectAdapterPtr bareAdapter =
            adapter->getCommunicator()->createObjectAdapterWithEndpoints("BareBench", "tcp -h 127.0.0.1");
        bareAdapter->add(new BareListener, Ice::stringToIdentity("bare"));
        bareAdapter->activate();

        Ice::InitializationData init;
        init.properties = Ice::createProperties();
        init.properties->setProperty("Ice.MessageSizeMax", "0");
        service = Ice::initialize(init);
        listener = KOVA::KOVAMessageListenerPrx::uncheckedCast(
            service->stringToProxy(adapter->getListenerProxy()->ice_toString()));
        bare = KOVA::KOVAMessageListenerPrx::uncheckedCast(
            service->stringToProxy(bareAdapter->createProxy(Ice::stringToIdentity("bare"))->ice_toString()));
        batch = benchBatch();
    }

    ~BenchWorld() {
        service->destroy();
        engine.reset();
    }

    static constexpr const char* kResource = "bench-push";
    std::unique_ptr<kova::standin::StandinAgent> agent;
    boost::asio::io_context monitor;  // never run: no monitor ticks during the benchmark
    KOVA::KOVAClientAdapterPtr adapter;
    std::shared_ptr<KOVA::KOVAClientLibImpl> engine;
    Ice::CommunicatorPtr service;
    KOVA::KOVAMessageListenerPrx listener;
    KOVA::KOVAMessageListenerPrx bare;
    KOVAMsg::KOVABatchMessage batch;
};

BenchWorld& world() {
    static BenchWorld w;
    return w;
}

// Counts the completions of one iteration's pushes.
class Countdown : public IceUtil::Shared {
public:
    void reset(int n) {
        std::lock_guard<std::mutex> lock(_mutex);
        _remaining = n;
        _failed = false;
    }
    void response(Ice::Int reply) { done(reply != 0); }
    void exception(const Ice::Exception&) { done(true); }
    bool wait() {
        std::unique_lock<std::mutex> lock(_mutex);
        _zero.wait(lock, [this] { return _remaining <= 0; });
        return !_failed;
    }

private:
    void done(bool failed) {
        std::lock_guard<std::mutex> lock(_mutex);
        _failed = _failed || failed;
        if (--_remaining == 0) {
            _zero.notify_all();
        }
    }
    std::mutex _mutex;
    std::condition_variable _zero;
    int _remaining = 0;
    bool _failed = false;
};

KOVA::KOVAMessageListenerPrx targetOf(bool throughListener) {
    return throughListener ? world().listener : world().bare;
}

void PushSync(benchmark::State& state) {
    BenchWorld& w = world();
    const KOVA::KOVAMessageListenerPrx target = targetOf(state.range(0) != 0);
    for (auto _ : state) {
        if (target->ConsumeMessage(BenchWorld::kResource, "bench-sid", "cid", w.batch) != 0) {
            state.SkipWithError("push not accepted");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

void PushAsync(benchmark::State& state) {
    BenchWorld& w = world();
    const KOVA::KOVAMessageListenerPrx target = targetOf(state.range(0) != 0);
    IceUtil::Handle<Countdown> countdown = new Countdown;
    KOVA::Callback_KOVAMessageListener_ConsumeMessagePtr callback =
        KOVA::newCallback_KOVAMessageListener_ConsumeMessage(countdown, &Countdown::response, &Countdown::exception);
    for (auto _ : state) {
        countdown->reset(kInFlight);
        for (int i = 0; i < kInFlight; ++i) {
            target->begin_ConsumeMessage(BenchWorld::kResource, "bench-sid", "cid", w.batch, callback);
        }
        if (!countdown->wait()) {
            state.SkipWithError("push not accepted");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kInFlight * kRecords);
}

// Each bare run directly precedes its listener run, so both see the same
// machine state.
void registerPairs() {
    const std::string async = "Async/" + std::to_string(kInFlight);
    for (int round = 0; round < kRounds; ++round) {
        benchmark::RegisterBenchmark("Bare/Sync", PushSync)->Arg(0)->UseRealTime();
        benchmark::RegisterBenchmark("Listener/Sync", PushSync)->Arg(1)->UseRealTime();
        benchmark::RegisterBenchmark(("Bare/" + async).c_str(), PushAsync)->Arg(0)->UseRealTime();
        benchmark::RegisterBenchmark(("Listener/" + async).c_str(), PushAsync)->Arg(1)->UseRealTime();
    }
}

// Console output plus the fastest time per iteration of every benchmark name,
// for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !run.error_occurred) {
                const double perIteration = run.real_accumulated_time / static_cast<double>(run.iterations);
                auto known = _fastest.find(run.run_name.function_name);
                if (known == _fastest.end() || perIteration < known->second) {
                    _fastest[run.run_name.function_name] = perIteration;
                }
            }
        }
    }

    void printRatios() const {
        std::printf("\nlistener/bare time per iteration (goal <= 1.20):\n");
        for (const auto& entry : _fastest) {
            const std::string& name = entry.first;
            const std::string prefix = "Listener/";
            if (name.compare(0, prefix.size(), prefix) != 0) {
                continue;
            }
            const auto bare = _fastest.find("Bare/" + name.substr(prefix.size()));
            if (bare == _fastest.end()) {
                continue;
            }
            const double listenerSeconds = entry.second;
            const double bareSeconds = bare->second;
            std::printf("  %-10s %.3f  (listener %.1f us, bare %.1f us per iteration)\n",
                        name.substr(prefix.size()).c_str(), listenerSeconds / bareSeconds, listenerSeconds * 1e6,
                        bareSeconds * 1e6);
        }
    }

private:
    std::map<std::string, double> _fastest;  // seconds per iteration
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
