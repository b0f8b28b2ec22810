#pragma once

// Times a project and its anchor alternately in one benchmark loop, so that a
// change of machine load falls on both alike, with untimed work between
// iterations. The totals per name give the closing "ratio" lines.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>
#include <type_traits>

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

// Whether the untimed step prepares each iteration or tidies up after it.
enum class Between { Before, After };

// `project` and `anchor` take no argument or the iteration's number;
// `between` (nullptr for none) runs untimed, before or after each iteration.
template <Between when = Between::After, typename Project, typename Anchor, typename Untimed>
void runPair(benchmark::State &state, const char *name, Project project, Anchor anchor, Untimed between)
{
    using Clock = std::chrono::steady_clock;
    const auto untimed = [&] {
        if constexpr (!std::is_same_v<Untimed, std::nullptr_t>) {
            state.PauseTiming();
            between();
            state.ResumeTiming();
        }
    };
    const auto call = [](auto &work, int n) {
        if constexpr (std::is_invocable_v<decltype(work), int>)
            work(n);
        else
            work();
    };
    PairTotals totals;
    int n = 0;
    for (auto _ : state) {
        if constexpr (when == Between::Before)
            untimed();
        const auto start = Clock::now();
        call(project, n);
        const auto middle = Clock::now();
        call(anchor, n);
        const auto end = Clock::now();
        totals.project += std::chrono::duration<double>(middle - start).count();
        totals.anchor += std::chrono::duration<double>(end - middle).count();
        ++n;
        if constexpr (when == Between::After)
            untimed();
    }
    if (n > 0) {
        state.counters["project_us"] = totals.project / n * 1e6;
        state.counters["anchor_us"] = totals.anchor / n * 1e6;
    }
    pairTotals()[name] = totals;
}

// Prints "ratio <name> <project / anchor>" for each pair; 1 (with a message)
// when one of them did not run, so that a filtered run cannot pass for a
// measured one.
inline int printPairRatios(std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        const auto it = pairTotals().find(name);
        if (it == pairTotals().end() || it->second.project <= 0.0 || it->second.anchor <= 0.0) {
            std::fprintf(stderr, "%s: a benchmark did not run (filtered out?)\n", name);
            return 1;
        }
    }
    for (const char *name : names)
        std::printf("ratio %s %.6f\n", name, pairTotals()[name].project / pairTotals()[name].anchor);
    return 0;
}
