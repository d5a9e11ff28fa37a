// Store, asynchronous and synchronous, and Read, each beside the bare operations it
// is made of, measured in the same run; then a table of the ratios.
//
//   Store async   vs  serialise the batch into a string + copy it into an anonymous mapping
//   Store sync    vs  one msync(MS_SYNC) of one dirtied page of a file in the same directory
//                     (and two in a row: a record and then the header that counts it)
//   Read          vs  decoding the same record from memory
//
// Store runs use a fixed number of iterations so that the files stay small; every run
// starts with a fresh directory.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include <boost/archive/binary_iarchive.hpp>
#include <boost/archive/binary_oarchive.hpp>

#include "KOVALog.h"
#include "KOVAMessageSerialization.h"
#include "KOVAStoreFile.h"
#include "median_times.h"
#include "temp_dir.h"
#include "unique_prefix.h"

namespace {

const KOVA::COMMON::KOVAProperties kProperties{{"born", "bench"}};

// The file-name prefix of this run; its semaphores go when the run ends.
const kova::test::store::UniquePrefix& prefix() {
    static const kova::test::store::UniquePrefix runPrefix("bench");
    return runPrefix;
}

// Four messages sharing `bytes` of body.
KOVAMsg::KOVABatchMessage batchOf(size_t bytes) {
    KOVAMsg::KOVABatchMessage batch(4);
    for (size_t i = 0; i < batch.size(); ++i) {
        batch[i].properties = {{"CONTENT_ENCODING", "raw"}, {"TAGS", "t" + std::to_string(i)}};
        batch[i].s_properties = {"id-" + std::to_string(i), "127.0.0.1", ""};
        batch[i].i_properties = {0, 1, 0};
        batch[i].l_properties = {1700000000000L, 0, 0, 0, 0};
        batch[i].message.assign(bytes / batch.size(), static_cast<Ice::Byte>('a' + i));
    }
    return batch;
}

std::string serialise(const KOVAMsg::KOVABatchMessage& batch) {
    std::ostringstream out;
    boost::archive::binary_oarchive archive(out);
    archive << std::string("bench") << kProperties << batch;
    return out.str();
}

void storeBatches(benchmark::State& state, size_t bytes, bool async) {
    const KOVAMsg::KOVABatchMessage batch = batchOf(bytes);
    kova::test::fixtures::TempDir dir("kova-store-bench");
    KOVA::KOVAStoreFile store(dir.path().string(), prefix().str(), "", async, 0, 0);
    for (auto _ : state) {
        if (!store.Store("bench", batch, kProperties)) state.SkipWithError("Store failed");
    }
}

void serialiseAndCopy(benchmark::State& state, size_t bytes) {
    const KOVAMsg::KOVABatchMessage batch = batchOf(bytes);
    const size_t mapBytes = 64 << 20;
    void* map = ::mmap(nullptr, mapBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    size_t offset = 0;
    for (auto _ : state) {
        const std::string record = serialise(batch);
        if (offset + record.size() > mapBytes) offset = 0;
        std::memcpy(static_cast<char*>(map) + offset, record.data(), record.size());
        offset += record.size();
        benchmark::ClobberMemory();
    }
    ::munmap(map, mapBytes);
}

// `pages` msync(MS_SYNC) calls one after the other, each of one dirtied page.
void bareMsync(benchmark::State& state, int pages) {
    kova::test::fixtures::TempDir dir("kova-store-bench");
    const int fd = ::open(dir.file("page").c_str(), O_RDWR | O_CREAT, 0644);
    const long page = ::sysconf(_SC_PAGESIZE);
    if (fd < 0 || ::ftruncate(fd, page * pages) != 0) return state.SkipWithError("no file");
    char* map = static_cast<char*>(::mmap(nullptr, page * pages, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    for (auto _ : state) {
        for (int i = 0; i < pages; ++i) {
            ++map[i * page];
            if (::msync(map + i * page, page, MS_SYNC) != 0) state.SkipWithError("msync failed");
        }
    }
    ::munmap(map, page * pages);
    ::close(fd);
}

void readBatches(benchmark::State& state, size_t bytes) {
    const KOVAMsg::KOVABatchMessage batch = batchOf(bytes);
    kova::test::fixtures::TempDir dir("kova-store-bench");
    {
        KOVA::KOVAStoreFile writer(dir.path().string(), prefix().str(), "", true, 1 << 30, 0);
        for (int64_t i = 0; i < state.max_iterations; ++i) writer.Store("bench", batch, kProperties);
    }
    KOVA::KOVAStoreFile reader(dir.path().string(), prefix().str(), "", true, 0, 0);
    const KOVA::readCacheCb accept = [](auto&&...) { return true; };
    for (auto _ : state) {
        if (reader.Read(accept, 5) <= 0) state.SkipWithError("Read handed nothing back");
    }
}

void decodeFromMemory(benchmark::State& state, size_t bytes) {
    const std::string record = serialise(batchOf(bytes));
    for (auto _ : state) {
        std::istringstream in(record);
        boost::archive::binary_iarchive archive(in);
        std::string rid;
        KOVA::COMMON::KOVAProperties properties;
        KOVAMsg::KOVABatchMessage batch;
        archive >> rid >> properties >> batch;
        benchmark::DoNotOptimize(batch.data());
    }
}

struct Pair {
    std::string ours, bare, goal;
};

const std::map<size_t, std::string> kSizes{{1 << 10, "1KiB"}, {64 << 10, "64KiB"}};

}  // namespace

int main(int argc, char** argv) {
    kova::test::fixtures::TempDir logDir("kova-store-bench-log");
    TQPublicTool::KOVALog::getLogInstance(logDir.path().string(), "store-bench");
    std::vector<Pair> pairs;
    for (const auto& [bytes, size] : kSizes) {
        const size_t b = bytes;
        const int64_t asyncCalls = b < 4096 ? 20000 : 2000, syncCalls = b < 4096 ? 300 : 100;
        benchmark::RegisterBenchmark(("Store/async/" + size).c_str(), [b](auto& s) {
            storeBatches(s, b, true);
        })->Iterations(asyncCalls);
        benchmark::RegisterBenchmark(("SerialiseCopy/" + size).c_str(), [b](auto& s) {
            serialiseAndCopy(s, b);
        })->Iterations(asyncCalls);
        benchmark::RegisterBenchmark(("Store/sync/" + size).c_str(), [b](auto& s) {
            storeBatches(s, b, false);
        })->Iterations(syncCalls);
        benchmark::RegisterBenchmark(("Read/" + size).c_str(), [b](auto& s) {
            readBatches(s, b);
        })->Iterations(asyncCalls);
        benchmark::RegisterBenchmark(("Decode/" + size).c_str(), [b](auto& s) {
            decodeFromMemory(s, b);
        })->Iterations(asyncCalls);
        pairs.push_back({"Store/async/" + size, "SerialiseCopy/" + size, "2.0"});
        pairs.push_back({"Store/sync/" + size, "Msync/page", "1.5"});
        pairs.push_back({"Store/sync/" + size, "Msync/2pages", "-"});
        pairs.push_back({"Read/" + size, "Decode/" + size, "-"});
    }
    benchmark::RegisterBenchmark("Msync/page", [](auto& s) { bareMsync(s, 1); })->Iterations(300);
    // The floor of an ordered synchronous write: the record's page, then the header's.
    benchmark::RegisterBenchmark("Msync/2pages", [](auto& s) { bareMsync(s, 2); })->Iterations(300);

    std::vector<char*> args = {argv[0]};
    char repetitions[] = "--benchmark_repetitions=5";
    char aggregatesOnly[] = "--benchmark_report_aggregates_only=true";
    args.insert(args.end(), {repetitions, aggregatesOnly});
    args.insert(args.end(), argv + 1, argv + argc);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    kova::test::bench::MedianTimes collector;
    benchmark::RunSpecifiedBenchmarks(&collector);

    std::cout << "\nratio of median real time per call, ours/bare\n"
              << std::left << std::setw(18) << "ours" << std::setw(20) << "bare" << std::right << std::setw(12)
              << "ours us" << std::setw(12) << "bare us" << std::setw(10) << "ratio" << std::setw(8) << "goal"
              << "\n"
              << std::fixed;
    for (const Pair& pair : pairs) {
        const double ours = collector.seconds(pair.ours), bare = collector.seconds(pair.bare);
        if (ours <= 0 || bare <= 0) continue;
        std::cout << std::left << std::setw(18) << pair.ours << std::setw(20) << pair.bare << std::right
                  << std::setprecision(1) << std::setw(12) << ours * 1e6 << std::setw(12) << bare * 1e6
                  << std::setprecision(2) << std::setw(10) << ours / bare << std::setw(8) << pair.goal << "\n";
    }
    benchmark::Shutdown();
    return 0;
}
