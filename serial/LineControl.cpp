// SPDX-License-Identifier: MIT
#include "LineControl.h"

#include "traffic/Logging.h"

// <linux/serial.h> only for struct serial_icounter_struct; <termios.h> stays out of this file,
// as its struct termios and the kernel's would clash if a kernel header brought its own.
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <ctime>

namespace serial {

LineControl::~LineControl() = default;

bool LineControl::lineInterrupts(LineInterrupts &)
{
    errno = ENOTTY;
    return false;
}

namespace {

struct BitPair
{
    ModemLine line;
    int tiocm;
};
constexpr BitPair Bits[] = {
        {Cts, TIOCM_CTS}, {Dsr, TIOCM_DSR}, {Dcd, TIOCM_CAR},
        {Ri, TIOCM_RNG},  {Dtr, TIOCM_DTR}, {Rts, TIOCM_RTS},
};

uint8_t linesOf(int tiocm)
{
    uint8_t lines = 0;
    for (const BitPair &b : Bits)
        if (tiocm & b.tiocm)
            lines |= b.line;
    return lines;
}

int tiocmOf(uint8_t lines)
{
    int tiocm = 0;
    for (const BitPair &b : Bits)
        if (lines & b.line)
            tiocm |= b.tiocm;
    return tiocm;
}

// What a maintainer looks up, for the debug line of a failed request.
const char *requestName(unsigned long request)
{
    switch (request) {
    case TIOCMGET:
        return "ioctl TIOCMGET";
    case TIOCMBIS:
        return "ioctl TIOCMBIS";
    case TIOCMBIC:
        return "ioctl TIOCMBIC";
    case TIOCMIWAIT:
        return "ioctl TIOCMIWAIT";
    case TIOCGICOUNT:
        return "ioctl TIOCGICOUNT";
    case TIOCSBRK:
        return "ioctl TIOCSBRK";
    case TIOCCBRK:
        return "ioctl TIOCCBRK";
    }
    return "ioctl";
}

// A signal during these short calls is no reason to fail them.
template<typename Arg>
bool call(int fd, unsigned long request, Arg arg)
{
    for (;;) {
        if (::ioctl(fd, request, arg) == 0)
            return true;
        if (errno != EINTR) {
            Logging::failedCall(lcSerial, requestName(request), fd);
            return false;
        }
    }
}

void sleepMs(int ms)
{
    timespec until {};
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += ms / 1000;
    until.tv_nsec += long(ms % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    // An absolute end, so that a signal that wakes the sleep early cannot shorten the break.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) { }
}

class KernelLineControl : public LineControl
{
public:
    explicit KernelLineControl(int fd) : m_fd(fd) { }

    bool modemLines(uint8_t &lines) override
    {
        int tiocm = 0;
        if (!call(m_fd, TIOCMGET, &tiocm))
            return false;
        lines = linesOf(tiocm);
        return true;
    }

    bool setLine(ModemLine line, bool on) override
    {
        if (line != Dtr && line != Rts) {
            errno = EINVAL;
            return false;
        }
        const int tiocm = tiocmOf(line);
        return call(m_fd, on ? TIOCMBIS : TIOCMBIC, &tiocm);
    }

    bool waitForChange(uint8_t mask) override
    {
        // Not retried on EINTR: the signal is how the watcher ends a wait.
        if (::ioctl(m_fd, TIOCMIWAIT, (unsigned long)tiocmOf(mask & InputLines)) == 0)
            return true;
        if (errno != EINTR)
            Logging::failedCall(lcSerial, requestName(TIOCMIWAIT), m_fd);
        return false;
    }

    bool errorCounts(ErrorCounts &counts) override
    {
        serial_icounter_struct c {};
        if (!call(m_fd, TIOCGICOUNT, &c))
            return false;
        counts.frame = uint32_t(c.frame);
        counts.parity = uint32_t(c.parity);
        counts.overrun = uint32_t(c.overrun);
        counts.bufferOverrun = uint32_t(c.buf_overrun);
        counts.breaks = uint32_t(c.brk);
        return true;
    }

    bool lineInterrupts(LineInterrupts &counts) override
    {
        serial_icounter_struct c {};
        if (!call(m_fd, TIOCGICOUNT, &c))
            return false;
        counts = {uint32_t(c.cts), uint32_t(c.dsr), uint32_t(c.dcd), uint32_t(c.rng)};
        return true;
    }

    bool sendBreak(int durationMs) override
    {
        if (durationMs < 0) {
            errno = EINVAL;
            return false;
        }
        if (!call(m_fd, TIOCSBRK, 0)) {
            // The line may be in break all the same (a driver that failed half-way).
            const int error = errno;
            call(m_fd, TIOCCBRK, 0);
            errno = error;
            return false;
        }
        sleepMs(durationMs);
        return call(m_fd, TIOCCBRK, 0);
    }

private:
    int m_fd;
};

} // namespace

std::unique_ptr<LineControl> kernelLineControl(int fd)
{
    return std::make_unique<KernelLineControl>(fd);
}

namespace {

class RefusingLineControl : public LineControl
{
public:
    explicit RefusingLineControl(int error) : m_error(error) { }
    bool modemLines(uint8_t &) override { return refuse(); }
    bool setLine(ModemLine, bool) override { return refuse(); }
    bool waitForChange(uint8_t) override { return refuse(); }
    bool errorCounts(ErrorCounts &) override { return refuse(); }
    bool lineInterrupts(LineInterrupts &) override { return refuse(); }
    bool sendBreak(int) override { return refuse(); }

private:
    bool refuse()
    {
        errno = m_error;
        return false;
    }
    int m_error;
};

} // namespace

std::unique_ptr<LineControl> refusingLineControl(int error)
{
    return std::make_unique<RefusingLineControl>(error);
}

} // namespace serial
