// SPDX-License-Identifier: MIT
#include "GapStats.h"

#include <algorithm>
#include <cmath>

namespace sim {

void GapStats::arrived(size_t bytes, Clock::time_point at)
{
    if (bytes == 0)
        return;
    if (m_havePrevious) {
        const auto gap = std::chrono::duration_cast<std::chrono::microseconds>(at - m_previous);
        if (gap.count() > 0)
            m_gapsUs.push_back(uint64_t(gap.count()));
        else
            ++m_zeroGaps;
    }
    m_zeroGaps += bytes - 1;
    m_havePrevious = true;
    m_previous = at;
}

uint64_t nearestRank(const std::vector<uint64_t> &sorted, uint64_t zeros, double fraction)
{
    const uint64_t total = zeros + sorted.size();
    if (total == 0)
        return 0;
    uint64_t rank = uint64_t(std::ceil(fraction * double(total)));
    rank = std::clamp<uint64_t>(rank, 1, total);
    if (rank <= zeros)
        return 0;
    return sorted[size_t(rank - zeros - 1)];
}

GapSummary GapStats::summary() const
{
    std::vector<uint64_t> sorted = m_gapsUs;
    std::sort(sorted.begin(), sorted.end());
    GapSummary s;
    s.count = m_zeroGaps + sorted.size();
    s.medianMs = double(nearestRank(sorted, m_zeroGaps, 0.5)) / 1000.0;
    s.p99Ms = double(nearestRank(sorted, m_zeroGaps, 0.99)) / 1000.0;
    s.maxMs = sorted.empty() ? 0.0 : double(sorted.back()) / 1000.0;
    return s;
}

} // namespace sim
