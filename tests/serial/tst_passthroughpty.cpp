// SPDX-License-Identifier: MIT
// The pass-through pty against a client of the test's own that opens its name as a program
// would open a serial device.
#include "Pty.h"
#include "serial/PassThroughPty.h"
#include "serial/SerialSpeed2.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using serial::FlowControl;
using serial::LineParams;
using serial::Parity;
using serial::PassThroughPty;

namespace {

// A pty on a name of the test's own, and what its callbacks delivered. Plain strings: Qt's
// shared arrays would pass between the threads through reference counts that ThreadSanitizer
// cannot see.
struct Setup
{
    explicit Setup(const std::string &name)
        : made(PassThroughPty::create(name,
                                      {[this](const char *d, size_t n, int64_t) {
                                           const std::lock_guard lock(mutex);
                                           data.append(d, n);
                                       },
                                       [this](const LineParams &p, int64_t) {
                                           const std::lock_guard lock(mutex);
                                           params.push_back(p);
                                       }}))
    { }
    QByteArray bytes() const
    {
        const std::lock_guard lock(mutex);
        return QByteArray::fromStdString(data);
    }
    std::vector<LineParams> reports() const
    {
        const std::lock_guard lock(mutex);
        return params;
    }

    mutable std::mutex mutex;
    std::string data;
    std::vector<LineParams> params;
    PassThroughPty::Created made; // last, so that the pty goes before what its callbacks fill
};

// A program's descriptor on the name, closed however the test leaves.
struct Client
{
    explicit Client(const std::string &path)
        : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    { }
    ~Client() { ::close(fd); }
    QByteArray read(int count) const
    {
        QByteArray got;
        char buf[512];
        pollfd p {fd, POLLIN, 0};
        for (ssize_t n = 0; got.size() < count && poll(&p, 1, 2000) > 0; got.append(buf, n))
            if ((n = ::read(fd, buf, sizeof buf)) <= 0)
                break;
        return got;
    }
    const int fd;
};

QString describe(const LineParams &p)
{
    return QString::asprintf("%d %d%c stop%d flow%d", p.baudRate, p.dataBits,
                             "NOEMS"[int(p.parity)], p.stopBits, int(p.flow));
}

std::string linkTarget(const std::string &path)
{
    char buf[256] = {};
    return readlink(path.c_str(), buf, sizeof buf - 1) > 0 ? buf : "";
}

} // namespace

class PassThroughPtyTest : public QObject
{
    Q_OBJECT

private slots:
    void reportsEachChangeOnce();
    void bytesBothWays();
    void survivesReopening();
    void hangUpAndRestore();
    void nameRules_data();
    void nameRules();
    void linkRemovedOnlyWhileOurs();

private:
    std::string path(const char *name) const { return m_dir.filePath(name).toStdString(); }

    QTemporaryDir m_dir;
};

void PassThroughPtyTest::reportsEachChangeOnce()
{
    Setup s(path("params"));
    QVERIFY2(s.made.pty, s.made.reason.c_str());
    PassThroughPty *pty = s.made.pty.get();
    const Client client(pty->linkPath());
    termios t {};
    QVERIFY(tcgetattr(client.fd, &t) == 0);

    // One termios kept by the client as a program keeps its own: after the raw step it lacks
    // EXTPROC, so the last step is reported only if the pty put EXTPROC back meanwhile.
    struct Step
    {
        speed_t speed; // 0: kept
        int64_t custom; // by TCSETS2 alone
        tcflag_t cflag, iflag; // cflag 0: framing kept
        bool raw; // cfmakeraw and EXTPROC cleared, as many programs do
        LineParams expected;
    };
    const Step steps[] = {
            {B19200, 0, CS7 | PARENB, 0, false, {19200, Parity::Even, 7, 0, FlowControl::None}},
            {B115200,
             0,
             CS8 | CRTSCTS,
             0,
             false,
             {115200, Parity::None, 8, 0, FlowControl::RtsCts}},
            {0, 250000, 0, 0, false, {250000, Parity::None, 8, 0, FlowControl::RtsCts}},
            {0,
             0,
             CS7 | PARENB | PARODD | CSTOPB,
             IXON | IXOFF,
             true,
             {250000, Parity::Odd, 7, 2, FlowControl::XonXoff}},
            {B9600, 0, 0, 0, false, {9600, Parity::Odd, 7, 2, FlowControl::XonXoff}},
    };
    for (const Step &step : steps) {
        const size_t before = s.reports().size();
        if (step.raw) {
            cfmakeraw(&t);
            t.c_lflag &= ~EXTPROC;
        }
        if (step.cflag)
            t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS)) | step.cflag;
        t.c_iflag |= step.iflag;
        if (step.speed)
            cfsetspeed(&t, step.speed);
        if (step.custom)
            QVERIFY(serial::setCustomSpeed(client.fd, step.custom)
                    && tcgetattr(client.fd, &t) == 0);
        else
            QVERIFY(tcsetattr(client.fd, TCSANOW, &t) == 0);
        QTRY_COMPARE_WITH_TIMEOUT(s.reports().size(), before + 1, 2000);
        QTest::qWait(100); // the pty's own EXTPROC repair must not give a second report
        LineParams expected = step.expected;
        if (!pty->framingVisible()) {
            expected.dataBits = 8;
            expected.parity = Parity::None;
        }
        QCOMPARE(s.reports().size(), before + 1);
        QCOMPARE(describe(s.reports().back()), describe(expected));
        QCOMPARE(describe(pty->params()), describe(expected));
    }
    // The kernel is what decides whether the framing is seen: the client reads back its own.
    QVERIFY(tcgetattr(client.fd, &t) == 0);
    QCOMPARE(pty->framingVisible(), (t.c_cflag & CSIZE) == CS7);
}

void PassThroughPtyTest::bytesBothWays()
{
    Setup s(path("bytes"));
    QVERIFY2(s.made.pty, s.made.reason.c_str());
    PassThroughPty *pty = s.made.pty.get();
    const Client client(pty->linkPath());
    QByteArray all(256, 0);
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);
    QCOMPARE(::write(client.fd, all.constData(), 256), ssize_t(256));
    QTRY_COMPARE(s.bytes(), all);
    QCOMPARE(pty->write(all.constData(), 256, {}), size_t(256));
    QCOMPARE(client.read(256), all);
}

void PassThroughPtyTest::survivesReopening()
{
    Setup s(path("reopen"));
    QVERIFY2(s.made.pty, s.made.reason.c_str());
    PassThroughPty *pty = s.made.pty.get();
    const std::string slave = pty->slavePath();
    QByteArray sent;
    for (int i = 0; i < 100; ++i) {
        // The device's byte comes while no client has the name open: it waits for the next one.
        const char up = char(i), down = char(255 - i);
        QCOMPARE(pty->write(&down, 1, {}), size_t(1));
        const Client client(pty->linkPath());
        QCOMPARE(client.read(1), QByteArray(1, down));
        sent.append(up);
        QCOMPARE(::write(client.fd, &up, 1), ssize_t(1));
        QTRY_COMPARE(s.bytes(), sent);
    }
    // With no client left, a reader spinning on the master's hang-up would take a whole core.
    const std::clock_t before = std::clock();
    QTest::qWait(500);
    const double usedMs = double(std::clock() - before) * 1000 / CLOCKS_PER_SEC;
    QVERIFY2(usedMs < 250, qPrintable(QStringLiteral("%1 ms CPU in 500 ms").arg(usedMs)));
    QCOMPARE(pty->slavePath(), slave);
}

void PassThroughPtyTest::hangUpAndRestore()
{
    Setup s(path("hangup"));
    QVERIFY2(s.made.pty, s.made.reason.c_str());
    PassThroughPty *pty = s.made.pty.get();
    const Client old(pty->linkPath());

    // A write waiting for a client that reads nothing gives up when the line hangs up.
    const QByteArray lots(1 << 20, 'x');
    size_t written = 0;
    std::thread writer([&] { written = pty->write(lots.constData(), size_t(lots.size()), {}); });
    QTest::qWait(200);
    pty->hangUp();
    writer.join();
    QVERIFY(written < size_t(lots.size()));
    QVERIFY(pty->isHungUp());
    char byte = 0;
    while (::read(old.fd, &byte, 1) > 0) { } // what got in before, unless the hang-up dropped it
    const ssize_t n = ::read(old.fd, &byte, 1);
    QVERIFY2(n == 0 || (n < 0 && errno == EIO), qPrintable(QString::number(n)));
    QCOMPARE(pty->write("a", 1, [] { return true; }), size_t(0));
    QCOMPARE(linkTarget(pty->linkPath()), pty->slavePath()); // still reserved
    QVERIFY(Client(pty->linkPath()).fd < 0);

    QVERIFY(pty->restore());
    QVERIFY(!pty->isHungUp());
    QCOMPARE(linkTarget(pty->linkPath()), pty->slavePath());
    const Client client(pty->linkPath());
    QCOMPARE(::write(client.fd, "up", 2), ssize_t(2));
    QTRY_VERIFY(s.bytes().endsWith("up"));
    QCOMPARE(pty->write("down", 4, {}), size_t(4));
    QCOMPARE(client.read(4), QByteArray("down"));
}

void PassThroughPtyTest::nameRules_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("taken");
    QTest::newRow("absent") << "absent" << false;
    QTest::newRow("stale link into /dev/pts") << "stale" << false;
    QTest::newRow("regular file") << "file" << true;
    QTest::newRow("directory") << "directory" << true;
    QTest::newRow("live link") << "live" << true;
    QTest::newRow("link elsewhere") << "elsewhere" << true;
}

void PassThroughPtyTest::nameRules()
{
    QFETCH(QString, kind);
    QFETCH(bool, taken);
    const std::string name = path(qPrintable("name-" + kind));
    const Pty live;
    const std::string target = kind == "stale" ? "/dev/pts/4000000"
            : kind == "live"                   ? live.slavePath().toStdString()
                                               : "/dev/null";
    if (kind == "file")
        QVERIFY(QFile(QString::fromStdString(name)).open(QIODevice::WriteOnly));
    else if (kind == "directory")
        QVERIFY(mkdir(name.c_str(), 0700) == 0);
    else if (kind != "absent")
        QVERIFY(symlink(target.c_str(), name.c_str()) == 0);
    struct stat before = {}, after = {};
    lstat(name.c_str(), &before);

    const Setup s(name);
    if (!taken) {
        QVERIFY2(s.made.pty, s.made.reason.c_str());
        QCOMPARE(linkTarget(name), s.made.pty->slavePath());
        return;
    }
    QVERIFY(!s.made.pty);
    QCOMPARE(int(s.made.problem), int(PassThroughPty::Problem::NameTaken));
    QVERIFY2(s.made.reason.find(name) != std::string::npos, s.made.reason.c_str());
    QVERIFY(lstat(name.c_str(), &after) == 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_mtime, before.st_mtime);
    if (S_ISLNK(after.st_mode))
        QCOMPARE(linkTarget(name), target);
}

void PassThroughPtyTest::linkRemovedOnlyWhileOurs()
{
    const std::string ours = path("removed"), repointed = path("repointed");
    {
        const Setup s(ours);
        QVERIFY2(s.made.pty, s.made.reason.c_str());
        QCOMPARE(linkTarget(ours), s.made.pty->slavePath());
    }
    QVERIFY(linkTarget(ours).empty());
    Setup s(repointed);
    QVERIFY2(s.made.pty, s.made.reason.c_str());
    QVERIFY(unlink(repointed.c_str()) == 0 && symlink("/dev/null", repointed.c_str()) == 0);
    s.made.pty.reset();
    QCOMPARE(linkTarget(repointed), std::string("/dev/null"));
}

QTEST_GUILESS_MAIN(PassThroughPtyTest)
#include "tst_passthroughpty.moc"
