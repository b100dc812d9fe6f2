#pragma once
// The time of each benchmark run, kept as Google Benchmark reports it, for the ratios a program
// prints after its runs ("NAME/ARGS" -> time in the run's unit; 0 when a run failed or was left out).
// A benchmark registered more than once (runs taking turns with their baseline, so that a slow
// minute of the machine falls on both) answers the median of its runs; ratio() pairs each run
// with its baseline's run of the same turn, so a slow minute cancels out of each pair.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace benchsupport {

// The value at share q (0.5: the median) of v, by nearest rank; 0 for none.
inline double percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5))];
}

// The median of a[i] / b[i]; 0 unless a and b are as long and hold no zero.
inline double pairedRatio(const std::vector<double>& a, const std::vector<double>& b)
{
    if (a.empty() || a.size() != b.size())
        return 0;
    std::vector<double> r;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] <= 0 || b[i] <= 0)
            return 0;
        r.push_back(a[i] / b[i]);
    }
    return percentile(r, 0.5);
}

class RunTimes : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred)
                times_[r.run_name.function_name + "/" + r.run_name.args].push_back(r.GetAdjustedRealTime());
    }
    double at(const std::string& key) const
    {
        const auto it = times_.find(key);
        return it == times_.end() ? 0.0 : percentile(it->second, 0.5);
    }
    // The median over turns of key's time over baseline's in the same turn; 0 unless both ran
    // as many times.
    double ratio(const std::string& key, const std::string& baseline) const { return pairedRatio(runs(key), runs(baseline)); }
    const std::vector<double>& runs(const std::string& key) const
    {
        static const std::vector<double> none;
        const auto it = times_.find(key);
        return it == times_.end() ? none : it->second;
    }

private:
    std::map<std::string, std::vector<double>> times_;
};

} // namespace benchsupport
