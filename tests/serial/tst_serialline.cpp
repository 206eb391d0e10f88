// SPDX-License-Identifier: MIT
// The serial layer against real pseudo-terminals: the test plays the device on the master.
#include "FakeLines.h"
#include "Pty.h"
#include "serial/ParmrkDecoder.h"
#include "serial/SerialLine.h"
#include "serial/SerialPort.h"
#include "traffic/SystemError.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

using serial::LineConfig;
using serial::LineParams;
using serial::Parity;
using serial::ReadStatus;

namespace {

// Closes the port however the test function leaves.
struct Held
{
    explicit Held(int fd) : fd(fd) { }
    ~Held() { serial::closePort(fd); }
    Held(const Held &) = delete;
    Held &operator=(const Held &) = delete;
    int fd;
};

QByteArray allByteValues()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes;
}

// What a terminal looks like before anybody made it raw: every translation that could
// change, swallow or add a byte is switched on.
void makeCooked(int fd, speed_t speed = B19200)
{
    termios t {};
    QVERIFY(tcgetattr(fd, &t) == 0);
    t.c_iflag |= ICRNL | INLCR | IXON | IXOFF | IXANY | ISTRIP | INPCK | PARMRK | BRKINT | IMAXBEL;
    t.c_oflag |= OPOST | ONLCR | OCRNL;
    t.c_lflag |= ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 5;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    QVERIFY(tcsetattr(fd, TCSANOW, &t) == 0);
}

// Collects what arrives on our side until `count` bytes are in or a second passes quietly.
QByteArray readFromPort(int fd, int count)
{
    QByteArray got;
    uint8_t buf[512];
    while (got.size() < count && serial::waitReadable(fd, 1000)) {
        size_t n = 0;
        if (serial::readBytes(fd, buf, sizeof buf, n) != ReadStatus::Byte)
            break;
        got.append(reinterpret_cast<const char *>(buf), qsizetype(n));
    }
    return got;
}

bool sameTermios(const termios &a, const termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag
            && a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// Runs this very binary as nobody to try an open the way an ordinary user's program would.
// Returns the errno of the open (0 when it worked), or -1 when the child could not be run.
int openAsNobody(const QString &path, QString &why)
{
    QProcess child;
    child.start(QStringLiteral("setpriv"),
                {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                 QCoreApplication::applicationFilePath(), "--probe-open", path});
    if (!child.waitForFinished(20000)) {
        child.kill();
        child.waitForFinished();
        why = QStringLiteral("child did not finish");
        return -1;
    }
    const QByteArray out = child.readAllStandardOutput().trimmed();
    if (!out.startsWith("probe-open errno=")) {
        why = QString::fromLocal8Bit(child.readAllStandardError());
        return -1;
    }
    return out.mid(int(strlen("probe-open errno="))).toInt();
}

// A plain open, as a program that knows nothing of our lock would do it: only the
// kernel's exclusive flag can turn it away.
int probeOpen(const char *path)
{
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    const int error = fd >= 0 ? 0 : errno;
    if (fd >= 0)
        ::close(fd);
    printf("probe-open errno=%d\n", error);
    return 0;
}

} // namespace

class SerialLineTest : public QObject
{
    Q_OBJECT

private slots:
    void bytesPassUnchanged_data();
    void bytesPassUnchanged();
    void configReadBack_data();
    void configReadBack();
    void sameConfigTwice_data();
    void sameConfigTwice();
    void refusedParams_data();
    void refusedParams();
    void refusalSaysWhy_data();
    void refusalSaysWhy();
    void openFailureSaysWhy_data();
    void openFailureSaysWhy();
    void openingReasonsReadInChinese_data();
    void openingReasonsReadInChinese();
    void hardwareFlowKept_data();
    void hardwareFlowKept();
    void exclusiveOpen_data();
    void exclusiveOpen();
    void othersExclusiveFlagKept();
    void hangUpToldApartFromSilence();
    void fullBuffer_data();
    void fullBuffer();
    void badNodes_data();
    void badNodes();
    void pseudoTerminalRecognised();
    void markedRealEscapeDecodesToOne();
    void rs485ReachesTheDriver_data();
    void rs485ReachesTheDriver();
    void rs485RefusalSaysWhy_data();
    void rs485RefusalSaysWhy();
    void rs485NotOnNetworkPorts();
};

void SerialLineTest::markedRealEscapeDecodesToOne()
{
    // A tty with PARMRK doubles a real FFh; the decoder gives it back as one sound byte.
    Pty pty;
    QVERIFY(pty.isOpen());
    const QByteArray path = pty.slavePath().toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    termios t {};
    QCOMPARE(tcgetattr(fd, &t), 0);
    cfmakeraw(&t);
    t.c_iflag |= PARMRK | INPCK;
    t.c_iflag &= ~IGNPAR;
    QCOMPARE(tcsetattr(fd, TCSANOW, &t), 0);
    QVERIFY(pty.write(QByteArray::fromHex("61ff62ffff")));
    QByteArray raw;
    pollfd p {fd, POLLIN, 0};
    while (raw.size() < 8 && ::poll(&p, 1, 2000) > 0) {
        char buffer[64];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        raw.append(buffer, qsizetype(n));
    }
    ::close(fd);
    QCOMPARE(raw, QByteArray::fromHex("61ffff62ffffffff"));
    serial::ParmrkDecoder decoder;
    std::vector<TrafficRecord> out;
    // Read by read as a reader would take them, the escape pairs split.
    for (qsizetype i = 0; i < raw.size(); i += 2)
        decoder.decode(reinterpret_cast<const uint8_t *>(raw.constData()) + i,
                       size_t(std::min<qsizetype>(2, raw.size() - i)), i, out);
    decoder.finish(raw.size(), out);
    QByteArray decoded;
    for (const TrafficRecord &r : out) {
        QCOMPARE(r.kind, TrafficKind::Received);
        decoded += r.bytes;
    }
    QCOMPARE(decoded, QByteArray::fromHex("61ff62ffff"));
}

void SerialLineTest::bytesPassUnchanged_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("outgoing"); // we write, the device reads

    // ^C, XON, XOFF, LF, CR, DEL, 0xFF (PARMRK's escape), ^D (EOF), ^Z, ^\, ^U, NUL
    const QByteArray controls = QByteArray::fromHex("0311130a0d7fff041a1c1500ff0a0d0a");
    QTest::newRow("all 256 values out") << allByteValues() << true;
    QTest::newRow("all 256 values in") << allByteValues() << false;
    QTest::newRow("control bytes out") << controls << true;
    QTest::newRow("control bytes in") << controls << false;
    QTest::newRow("lone LF out") << QByteArray("\n") << true;
    QTest::newRow("lone CR in") << QByteArray("\r") << false;
}

void SerialLineTest::bytesPassUnchanged()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, outgoing);

    Pty pty;
    QVERIFY(pty.isOpen());
    const serial::OpenResult r = serial::openPort(pty.slavePath().toStdString());
    QVERIFY2(r.fd >= 0, strerror(r.error));
    Held port(r.fd);
    makeCooked(port.fd);
    QVERIFY(serial::writeConfig(port.fd, LineParams {115200, Parity::None, 8, 0}));
    termios t {};
    QVERIFY(tcgetattr(port.fd, &t) == 0);
    QCOMPARE(int(t.c_cc[VMIN]), 1);
    QCOMPARE(int(t.c_cc[VTIME]), 0);

    if (outgoing) {
        for (char c : bytes)
            QVERIFY(serial::writeByte(port.fd, uint8_t(c)));
        QCOMPARE(pty.read(int(bytes.size())), bytes);
        QCOMPARE(pty.read(1, 200), QByteArray()); // no CR added to an LF
    } else {
        QVERIFY(pty.write(bytes));
        QCOMPARE(readFromPort(port.fd, int(bytes.size())), bytes);
        QCOMPARE(pty.read(1, 200), QByteArray()); // nothing echoed back to the device
        QVERIFY(!serial::waitReadable(port.fd, 100));
    }
}

void SerialLineTest::configReadBack_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<Parity>("parity");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("stopBitsBack");
    QTest::addColumn<bool>("parOdd"); // what the pty keeps of the parity flags
    QTest::addColumn<bool>("cmsPar");

    QTest::newRow("9600 8N1") << 9600 << Parity::None << 8 << 0 << 0 << false << false;
    QTest::newRow("115200 8N1") << 115200 << Parity::None << 8 << 0 << 0 << false << false;
    QTest::newRow("50, lowest classic") << 50 << Parity::None << 8 << 0 << 0 << false << false;
    QTest::newRow("134 (134.5)") << 134 << Parity::None << 8 << 0 << 0 << false << false;
    QTest::newRow("4000000, highest classic")
            << 4000000 << Parity::None << 8 << 0 << 0 << false << false;
    QTest::newRow("250000 via termios2") << 250000 << Parity::None << 8 << 0 << 0 << false << false;
    QTest::newRow("12345 via termios2") << 12345 << Parity::None << 8 << 0 << 0 << false << false;
    QTest::newRow("5000000 via termios2")
            << 5000000 << Parity::None << 8 << 0 << 0 << false << false;
    QTest::newRow("two stop bits") << 9600 << Parity::None << 8 << 2 << 2 << false << false;
    QTest::newRow("one and a half gets one")
            << 9600 << Parity::None << 8 << 1 << 0 << false << false;
    QTest::newRow("odd") << 38400 << Parity::Odd << 8 << 0 << 0 << true << false;
    QTest::newRow("even, 7 bits") << 19200 << Parity::Even << 7 << 0 << 0 << false << false;
    QTest::newRow("mark") << 9600 << Parity::Mark << 8 << 0 << 0 << true << true;
    QTest::newRow("space, 7 bits, two stop")
            << 57600 << Parity::Space << 7 << 2 << 2 << false << true;
    QTest::newRow("5 data bits") << 1200 << Parity::None << 5 << 0 << 0 << false << false;
}

void SerialLineTest::configReadBack()
{
    QFETCH(int, baud);
    QFETCH(Parity, parity);
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QFETCH(int, stopBitsBack);
    QFETCH(bool, parOdd);
    QFETCH(bool, cmsPar);

    Pty pty;
    QVERIFY(pty.isOpen());
    const serial::OpenResult r = serial::openPort(pty.slavePath().toStdString());
    QVERIFY(r.fd >= 0);
    Held port(r.fd);

    // Start from the opposite of every field, so a field merged instead of replaced shows.
    const int otherBaud = (baud == 9600) ? 250000 : 9600;
    const LineParams before {otherBaud, parity == Parity::None ? Parity::Mark : Parity::None, 8,
                             uint8_t(stopBitsBack == 2 ? 0 : 2)};
    QVERIFY(serial::writeConfig(port.fd, before));

    QVERIFY(serial::writeConfig(port.fd,
                                LineParams {baud, parity, uint8_t(dataBits), uint8_t(stopBits)}));
    LineConfig c;
    QVERIFY(serial::readConfig(port.fd, c));
    QCOMPARE(c.speed, qint64(baud));
    QCOMPARE(int(c.stopBits), stopBitsBack);
    // A pty slave forces CS8 and clears PARENB; the odd and stick flags stay as written.
    QCOMPARE(int(c.dataBits), 8);
    QCOMPARE(c.parity, Parity::None);
    termios t {};
    QVERIFY(tcgetattr(port.fd, &t) == 0);
    QCOMPARE(bool(t.c_cflag & PARODD), parOdd);
    QCOMPARE(bool(t.c_cflag & CMSPAR), cmsPar);
    QCOMPARE(bool(t.c_cflag & PARENB), false);
    QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(bool(t.c_cflag & CLOCAL), true);
    QCOMPARE(bool(t.c_cflag & CREAD), true);
    QCOMPARE(int(t.c_cc[VMIN]), 1);
    QCOMPARE(int(t.c_cc[VTIME]), 0);
}

void SerialLineTest::sameConfigTwice_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<Parity>("parity");
    QTest::addColumn<int>("dataBits");

    // The second write changes nothing the pty keeps, which the C library reports as EINVAL
    // when parity or 7 bits were asked for; a mode restart must still succeed.
    QTest::newRow("8N1") << 9600 << Parity::None << 8;
    QTest::newRow("7E1") << 9600 << Parity::Even << 7;
    QTest::newRow("mark via termios2") << 250000 << Parity::Mark << 8;
}

void SerialLineTest::sameConfigTwice()
{
    QFETCH(int, baud);
    QFETCH(Parity, parity);
    QFETCH(int, dataBits);

    Pty pty;
    const serial::OpenResult r = serial::openPort(pty.slavePath().toStdString());
    QVERIFY(r.fd >= 0);
    Held port(r.fd);
    const LineParams params {baud, parity, uint8_t(dataBits), 0};
    QVERIFY(serial::writeConfig(port.fd, params));
    QVERIFY(serial::writeConfig(port.fd, params));
    LineConfig c;
    QVERIFY(serial::readConfig(port.fd, c));
    QCOMPARE(c.speed, qint64(baud));
}

void SerialLineTest::refusedParams_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<Parity>("parity");
    QTest::addColumn<int>("dataBits");

    QTest::newRow("speed 0 (would hang up)") << 0 << Parity::None << 8;
    QTest::newRow("speed -1") << -1 << Parity::None << 8;
    QTest::newRow("speed INT_MIN") << INT_MIN << Parity::None << 8;
    QTest::newRow("4 data bits") << 9600 << Parity::None << 4;
    QTest::newRow("9 data bits") << 9600 << Parity::None << 9;
    QTest::newRow("parity code 5") << 9600 << Parity(5) << 8;
    QTest::newRow("parity code 255") << 9600 << Parity(255) << 8;
}

void SerialLineTest::refusedParams()
{
    QFETCH(int, baud);
    QFETCH(Parity, parity);
    QFETCH(int, dataBits);

    Pty pty;
    const serial::OpenResult r = serial::openPort(pty.slavePath().toStdString());
    QVERIFY(r.fd >= 0);
    Held port(r.fd);
    makeCooked(port.fd);
    termios before {};
    QVERIFY(tcgetattr(port.fd, &before) == 0);

    QVERIFY(!serial::writeConfig(port.fd, LineParams {baud, parity, uint8_t(dataBits), 0}));
    termios after {};
    QVERIFY(tcgetattr(port.fd, &after) == 0);
    QVERIFY(sameTermios(before, after));
    LineConfig c;
    QVERIFY(serial::readConfig(port.fd, c));
    QCOMPARE(c.speed, qint64(19200));
}

void SerialLineTest::refusalSaysWhy_data()
{
    QTest::addColumn<QString>("path"); // empty: a pty, its driver refusing as `refuse` says
    QTest::addColumn<int>("baud");
    QTest::addColumn<uint32_t>("refuse");
    QTest::addColumn<SerialPort::Failure>("failure");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("reason");

    const auto write = SerialPort::Failure::WriteConfig;
    QTest::newRow("rate the driver refuses") << QString() << 250000 << uint32_t(FakeLines::Speed)
                                             << write << EINVAL << QStringLiteral("參數不正確");
    QTest::newRow("rate the driver ignores")
            << QString() << 250000 << uint32_t(FakeLines::SpeedIgnored) << write << 0
            << QStringLiteral("驅動程式不接受速率 250000");
    QTest::newRow("no rate") << QString() << 0 << 0u << write << 0 << QStringLiteral("速率不正確");
    QTest::newRow("no terminal") << QStringLiteral("/dev/null") << 9600 << 0u
                                 << SerialPort::Failure::ReadConfig << ENOTTY
                                 << QStringLiteral("不是終端裝置");
}

void SerialLineTest::refusalSaysWhy()
{
    QFETCH(QString, path);
    QFETCH(int, baud);
    QFETCH(uint32_t, refuse);
    QFETCH(SerialPort::Failure, failure);
    QFETCH(int, error);
    QFETCH(QString, reason);

    FakeLines lines;
    QVERIFY(lines.isValid());
    if (refuse != 0)
        QVERIFY2(FakeLines::active(), "runs with the fakelines interposer preloaded");
    lines.setRefused(refuse, EINVAL);
    Pty pty;
    const QString device = path.isEmpty() ? pty.slavePath() : path;
    const SerialPort::Opened opened =
            SerialPort::open(device.toStdString(), LineParams {baud, Parity::Even, 7, 2});
    QVERIFY(!opened.port);
    QCOMPARE(opened.failure, failure);
    QCOMPARE(opened.error, error);
    QCOMPARE(QString::fromStdString(opened.reason), reason);
    // Refused, the port is not held: it opens again at once.
    QCOMPARE(SerialPort::openCount(), 0);
    const serial::OpenResult again = serial::openPort(device.toStdString());
    QVERIFY2(again.fd >= 0, strerror(again.error));
    serial::closePort(again.fd);
}

void SerialLineTest::openFailureSaysWhy_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("reason"); // %1: the path
    QTest::newRow("missing device") << "missing" << ENOENT << "找不到裝置 %1";
    QTest::newRow("held by another") << "held" << EBUSY << "裝置忙碌中 (另一個程式正在使用它)";
    QTest::newRow("directory") << "directory" << EISDIR << "這是一個資料夾";
    QTest::newRow("socket") << "socket" << ENXIO << "這是一個 socket, 不是裝置";
    QTest::newRow("refused connection") << "refused" << ECONNREFUSED << "連線到 %1 被拒絕";
}

void SerialLineTest::openFailureSaysWhy()
{
    QFETCH(QString, kind);
    QFETCH(int, error);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Pty pty;
    int holder = -1;
    int socketFd = -1;
    QString path;
    QString named; // how the reason names it
    if (kind == u"missing") {
        path = dir.filePath(QStringLiteral("ttyUSB-gone"));
    } else if (kind == u"held") {
        path = pty.slavePath();
        holder = serial::openPort(path.toStdString()).fd;
        QVERIFY(holder >= 0);
    } else if (kind == u"directory") {
        path = dir.path();
    } else {
        socketFd = socket(kind == u"socket" ? AF_UNIX : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        QVERIFY(socketFd >= 0);
        if (kind == u"socket") {
            path = dir.filePath(QStringLiteral("sock"));
            sockaddr_un address {};
            address.sun_family = AF_UNIX;
            const QByteArray name = QFile::encodeName(path);
            memcpy(address.sun_path, name.constData(), size_t(name.size()));
            QVERIFY(bind(socketFd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        } else {
            // A port that was just free and is closed again: nobody listens there.
            sockaddr_in address {};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t length = sizeof address;
            QVERIFY(bind(socketFd, reinterpret_cast<sockaddr *>(&address), length) == 0);
            QVERIFY(getsockname(socketFd, reinterpret_cast<sockaddr *>(&address), &length) == 0);
            named = QStringLiteral("127.0.0.1:%1").arg(ntohs(address.sin_port));
            path = QStringLiteral("tcp://") + named;
            ::close(socketFd);
            socketFd = -1;
        }
    }
    const SerialPort::Opened opened = SerialPort::open(path.toStdString(), LineParams {});
    QVERIFY(!opened.port);
    QCOMPARE(opened.failure, SerialPort::Failure::Open);
    QCOMPARE(opened.error, error);
    QCOMPARE(QString::fromStdString(opened.reason),
             reason.contains(u"%1") ? reason.arg(named.isEmpty() ? path : named) : reason);
    serial::closePort(holder);
    if (socketFd >= 0)
        ::close(socketFd);
}

void SerialLineTest::openingReasonsReadInChinese_data()
{
    QTest::addColumn<int>("error");
    // Every cause a user meets when opening a device or connecting to a server.
    const int errors[] = {ENOENT,       EACCES,        EPERM,     EBUSY,        ENXIO,
                          ENODEV,       EIO,           EISDIR,    ENOTTY,       EINVAL,
                          ECONNREFUSED, ECONNRESET,    ETIMEDOUT, EHOSTUNREACH, ENETUNREACH,
                          ENETDOWN,     EADDRNOTAVAIL, EPROTO,    ELOOP,        EMFILE};
    for (int e : errors)
        QTest::newRow(strerrorname_np(e)) << e;
}

void SerialLineTest::openingReasonsReadInChinese()
{
    // The system's English words are the logging category's; the user reads Chinese alone.
    QFETCH(int, error);
    const QString words = SystemError::words(error);
    QVERIFY2(!words.contains(QRegularExpression(QStringLiteral("[A-Za-z]"))), qPrintable(words));
    QVERIFY(!words.isEmpty());
}

void SerialLineTest::hardwareFlowKept_data()
{
    QTest::addColumn<bool>("rtsCts");
    QTest::newRow("driver reports RTS/CTS") << true;
    QTest::newRow("driver reports none") << false;
}

void SerialLineTest::hardwareFlowKept()
{
    QFETCH(bool, rtsCts);

    Pty pty;
    // Someone set the line up before we came: through a descriptor of its own.
    {
        const int other =
                ::open(pty.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(other >= 0);
        termios t {};
        QVERIFY(tcgetattr(other, &t) == 0);
        if (rtsCts)
            t.c_cflag |= CRTSCTS;
        else
            t.c_cflag &= ~CRTSCTS;
        QVERIFY(tcsetattr(other, TCSANOW, &t) == 0);
        ::close(other);
    }
    const serial::OpenResult r = serial::openPort(pty.slavePath().toStdString());
    QVERIFY(r.fd >= 0);
    Held port(r.fd);
    LineConfig c;
    QVERIFY(serial::readConfig(port.fd, c));
    QCOMPARE(c.hardwareFlow, rtsCts);
    for (int baud : {9600, 250000}) {
        QVERIFY(serial::writeConfig(port.fd, LineParams {baud, Parity::Even, 7, 2}));
        QVERIFY(serial::readConfig(port.fd, c));
        QCOMPARE(c.hardwareFlow, rtsCts);
    }
}

void SerialLineTest::exclusiveOpen_data()
{
    QTest::addColumn<bool>("unprivileged");
    QTest::newRow("root, held by flock") << false;
    QTest::newRow("ordinary user, held by TIOCEXCL") << true;
}

void SerialLineTest::exclusiveOpen()
{
    QFETCH(bool, unprivileged);

    if (unprivileged) {
        if (geteuid() != 0)
            QSKIP("switching to nobody needs root");
        if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
            QSKIP("setpriv is not installed");
    }

    Pty pty;
    const std::string path = pty.slavePath().toStdString();
    QVERIFY(chmod(path.c_str(), 0666) == 0);

    serial::OpenResult first = serial::openPort(path);
    QVERIFY(first.fd >= 0);
    Held holder(first.fd);
    QVERIFY(serial::writeConfig(holder.fd, LineParams {9600, Parity::None, 8, 0}));
    // The holder's own setting of CLOCAL must survive a rejected second open.
    termios t {};
    QVERIFY(tcgetattr(holder.fd, &t) == 0);
    t.c_cflag &= ~CLOCAL;
    QVERIFY(tcsetattr(holder.fd, TCSANOW, &t) == 0);

    if (unprivileged) {
        QString why;
        const int error = openAsNobody(pty.slavePath(), why);
        if (error < 0)
            QSKIP(qPrintable("the unprivileged child could not run: " + why));
        QCOMPARE(error, EBUSY);
    } else {
        const serial::OpenResult second = serial::openPort(path);
        serial::closePort(second.fd);
        QCOMPARE(second.fd, -1);
        QCOMPARE(second.error, EBUSY);
    }

    QVERIFY(tcgetattr(holder.fd, &t) == 0);
    QVERIFY(!(t.c_cflag & CLOCAL));
    QVERIFY(serial::writeByte(holder.fd, 'k'));
    QCOMPARE(pty.read(1), QByteArray("k"));

    serial::closePort(holder.fd);
    holder.fd = -1;

    // Released means released: for us and, since the tty outlives our descriptor while the
    // master is open, also for an ordinary user.
    if (unprivileged) {
        QString why;
        QCOMPARE(openAsNobody(pty.slavePath(), why), 0);
    } else {
        const serial::OpenResult again = serial::openPort(path);
        serial::closePort(again.fd);
        QVERIFY2(again.fd >= 0, strerror(again.error));
    }
}

void SerialLineTest::othersExclusiveFlagKept()
{
    // Another program holds the port with TIOCEXCL alone, as some do. Root passes that flag;
    // closing the port again must leave the other program's claim in place.
    if (geteuid() != 0)
        QSKIP("only root can open a port that another program holds with TIOCEXCL");
    Pty pty;
    const std::string path = pty.slavePath().toStdString();
    const int other = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(other >= 0);
    QVERIFY(ioctl(other, TIOCEXCL) == 0);

    const serial::OpenResult ours = serial::openPort(path);
    QVERIFY2(ours.fd >= 0, strerror(ours.error));
    serial::closePort(ours.fd);
    int exclusive = 0;
    QVERIFY(ioctl(other, TIOCGEXCL, &exclusive) == 0);
    QCOMPARE(exclusive, 1);
    ioctl(other, TIOCNXCL); // the other program lets go as it leaves
    ::close(other);

    // Where the flag was ours, it goes again with our descriptor.
    const serial::OpenResult mine = serial::openPort(path);
    QVERIFY(mine.fd >= 0);
    QVERIFY(ioctl(mine.fd, TIOCGEXCL, &exclusive) == 0);
    QCOMPARE(exclusive, 1);
    const int probe = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    serial::closePort(mine.fd);
    QVERIFY(probe >= 0);
    QVERIFY(ioctl(probe, TIOCGEXCL, &exclusive) == 0);
    QCOMPARE(exclusive, 0);
    ::close(probe);
}

void SerialLineTest::hangUpToldApartFromSilence()
{
    Pty pty;
    const serial::OpenResult r = serial::openPort(pty.slavePath().toStdString());
    QVERIFY(r.fd >= 0);
    Held port(r.fd);
    QVERIFY(serial::writeConfig(port.fd, LineParams {9600, Parity::None, 8, 0}));

    uint8_t buf[16];
    size_t n = 99;
    QCOMPARE(serial::readBytes(port.fd, buf, sizeof buf, n), ReadStatus::NoData);
    QCOMPARE(n, size_t(0));
    QVERIFY(!serial::waitReadable(port.fd, 50));
    QCOMPARE(serial::readBytes(port.fd, buf, 0, n), ReadStatus::NoData);

    QVERIFY(pty.write("ab"));
    QVERIFY(serial::waitReadable(port.fd, 1000));
    QCOMPARE(serial::readBytes(port.fd, buf, sizeof buf, n), ReadStatus::Byte);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(buf), qsizetype(n)), QByteArray("ab"));
    QCOMPARE(serial::readBytes(port.fd, buf, sizeof buf, n), ReadStatus::NoData);

    pty.hangUp();
    QElapsedTimer timer;
    timer.start();
    QVERIFY(serial::waitReadable(port.fd, 5000));
    QVERIFY(timer.elapsed() < 2000);
    QCOMPARE(serial::readBytes(port.fd, buf, sizeof buf, n), ReadStatus::Gone);
    QCOMPARE(serial::readBytes(port.fd, buf, sizeof buf, n), ReadStatus::Gone);
    QVERIFY(!serial::writeByte(
            port.fd, 'x', [] { return true; }, 5));
}

void SerialLineTest::fullBuffer_data()
{
    QTest::addColumn<bool>("hookDrains");
    QTest::newRow("reader never reads, hook gives up") << false;
    QTest::newRow("hook lets the reader catch up") << true;
}

void SerialLineTest::fullBuffer()
{
    QFETCH(bool, hookDrains);

    Pty pty;
    const serial::OpenResult r = serial::openPort(pty.slavePath().toStdString());
    QVERIFY(r.fd >= 0);
    Held port(r.fd);
    QVERIFY(serial::writeConfig(port.fd, LineParams {115200, Parity::None, 8, 0}));

    int hookCalls = 0;
    QByteArray drained;
    const serial::WaitHook hook = [&] {
        ++hookCalls;
        if (hookDrains)
            drained += pty.readAvailable();
        return hookDrains || hookCalls < 3;
    };

    // Far more than any pty buffers, so the writer must wait at some point.
    const int total = 300000;
    int accepted = 0;
    QElapsedTimer timer;
    timer.start();
    while (accepted < total && serial::writeByte(port.fd, uint8_t(accepted % 251), hook, 5))
        ++accepted;
    QVERIFY(timer.elapsed() < 30000);
    QVERIFY(hookCalls > 0);

    if (hookDrains) {
        QCOMPARE(accepted, total);
    } else {
        QCOMPARE(hookCalls, 3);
        QVERIFY(accepted < total);
        // Stuck output must not stall a drain on a pty.
        timer.restart();
        serial::drainOutput(port.fd);
        QVERIFY(timer.elapsed() < 1000);
    }

    drained += pty.read(accepted - int(drained.size()));
    QCOMPARE(int(drained.size()), accepted);
    for (int i = 0; i < accepted; ++i) {
        if (uint8_t(drained[i]) != uint8_t(i % 251))
            QFAIL(qPrintable(QStringLiteral("byte %1 lost or changed").arg(i)));
    }
}

void SerialLineTest::badNodes_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("openError"); // 0: opens

    QTest::newRow("/dev/null, no terminal") << "/dev/null" << 0;
    QTest::newRow("missing node") << "/dev/ttyUSB-telvix-absent" << ENOENT;
    QTest::newRow("missing folder") << "/nonexistent/ttyS0" << ENOENT;
    QTest::newRow("empty path") << "" << ENOENT;
    QTest::newRow("a directory") << "/" << EISDIR;
}

void SerialLineTest::badNodes()
{
    QFETCH(QString, path);
    QFETCH(int, openError);

    QElapsedTimer timer;
    timer.start();
    const serial::OpenResult r = serial::openPort(path.toStdString());
    Held port(r.fd);
    if (openError != 0) {
        QCOMPARE(r.fd, -1);
        QCOMPARE(r.error, openError);
    } else if (r.fd >= 0) {
        LineConfig c;
        QVERIFY(!serial::readConfig(port.fd, c));
        QVERIFY(!serial::writeConfig(port.fd, LineParams {}));
        QVERIFY(!serial::isPseudoTerminal(port.fd));
        serial::drainOutput(port.fd);
    }
    QVERIFY(timer.elapsed() < 2000);
}

void SerialLineTest::pseudoTerminalRecognised()
{
    Pty pty;
    const serial::OpenResult r = serial::openPort(pty.slavePath().toStdString());
    QVERIFY(r.fd >= 0);
    Held port(r.fd);
    QVERIFY(serial::isPseudoTerminal(port.fd));
    QVERIFY(!serial::isPseudoTerminal(pty.masterFd()));
    QVERIFY(!serial::isPseudoTerminal(-1));
    serial::closePort(-1); // harmless
    LineConfig c;
    QVERIFY(!serial::readConfig(-1, c));
    QVERIFY(!serial::writeConfig(-1, LineParams {}));
}

void SerialLineTest::rs485ReachesTheDriver_data()
{
    QTest::addColumn<serial::Rs485Config>("config");
    QTest::addColumn<uint32_t>("flags"); // the driver's after the opening
    QTest::addColumn<uint32_t>("before"); // its delays, ms
    QTest::addColumn<uint32_t>("after");
    // The driver starts with a board's setting (see below), flags the row has no say in included.
    const uint32_t board = SER_RS485_ENABLED | SER_RS485_RX_DURING_TX | SER_RS485_TERMINATE_BUS;
    QTest::newRow("off: not even read")
            << serial::Rs485Config {} << (board | SER_RS485_RTS_AFTER_SEND) << 3u << 4u;
    QTest::newRow("RTS on while sending") << serial::Rs485Config {true, true, false, 0, 0}
                                          << (board | SER_RS485_RTS_ON_SEND) << 0u << 0u;
    QTest::newRow("RTS on after sending, longest delay")
            << serial::Rs485Config {true, false, true, 1000, 5}
            << (board | SER_RS485_RTS_AFTER_SEND) << 1000u << 5u;
}

void SerialLineTest::rs485ReachesTheDriver()
{
    QFETCH(serial::Rs485Config, config);
    FakeLines lines;
    QVERIFY2(FakeLines::active(), "runs with the fakelines interposer preloaded");
    lines.setRs485(SER_RS485_ENABLED | SER_RS485_RTS_AFTER_SEND | SER_RS485_RX_DURING_TX
                           | SER_RS485_TERMINATE_BUS,
                   3, 4);
    Pty pty;
    LineParams params {19200};
    params.rs485 = config;
    const SerialPort::Opened opened = SerialPort::open(pty.slavePath().toStdString(), params);
    QVERIFY2(opened.port, opened.reason.c_str());
    // A reconfiguration leaves RS-485 to the opening.
    QVERIFY(opened.port->reconfigure(LineParams {9600}));
    QCOMPARE(opened.port->params().rs485, config);
    const FakeLines::Rs485Record driver = lines.rs485();
    QCOMPARE(driver.sets + driver.gets > 0, config.enabled);
    QTEST(driver.flags, "flags");
    QTEST(driver.delayBeforeMs, "before");
    QTEST(driver.delayAfterMs, "after");
}

void SerialLineTest::rs485RefusalSaysWhy_data()
{
    QTest::addColumn<uint32_t>("refuse");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<uint32_t>("left"); // the driver's flags after the port gave up
    QTest::newRow("UART without RS-485")
            << uint32_t(FakeLines::Rs485Set) << ENOTTY
            << QStringLiteral("RS-485:驅動程式不支援 (這個埠沒有 RS-485 模式)") << 0u;
    QTest::newRow("flags the driver turns down")
            << uint32_t(FakeLines::Rs485Set) << EINVAL
            << QStringLiteral("RS-485:驅動程式不支援 (參數不正確)") << 0u;
    // Nothing told what the driver had: what it took stays.
    QTest::newRow("read-back refused")
            << uint32_t(FakeLines::Rs485Get) << EIO
            << QStringLiteral("RS-485:無法讀回設定 (輸入輸出錯誤 (裝置或媒體故障))")
            << uint32_t(SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND);
    QTest::newRow("read back otherwise") << uint32_t(FakeLines::Rs485Altered) << 0
                                         << QStringLiteral("RS-485:讀回的設定不同") << 0u;
}

void SerialLineTest::rs485RefusalSaysWhy()
{
    QFETCH(uint32_t, refuse);
    QFETCH(int, error);
    FakeLines lines;
    QVERIFY2(FakeLines::active(), "runs with the fakelines interposer preloaded");
    lines.setRefused(refuse, error);
    Pty pty;
    const std::string path = pty.slavePath().toStdString();
    LineParams params {9600};
    params.rs485 = {true, true, false, 0, 0};
    const SerialPort::Opened opened = SerialPort::open(path, params);
    QVERIFY(!opened.port);
    QCOMPARE(opened.failure, SerialPort::Failure::WriteConfig);
    QCOMPARE(opened.error, error);
    QTEST(QString::fromStdString(opened.reason), "reason");
    QTEST(lines.rs485().flags, "left");
    // Given up, the port is not held: it opens again at once.
    QCOMPARE(SerialPort::openCount(), 0);
    const serial::OpenResult again = serial::openPort(path);
    QVERIFY2(again.fd >= 0, strerror(again.error));
    serial::closePort(again.fd);
}

void SerialLineTest::rs485NotOnNetworkPorts()
{
    // A raw TCP server that takes the connection and nothing more.
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto closeServer = qScopeGuard([server] { ::close(server); });
    sockaddr_in address {AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    QVERIFY(bind(server, reinterpret_cast<sockaddr *>(&address), length) == 0
            && listen(server, 1) == 0);
    QVERIFY(getsockname(server, reinterpret_cast<sockaddr *>(&address), &length) == 0);
    FakeLines lines;
    QVERIFY2(FakeLines::active(), "runs with the fakelines interposer preloaded");
    LineParams params {9600};
    params.rs485 = {true, true, false, 10, 10};
    const SerialPort::Opened opened =
            SerialPort::open("tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port)), params);
    QVERIFY2(opened.port, opened.reason.c_str());
    QCOMPARE(lines.rs485().sets + lines.rs485().gets, 0u);
}

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--probe-open") == 0)
        return probeOpen(argv[2]);
    QCoreApplication app(argc, argv);
    SerialLineTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_serialline.moc"
