// SPDX-License-Identifier: MIT
// Program-wide state that the window, its close query and the running mode share. Plain flags
// on purpose: the mode loops and the handlers that run nested inside their event dispatch talk
// to each other only through these, all on the one user-interface thread, so they need
// neither an owner nor locks. The open line itself is no part of it: a mode holds its port.
#pragma once

#include <cstdint>

namespace ModeState {

// Flags hold 0 or 1.
inline uint8_t BreakRequested = 0;
inline uint8_t ReceiveModeActive = 0;
inline uint8_t SendActive = 0;
inline uint8_t TRModeActive = 0;
inline uint8_t R2KModeActive = 0;
inline uint8_t ScriptModeActive = 0;
inline uint8_t MonitorModeActive = 0;
inline uint8_t PassThroughModeActive = 0;

// Sets a mode's flag for as long as it lives. Transmissions can nest (a file send started from
// inside a string send): the flag goes back to 0 only when the last hold on it ends.
class Hold
{
public:
    explicit Hold(uint8_t &flag);
    ~Hold() { release(); }
    Hold(const Hold &) = delete;
    Hold &operator=(const Hold &) = delete;
    // Ends the hold before the end of its scope.
    void release();

private:
    uint8_t *m_flag;
};

// Whether any mode runs (a transmission included).
bool anyActive();

// Everything back to its start value, as at program start. Tests call this between cases.
void reset();

} // namespace ModeState
