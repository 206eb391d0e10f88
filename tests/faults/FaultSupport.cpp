// SPDX-License-Identifier: MIT
#include "FaultSupport.h"

#include "GuiHelpers.h"

#include "session/ModeState.h"
#include "main/Telvixmain1.h"
#include "TForm1Controls.h"
#include "serial/SerialPort.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

double clockSeconds(clockid_t clock)
{
    timespec ts {};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

} // namespace

void CpuShare::start()
{
    m_cpuAtStart = clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
    m_wallAtStart = clockSeconds(CLOCK_MONOTONIC);
}

double CpuShare::wallSeconds() const { return clockSeconds(CLOCK_MONOTONIC) - m_wallAtStart; }

double CpuShare::share() const
{
    const double wall = wallSeconds();
    const double cpu = clockSeconds(CLOCK_PROCESS_CPUTIME_ID) - m_cpuAtStart;
    return wall > 0 ? cpu / wall : 0;
}

int descriptorsOn(const QString &path)
{
    // A pty whose master has closed is removed from /dev/pts; the link then says so.
    const QString deleted = path + QStringLiteral(" (deleted)");
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &name : fds.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        char link[4096];
        const QByteArray linkPath = QFile::encodeName(fds.filePath(name));
        const ssize_t n = readlink(linkPath.constData(), link, sizeof link - 1);
        if (n <= 0)
            continue;
        const QString text = QFile::decodeName(QByteArray(link, n));
        if (text == path || text == deleted)
            ++count;
    }
    return count;
}

void pauseFor(ModeScript &script, int ms)
{
    auto clock = std::make_shared<QElapsedTimer>();
    script.then([clock] { clock->start(); })
            .waitFor([clock, ms] { return clock->elapsed() >= ms; },
                     QStringLiteral("a pause of %1 ms").arg(ms), ms + 10000);
}

bool presetHardwareFlow(const QString &slavePath)
{
    const int fd = ::open(QFile::encodeName(slavePath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    termios t {};
    bool ok = tcgetattr(fd, &t) == 0;
    t.c_cflag |= CRTSCTS;
    ok = ok && tcsetattr(fd, TCSANOW, &t) == 0;
    ::close(fd);
    return ok;
}

HeldElsewhere::HeldElsewhere(const QString &path)
{
    // Everything the child needs is prepared here: after fork() it only makes system calls.
    const QByteArray name = QFile::encodeName(path);
    int ready[2] = {-1, -1};
    int release[2] = {-1, -1};
    if (pipe2(ready, O_CLOEXEC) != 0)
        return;
    if (pipe2(release, O_CLOEXEC) != 0) {
        ::close(ready[0]);
        ::close(ready[1]);
        return;
    }
    m_pid = fork();
    if (m_pid == 0) {
        ::close(ready[0]);
        ::close(release[1]);
        char held = 0;
        const int fd = ::open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 && ioctl(fd, TIOCEXCL) == 0)
            held = 1;
        (void)!::write(ready[1], &held, 1);
        char c = 0;
        while (::read(release[0], &c, 1) < 0 && errno == EINTR) { }
        if (fd >= 0) {
            // The tty outlives this descriptor while the master is open, and so would the flag.
            ioctl(fd, TIOCNXCL);
            ::close(fd);
        }
        _exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    m_releaseFd = release[1];
    if (m_pid > 0) {
        pollfd p {ready[0], POLLIN, 0};
        char held = 0;
        if (poll(&p, 1, 10000) == 1 && ::read(ready[0], &held, 1) == 1)
            m_holding = held == 1;
    }
    ::close(ready[0]);
}

HeldElsewhere::~HeldElsewhere() { release(); }

void HeldElsewhere::release()
{
    if (m_releaseFd >= 0)
        ::close(m_releaseFd);
    m_releaseFd = -1;
    if (m_pid > 0) {
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) { }
    }
    m_pid = -1;
    m_holding = false;
}

void verifyWindowIdle(Mode mode)
{
    const TForm1Controls &ui = TForm1Controls(Form1);
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("未連線"));
    QVERIFY(!controlEnabled(QStringLiteral("BreakButton")));
    QVERIFY(!controlEnabled(QStringLiteral("BreakMenuBar")));
    for (std::string_view name : ModeTable::controlsOff(mode))
        QVERIFY2(controlEnabled(QString::fromUtf8(name.data(), qsizetype(name.size()))),
                 name.data());
    QVERIFY(!ui.Memo1->isReadOnly());
    QCOMPARE(ModeState::BreakRequested, uint8_t(0));
    QCOMPARE(ModeState::ReceiveModeActive, uint8_t(0));
    QCOMPARE(ModeState::SendActive, uint8_t(0));
    QCOMPARE(ModeState::TRModeActive, uint8_t(0));
    QCOMPARE(ModeState::R2KModeActive, uint8_t(0));
    QCOMPARE(SerialPort::openCount(), 0);
}

QString fileSummaryText(const QString &path, qint64 size, qint64 sent, bool interrupted)
{
    return QStringLiteral("檔案名稱 : %1\n檔案大小 : %2\n總共傳送 : %3\n%4")
            .arg(path)
            .arg(size)
            .arg(sent)
            .arg(interrupted ? QStringLiteral("傳送中斷!") : QStringLiteral("傳送完畢!"));
}
