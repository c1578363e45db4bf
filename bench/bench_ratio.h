// Each benchmark beside its bare baseline (the same work on the same data
// done with the libraries alone): a run prints, after the usual table, the
// ratio of each pair's median real times (held to the goal) and of their
// median CPU times of the benchmark thread (steadier on a busy machine for
// single-threaded work, meaningless where work runs on other threads).
//
// Without flags of their own, runs are 5 repetitions in random interleaved
// order, reported as aggregates; any --benchmark_* flag given on the command
// line replaces these defaults.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace velmor::bench {

struct Ratio
{
    std::string ours; // run names as Google Benchmark prints them, e.g. "BM_Read/10000"
    std::string bare;
    double goal = 0;  // 0: no goal, the ratio is only shown
};

class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.error_occurred)
                continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (median || single) {
                const double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
                m_seconds[run.run_name.str()] = {run.GetAdjustedRealTime() / unit, run.GetAdjustedCPUTime() / unit};
            }
        }
    }

    // One line per pair; false when a measured pair misses its goal.
    bool printRatios(const std::vector<Ratio> &ratios) const
    {
        bool allMet = true;
        std::printf("\n%-48s %-48s %8s %8s %6s\n", "ours", "bare", "real", "cpu", "goal");
        for (const Ratio &r : ratios) {
            const auto ours = m_seconds.find(r.ours);
            const auto bare = m_seconds.find(r.bare);
            if (ours == m_seconds.end() || bare == m_seconds.end() || bare->second.real <= 0
                || bare->second.cpu <= 0)
                continue;
            const double ratio = ours->second.real / bare->second.real;
            const double cpuRatio = ours->second.cpu / bare->second.cpu;
            const bool met = r.goal <= 0 || ratio <= r.goal;
            allMet = allMet && met;
            char goal[16] = "-";
            if (r.goal > 0)
                std::snprintf(goal, sizeof goal, "%.2fx", r.goal);
            std::printf("%-48s %-48s %7.2fx %7.2fx %6s%s\n", r.ours.c_str(), r.bare.c_str(), ratio, cpuRatio, goal,
                        met ? "" : "  (over the goal)");
        }
        return allMet;
    }

private:
    struct Times
    {
        double real = 0;
        double cpu = 0;
    };
    std::map<std::string, Times> m_seconds;
};

// Initialises Google Benchmark with the defaults above, runs the selected
// benchmarks and prints the ratios. The exit code of a benchmark program.
inline int runWithRatios(int argc, char **argv, const std::vector<Ratio> &ratios)
{
    std::vector<char *> args(argv, argv + argc);
    bool ownFlags = false;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strncmp(arg, "--benchmark_repetitions", 23) == 0
            || std::strncmp(arg, "--benchmark_enable_random_interleaving", 38) == 0)
            ownFlags = true;
    }
    static char repetitions[] = "--benchmark_repetitions=5";
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    static char aggregates[] = "--benchmark_report_aggregates_only=true";
    if (!ownFlags) {
        args.insert(args.begin() + 1, {repetitions, interleave, aggregates});
    }
    int count = int(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios(ratios);
    benchmark::Shutdown();
    return 0;
}

} // namespace velmor::bench
