// SPDX-License-Identifier: MIT
#include "SerialSpeed2.h"

// Deliberately no <termios.h> here: the kernel headers define their own struct termios.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <limits>

namespace serial {

namespace {

bool getTermios2(int fd, termios2 &t)
{
    for (;;) {
        if (ioctl(fd, TCGETS2, &t) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

} // namespace

bool setCustomSpeed(int fd, int64_t speed)
{
    if (speed <= 0 || speed > std::numeric_limits<speed_t>::max())
        return false;
    termios2 t {};
    if (!getTermios2(fd, t))
        return false;
    t.c_cflag &= ~CBAUD;
    t.c_cflag |= BOTHER;
    // An input speed field of zero means "same as output"; clearing it keeps both in step.
    t.c_cflag &= ~(CBAUD << IBSHIFT);
    t.c_ospeed = speed_t(speed);
    t.c_ispeed = speed_t(speed);
    for (;;) {
        if (ioctl(fd, TCSETS2, &t) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

bool readSpeed(int fd, int64_t &speed)
{
    termios2 t {};
    if (!getTermios2(fd, t))
        return false;
    speed = int64_t(t.c_ospeed);
    return true;
}

} // namespace serial
