// SPDX-License-Identifier: MIT
// The few calls on a line beyond its bytes and its parameters: the handshake lines, break and
// the driver's error counters. Behind an interface of their own so that a test can give a port
// a line model that has them (a pseudo-terminal has none of them); the port uses the kernel's.
#pragma once

#include "traffic/LineState.h"

#include <memory>

namespace serial {

class LineControl
{
public:
    virtual ~LineControl();

    // Each call returns false with errno set when the driver refuses it (ENOTTY or EINVAL from
    // a driver that lacks it, EIO from a device that is gone).

    // All six lines (TIOCMGET) as ModemLine bits.
    virtual bool modemLines(uint8_t &lines) = 0;
    // Raises or lowers DTR or RTS (TIOCMBIS/TIOCMBIC); other bits are refused with EINVAL.
    virtual bool setLine(ModemLine line, bool on) = 0;
    // Blocks until one of the input lines in `mask` changes (TIOCMIWAIT). False with EINTR
    // when a signal interrupted it, with ENOTTY/EINVAL when the driver cannot wait.
    virtual bool waitForChange(uint8_t mask) = 0;
    // The counters (TIOCGICOUNT).
    virtual bool errorCounts(ErrorCounts &counts) = 0;
    // How often each input line changed (TIOCGICOUNT's cts, dsr, dcd and rng). A driver that
    // does not count them refuses (the default).
    virtual bool lineInterrupts(LineInterrupts &counts);
    // Holds the line in break for `durationMs` (TIOCSBRK, the wait, TIOCCBRK); returns after.
    virtual bool sendBreak(int durationMs) = 0;
};

// The kernel's calls on `fd`; the descriptor stays the caller's.
std::unique_ptr<LineControl> kernelLineControl(int fd);

// A line that has none of these (a raw TCP port): every call refused with `error`.
std::unique_ptr<LineControl> refusingLineControl(int error);

} // namespace serial
