// SPDX-License-Identifier: MIT
#include "LineControl.h"

#include <cerrno>

namespace serial {

LineControl::~LineControl() = default;

namespace {

// Not yet: every call is refused.
class KernelLineControl : public LineControl
{
public:
    explicit KernelLineControl(int fd) : m_fd(fd) { }
    bool modemLines(uint8_t &) override { return refuse(); }
    bool setLine(ModemLine, bool) override { return refuse(); }
    bool waitForChange(uint8_t) override { return refuse(); }
    bool errorCounts(ErrorCounts &) override { return refuse(); }
    bool sendBreak(int) override { return refuse(); }

private:
    bool refuse()
    {
        errno = ENOTTY;
        return false;
    }
    int m_fd;
};

} // namespace

std::unique_ptr<LineControl> kernelLineControl(int fd)
{
    return std::make_unique<KernelLineControl>(fd);
}

} // namespace serial
