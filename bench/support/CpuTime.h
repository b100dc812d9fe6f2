#pragma once
// Processor time of this process, the clock the benchmarks time with: the machine is shared, and
// wall time would count the other users' work.
#include <ctime>

namespace benchsupport {

inline double cpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

} // namespace benchsupport
