// SPDX-License-Identifier: MIT
#include "PseudoTerminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

std::string failure(const char *step) { return std::string(step) + ": " + std::strerror(errno); }

} // namespace

PseudoTerminal openPseudoTerminal()
{
    PseudoTerminal pty;
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        pty.error = failure("posix_openpt");
        return pty;
    }
    char name[128] = {};
    if (grantpt(master) != 0 || unlockpt(master) != 0
        || ptsname_r(master, name, sizeof name) != 0) {
        pty.error = failure("preparing the pseudo-terminal");
        close(master);
        return pty;
    }
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        pty.error = failure(name);
        close(master);
        return pty;
    }
    termios t {};
    if (tcgetattr(slave, &t) != 0) {
        pty.error = failure("tcgetattr");
        close(slave);
        close(master);
        return pty;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(slave, TCSANOW, &t) != 0) {
        pty.error = failure("tcsetattr");
        close(slave);
        close(master);
        return pty;
    }
    close(slave);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    pty.master = master;
    pty.slavePath = name;
    return pty;
}

} // namespace sim
