#pragma once

// Times a project and its anchor alternately in one benchmark loop, so that a
// change of machine load falls on both alike, with untimed work between
// iterations. The totals per name give the closing "ratio" lines.

#include <benchmark/benchmark.h>

#include <chrono>
#include <map>
#include <string>

struct PairTotals
{
    double project = 0;
    double anchor = 0;
};

inline std::map<std::string, PairTotals> &pairTotals()
{
    static std::map<std::string, PairTotals> totals;
    return totals;
}

template <typename Project, typename Anchor, typename Between>
void runPair(benchmark::State &state, const char *name, Project project, Anchor anchor, Between between)
{
    using Clock = std::chrono::steady_clock;
    PairTotals totals;
    int n = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        project();
        const auto middle = Clock::now();
        anchor();
        const auto end = Clock::now();
        totals.project += std::chrono::duration<double>(middle - start).count();
        totals.anchor += std::chrono::duration<double>(end - middle).count();
        ++n;
        state.PauseTiming();
        between();
        state.ResumeTiming();
    }
    if (n > 0) {
        state.counters["project_us"] = totals.project / n * 1e6;
        state.counters["anchor_us"] = totals.anchor / n * 1e6;
    }
    pairTotals()[name] = totals;
}
