// For benchmarks that run each "Bare/<case>" directly before its
// "<Subject>/<case>" (so both see the same machine state): a console reporter that
// also prints the subject/bare ratio of the time per iteration of every case, and the
// main() body that runs them. Header-only, needs nothing but Google Benchmark (which
// the benchmark binaries link themselves).
// Thread-safety: used from the benchmark's main thread only.
#pragma once

#include <benchmark/benchmark.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace kova::test::bench {

struct PairRatioOptions {
    std::string subject;             // "Engine" pairs "Engine/<case>" with "Bare/<case>"
    double goal = 1.0;               // the ratio aimed at, printed in the heading
    bool fastestRepetition = false;  // else the time is summed over repetitions
    int caseWidth = 12;              // column of the case names
};

class PairRatioReporter : public benchmark::ConsoleReporter {
public:
    explicit PairRatioReporter(PairRatioOptions options) : _options(std::move(options)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations <= 0 || run.error_occurred) {
                continue;
            }
            Totals& totals = _totals[run.run_name.function_name];
            const double seconds = run.real_accumulated_time;
            const double iterations = static_cast<double>(run.iterations);
            if (!_options.fastestRepetition) {
                totals.seconds += seconds;
                totals.iterations += iterations;
            } else if (totals.iterations == 0 || seconds / iterations < totals.perIteration()) {
                totals.seconds = seconds;
                totals.iterations = iterations;
            }
        }
    }

    void printRatios() const {
        std::string label = _options.subject;
        if (!label.empty()) {
            label[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(label[0])));
        }
        const std::string prefix = _options.subject + "/";
        std::printf("\n%s/bare time per iteration (goal <= %.2f):\n", label.c_str(), _options.goal);
        for (const auto& entry : _totals) {
            const std::string& name = entry.first;
            if (name.compare(0, prefix.size(), prefix) != 0) {
                continue;
            }
            const std::string caseName = name.substr(prefix.size());
            const auto bare = _totals.find("Bare/" + caseName);
            if (bare == _totals.end()) {
                continue;
            }
            const double subjectSeconds = entry.second.perIteration();
            const double bareSeconds = bare->second.perIteration();
            std::printf("  %-*s %.3f  (%s %.1f us, bare %.1f us per iteration)\n", _options.caseWidth, caseName.c_str(),
                        subjectSeconds / bareSeconds, label.c_str(), subjectSeconds * 1e6, bareSeconds * 1e6);
        }
    }

private:
    struct Totals {
        double seconds = 0;
        double iterations = 0;
        double perIteration() const { return seconds / iterations; }
    };
    const PairRatioOptions _options;
    std::map<std::string, Totals> _totals;
};

// The whole main(): registers the pairs, runs them and prints the ratios.
inline int runPairs(int argc, char** argv, const PairRatioOptions& options, void (*registerPairs)()) {
    benchmark::Initialize(&argc, argv);
    registerPairs();
    PairRatioReporter reporter(options);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}

}  // namespace kova::test::bench
