// Push throughput: batches of 100 records of 1 KiB (raw bodies) pushed by a
// service-side communicator to
//   Listener/...  the client's listener, through the engine's delivery, to a
//                 no-op push callback;
//   Bare/...      a bare AMD servant of the same interface on the client's
//                 communicator that answers at once.
//   .../Sync      one push per iteration;
//   .../Async/16  16 pushes in flight per iteration.
//   .../Shared/.. the same over the client's own connection to the agent (a
//                 listener without endpoints): the pushes arrive on the
//                 client's Ice threads and the listener's go through the push
//                 pool, the bare servant's are answered on the Ice thread.
// After the runs the ratio listener/bare of the time per iteration is printed
// (goal: at most 1.10). Each benchmark runs in repetitions and the ratio uses
// the fastest repetition of each side: on a shared machine the minimum is the
// figure least disturbed by other processes.
#include <benchmark/benchmark.h>

#include <boost/asio/io_context.hpp>

#include <cstdio>
#include <memory>

#include "KOVAClientAdapter.h"
#include "KOVAClientLibImpl.h"
#include "batches.h"
#include "bench_pairs.h"
#include "client_items.h"
#include "countdown.h"
#include "push_forwarding.h"
#include "standin_agent.h"

namespace {

using kova::test::bench::Countdown;
using kova::test::bench::CountdownPtr;

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

// Everything both sides need, built once.
struct BenchWorld {
    BenchWorld() {
        kova::test::standin::StandinAgentOptions options;
        options.recordCalls = false;
        options.keepMessages = false;
        agent = std::make_unique<kova::test::standin::StandinAgent>(options);
        agent->start();
        adapter = new KOVA::KOVAClientAdapter(
            kova::test::engine::clientItems("pb", agent->agentProxyString(),
                                            {"pb.LogLevel=ERROR", "pb.Endpoints=tcp -h 127.0.0.1"}),
            "pb");
        engine = std::make_shared<KOVA::KOVAClientLibImpl>("pbServer.Proxy", adapter);
        adapter->ActiveAdapter(kova::test::engine::forwardingCallback(engine), false);
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
        batch = kova::test::engine::keyedBatch(kRecords, kBodyBytes);
        connectShared(noop);
    }

    // A second client without endpoints, registered by identity: the agent
    // reaches it over the client's connection, as the service would.
    void connectShared(KOVA::PushConsumerCallback noop) {
        sharedAdapter = new KOVA::KOVAClientAdapter(
            kova::test::engine::clientItems("ps", agent->agentProxyString(), {"ps.LogLevel=ERROR"}), "ps");
        sharedEngine = std::make_shared<KOVA::KOVAClientLibImpl>("psServer.Proxy", sharedAdapter);
        sharedAdapter->ActiveAdapter(kova::test::engine::forwardingCallback(sharedEngine), false);
        if (sharedEngine->RegisterPushConsumer(kResource, noop, nullptr, 100, 1, monitor) != 0) {
            std::fprintf(stderr, "shared push consumer registration failed\n");
            std::abort();
        }
        for (const kova::test::standin::ListenerRegistration& registration : agent->registrations()) {
            if (registration.byIdentity) {
                sharedListener = registration.listener;
            }
        }
        if (!sharedListener) {
            std::fprintf(stderr, "no listener registered by identity\n");
            std::abort();
        }
        sharedAdapter->getAdapter()->add(new BareListener, Ice::stringToIdentity("bare"));
        sharedBare =
            KOVA::KOVAMessageListenerPrx::uncheckedCast(sharedListener->ice_identity(Ice::stringToIdentity("bare")));
    }

    ~BenchWorld() {
        service->destroy();
        engine.reset();
        sharedEngine.reset();
    }

    static constexpr const char* kResource = "bench-push";
    std::unique_ptr<kova::test::standin::StandinAgent> agent;
    boost::asio::io_context monitor;  // never run: no monitor ticks during the benchmark
    KOVA::KOVAClientAdapterPtr adapter;
    std::shared_ptr<KOVA::KOVAClientLibImpl> engine;
    Ice::CommunicatorPtr service;
    KOVA::KOVAMessageListenerPrx listener;
    KOVA::KOVAMessageListenerPrx bare;
    KOVAMsg::KOVABatchMessage batch;
    KOVA::KOVAClientAdapterPtr sharedAdapter;
    std::shared_ptr<KOVA::KOVAClientLibImpl> sharedEngine;
    KOVA::KOVAMessageListenerPrx sharedListener;  // called from the agent's communicator
    KOVA::KOVAMessageListenerPrx sharedBare;
};

BenchWorld& world() {
    static BenchWorld w;
    return w;
}

enum Target {
    kBare,
    kListener,
    kSharedBare,
    kSharedListener
};

KOVA::KOVAMessageListenerPrx targetOf(int64_t target) {
    switch (target) {
        case kListener: return world().listener;
        case kSharedBare: return world().sharedBare;
        case kSharedListener: return world().sharedListener;
        default: return world().bare;
    }
}

void PushSync(benchmark::State& state) {
    BenchWorld& w = world();
    const KOVA::KOVAMessageListenerPrx target = targetOf(state.range(0));
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
    const KOVA::KOVAMessageListenerPrx target = targetOf(state.range(0));
    const CountdownPtr countdown = new Countdown;
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
        benchmark::RegisterBenchmark("Bare/Sync", PushSync)->Arg(kBare)->UseRealTime();
        benchmark::RegisterBenchmark("Listener/Sync", PushSync)->Arg(kListener)->UseRealTime();
        benchmark::RegisterBenchmark(("Bare/" + async).c_str(), PushAsync)->Arg(kBare)->UseRealTime();
        benchmark::RegisterBenchmark(("Listener/" + async).c_str(), PushAsync)->Arg(kListener)->UseRealTime();
        benchmark::RegisterBenchmark("Bare/Shared/Sync", PushSync)->Arg(kSharedBare)->UseRealTime();
        benchmark::RegisterBenchmark("Listener/Shared/Sync", PushSync)->Arg(kSharedListener)->UseRealTime();
        benchmark::RegisterBenchmark(("Bare/Shared/" + async).c_str(), PushAsync)->Arg(kSharedBare)->UseRealTime();
        benchmark::RegisterBenchmark(("Listener/Shared/" + async).c_str(), PushAsync)
            ->Arg(kSharedListener)
            ->UseRealTime();
    }
}

}  // namespace

int main(int argc, char** argv) {
    // The fastest repetition of each side.
    return kova::test::bench::runPairs(argc, argv, {"Listener", 1.10, true, 16}, registerPairs);
}
