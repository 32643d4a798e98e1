// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The Google Benchmark drivers' reporter: the console report as usual, and
// the median of every benchmark kept by name for the table's rows.

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

// "BM_AddLog/10/1/repeats:9" -> "BM_AddLog/10/1".
inline std::string withoutRepeats(std::string name) {
    const auto at = name.find("/repeats:");
    if (at == std::string::npos)
        return name;
    const auto next = name.find('/', at + 1);
    name.erase(at, next == std::string::npos ? std::string::npos : next - at);
    return name;
}

class MedianCollector : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> medianNs;

    // Plain text: the rows printed after the report must start their lines.
    MedianCollector()
        : ConsoleReporter(OO_Tabular) {}

    // In nanoseconds; 0 for a benchmark that did not run.
    [[nodiscard]] double median(const std::string& name) const {
        const auto found = medianNs.find(name);
        return found == medianNs.end() ? 0.0 : found->second;
    }

    void ReportRuns(const std::vector<Run>& reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& run : reports) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" && !run.error_occurred)
                medianNs[withoutRepeats(run.run_name.str())] = run.GetAdjustedRealTime();
        }
    }
};

// Runs the benchmarks the command line asks for into `results`; false for
// arguments it does not know.
inline bool runBenchmarks(int& argc, char** argv, MedianCollector& results) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return false;
    benchmark::RunSpecifiedBenchmarks(&results);
    benchmark::Shutdown();
    return true;
}

} // namespace bench
