// SPDX-License-Identifier: MIT
// The simulator's single loop: waits on the pseudo-terminal, the device's next deadline and
// the stop signals at once, and follows programs opening and closing the port.
#pragma once

#include "Devices.h"

#include <csignal>
#include <functional>
#include <optional>
#include <string>

namespace sim {

// Blocks SIGINT, SIGTERM and SIGHUP so they arrive only while the loop waits; call it before
// publishing so that no stop request can come between publishing and the loop.
void takeStopSignals(sigset_t &previousMask);

struct RunResult
{
    int exitCode = 0;
    std::string error;
    bool unplugged = false; // `unplugAfter` ran out: the caller pulls the line
};

// Plays `device` on `master` until a stop signal arrives or a finished device's port is
// closed, or, with `unplugAfter`, until that long after a program first opened the port.
// `log` gets one line per event (port opened, port closed).
RunResult runDevice(Device &device, int master, const sigset_t &waitMask,
                    const std::function<void(const std::string &)> &log,
                    std::optional<Clock::duration> unplugAfter = std::nullopt);

// Sleeps for `d` unless a stop signal comes first; false when one did.
bool pauseUnlessStopped(Clock::duration d, const sigset_t &waitMask);

} // namespace sim
