// SPDX-License-Identifier: MIT
#include "ModeState.h"

#include <utility>
#include <vector>

namespace ModeState {

namespace {

// How many holds each flag has.
std::vector<std::pair<uint8_t *, int>> &holds()
{
    static std::vector<std::pair<uint8_t *, int>> h;
    return h;
}

int &holdsOn(uint8_t *flag)
{
    for (auto &entry : holds()) {
        if (entry.first == flag)
            return entry.second;
    }
    return holds().emplace_back(flag, 0).second;
}

} // namespace

Hold::Hold(uint8_t &flag) : m_flag(&flag)
{
    ++holdsOn(m_flag);
    *m_flag = 1;
}

void Hold::release()
{
    if (!m_flag)
        return;
    int &count = holdsOn(m_flag);
    if (count > 0)
        --count;
    *m_flag = count > 0 ? 1 : 0;
    m_flag = nullptr;
}

bool anyActive()
{
    return ReceiveModeActive || SendActive || TRModeActive || R2KModeActive || ScriptModeActive
            || MonitorModeActive || PassThroughModeActive;
}

void reset()
{
    BreakRequested = 0;
    ReceiveModeActive = 0;
    SendActive = 0;
    TRModeActive = 0;
    R2KModeActive = 0;
    ScriptModeActive = 0;
    MonitorModeActive = 0;
    PassThroughModeActive = 0;
    holds().clear();
}

} // namespace ModeState
