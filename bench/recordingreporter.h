#pragma once

// The console table of Google Benchmark, without colours (their escape codes
// would run into the closing "ratio" lines), keeping each benchmark's real
// time per iteration under its registered name.

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class RecordingReporter : public benchmark::ConsoleReporter
{
public:
    RecordingReporter()
        : ConsoleReporter(OO_Tabular)
    {
    }

    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                times[run.run_name.function_name] = run.GetAdjustedRealTime();
        }
    }

    // 0 for a benchmark that did not run.
    double time(const std::string &name) const
    {
        const auto it = times.find(name);
        return it == times.end() ? 0.0 : it->second;
    }

    std::map<std::string, double> times;
};
