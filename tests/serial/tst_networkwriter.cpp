// SPDX-License-Identifier: MIT
// A network port's socket on real TCP connections: the writer against a far end that stops
// reading (it gives up on its hook, its stop and its time-out, queues commands behind the data
// and never splits a unit), the keepalive that finds a dead peer, a silent peer as a hang-up,
// one name lookup at a time, international host names, and what messages quote of an address.
#include "Loopback.h"
#include "Pty.h"
#include "Ser2Net.h"

#include "serial/NetworkLine.h"
#include "serial/SerialPort.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

// A slow name server for one name: its lookups wait until the test lets them go, then the real
// resolver answers. Every other name goes straight to the real resolver.
namespace slowLookup {
constexpr const char *Host = "slow-lookup.invalid";
std::mutex mutex;
std::condition_variable released;
bool open = false;
int started = 0;
int running = 0;
int mostAtOnce = 0;
} // namespace slowLookup

extern "C" int getaddrinfo(const char *node, const char *service, const addrinfo *hints,
                           addrinfo **res)
{
    using Real = int (*)(const char *, const char *, const addrinfo *, addrinfo **);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getaddrinfo"));
    if (node && std::strcmp(node, slowLookup::Host) == 0) {
        std::unique_lock lock(slowLookup::mutex);
        ++slowLookup::started;
        slowLookup::mostAtOnce = std::max(slowLookup::mostAtOnce, ++slowLookup::running);
        slowLookup::released.wait(lock, [] { return slowLookup::open; });
        --slowLookup::running;
    }
    return real(node, service, hints, res);
}

namespace {

using Result = serial::SocketWriter::Result;

// Ends the test program with `what` if it is not disarmed in time: a hang is a failure.
class Watchdog
{
public:
    Watchdog(int ms, const char *what)
    {
        m_thread = std::thread([this, ms, what] {
            std::unique_lock lock(m_mutex);
            if (!m_done.wait_for(lock, std::chrono::milliseconds(ms),
                                 [this] { return m_disarmed; }))
                qFatal("hung: %s", what);
        });
    }
    ~Watchdog()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_disarmed = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_disarmed = false;
    std::thread m_thread;
};

// Both ends of a TCP connection on 127.0.0.1 with small buffers, so a far end that does not
// read stops the near one after a few kilobytes.
struct TcpPair
{
    int near = -1;
    int far = -1;
    TcpPair()
    {
        uint16_t port = 0;
        const int listener = smallLoopbackListener(port, SOCK_NONBLOCK);
        near = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int small = 4096;
        setsockopt(near, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        ::connect(near, reinterpret_cast<sockaddr *>(&a), sizeof a);
        fcntl(near, F_SETFL, fcntl(near, F_GETFL) | O_NONBLOCK);
        for (int i = 0; i < 200 && far < 0; ++i) {
            far = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (far < 0)
                QThread::msleep(5);
        }
        ::close(listener);
    }
    ~TcpPair()
    {
        ::close(near);
        ::close(far);
    }
    // Filler straight onto the socket until it takes no more; what went.
    QByteArray fill() const
    {
        QByteArray all;
        const QByteArray chunk(1024, 'f');
        for (int quiet = 0; quiet < 20;) {
            const ssize_t n = ::send(near, chunk.constData(), size_t(chunk.size()),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                all += chunk.left(n);
                quiet = 0;
            } else {
                ++quiet;
                QThread::msleep(5);
            }
        }
        return all;
    }
    // What the far end gets until `count` bytes are in or half a second is quiet.
    QByteArray drain(qsizetype count) const
    {
        QByteArray got;
        char buffer[4096];
        QElapsedTimer quiet;
        quiet.start();
        while (got.size() < count && quiet.elapsed() < 500) {
            const ssize_t n = ::recv(far, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                got.append(buffer, n);
                quiet.restart();
            } else {
                QThread::msleep(2);
            }
        }
        return got;
    }
};

QByteArray bytesOf(const rfc2217::Bytes &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
}

serial::LineParams params9600()
{
    return {9600, serial::Parity::None, 8, 0, serial::FlowControl::Keep, false};
}

int intOption(int fd, int level, int name)
{
    int value = -1;
    socklen_t length = sizeof value;
    getsockopt(fd, level, name, &value, &length);
    return value;
}

} // namespace

class TestNetworkWriter : public QObject
{
    Q_OBJECT

private slots:
    void writerGivesUpOnAFullSocket_data();
    void writerGivesUpOnAFullSocket();
    void commandsQueueBehindTheData_data();
    void commandsQueueBehindTheData();
    void unitsAreNeverSplit();
    void deadPeerIsLookedFor_data();
    void deadPeerIsLookedFor();
    void silentPeerIsAHangUp();
    void oneLookupAtATime();
    void internationalHostName();
    void messagesQuoteTheAddress_data();
    void messagesQuoteTheAddress();
};

void TestNetworkWriter::writerGivesUpOnAFullSocket_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<int>("expected");
    QTest::newRow("time-out") << "time-out" << int(Result::TimedOut);
    QTest::newRow("the hook says no") << "hook" << int(Result::Refused);
    QTest::newRow("stopped from another thread") << "stop" << int(Result::Stopped);
}

void TestNetworkWriter::writerGivesUpOnAFullSocket()
{
    QFETCH(QString, way);
    QFETCH(int, expected);
    TcpPair pair;
    QVERIFY(pair.far >= 0);
    serial::SocketWriter writer(pair.near);
    const QByteArray filler = pair.fill();
    const QByteArray unit("UNIT");
    int asked = 0;
    const serial::WaitHook hook = [&] { return way != QLatin1String("hook") || ++asked < 3; };
    std::thread stopper;
    if (way == QLatin1String("stop"))
        stopper = std::thread([&] {
            QThread::msleep(200);
            writer.stop();
        });
    Result got;
    {
        Watchdog dog(10000, "a write on a full socket");
        got = writer.write(reinterpret_cast<const uint8_t *>(unit.constData()), size_t(unit.size()),
                           hook, way == QLatin1String("time-out") ? 300 : 60000);
    }
    if (stopper.joinable())
        stopper.join();
    QCOMPARE(int(got), expected);
    // Given up, the unit was taken back: the far end gets the filler and nothing after it.
    QCOMPARE(writer.pending(), size_t(0));
    QCOMPARE(pair.drain(filler.size() + unit.size()), filler);
    const Result after =
            writer.write(reinterpret_cast<const uint8_t *>(unit.constData()), size_t(unit.size()));
    QCOMPARE(int(after), way == QLatin1String("stop") ? int(Result::Stopped) : int(Result::Sent));
}

void TestNetworkWriter::commandsQueueBehindTheData_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QByteArray>("command"); // as it must arrive, whole
    QTest::newRow("DTR") << "dtr" << bytesOf(rfc2217::setControl(rfc2217::control::DtrOn));
    QTest::newRow("line parameters") << "parameters" << bytesOf(rfc2217::setBaudRate(19200));
    QTest::newRow("Telnet reply") << "reply" << QByteArray::fromHex("FFFC01");
}

void TestNetworkWriter::commandsQueueBehindTheData()
{
    // A server that stops reading: a line control, new parameters or the reader's Telnet reply
    // must return at once, and go out whole behind the data once the server reads again.
    QFETCH(QString, what);
    QFETCH(QByteArray, command);
    TcpPair pair;
    QVERIFY(pair.far >= 0);
    serial::TelnetLink link(pair.near);
    std::unique_ptr<serial::LineControl> control = link.makeControl();
    const QByteArray filler = pair.fill();
    {
        Watchdog dog(5000, qPrintable(what));
        if (what == QLatin1String("dtr")) {
            QVERIFY(control->setLine(serial::Dtr, true));
        } else if (what == QLatin1String("parameters")) {
            serial::LineParams p = params9600();
            p.baudRate = 19200;
            QVERIFY(link.sendParameters(p));
        } else {
            const uint8_t doEcho[] = {0xFF, 0xFD, 0x01};
            std::vector<uint8_t> data;
            link.incoming(doEcho, sizeof doEcho, data);
            QVERIFY(data.empty());
        }
    }
    const QByteArray got = pair.drain(filler.size() + command.size());
    QCOMPARE(got.left(filler.size()), filler);
    // The parameters are four commands: the speed comes first.
    QCOMPARE(got.mid(filler.size(), command.size()).toHex(' '), command.toHex(' '));
}

void TestNetworkWriter::unitsAreNeverSplit()
{
    // Four writers at once, two waiting and two posting, on a socket the far end reads slowly:
    // every unit arrives whole and each writer's in its order.
    TcpPair pair;
    QVERIFY(pair.far >= 0);
    serial::SocketWriter writer(pair.near);
    constexpr int Writers = 4;
    constexpr int Units = 60;
    const auto unitOf = [](int w, int n) {
        return QByteArray("<") + char('a' + w) + QByteArray::number(n) + ':'
                + QByteArray(100 + (n * 37) % 900, char('A' + w)) + '>';
    };
    qsizetype total = 0;
    for (int w = 0; w < Writers; ++w)
        for (int n = 0; n < Units; ++n)
            total += unitOf(w, n).size();
    std::vector<std::thread> threads;
    std::atomic<int> refused {0};
    for (int w = 0; w < Writers; ++w) {
        threads.emplace_back([&, w] {
            for (int n = 0; n < Units; ++n) {
                const QByteArray unit = unitOf(w, n);
                const auto *bytes = reinterpret_cast<const uint8_t *>(unit.constData());
                if (w % 2 == 0) {
                    if (writer.write(bytes, size_t(unit.size())) != Result::Sent)
                        ++refused;
                } else {
                    while (!writer.post(bytes, size_t(unit.size())))
                        QThread::msleep(1); // past the posting bound: a moment later
                }
            }
        });
    }
    QByteArray got;
    {
        Watchdog dog(60000, "four writers");
        while (got.size() < total) {
            const QByteArray more = pair.drain(qMin<qsizetype>(total - got.size(), 3000));
            if (more.isEmpty())
                break;
            got += more;
        }
        for (std::thread &t : threads)
            t.join();
    }
    QCOMPARE(refused.load(), 0);
    QCOMPARE(got.size(), total);
    int next[Writers] = {};
    for (qsizetype at = 0; at < got.size();) {
        QVERIFY2(got[at] == '<', qPrintable(QString::number(at)));
        const int w = got[at + 1] - 'a';
        QVERIFY(w >= 0 && w < Writers);
        const QByteArray unit = unitOf(w, next[w]++);
        QCOMPARE(got.mid(at, unit.size()), unit);
        at += unit.size();
    }
}

void TestNetworkWriter::deadPeerIsLookedFor_data()
{
    QTest::addColumn<bool>("rfc2217");
    QTest::newRow("RFC 2217") << true;
    QTest::newRow("raw TCP") << false;
}

void TestNetworkWriter::deadPeerIsLookedFor()
{
    // A server that lost its power says nothing: only probing finds it, within 15 s idle or
    // with data it does not acknowledge.
    if (!Ser2NetServer::available())
        QSKIP("ser2net is not installed (tools/setup.sh installs it)");
    QFETCH(bool, rfc2217);
    Pty pty;
    Ser2NetServer server;
    const QString why = server.start(pty.slavePath());
    QVERIFY2(why.isEmpty(), qPrintable(why));
    SerialPort::Opened opened = SerialPort::open(
            (rfc2217 ? server.rfc2217Url() : server.tcpUrl()).toStdString(), params9600());
    QVERIFY2(opened.port, opened.reason.c_str());
    const int fd = opened.port->descriptor();
    QCOMPARE(intOption(fd, SOL_SOCKET, SO_KEEPALIVE), 1);
    const int idle = intOption(fd, IPPROTO_TCP, TCP_KEEPIDLE);
    const int interval = intOption(fd, IPPROTO_TCP, TCP_KEEPINTVL);
    const int count = intOption(fd, IPPROTO_TCP, TCP_KEEPCNT);
    QVERIFY(idle > 0 && interval > 0 && count > 0);
    QVERIFY2(idle + interval * count <= 15,
             qPrintable(QStringLiteral("%1 + %2 * %3").arg(idle).arg(interval).arg(count)));
    const int userTimeout = intOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT);
    QVERIFY2(userTimeout > 0 && userTimeout <= 15000, qPrintable(QString::number(userTimeout)));
}

void TestNetworkWriter::silentPeerIsAHangUp()
{
    // A peer that takes nothing for the user time-out (shortened here) ends the connection with
    // ETIMEDOUT: the writes fail, the reader tells a hang-up, and the port comes back on a new
    // connection to the same server, which the writes then reach.
    uint16_t port = 0;
    const int listener = smallLoopbackListener(port, SOCK_NONBLOCK);
    SerialPort::Opened opened = SerialPort::open(
            QStringLiteral("tcp://127.0.0.1:%1").arg(port).toStdString(), params9600());
    QVERIFY2(opened.port, opened.reason.c_str());
    SerialPort &p = *opened.port;
    const unsigned shortTimeout = 300;
    QCOMPARE(setsockopt(p.descriptor(), IPPROTO_TCP, TCP_USER_TIMEOUT, &shortTimeout,
                        sizeof shortTimeout),
             0);
    p.startReading();
    bool failed = false;
    {
        Watchdog dog(30000, "writes to a silent peer");
        QElapsedTimer clock;
        clock.start();
        while (!failed && clock.elapsed() < 20000)
            failed = !p.writeByte('s');
    }
    QVERIFY(failed);
    bool gone = false;
    bool back = false;
    QElapsedTimer clock;
    clock.start();
    while (!back && clock.elapsed() < 10000) {
        serial::waitReadable(p.wakeDescriptor(), 50);
        for (const TrafficRecord &r : p.take()) {
            gone = gone || r.kind == TrafficKind::LineGone;
            back = back || (gone && r.kind == TrafficKind::LineBack);
        }
    }
    QVERIFY(gone);
    QVERIFY(back);
    // The first connection is still in the listener's queue, never read; the second follows.
    int first = -1;
    int second = -1;
    for (int i = 0; i < 200 && second < 0; ++i) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            QThread::msleep(5);
        else if (first < 0)
            first = fd;
        else
            second = fd;
    }
    QVERIFY(second >= 0);
    QVERIFY(p.writeByte('z'));
    char c = 0;
    QCOMPARE(::recv(second, &c, 1, 0), ssize_t(1));
    QCOMPARE(c, 'z');
    opened.port.reset();
    ::close(first);
    ::close(second);
    ::close(listener);
}

void TestNetworkWriter::oneLookupAtATime()
{
    // A port that tries again and again while the name server hangs: each try joins the lookup
    // still running instead of leaving another thread behind.
    const std::string url = std::string("tcp://") + slowLookup::Host + ":4001";
    for (int attempt = 0; attempt < 5; ++attempt) {
        int asked = 0;
        const SerialPort::Opened opened =
                SerialPort::open(url, params9600(), [&] { return ++asked < 3; });
        QVERIFY(!opened.port);
        QVERIFY(opened.calledOff);
    }
    {
        const std::lock_guard lock(slowLookup::mutex);
        QCOMPARE(slowLookup::started, 1);
        QCOMPARE(slowLookup::mostAtOnce, 1);
        slowLookup::open = true;
    }
    slowLookup::released.notify_all();
    QTRY_COMPARE(
            [] {
                const std::lock_guard lock(slowLookup::mutex);
                return slowLookup::running;
            }(),
            0);
    // Once it is over, the next attempt asks the name server again. The released lookup may
    // still be handing its answer over when the first attempt comes (it then joins it and
    // waits for its end); the one after must ask anew.
    const auto startedSoFar = [] {
        const std::lock_guard lock(slowLookup::mutex);
        return slowLookup::started;
    };
    QVERIFY(!SerialPort::open(url, params9600()).port);
    if (startedSoFar() == 1)
        QVERIFY(!SerialPort::open(url, params9600()).port);
    QCOMPARE(startedSoFar(), 2);
}

void TestNetworkWriter::internationalHostName()
{
    // A name written in full-width letters is the same name to the resolver (IDNA maps it).
    if (!Ser2NetServer::available())
        QSKIP("ser2net is not installed (tools/setup.sh installs it)");
    Pty pty;
    Ser2NetServer server;
    const QString why = server.start(pty.slavePath());
    QVERIFY2(why.isEmpty(), qPrintable(why));
    const QString url = QStringLiteral("rfc2217://ｌｏｃａｌｈｏｓｔ:%1").arg(server.rfc2217Port());
    SerialPort::Opened opened = SerialPort::open(url.toStdString(), params9600());
    QVERIFY2(opened.port, opened.reason.c_str());
}

void TestNetworkWriter::messagesQuoteTheAddress_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("quoted"); // as the message names the host, or HOST:PORT
    QTest::addColumn<bool>("connects"); // the failure is the connection's, not the lookup's
    QTest::newRow("IPv6 in brackets") << "::1"
                                      << "[::1]:%1" << true;
    QTest::newRow("IPv4") << "127.0.0.1"
                          << "127.0.0.1:%1" << true;
    QTest::newRow("short name") << "no-such-host.invalid"
                                << "no-such-host.invalid" << false;
    const QString longName = QString(10000, u'a') + QStringLiteral(".invalid");
    QTest::newRow("10 kB name") << longName
                                << QString(32, u'a') + QChar(0x2026) + longName.right(31) << false;
    const QString wide = QString(3000, QChar(0x6A5F)) + QStringLiteral(".invalid");
    QTest::newRow("long name in Chinese")
            << wide << QString(32, QChar(0x6A5F)) + QChar(0x2026) + wide.right(31) << false;
}

void TestNetworkWriter::messagesQuoteTheAddress()
{
    QFETCH(QString, host);
    QFETCH(QString, quoted);
    QFETCH(bool, connects);
    const quint16 nobody = refusedPort();
    const QString url = QStringLiteral("tcp://%1:%2")
                                .arg(host.contains(u':') ? u'[' + host + u']' : host)
                                .arg(nobody);
    const SerialPort::Opened opened = SerialPort::open(url.toStdString(), params9600());
    QVERIFY(!opened.port);
    const QString reason = QString::fromStdString(opened.reason);
    const QString expected =
            connects ? quoted.arg(nobody) : QStringLiteral("找不到主機 ") + quoted + u' ';
    QVERIFY2(reason.contains(expected), qPrintable(reason));
    QVERIFY2(reason.size() < 64 + 60, qPrintable(QString::number(reason.size())));
}

QTEST_GUILESS_MAIN(TestNetworkWriter)
#include "tst_networkwriter.moc"
