// Each body codec, encode and decode, beside the bare library call on the same input,
// then a table of the ratios ours/raw (and, for gzip, the plain stream chain/raw).
// LZ4 decodes also frames from a streaming producer that flushes every write (4 MiB
// of text in 1 KiB and 4 KiB writes), and a 1 MiB frame of blocks of one byte each.
//
// The LZ4 encoder reports its flushes on standard output; while the benchmarks run,
// standard output goes to /dev/null and the reports go to the original descriptor.
#include <benchmark/benchmark.h>
#include <boost/iostreams/device/file_descriptor.hpp>
#include <boost/iostreams/stream.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <iomanip>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "KOVACommon.h"
#include "PublicTools.h"
#include "codec_bodies.h"
#include "gzip_reference_chain.h"
#include "median_times.h"
#include "raw_codecs.h"

namespace {

using kova::test::codecs::CompressibleBody;
using kova::test::codecs::GunzipThroughStreams;
using kova::test::codecs::GzipThroughStreams;
using kova::test::codecs::Lz4FlushedFrame;
using kova::test::codecs::RandomBody;

const size_t kSizes[] = {1 << 10, 64 << 10, 1 << 20};

struct Codec {
    const char* name;
    int ce;
    std::function<kova::test::bench::Buffer(const std::string&)> rawEncode;
    std::function<kova::test::bench::Buffer(const std::string&, size_t)> rawDecode;
};

const std::vector<Codec>& Codecs() {
    static const std::vector<Codec> codecs = {
        {"gzip", KOVA::COMMON::E_GZIP, kova::test::bench::GzipEncode, kova::test::bench::GzipDecode},
        {"lz4", KOVA::COMMON::E_LZ4, kova::test::bench::Lz4Encode, kova::test::bench::Lz4Decode},
        {"zstd", KOVA::COMMON::E_ZSTD, kova::test::bench::ZstdEncode, kova::test::bench::ZstdDecode},
    };
    return codecs;
}

struct Input {
    std::string kind;  // "text" or "random"
    std::string plain;
    std::string encoded;  // by our codec; the one input of both decoders
};

std::string Name(const std::string& codec, const std::string& op, const std::string& impl, const Input& in) {
    return codec + "/" + op + "/" + impl + "/" + in.kind + "/" + std::to_string(in.plain.size());
}

void Require(bool ok, const std::string& what) {
    if (!ok) throw std::runtime_error("codec check failed: " + what);
}

void RegisterDecode(const Codec& codec, const Input& in) {
    const int ce = codec.ce;
    const std::string plainName = codec.name;
    // Check once, outside timing, that every road gives the body back.
    std::string decoded;
    Require(TQPublicTool::DecodeContent(ce, in.encoded, decoded) && decoded == in.plain,
            Name(plainName, "decode", "ours", in));
    Require(codec.rawDecode(in.encoded, in.plain.size()).str() == in.plain, Name(plainName, "decode", "raw", in));

    auto bytes = static_cast<int64_t>(in.plain.size());
    benchmark::RegisterBenchmark(Name(plainName, "decode", "ours", in).c_str(), [ce, &in, bytes](benchmark::State& st) {
        for (auto _ : st) {
            std::string out;
            TQPublicTool::DecodeContent(ce, in.encoded, out);
            benchmark::DoNotOptimize(out.data());
        }
        st.SetBytesProcessed(st.iterations() * bytes);
    });
    benchmark::RegisterBenchmark(
        Name(plainName, "decode", "raw", in).c_str(), [&codec, &in, bytes](benchmark::State& st) {
            for (auto _ : st) benchmark::DoNotOptimize(codec.rawDecode(in.encoded, in.plain.size()).data.get());
            st.SetBytesProcessed(st.iterations() * bytes);
        });
}

void RegisterCodec(const Codec& codec, const Input& in) {
    RegisterDecode(codec, in);
    const int ce = codec.ce;
    const std::string plainName = codec.name;
    auto bytes = static_cast<int64_t>(in.plain.size());
    benchmark::RegisterBenchmark(Name(plainName, "encode", "ours", in).c_str(), [ce, &in, bytes](benchmark::State& st) {
        for (auto _ : st) {
            std::string out;
            TQPublicTool::EncodeContent(ce, in.plain, out);
            benchmark::DoNotOptimize(out.data());
        }
        st.SetBytesProcessed(st.iterations() * bytes);
    });
    benchmark::RegisterBenchmark(Name(plainName, "encode", "raw", in).c_str(),
                                 [&codec, &in, bytes](benchmark::State& st) {
                                     for (auto _ : st) benchmark::DoNotOptimize(codec.rawEncode(in.plain).data.get());
                                     st.SetBytesProcessed(st.iterations() * bytes);
                                 });
    if (ce != KOVA::COMMON::E_GZIP) return;
    // The straightforward stream chain, to show what the direct road saves.
    benchmark::RegisterBenchmark(Name(plainName, "encode", "chain", in).c_str(), [&in, bytes](benchmark::State& st) {
        for (auto _ : st) benchmark::DoNotOptimize(GzipThroughStreams(in.plain).data());
        st.SetBytesProcessed(st.iterations() * bytes);
    });
    benchmark::RegisterBenchmark(Name(plainName, "decode", "chain", in).c_str(), [&in, bytes](benchmark::State& st) {
        for (auto _ : st) benchmark::DoNotOptimize(GunzipThroughStreams(in.encoded).data());
        st.SetBytesProcessed(st.iterations() * bytes);
    });
}

void PrintRatios(std::ostream& out, const kova::test::bench::MedianTimes& times,
                 const std::map<std::string, std::vector<Input>>& inputsByCodec) {
    out << "\nratio of real time per call (median of the repetitions), ours/raw"
           " (gzip: also the plain stream chain/raw)\n";
    out << std::left << std::setw(8) << "codec" << std::setw(8) << "op" << std::setw(8) << "data" << std::right
        << std::setw(9) << "bytes" << std::setw(12) << "raw us" << std::setw(12) << "ours us" << std::setw(10)
        << "ours/raw" << std::setw(11) << "chain/raw"
        << "\n";
    out << std::fixed;
    for (const Codec& codec : Codecs()) {
        for (const char* op : {"encode", "decode"}) {
            for (const Input& in : inputsByCodec.at(codec.name)) {
                double raw = times.seconds(Name(codec.name, op, "raw", in));
                double ours = times.seconds(Name(codec.name, op, "ours", in));
                double chain = times.seconds(Name(codec.name, op, "chain", in));
                if (raw <= 0 || ours <= 0) continue;  // filtered out
                out << std::left << std::setw(8) << codec.name << std::setw(8) << op << std::setw(8) << in.kind
                    << std::right << std::setw(9) << in.plain.size() << std::setprecision(1) << std::setw(12)
                    << raw * 1e6 << std::setw(12) << ours * 1e6 << std::setprecision(3) << std::setw(10) << ours / raw;
                if (chain > 0) out << std::setw(11) << chain / raw;
                out << "\n";
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Defaults first, so that the caller's flags override them.
    std::vector<char*> args = {argv[0]};
    char minTime[] = "--benchmark_min_time=0.2";
    char repetitions[] = "--benchmark_repetitions=5";
    char aggregatesOnly[] = "--benchmark_report_aggregates_only=true";
    char interleave[] = "--benchmark_enable_random_interleaving=true";  // drift hits both sides alike
    args.insert(args.end(), {minTime, repetitions, aggregatesOnly, interleave});
    args.insert(args.end(), argv + 1, argv + argc);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

    fflush(stdout);
    int reportFd = dup(STDOUT_FILENO);
    int devNull = open("/dev/null", O_WRONLY);
    if (reportFd < 0 || devNull < 0 || dup2(devNull, STDOUT_FILENO) < 0) return 1;
    close(devNull);
    namespace io = boost::iostreams;
    io::stream<io::file_descriptor_sink> report(reportFd, io::close_handle);

    // One input set per (codec, data kind, size), kept alive for the whole run.
    std::map<std::string, std::vector<Input>> inputsByCodec;
    for (const Codec& codec : Codecs()) {
        std::vector<Input>& inputs = inputsByCodec[codec.name];
        inputs.reserve(2 * std::size(kSizes) + 3);
        for (const char* kind : {"text", "random"}) {
            for (size_t size : kSizes) {
                Input in{kind, kind[0] == 't' ? CompressibleBody(size) : RandomBody(size), ""};
                if (!TQPublicTool::EncodeContent(codec.ce, in.plain, in.encoded)) return 1;
                inputs.push_back(std::move(in));
            }
        }
        if (codec.ce == KOVA::COMMON::E_LZ4) {
            const std::string text = CompressibleBody(4 << 20);
            for (size_t write : {1 << 10, 4 << 10})
                inputs.push_back({"flush" + std::to_string(write >> 10) + "k", text, Lz4FlushedFrame(text, write)});
            const std::string tiny = text.substr(0, 174760);  // a 1 MiB frame
            inputs.push_back({"tiny", tiny, kova::test::codecs::Lz4FrameOfTinyBlocks(tiny)});
        }
        for (const Input& in : inputs) {
            if (in.kind == "text" || in.kind == "random") {
                RegisterCodec(codec, in);
            } else {
                RegisterDecode(codec, in);
            }
        }
    }

    kova::test::bench::MedianTimes collector(benchmark::ConsoleReporter::OO_Tabular);
    collector.SetOutputStream(&report);
    collector.SetErrorStream(&report);
    benchmark::RunSpecifiedBenchmarks(&collector);
    PrintRatios(report, collector, inputsByCodec);
    report.flush();
    benchmark::Shutdown();
    return 0;
}
