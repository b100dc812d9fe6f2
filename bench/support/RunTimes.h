#pragma once
// The time of each benchmark run, kept as Google Benchmark reports it, for the ratios a program
// prints after its runs ("NAME/ARGS" -> time in the run's unit; 0 when a run failed or was left out).
#include <benchmark/benchmark.h>

#include <map>
#include <string>

namespace benchsupport {

class RunTimes : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred)
                times_[r.run_name.function_name + "/" + r.run_name.args] = r.GetAdjustedRealTime();
    }
    double at(const std::string& key) const
    {
        const auto it = times_.find(key);
        return it == times_.end() ? 0.0 : it->second;
    }

private:
    std::map<std::string, double> times_;
};

} // namespace benchsupport
