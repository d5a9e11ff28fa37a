// Cost of the engine's synchronous pull over a bare KOVAAgent::Consume.
//
// The stand-in agent answers every pull of a resource with the same standing
// batch of 100 records of 1 KiB, once with raw bodies and once with zstd
// bodies. The bare side calls Consume on a plain agent proxy and gets the
// records as they came off the wire; the engine side adds the session id, the
// direct-pull check, the conversion into ConsumeStatus with one IMessage per
// record and, for zstd, the decompression of every body.
//
// Each iteration runs one bare and one engine pull back to back and times
// them separately, so that both see the same machine state (others share it).
// The counters and the closing lines give engine/bare per pull.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>

#include "KOVAClientAdapter.h"
#include "KOVAClientLibImpl.h"
#include "PublicTools.h"
#include "bench_pairs.h"
#include "standin_agent.h"

namespace {

const int kRecords = 100;
const size_t kBodyBytes = 1024;

// Text-like bodies, so that zstd has something to do.
std::string bodyOf(int index) {
    std::string body;
    while (body.size() < kBodyBytes) {
        body += "record " + std::to_string(index) + " field " + std::to_string(body.size() % 97) + "; ";
    }
    body.resize(kBodyBytes);
    return body;
}

KOVAMsg::KOVABatchMessage standingBatch(bool zstd) {
    KOVAMsg::KOVABatchMessage batch;
    for (int i = 0; i < kRecords; ++i) {
        KOVAMsg::KOVAMessage message{};
        message.properties["KEYS"] = "k" + std::to_string(i);
        std::string body = bodyOf(i);
        if (zstd) {
            std::string packed;
            TQPublicTool::EncodeContent(KOVA::COMMON::E_ZSTD, body, packed);
            body.swap(packed);
            message.properties[KOVAMsg::kovasEncodingProperty] = KOVAMsg::kovasZSTDProperty;
        }
        message.message.assign(body.begin(), body.end());
        batch.push_back(message);
    }
    return batch;
}

struct BenchWorld {
    BenchWorld() : client(kova::test::standin::StandinAgentOptions()) {
        client.agent.setStandingBatch("raw", standingBatch(false));
        client.agent.setStandingBatch("zstd", standingBatch(true));
        // Same settings as the engine's own pull proxy.
        bare = KOVA::KOVAAgentPrx::checkedCast(
                   client.adapter->getCommunicator()->stringToProxy(client.agent.agentProxyString()))
                   ->ice_connectionCached(false)
                   ->ice_locatorCacheTimeout(5);
    }
    ~BenchWorld() { bare = 0; }

    kova::test::bench::BenchClient client;
    KOVA::KOVAAgentPrx bare;
};

BenchWorld& world() {
    static BenchWorld instance;
    return instance;
}

// engine/bare per encoding, for the closing lines.
std::map<std::string, double>& ratios() {
    static std::map<std::string, double> values;
    return values;
}

void PullPair(benchmark::State& state, const std::string& rid) {
    BenchWorld& w = world();
    typedef std::chrono::steady_clock Clock;
    Clock::duration bareTime{};
    Clock::duration engineTime{};
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        KOVAMsg::KOVABatchMessage records;
        const KOVA::ConsumeResultInfo reply = w.bare->Consume(rid, "bench-sid", kRecords, 0, records);
        const Clock::time_point middle = Clock::now();
        std::string sid;
        KOVA::ConsumeStatusPtr status = w.client.engine->Consume(rid, sid, kRecords, {}, 0);
        const Clock::time_point end = Clock::now();
        if (reply.code != 0 || records.size() != static_cast<size_t>(kRecords) || status->Status() != 0 ||
            status->msgList.size() != static_cast<size_t>(kRecords) ||
            status->msgList.back().Message().size() != kBodyBytes) {
            state.SkipWithError("pull did not deliver the whole batch");
            break;
        }
        benchmark::DoNotOptimize(records);
        benchmark::DoNotOptimize(status);
        bareTime += middle - start;
        engineTime += end - middle;
    }
    const double iterations = static_cast<double>(state.iterations());
    const double bareUs = std::chrono::duration<double, std::micro>(bareTime).count() / iterations;
    const double engineUs = std::chrono::duration<double, std::micro>(engineTime).count() / iterations;
    state.counters["bare_us"] = bareUs;
    state.counters["engine_us"] = engineUs;
    state.counters["ratio"] = engineUs / bareUs;
    ratios()[rid] = engineUs / bareUs;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("SyncPull100x1KiB/raw", PullPair, std::string("raw"))->UseRealTime();
    benchmark::RegisterBenchmark("SyncPull100x1KiB/zstd", PullPair, std::string("zstd"))->UseRealTime();
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\nengine/bare time per pull of %d x %zu B (goal for raw <= 1.20):\n", kRecords, kBodyBytes);
    for (const auto& entry : ratios()) std::printf("  %-5s %.3f\n", entry.first.c_str(), entry.second);
    benchmark::Shutdown();
    return 0;
}
