#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

// Console output as usual, plus the fastest repetition of each benchmark as
// CPU seconds per iteration (or wall seconds, for work done on other
// threads), so a benchmark can print its figure against the reference
// measured in the same run.
class BestRunReporter : public benchmark::ConsoleReporter {
public:
    enum class Time { Cpu, Wall };

    explicit BestRunReporter(Time time = Time::Cpu)
        : ConsoleReporter(OO_Tabular)
        , time_(time)
    {
    }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred)
                continue;
            const double adjusted = time_ == Time::Wall ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
            const double seconds = adjusted / benchmark::GetTimeUnitMultiplier(run.time_unit);
            auto [it, inserted] = bestSeconds.try_emplace(run.run_name.function_name, seconds);
            if (!inserted)
                it->second = std::min(it->second, seconds);
        }
    }

    // CPU seconds per iteration of the fastest repetition, keyed by function name.
    std::map<std::string, double> bestSeconds;

private:
    Time time_;
};
