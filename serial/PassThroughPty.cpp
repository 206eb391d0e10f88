// SPDX-License-Identifier: MIT
#include "PassThroughPty.h"

#include "serial/SerialSpeed2.h"
#include "traffic/Logging.h"
#include "traffic/SystemError.h"
#include "traffic/Traffic.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace serial {

namespace {

constexpr const char PtsDir[] = "/dev/pts/";
// A pty hands over at most a few KiB per read; one more byte for packet mode's status byte.
constexpr size_t ReadSize = 16 * 1024 + 1;
// How long a master that keeps reporting an error is left alone before the next try.
constexpr int RecoverPauseMs = 100;

void signalFd(int fd)
{
    const uint64_t one = 1;
    while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) { }
}

void drainFd(int fd)
{
    uint64_t count = 0;
    while (::read(fd, &count, sizeof count) < 0 && errno == EINTR) { }
}

// Closes without disturbing the errno a caller is about to report.
void closeKeepingErrno(int &fd)
{
    if (fd < 0)
        return;
    const int error = errno;
    ::close(fd);
    errno = error;
    fd = -1;
}

bool readLink(const std::string &path, std::string &target)
{
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size());
    if (n < 0)
        return false;
    target.assign(buffer.data(), size_t(n));
    return true;
}

bool isPtsPath(const std::string &path)
{
    const std::string number = path.substr(std::min(path.size(), sizeof PtsDir - 1));
    return path.starts_with(PtsDir) && !number.empty()
            && std::all_of(number.begin(), number.end(),
                           [](char c) { return c >= '0' && c <= '9'; });
}

// `link` pointing at `target` in one step: a new link under a temporary name in the same folder,
// renamed over whatever is there, so that a program opening the name meanwhile finds the old
// terminal or the new one, never no name.
bool replaceLink(const std::string &link, const std::string &target)
{
    const size_t slash = link.rfind('/');
    const std::string folder =
            slash == std::string::npos ? std::string() : link.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? link : link.substr(slash + 1);
    static std::atomic<unsigned> counter {0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temporary = folder + "." + base + "." + std::to_string(getpid()) + "."
                + std::to_string(counter.fetch_add(1));
        if (symlink(target.c_str(), temporary.c_str()) != 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        if (rename(temporary.c_str(), link.c_str()) == 0)
            return true;
        const int error = errno;
        unlink(temporary.c_str());
        errno = error;
        return false;
    }
    errno = EEXIST;
    return false;
}

LineParams toParams(const termios &t, int64_t speed)
{
    LineParams p;
    p.baudRate = int32_t(std::clamp<int64_t>(speed, 0, INT32_MAX));
    switch (t.c_cflag & CSIZE) {
    case CS5:
        p.dataBits = 5;
        break;
    case CS6:
        p.dataBits = 6;
        break;
    case CS7:
        p.dataBits = 7;
        break;
    default:
        p.dataBits = 8;
    }
    const bool odd = t.c_cflag & PARODD;
    if (!(t.c_cflag & PARENB))
        p.parity = Parity::None;
    else if (t.c_cflag & CMSPAR)
        p.parity = odd ? Parity::Mark : Parity::Space;
    else
        p.parity = odd ? Parity::Odd : Parity::Even;
    p.stopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    if (t.c_cflag & CRTSCTS)
        p.flow = FlowControl::RtsCts;
    else if (t.c_iflag & (IXON | IXOFF))
        p.flow = FlowControl::XonXoff;
    else
        p.flow = FlowControl::None;
    return p;
}

bool sameParams(const LineParams &a, const LineParams &b)
{
    return a.baudRate == b.baudRate && a.parity == b.parity && a.dataBits == b.dataBits
            && a.stopBits == b.stopBits && a.flow == b.flow && a.markErrors == b.markErrors;
}

// The slave's settings, read on the master: on Linux the master's termios calls act on its
// slave's termios.
bool readSettings(int master, termios &t, LineParams &params)
{
    int64_t speed = 0;
    if (tcgetattr(master, &t) != 0 || !readSpeed(master, speed))
        return false;
    params = toParams(t, speed);
    return true;
}

std::string nameReason(const std::string &link, const char *what)
{
    return "名稱 " + link + " " + what;
}

} // namespace

PassThroughPty::PassThroughPty(std::string linkPath, Callbacks callbacks, int stopFd, Pair live,
                               const LineParams &params, bool framingVisible)
    : m_linkPath(std::move(linkPath)), m_callbacks(std::move(callbacks)), m_stopFd(stopFd),
      m_live(std::move(live)), m_params(params), m_linkTarget(m_live.path),
      m_framingVisible(framingVisible)
{ }

PassThroughPty::Created PassThroughPty::create(const std::string &linkPath, Callbacks callbacks)
{
    Created out;
    const auto fail = [&out](Problem problem, std::string reason) {
        out.problem = problem;
        out.reason = std::move(reason);
        return std::move(out);
    };

    // The name first: what is there decides whether anything is made at all.
    bool stale = false;
    struct stat st
    { };
    if (lstat(linkPath.c_str(), &st) == 0) {
        std::string target;
        if (S_ISDIR(st.st_mode))
            return fail(Problem::NameTaken, nameReason(linkPath, "是一個資料夾"));
        if (!S_ISLNK(st.st_mode) || !readLink(linkPath, target))
            return fail(Problem::NameTaken, nameReason(linkPath, "已被其他檔案使用"));
        if (!isPtsPath(target))
            return fail(Problem::NameTaken,
                        nameReason(linkPath, "是指向 ") + target + " 的連結，不是本程式建立的");
        struct stat terminal
        { };
        if (stat(target.c_str(), &terminal) == 0 || errno != ENOENT)
            return fail(Problem::NameTaken, nameReason(linkPath, "正由另一個執行中的程式使用"));
        stale = true; // its terminal is gone: left by a run that ended without removing it
    } else if (errno != ENOENT) {
        return fail(Problem::LinkFailed,
                    "無法使用名稱 " + linkPath + "：" + SystemError::words(errno).toStdString());
    }

    const int stopFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    Pair pair;
    LineParams params;
    bool framing = false;
    if (stopFd < 0 || !openPair(pair, true, &params, &framing)) {
        const int error = errno;
        if (stopFd >= 0)
            ::close(stopFd);
        return fail(Problem::NoPty,
                    "無法建立虛擬終端機：" + SystemError::words(error).toStdString());
    }
    // An absent name is created exclusively: whatever appeared there meanwhile stays.
    const bool linked = stale ? replaceLink(linkPath, pair.path)
                              : symlink(pair.path.c_str(), linkPath.c_str()) == 0;
    if (!linked) {
        const int error = errno;
        closePair(pair);
        ::close(stopFd);
        if (error == EEXIST)
            return fail(Problem::NameTaken, nameReason(linkPath, "已被其他檔案使用"));
        return fail(Problem::LinkFailed,
                    "無法建立連結 " + linkPath + "：" + SystemError::words(error).toStdString());
    }
    out.pty.reset(new PassThroughPty(linkPath, std::move(callbacks), stopFd, std::move(pair),
                                     params, framing));
    out.pty->startReader(params);
    return out;
}

PassThroughPty::~PassThroughPty()
{
    const std::lock_guard control(m_control);
    m_hungUp.store(true);
    signalFd(m_stopFd);
    if (m_reader.joinable())
        m_reader.join();
    // Before the pty goes: once its number is free another pty may get it, and a link of
    // someone else's to that one would then look like ours.
    std::string target;
    if (readLink(m_linkPath, target) && target == slavePath())
        unlink(m_linkPath.c_str());
    {
        const std::lock_guard writing(m_writing);
        closePair(m_live);
    }
    closePair(m_standby);
    ::close(m_stopFd);
}

bool PassThroughPty::openPair(Pair &pair, bool usable, LineParams *params, bool *framingVisible)
{
    pair = {};
    pair.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pair.master < 0)
        return false;
    char name[64] = {};
    if (grantpt(pair.master) != 0 || ptsname_r(pair.master, name, sizeof name) != 0) {
        closePair(pair);
        return false;
    }
    pair.path = name;
    // A standby stays locked: its slave exists, so the name is seen as in use, and every open
    // of it fails.
    if (!usable)
        return true;
    if (unlockpt(pair.master) != 0) {
        closePair(pair);
        return false;
    }
    // Our own descriptor on the slave: while it is open, the master never sees the end of file
    // and the hang-up that the program's last close would give it, so the program may close and
    // open its side again as often as it likes.
    pair.slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t {};
    if (pair.slave < 0 || tcgetattr(pair.master, &t) != 0) {
        closePair(pair);
        return false;
    }
    if (framingVisible) {
        termios probe = t;
        probe.c_cflag = (probe.c_cflag & ~CSIZE) | CS7 | PARENB;
        *framingVisible = tcsetattr(pair.master, TCSANOW, &probe) == 0
                && tcgetattr(pair.master, &probe) == 0 && (probe.c_cflag & CSIZE) == CS7
                && (probe.c_cflag & PARENB);
    }
    cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    // With EXTPROC every change the program makes reaches the master as a packet with
    // TIOCPKT_IOCTL, not only changes of its XON/XOFF.
    t.c_lflag |= EXTPROC;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    // Packet mode after the settings: turning it on clears any status the settings raised, so
    // the reader starts with nothing to report.
    const int on = 1;
    LineParams read;
    if (tcsetattr(pair.master, TCSANOW, &t) != 0 || !readSettings(pair.master, t, read)
        || fcntl(pair.master, F_SETFL, fcntl(pair.master, F_GETFL) | O_NONBLOCK) != 0
        || ioctl(pair.master, TIOCPKT, &on) != 0) {
        closePair(pair);
        return false;
    }
    if (params)
        *params = read;
    return true;
}

void PassThroughPty::closePair(Pair &pair)
{
    closeKeepingErrno(pair.slave);
    closeKeepingErrno(pair.master);
    pair.path.clear();
}

std::string PassThroughPty::slavePath() const
{
    const std::lock_guard lock(m_state);
    return m_linkTarget;
}

LineParams PassThroughPty::params() const
{
    const std::lock_guard lock(m_state);
    return m_params;
}

void PassThroughPty::startReader(const LineParams &params)
{
    m_reported = params;
    m_reader = std::thread(&PassThroughPty::readerMain, this);
}

void PassThroughPty::readerMain()
{
    const int master = m_live.master;
    const std::unique_ptr<char[]> buffer(new char[ReadSize]);
    for (;;) {
        pollfd fds[2] = {{master, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            Logging::failedCall(lcSerial, "poll", QString::fromStdString(m_live.path));
            if (!recover())
                return;
            continue;
        }
        if (fds[1].revents != 0)
            return;
        if (fds[0].revents == 0)
            continue;
        const ssize_t n = ::read(master, buffer.get(), ReadSize);
        const int64_t now = monotonicMicroseconds();
        if (n > 0) {
            // Packet mode: a data packet is TIOCPKT_DATA and the bytes; anything else is a status
            // byte alone, of which TIOCPKT_IOCTL (and the XON/XOFF ones) mean a changed termios.
            if (buffer[0] != TIOCPKT_DATA)
                lineChanged(now);
            else if (n > 1 && m_callbacks.data)
                m_callbacks.data(buffer.get() + 1, size_t(n - 1), now);
            continue;
        }
        const bool broken = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        if (n < 0 && (errno == EINTR || (errno == EAGAIN && !broken)))
            continue;
        // End of file or EIO: a hung-up master stays readable for ever, and looping on it here
        // would take a whole core.
        if (n < 0)
            Logging::failedCall(lcSerial, "read", QString::fromStdString(m_live.path));
        if (!recover())
            return;
    }
}

bool PassThroughPty::recover()
{
    pollfd stop {m_stopFd, POLLIN, 0};
    if (poll(&stop, 1, RecoverPauseMs) != 0)
        return false;
    closeKeepingErrno(m_live.slave);
    m_live.slave = open(m_live.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    return true;
}

void PassThroughPty::lineChanged(int64_t timeUs)
{
    const int master = m_live.master;
    termios t {};
    LineParams params;
    if (!readSettings(master, t, params)) {
        Logging::failedCall(lcSerial, "tcgetattr", QString::fromStdString(m_live.path));
        return;
    }
    // Many programs set raw mode wholesale and clear EXTPROC with it; the kernel still reports
    // that change, but none after it. Putting EXTPROC back is one more change, reported as one
    // more packet, which then finds EXTPROC in place and the parameters as they were: nothing
    // is reported twice and nothing loops. The settings are read again just before, so that a
    // change the program made after the first read is not overwritten.
    if (!(t.c_lflag & EXTPROC) && readSettings(master, t, params) && !(t.c_lflag & EXTPROC)) {
        t.c_lflag |= EXTPROC;
        if (tcsetattr(master, TCSANOW, &t) != 0)
            Logging::failedCall(lcSerial, "tcsetattr", QString::fromStdString(m_live.path));
    }
    {
        const std::lock_guard lock(m_state);
        m_params = params;
    }
    if (sameParams(params, m_reported))
        return;
    m_reported = params;
    if (m_callbacks.params)
        m_callbacks.params(params, timeUs);
}

size_t PassThroughPty::write(const char *data, size_t size,
                             const std::function<bool()> &keepWaiting)
{
    const std::lock_guard writing(m_writing);
    size_t done = 0;
    while (done < size && !m_hungUp.load()) {
        const ssize_t n = ::write(m_live.master, data + done, size - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            Logging::failedCall(lcSerial, "write", QString::fromStdString(m_live.path));
            break;
        }
        // No room: the program reads too slowly, or none has the name open.
        pollfd fds[2] = {{m_live.master, POLLOUT, 0}, {m_stopFd, POLLIN, 0}};
        const int r = poll(fds, 2, WaitSliceMs);
        if (r < 0 && errno != EINTR)
            break;
        if (fds[1].revents != 0)
            break;
        if (!(fds[0].revents & POLLOUT) && keepWaiting && !keepWaiting())
            break;
    }
    return done;
}

bool PassThroughPty::pointLink(const std::string &target)
{
    // Only a name that is still ours, or has gone, is touched.
    std::string current;
    if (readLink(m_linkPath, current)) {
        if (current != slavePath()) {
            errno = EEXIST;
            return false;
        }
    } else if (errno != ENOENT) {
        errno = EEXIST;
        return false;
    }
    if (!replaceLink(m_linkPath, target))
        return false;
    const std::lock_guard lock(m_state);
    m_linkTarget = target;
    return true;
}

void PassThroughPty::hangUp()
{
    const std::lock_guard control(m_control);
    if (m_hungUp.exchange(true))
        return;
    signalFd(m_stopFd);
    if (m_reader.joinable())
        m_reader.join();
    // The name goes over to the standby before the live pty closes: a link to a terminal that
    // no longer exists is what another instance takes over as left by a crash, and the number
    // may soon be someone else's terminal altogether.
    if (!openPair(m_standby, false, nullptr, nullptr) || !pointLink(m_standby.path)) {
        Logging::failedCall(lcSerial, "standby pty", QString::fromStdString(m_linkPath));
        closePair(m_standby);
    }
    {
        const std::lock_guard writing(m_writing);
        closePair(m_live); // the program's descriptors see the hang-up now
    }
    drainFd(m_stopFd);
}

bool PassThroughPty::restore()
{
    const std::lock_guard control(m_control);
    if (!m_hungUp.load())
        return true;
    Pair fresh;
    LineParams params;
    bool framing = false;
    if (!openPair(fresh, true, &params, &framing))
        return false;
    if (!pointLink(fresh.path)) {
        closePair(fresh);
        return false;
    }
    {
        const std::lock_guard writing(m_writing);
        m_live = std::move(fresh);
        m_hungUp.store(false);
    }
    {
        const std::lock_guard lock(m_state);
        m_params = params;
    }
    m_framingVisible.store(framing);
    closePair(m_standby);
    startReader(params);
    return true;
}

} // namespace serial
