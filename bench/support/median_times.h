// A console reporter that also keeps every benchmark's real time per
// iteration, by name: the median of the repetitions when there are several (the
// machines are shared, so single runs are noisy), else the one run. Header-only,
// needs nothing but Google Benchmark.
// Thread-safety: used from the benchmark's main thread only.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace kova::test::bench {

class MedianTimes : public benchmark::ConsoleReporter {
public:
    explicit MedianTimes(OutputOptions options = OO_Defaults) : benchmark::ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const std::string& name = run.run_name.function_name;
            const double perCall = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                seconds_[name] = perCall;
                fromMedian_.insert(name);
            } else if (run.run_type == Run::RT_Iteration && fromMedian_.count(name) == 0) {
                seconds_[name] = perCall;
            }
        }
        benchmark::ConsoleReporter::ReportRuns(runs);
    }
    // Seconds per iteration of `name`; 0 when it did not run (filtered out).
    double seconds(const std::string& name) const {
        const auto it = seconds_.find(name);
        return it == seconds_.end() ? 0 : it->second;
    }

private:
    std::map<std::string, double> seconds_;
    std::set<std::string> fromMedian_;
};

}  // namespace kova::test::bench
