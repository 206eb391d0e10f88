// SPDX-License-Identifier: MIT
#include "SerialLine.h"
#include "SerialSpeed2.h"

#include "traffic/Logging.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/serial.h>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace serial {

namespace {

struct SpeedCode
{
    int64_t speed;
    speed_t code;
};

// The speeds the classic termios interface names. B134 is really 134.5 baud; the kernel
// reports it as 134, so that is the number it answers to here as well.
constexpr SpeedCode kStandardSpeeds[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
};

bool standardCode(int64_t speed, speed_t &code)
{
    for (const SpeedCode &s : kStandardSpeeds) {
        if (s.speed == speed) {
            code = s.code;
            return true;
        }
    }
    return false;
}

int64_t speedOfCode(speed_t code)
{
    for (const SpeedCode &s : kStandardSpeeds) {
        if (s.code == code)
            return s.speed;
    }
    return 0;
}

bool getAttr(int fd, termios &t)
{
    for (;;) {
        if (tcgetattr(fd, &t) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

bool setAttr(int fd, const termios &t)
{
    for (;;) {
        if (tcsetattr(fd, TCSANOW, &t) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

tcflag_t sizeFlag(uint8_t dataBits)
{
    switch (dataBits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

tcflag_t parityFlags(Parity parity)
{
    switch (parity) {
    case Parity::None:
        break;
    case Parity::Odd:
        return PARENB | PARODD;
    case Parity::Even:
        return PARENB;
    case Parity::Mark:
        return PARENB | CMSPAR | PARODD;
    case Parity::Space:
        return PARENB | CMSPAR;
    }
    return 0;
}

// The line as a Windows port has it by nature: every byte passes unchanged both ways,
// nothing is echoed, buffered into lines or turned into a signal.
void makeRaw(termios &t)
{
    t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR
                           | ICRNL | IUCLC | IXON | IXANY | IXOFF | IMAXBEL | IUTF8);
    t.c_oflag &= ~tcflag_t(OPOST | OLCUC | ONLCR | OCRNL | ONOCR | ONLRET | OFILL | OFDEL);
    t.c_lflag &= ~tcflag_t(ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOPRT | ECHOKE | ICANON
                           | ISIG | IEXTEN | XCASE | TOSTOP);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

void applyFlowControl(termios &t, FlowControl flow)
{
    switch (flow) {
    case FlowControl::Keep:
        // The raw line clears XON/XOFF (its bytes must reach the program); CRTSCTS stays.
        break;
    case FlowControl::None:
        t.c_cflag &= ~tcflag_t(CRTSCTS);
        break;
    case FlowControl::RtsCts:
        t.c_cflag |= CRTSCTS;
        break;
    case FlowControl::XonXoff:
        // The driver then holds 11h and 13h back from the program: they are the handshake.
        t.c_cflag &= ~tcflag_t(CRTSCTS);
        t.c_iflag |= IXON | IXOFF;
        t.c_cc[VSTART] = 0x11;
        t.c_cc[VSTOP] = 0x13;
        break;
    }
}

// The descriptors whose exclusive flag this program set. Only that flag is cleared again: a
// port another program holds with TIOCEXCL (which root passes) keeps its claim when we close.
std::mutex exclusiveMutex;
std::vector<int> exclusiveOurs;

void claimExclusive(int fd)
{
    int already = 0;
    if (ioctl(fd, TIOCGEXCL, &already) == 0 && already != 0)
        return;
    if (ioctl(fd, TIOCEXCL) != 0)
        return;
    const std::lock_guard lock(exclusiveMutex);
    exclusiveOurs.push_back(fd);
}

void releaseExclusive(int fd)
{
    {
        const std::lock_guard lock(exclusiveMutex);
        const auto it = std::find(exclusiveOurs.begin(), exclusiveOurs.end(), fd);
        if (it == exclusiveOurs.end())
            return;
        exclusiveOurs.erase(it);
    }
    ioctl(fd, TIOCNXCL);
}

bool rs485Call(int fd, unsigned long request, serial_rs485 &arg)
{
    for (;;) {
        if (ioctl(fd, request, &arg) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

// The flags the port dialog's row sets; the driver keeps the rest as it has them.
constexpr uint32_t Rs485Ours = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND | SER_RS485_RTS_AFTER_SEND;

bool sameRs485(const serial_rs485 &a, const serial_rs485 &b)
{
    return (a.flags & Rs485Ours) == (b.flags & Rs485Ours)
            && a.delay_rts_before_send == b.delay_rts_before_send
            && a.delay_rts_after_send == b.delay_rts_after_send;
}

} // namespace

OpenResult openPort(const std::string &path)
{
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        Logging::failedCall(lcSerial, "open", QString::fromStdString(path));
        return {-1, errno};
    }

    // The lock comes before any change to the line, so a port someone else holds is left
    // exactly as they have it. flock binds root as well; TIOCEXCL below does not.
    int rc = 0;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        Logging::failedCall(lcSerial, "flock", QString::fromStdString(path));
        const int error = (errno == EWOULDBLOCK) ? EBUSY : errno;
        ::close(fd);
        return {-1, error};
    }

    // Without CLOCAL a modem-control port would hold reads back until carrier appears.
    // A node that is no terminal stays open; the configuration read tells that failure.
    termios t {};
    if (getAttr(fd, t) && !(t.c_cflag & CLOCAL)) {
        t.c_cflag |= CLOCAL;
        setAttr(fd, t);
    }
    claimExclusive(fd);
    return {fd, 0};
}

void closePort(int fd)
{
    if (fd < 0)
        return;
    // A pty slave's tty outlives this descriptor while the master is open, and with it the
    // exclusive flag: the next unprivileged open would fail with EBUSY.
    releaseExclusive(fd);
    flock(fd, LOCK_UN);
    ::close(fd);
}

bool readConfig(int fd, LineConfig &out, ConfigFault *fault)
{
    ConfigFault ignored;
    ConfigFault &why = fault ? *fault : ignored;
    why = {};
    termios t {};
    if (fd < 0 || !getAttr(fd, t)) {
        why.error = fd < 0 ? EBADF : errno;
        if (fd >= 0)
            Logging::failedCall(lcSerial, "tcgetattr", fd);
        return false;
    }

    LineConfig c;
    if (!readSpeed(fd, c.speed))
        c.speed = speedOfCode(cfgetospeed(&t));

    switch (t.c_cflag & CSIZE) {
    case CS5:
        c.dataBits = 5;
        break;
    case CS6:
        c.dataBits = 6;
        break;
    case CS7:
        c.dataBits = 7;
        break;
    default:
        c.dataBits = 8;
        break;
    }

    if (!(t.c_cflag & PARENB))
        c.parity = Parity::None;
    else if (t.c_cflag & CMSPAR)
        c.parity = (t.c_cflag & PARODD) ? Parity::Mark : Parity::Space;
    else
        c.parity = (t.c_cflag & PARODD) ? Parity::Odd : Parity::Even;

    c.stopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    c.hardwareFlow = (t.c_cflag & CRTSCTS) != 0;
    c.softwareFlow = (t.c_iflag & IXON) && (t.c_iflag & IXOFF);
    out = c;
    return true;
}

bool writeConfig(int fd, const LineParams &params, ConfigFault *fault)
{
    ConfigFault ignored;
    ConfigFault &why = fault ? *fault : ignored;
    why = {};
    const auto notTaken = [&why](ConfigField field) {
        why.field = field;
        return false;
    };
    const auto callFailed = [&why] {
        why.error = errno;
        return false;
    };
    if (fd < 0) {
        why.error = EBADF;
        return false;
    }
    // Speed 0 would hang the line up; the other checks keep unknown codes from being
    // silently turned into something else.
    if (params.baudRate <= 0 || params.dataBits < 5 || params.dataBits > 8
        || uint8_t(params.parity) >= ParityCount) {
        qCDebug(lcSerial) << "line parameters refused before any call: speed" << params.baudRate
                          << "data bits" << int(params.dataBits) << "parity" << int(params.parity);
        why.invalid = true;
        return notTaken(params.baudRate <= 0                            ? ConfigField::Speed
                                : uint8_t(params.parity) >= ParityCount ? ConfigField::Parity
                                                                        : ConfigField::DataBits);
    }

    termios t {};
    if (!getAttr(fd, t)) {
        Logging::failedCall(lcSerial, "tcgetattr", fd);
        return callFailed();
    }

    makeRaw(t);
    applyFlowControl(t, params.flow);
    if (params.markErrors)
        t.c_iflag |= PARMRK | INPCK;
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CIBAUD);
    t.c_cflag |= sizeFlag(params.dataBits) | parityFlags(params.parity);
    // termios has no one and a half: only code 2 asks for a second stop bit, anything else
    // gets one. (A UART with five data bits turns CSTOPB into 1.5 by itself.)
    if (params.stopBits == 2)
        t.c_cflag |= CSTOPB;

    speed_t code = 0;
    const bool standard = standardCode(params.baudRate, code);
    if (standard) {
        cfsetispeed(&t, code);
        cfsetospeed(&t, code);
    }
    // Debian's glibc reports EINVAL when a pty dropped the parity or size bits and nothing
    // else changed, although the rest was applied. The read-back below decides instead.
    if (!setAttr(fd, t) && errno != EINVAL) {
        Logging::failedCall(lcSerial, "tcsetattr", fd);
        return callFailed();
    }
    if (!standard && !setCustomSpeed(fd, params.baudRate)) {
        Logging::failedCall(lcSerial, "ioctl TCGETS2/TCSETS2 (custom speed)", fd);
        return callFailed();
    }

    termios back {};
    int64_t speed = 0;
    if (!getAttr(fd, back) || !readSpeed(fd, speed)) {
        Logging::failedCall(lcSerial, "tcgetattr/TCGETS2 (read-back)", fd);
        return callFailed();
    }
    if (speed != params.baudRate) {
        qCDebug(lcSerial) << "driver set speed" << speed << "for" << params.baudRate << "asked";
        return notTaken(ConfigField::Speed);
    }
    if (back.c_iflag != t.c_iflag || back.c_oflag != t.c_oflag || back.c_lflag != t.c_lflag
        || back.c_cc[VMIN] != t.c_cc[VMIN] || back.c_cc[VTIME] != t.c_cc[VTIME]) {
        qCDebug(lcSerial, "driver changed the flags: iflag %o/%o oflag %o/%o lflag %o/%o asked/got",
                t.c_iflag, back.c_iflag, t.c_oflag, back.c_oflag, t.c_lflag, back.c_lflag);
        // XON/XOFF lives among the input flags.
        return notTaken((back.c_iflag ^ t.c_iflag) & (IXON | IXOFF) ? ConfigField::Flow
                                                                    : ConfigField::RawMode);
    }
    // A pseudo-terminal always forces eight bits without parity; it keeps the rest.
    tcflag_t checked = PARODD | CMSPAR | CSTOPB | CREAD | CLOCAL;
    if (params.flow != FlowControl::Keep)
        checked |= CRTSCTS;
    if (!isPseudoTerminal(fd))
        checked |= CSIZE | PARENB;
    const tcflag_t changed = (back.c_cflag ^ t.c_cflag) & checked;
    if (changed != 0) {
        qCDebug(lcSerial, "driver changed cflag: %o asked, %o got", t.c_cflag & checked,
                back.c_cflag & checked);
        return notTaken(changed & CSIZE                                ? ConfigField::DataBits
                                : changed & (PARENB | PARODD | CMSPAR) ? ConfigField::Parity
                                : changed & CSTOPB                     ? ConfigField::StopBits
                                : changed & CRTSCTS                    ? ConfigField::Flow
                                                                       : ConfigField::RawMode);
    }
    return true;
}

bool writeRs485(int fd, const Rs485Config &config, ConfigFault *fault)
{
    ConfigFault ignored;
    ConfigFault &why = fault ? *fault : ignored;
    why = {};
    if (!config.enabled)
        return true;
    const auto failed = [&why](ConfigField field) {
        why.error = errno;
        why.field = field;
        return false;
    };
    if (fd < 0) {
        errno = EBADF;
        return failed(ConfigField::Rs485);
    }
    // A driver that cannot tell what it has (a USB adapter's) will refuse the setting too; it
    // is asked anyway, as that refusal is the one the user is told.
    serial_rs485 before {};
    const bool known = rs485Call(fd, TIOCGRS485, before);
    serial_rs485 asked = before;
    asked.flags = (before.flags & ~Rs485Ours) | SER_RS485_ENABLED
            | (config.rtsOnSend ? SER_RS485_RTS_ON_SEND : 0)
            | (config.rtsAfterSend ? SER_RS485_RTS_AFTER_SEND : 0);
    asked.delay_rts_before_send = config.delayBeforeSendMs;
    asked.delay_rts_after_send = config.delayAfterSendMs;
    // The kernel writes what it made of the request back into its argument; the read-back
    // below is what counts, as for the other parameters.
    serial_rs485 request = asked;
    if (!rs485Call(fd, TIOCSRS485, request)) {
        const int error = errno;
        Logging::failedCall(lcSerial, "ioctl TIOCSRS485", fd);
        errno = error;
        return failed(ConfigField::Rs485);
    }
    serial_rs485 back {};
    if (!rs485Call(fd, TIOCGRS485, back)) {
        const int error = errno;
        Logging::failedCall(lcSerial, "ioctl TIOCGRS485 (read-back)", fd);
        errno = error;
        return failed(ConfigField::Rs485ReadBack);
    }
    if (sameRs485(back, asked))
        return true;
    qCDebug(lcSerial, "driver changed RS-485: flags %x/%x, delays %u/%u and %u/%u ms asked/got",
            asked.flags, back.flags, asked.delay_rts_before_send, back.delay_rts_before_send,
            asked.delay_rts_after_send, back.delay_rts_after_send);
    // Half of a setting is none: a driver left with RTS turning around every send would confuse
    // the next program on the port as much as this one.
    if (known) {
        serial_rs485 restore = before;
        if (!rs485Call(fd, TIOCSRS485, restore))
            Logging::failedCall(lcSerial, "ioctl TIOCSRS485 (restore)", fd);
    }
    why.field = ConfigField::Rs485;
    return false;
}

bool setMarkErrors(int fd, bool on)
{
    termios t {};
    if (!getAttr(fd, t)) {
        Logging::failedCall(lcSerial, "tcgetattr", fd);
        return false;
    }
    const tcflag_t flags = PARMRK | INPCK;
    if (on)
        t.c_iflag |= flags;
    else
        t.c_iflag &= ~flags;
    if (!setAttr(fd, t)) {
        Logging::failedCall(lcSerial, "tcsetattr", fd);
        return false;
    }
    termios back {};
    return getAttr(fd, back) && (back.c_iflag & flags) == (t.c_iflag & flags);
}

bool isPseudoTerminal(int fd)
{
    struct stat st
    { };
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned m = major(st.st_rdev);
    return (m >= 136 && m <= 143) || m == 3;
}

ReadStatus readBytes(int fd, uint8_t *buffer, size_t capacity, size_t &count)
{
    count = 0;
    // read() of zero bytes returns 0, which would look like a hang-up.
    if (capacity == 0 || !buffer)
        return ReadStatus::NoData;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, capacity);
        if (n > 0) {
            count = size_t(n);
            return ReadStatus::Byte;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return ReadStatus::NoData;
        return ReadStatus::Gone;
    }
}

bool writeByte(int fd, uint8_t byte, const WaitHook &hook, int sliceMs)
{
    return writeBytes(fd, &byte, 1, hook, sliceMs) == 1;
}

size_t writeBytes(int fd, const uint8_t *bytes, size_t count, const WaitHook &hook, int sliceMs)
{
    if (sliceMs < 1)
        sliceMs = 1;
    bool pollSaidReady = false;
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, bytes + done, count - done);
        if (n > 0) {
            done += size_t(n);
            pollSaidReady = false;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return done;

        // The driver refused although poll had just reported room: wait a slice anyway, so a
        // driver that keeps doing that cannot turn this into a busy loop that never asks the hook.
        if (pollSaidReady) {
            if (hook && !hook())
                return done;
            poll(nullptr, 0, sliceMs);
        }
        pollSaidReady = false;
        while (!pollSaidReady) {
            pollfd p {fd, POLLOUT, 0};
            const int r = poll(&p, 1, sliceMs);
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                return done;
            }
            if (r == 0) {
                if (hook && !hook())
                    return done;
                continue;
            }
            if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
                return done;
            pollSaidReady = (p.revents & POLLOUT) != 0;
        }
    }
    return done;
}

void drainOutput(int fd)
{
    if (fd < 0 || isPseudoTerminal(fd))
        return;
    while (tcdrain(fd) != 0 && errno == EINTR) { }
}

bool waitReadable(int fd, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p {fd, POLLIN, 0};
        const int r = poll(&p, 1, left.count() > 0 ? int(left.count()) : 0);
        if (r < 0 && errno == EINTR)
            continue;
        return r > 0 && p.revents != 0;
    }
}

} // namespace serial
