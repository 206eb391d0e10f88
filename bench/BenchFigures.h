// SPDX-License-Identifier: MIT
// What the benchmarks measure with and report as: the monotonic clock, the process's CPU time,
// and the median and percentiles of a series. Plain C++, for the benches with no window too.
#pragma once

#include <algorithm>
#include <ctime>
#include <sys/resource.h>
#include <vector>

namespace bench {

inline double nowMs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}

// User and system time of the whole process, its threads included.
inline double processCpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
            + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The value a share `q` (0 to 1) of the series lies at or below; 0 for none.
inline double percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5))];
}

inline double median(std::vector<double> v) { return percentile(std::move(v), 0.5); }

} // namespace bench
