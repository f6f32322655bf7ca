// The reporter of the benches that measure against a baseline in the same run: the usual
// table, then lines of ratios that a bench's Finalize prints from the times kept here.
#pragma once

#include <benchmark/benchmark.h>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kov::bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                seconds_per_iteration_[run.benchmark_name()] =
                    run.real_accumulated_time / static_cast<double>(run.iterations);
            }
        }
    }

protected:
    // How many times the rate of `baseline` the benchmark `ours` ran at, if both ran.
    std::optional<double> speedup(const std::string& ours, const std::string& baseline) const {
        const auto mine = seconds_per_iteration_.find(ours);
        const auto theirs = seconds_per_iteration_.find(baseline);
        if (mine == seconds_per_iteration_.end() || theirs == seconds_per_iteration_.end()) {
            return std::nullopt;
        }
        return theirs->second / mine->second;
    }

private:
    std::map<std::string, double> seconds_per_iteration_;
};

// The usual benchmark main, with `reporter` in place of the console's.
inline int run_benchmarks(int argc, char** argv, benchmark::BenchmarkReporter& reporter) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

} // namespace kov::bench
