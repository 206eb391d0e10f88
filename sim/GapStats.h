// SPDX-License-Identifier: MIT
// The gaps between bytes arriving at a sink, for checking how evenly a sender paces them.
// Bytes read together arrived together: they add gaps of zero, which are only counted, so a
// transfer of megabytes costs memory per read, not per byte.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

struct GapSummary
{
    uint64_t count = 0;
    double medianMs = 0;
    double p99Ms = 0;
    double maxMs = 0;
};

class GapStats
{
public:
    using Clock = std::chrono::steady_clock;

    // `bytes` arrived at `at`. The first byte's gap is measured from the previous arrival.
    void arrived(size_t bytes, Clock::time_point at);
    // The line went away: the next byte starts afresh instead of measuring the idle time.
    void restart() { m_havePrevious = false; }
    GapSummary summary() const;

private:
    std::vector<uint64_t> m_gapsUs; // the non-zero gaps, in microseconds
    uint64_t m_zeroGaps = 0;
    bool m_havePrevious = false;
    Clock::time_point m_previous;
};

// The value below which `fraction` of the sorted values lie (nearest rank), 0 for none.
uint64_t nearestRank(const std::vector<uint64_t> &sorted, uint64_t zeros, double fraction);

} // namespace sim
