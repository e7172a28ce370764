// Prints, after a Google Benchmark run, each benchmark's time as a ratio to its reference.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace benchsupport {

// Collects real times per benchmark name while forwarding to the console reporter. With
// --benchmark_repetitions the median of the repetitions is used, not the last one.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) {
                continue;
            }
            std::string name = run.run_name.str();
            if (auto pos = name.find("/real_time"); pos != std::string::npos) {
                name.erase(pos, 10);
            }
            if (run.run_type == Run::RT_Iteration) {
                times_[name] = run.GetAdjustedRealTime();
            } else if (run.aggregate_name == "median") {
                medians_[name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    double time(const std::string& name) const {
        if (auto it = medians_.find(name); it != medians_.end()) {
            return it->second;
        }
        auto it = times_.find(name);
        return it == times_.end() ? 0.0 : it->second;
    }

    // Prints "name / reference = ratio (goal)" for each pair whose both sides ran.
    void printRatios(const std::vector<std::pair<std::string, std::string>>& pairs,
                     const char* goal = "") const {
        std::printf("\nratios (ours / reference%s%s)\n", *goal ? ", goal: " : "", goal);
        for (const auto& [ours, reference] : pairs) {
            const double a = time(ours);
            const double b = time(reference);
            if (a > 0 && b > 0) {
                std::printf("  %-50s / %-40s = %.3f\n", ours.c_str(), reference.c_str(), a / b);
            }
        }
    }

private:
    std::map<std::string, double> times_;
    std::map<std::string, double> medians_;
};

// main() body: runs the registered benchmarks and prints the ratios of `pairs`.
inline int runWithRatios(int argc, char** argv, const std::vector<std::pair<std::string, std::string>>& pairs,
                         const char* goal = "") {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios(pairs, goal);
    benchmark::Shutdown();
    return 0;
}

} // namespace benchsupport
