// SPDX-License-Identifier: MIT
// Network serial ports against a real serial server: Debian's ser2net, started by the test on
// 127.0.0.1 with a pseudo-terminal of the test's own as its device. Every byte value both ways
// over RFC 2217 and raw TCP, the parameters reaching the device, a server that drops the line,
// refuses the connection or never answers, and a mode run from the window on such a port.
#include "GuiHelpers.h"
#include "Pty.h"
#include "Ser2Net.h"

#include "session/ModeState.h"
#include "main/Telvixmain1.h"
#include "main/TrafficView.h"
#include "serial/PortSettings.h"
#include "serial/SerialPort.h"
#include "TForm1Controls.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace {

struct Received
{
    QByteArray bytes;
    bool gone = false;
};

// What the port's reader takes until `count` bytes are in, the line is gone, or time is up.
Received receive(SerialPort &port, int count, int timeoutMs = 5000)
{
    Received got;
    QElapsedTimer clock;
    clock.start();
    while (got.bytes.size() < count && !got.gone && clock.elapsed() < timeoutMs) {
        serial::waitReadable(port.wakeDescriptor(), 50);
        for (const TrafficRecord &r : port.take()) {
            if (r.kind == TrafficKind::Received)
                got.bytes += r.bytes;
            else if (r.kind == TrafficKind::LineGone)
                got.gone = true;
        }
    }
    return got;
}

QByteArray allByteValues()
{
    QByteArray all;
    for (int round = 0; round < 4; ++round) {
        for (int b = 0; b <= 0xFF; ++b)
            all.append(char(b));
    }
    return all;
}

speed_t deviceSpeed(const Pty &pty)
{
    termios t {};
    tcgetattr(pty.masterFd(), &t);
    return cfgetospeed(&t);
}

serial::LineParams params(int32_t baud, serial::Parity parity = serial::Parity::None,
                          uint8_t dataBits = 8, uint8_t stopBits = 0)
{
    return {baud, parity, dataBits, stopBits, serial::FlowControl::Keep, false};
}

QString memoText() { return Form1->memo1()->toPlainText(); }

// A server of the test's own on 127.0.0.1, for what ser2net cannot be made to do: each
// connection it accepts is handed to `serve` on the server's thread with its number from 0,
// and stays open until drop() or the server's end.
class OwnServer
{
public:
    using Serve = std::function<void(int fd, int number, const std::atomic<bool> &ending)>;

    explicit OwnServer(Serve serve) : m_serve(std::move(serve))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || ::listen(m_listener, 8) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~OwnServer()
    {
        m_ending = true;
        if (m_thread.joinable())
            m_thread.join();
        for (int fd : m_accepted)
            ::close(fd);
        ::close(m_listener);
    }
    OwnServer(const OwnServer &) = delete;
    OwnServer &operator=(const OwnServer &) = delete;

    QString url(const QString &scheme) const
    {
        return QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(m_port);
    }
    // When each connection came, in monotonicMicroseconds().
    QList<int64_t> connectedAt() const
    {
        const std::lock_guard lock(m_mutex);
        return m_connectedAt;
    }
    qsizetype connections() const { return connectedAt().size(); }
    // Ends the connection as a server going down does.
    void drop(int number)
    {
        const std::lock_guard lock(m_mutex);
        ::shutdown(m_accepted.at(number), SHUT_RDWR);
    }

private:
    void run()
    {
        while (!m_ending) {
            pollfd p {m_listener, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            int number = 0;
            {
                const std::lock_guard lock(m_mutex);
                number = int(m_accepted.size());
                m_accepted.push_back(fd);
                m_connectedAt << monotonicMicroseconds();
            }
            m_serve(fd, number, m_ending);
        }
    }

    Serve m_serve;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_ending {false};
    mutable std::mutex m_mutex;
    std::vector<int> m_accepted;
    QList<int64_t> m_connectedAt;
    std::thread m_thread;
};

// What an RFC 2217 server answers to 8N1 at `baud`, before it is asked, as a fast one does.
QByteArray answersTo(uint32_t baud)
{
    QByteArray hex = "FF FD 2C FF FA 2C 65 " + QByteArray::number(baud, 16).rightJustified(8, '0')
            + " FF F0 FF FA 2C 66 08 FF F0 FF FA 2C 67 01 FF F0 FF FA 2C 68 01 FF F0";
    return QByteArray::fromHex(hex.replace(' ', ""));
}

} // namespace

class TestNetworkPorts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase() { tearDownForms(); }

    void everyByteValueBothWays_data();
    void everyByteValueBothWays();
    void parametersReachTheDevice();
    void rawTcpLeavesTheServersParameters();
    void serverDropsTheConnection_data();
    void serverDropsTheConnection();
    void refusedConnection();
    void hostThatNeverAnswers();
    void serverWithoutTheComPortOption();
    void lineControlsOverTelnet();
    void serverAnswersOtherParameters_data();
    void serverAnswersOtherParameters();
    void receiveModeFromTheWindow();
    void failureMessagesNameTheUrl();
    void connectingCanBeGivenUp_data();
    void connectingCanBeGivenUp();
    void serverBackWithOtherParameters();
    void floodIsHeldAtTheQueueBound();

private:
    std::unique_ptr<SerialPort> open(const QString &url, const serial::LineParams &p);

    std::unique_ptr<Pty> m_pty;
    std::unique_ptr<Ser2NetServer> m_server;
};

void TestNetworkPorts::initTestCase()
{
    if (!Ser2NetServer::available())
        QSKIP("ser2net is not installed (tools/setup.sh installs it)");
}

void TestNetworkPorts::init()
{
    freshStart();
    m_pty = std::make_unique<Pty>();
    QVERIFY(m_pty->isOpen());
    m_server = std::make_unique<Ser2NetServer>();
    const QString why = m_server->start(m_pty->slavePath());
    QVERIFY2(why.isEmpty(), qPrintable(why));
}

void TestNetworkPorts::cleanup()
{
    m_server.reset();
    m_pty.reset();
}

std::unique_ptr<SerialPort> TestNetworkPorts::open(const QString &url, const serial::LineParams &p)
{
    SerialPort::Opened opened = SerialPort::open(url.toStdString(), p);
    if (!opened.port)
        qWarning("%s: %s", qPrintable(url), opened.reason.c_str());
    return std::move(opened.port);
}

void TestNetworkPorts::everyByteValueBothWays_data()
{
    QTest::addColumn<bool>("rfc2217");
    QTest::newRow("RFC 2217") << true;
    QTest::newRow("raw TCP") << false;
}

void TestNetworkPorts::everyByteValueBothWays()
{
    QFETCH(bool, rfc2217);
    std::unique_ptr<SerialPort> port =
            open(rfc2217 ? m_server->rfc2217Url() : m_server->tcpUrl(), params(9600));
    QVERIFY(port);
    QVERIFY(port->isNetwork());
    port->startReading();
    const QByteArray all = allByteValues();
    // From the device: FFh travels doubled over Telnet and must come out single.
    QVERIFY(m_pty->write(all));
    const Received got = receive(*port, int(all.size()));
    QCOMPARE(got.bytes.toHex(), all.toHex());
    QVERIFY(!got.gone);
    // To the device, one byte at a time as the send modes write.
    for (char c : all)
        QVERIFY(port->writeByte(uint8_t(c)));
    QCOMPARE(m_pty->read(int(all.size()), 5000).toHex(), all.toHex());
}

void TestNetworkPorts::parametersReachTheDevice()
{
    {
        std::unique_ptr<SerialPort> port = open(m_server->rfc2217Url(), params(19200));
        QVERIFY(port);
        QCOMPARE(deviceSpeed(*m_pty), speed_t(B19200));
        // And on the open port, as the self-test changes speed.
        QVERIFY(port->reconfigure(params(115200)));
        QTRY_COMPARE(deviceSpeed(*m_pty), speed_t(B115200));
    }
    QVERIFY(m_server->waitDeviceReleased());
    serial::LineParams flow = params(57600);
    flow.flow = serial::FlowControl::RtsCts;
    std::unique_ptr<SerialPort> port = open(m_server->rfc2217Url(), flow);
    QVERIFY(port);
    termios t {};
    tcgetattr(m_pty->masterFd(), &t);
    QCOMPARE(cfgetospeed(&t), speed_t(B57600));
    QVERIFY(t.c_cflag & CRTSCTS);
}

void TestNetworkPorts::rawTcpLeavesTheServersParameters()
{
    std::unique_ptr<SerialPort> port = open(m_server->tcpUrl(), params(19200));
    QVERIFY(port);
    // The server opens its device with its own defaults, whatever the port dialog says.
    QTRY_COMPARE(deviceSpeed(*m_pty), speed_t(B9600));
    // No handshake lines, no break, no marking: refused as a driver without them refuses.
    uint8_t lines = 0;
    QVERIFY(!port->control().modemLines(lines));
    QVERIFY(!port->sendBreak(10));
    QVERIFY(!port->setMarkErrors(true));
}

void TestNetworkPorts::serverDropsTheConnection_data() { everyByteValueBothWays_data(); }

void TestNetworkPorts::serverDropsTheConnection()
{
    QFETCH(bool, rfc2217);
    std::unique_ptr<SerialPort> port =
            open(rfc2217 ? m_server->rfc2217Url() : m_server->tcpUrl(), params(9600));
    QVERIFY(port);
    port->startReading();
    QVERIFY(m_pty->write("last words"));
    QCOMPARE(receive(*port, 10).bytes, QByteArray("last words"));
    m_server->stop();
    // A hang-up, as an adapter pulled out: the bytes before it kept, then the line's end.
    const Received after = receive(*port, 1);
    QVERIFY(after.gone);
    QVERIFY(after.bytes.isEmpty());
    // The first writes may still find room before the peer's reset arrives; then they fail
    // (and no SIGPIPE ends the program).
    QTRY_VERIFY(!port->writeByte('x'));
}

void TestNetworkPorts::refusedConnection()
{
    const quint16 nobody = refusedPort();
    const SerialPort::Opened opened = SerialPort::open(
            QStringLiteral("tcp://127.0.0.1:%1").arg(nobody).toStdString(), params(9600));
    QVERIFY(!opened.port);
    QCOMPARE(opened.failure, SerialPort::Failure::Open);
    QCOMPARE(opened.error, ECONNREFUSED);
    QVERIFY2(QString::fromStdString(opened.reason).contains(QStringLiteral("被拒絕")),
             opened.reason.c_str());
}

void TestNetworkPorts::hostThatNeverAnswers()
{
    SilentListener silent;
    QVERIFY(silent.isOpen());
    // Given up by the user: at once, and told as given up, not as a failure.
    QElapsedTimer clock;
    clock.start();
    int asked = 0;
    SerialPort::Opened opened =
            SerialPort::open(silent.url(QStringLiteral("rfc2217")).toStdString(), params(9600),
                             [&] { return ++asked < 4; });
    QVERIFY(!opened.port);
    QVERIFY(opened.calledOff);
    QCOMPARE(asked, 4);
    QVERIFY(clock.elapsed() < SerialPort::ConnectTimeoutMs);
    // Left alone: the time-out, with its reason.
    opened = SerialPort::open(silent.url(QStringLiteral("tcp")).toStdString(), params(9600));
    QVERIFY(!opened.port);
    QVERIFY(!opened.calledOff);
    QCOMPARE(opened.failure, SerialPort::Failure::Open);
    QCOMPARE(opened.error, ETIMEDOUT);
    QVERIFY2(QString::fromStdString(opened.reason).contains(QStringLiteral("逾時")),
             opened.reason.c_str());
}

void TestNetworkPorts::serverWithoutTheComPortOption()
{
    // RFC 2217 asked of a server that passes bytes only: no answer to the parameters comes,
    // and that is the parameters' failure, not the connection's.
    const SerialPort::Opened opened = SerialPort::open(
            QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_server->tcpPort()).toStdString(),
            params(9600));
    QVERIFY(!opened.port);
    QCOMPARE(opened.failure, SerialPort::Failure::WriteConfig);
    QVERIFY2(QString::fromStdString(opened.reason).contains(QStringLiteral("沒有回覆線路參數")),
             opened.reason.c_str());
}

void TestNetworkPorts::lineControlsOverTelnet()
{
    // ser2net's device here is a pseudo-terminal, which has no handshake lines: the test
    // plays the server's side of the link itself, on a real socket.
    int pair[2];
    QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
    serial::TelnetLink link(pair[0]);
    std::unique_ptr<serial::LineControl> control = link.makeControl();
    const auto serverSays = [&](const QByteArray &hex) {
        const QByteArray bytes = QByteArray::fromHex(hex);
        std::vector<uint8_t> data;
        link.incoming(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()),
                      data);
        return QByteArray(reinterpret_cast<const char *>(data.data()), qsizetype(data.size()));
    };
    const auto clientSent = [&] {
        char buffer[256];
        const ssize_t n = ::read(pair[1], buffer, sizeof buffer);
        return n > 0 ? QByteArray(buffer, n).toHex(' ').toUpper() : QByteArray();
    };
    uint8_t lines = 0xFF;
    QVERIFY(control->modemLines(lines));
    QCOMPARE(lines, uint8_t(0));
    // CTS and DCD on, with their deltas; data around it stays data.
    QCOMPARE(serverSays("41 FF FA 2C 6B 99 FF F0 42"), QByteArray("AB"));
    QVERIFY(control->modemLines(lines));
    QCOMPARE(lines, uint8_t(serial::Cts | serial::Dcd));
    serial::LineInterrupts interrupts;
    QVERIFY(control->lineInterrupts(interrupts));
    QCOMPARE(interrupts.cts, 1u);
    QCOMPARE(interrupts.dcd, 1u);
    QCOMPARE(interrupts.dsr, 0u);
    // DTR and RTS go out as SET-CONTROL and show among the lines.
    QVERIFY(control->setLine(serial::Dtr, true));
    QCOMPARE(clientSent(), QByteArray("FF FA 2C 05 08 FF F0"));
    QVERIFY(control->setLine(serial::Rts, true));
    QVERIFY(control->setLine(serial::Rts, false));
    QCOMPARE(clientSent(), QByteArray("FF FA 2C 05 0B FF F0 FF FA 2C 05 0C FF F0"));
    QVERIFY(control->modemLines(lines));
    QCOMPARE(lines, uint8_t(serial::Cts | serial::Dcd | serial::Dtr));
    QVERIFY(!control->setLine(serial::Cts, true)); // an input is no line to set
    // A break is held on and off on the far side.
    QVERIFY(control->sendBreak(20));
    QCOMPARE(clientSent(), QByteArray("FF FA 2C 05 05 FF F0 FF FA 2C 05 06 FF F0"));
    // Line errors as the server notifies them, counted.
    serverSays("FF FA 2C 6A 0C FF F0 FF FA 2C 6A 04 FF F0 FF FA 2C 6A 12 FF F0");
    serial::ErrorCounts counts;
    QVERIFY(control->errorCounts(counts));
    QCOMPARE(counts.parity, 2u);
    QCOMPARE(counts.frame, 1u);
    QCOMPARE(counts.breaks, 1u);
    QCOMPARE(counts.overrun, 1u);
    // Nothing to wait on: the watcher follows the notifications by asking.
    QVERIFY(!control->waitForChange(serial::InputLines));
    ::close(pair[0]);
    ::close(pair[1]);
}

void TestNetworkPorts::serverAnswersOtherParameters_data()
{
    QTest::addColumn<QByteArray>("answers"); // the server's, after IAC DO COM-PORT-OPTION
    QTest::addColumn<QString>("says"); // empty: taken
    const QByteArray speed = "FF FA 2C 65 00 00 4B 00 FF F0"; // 19200
    const QByteArray rest = "FF FA 2C 66 08 FF F0 FF FA 2C 67 01 FF F0 FF FA 2C 68 01 FF F0";
    QTest::newRow("as asked") << speed + ' ' + rest << QString();
    QTest::newRow("another speed") << "FF FA 2C 65 00 00 25 80 FF F0 " + rest
                                   << QStringLiteral("伺服器的速率是 9600,不是 19200");
    QTest::newRow("7 bits") << speed
                    + " FF FA 2C 66 07 FF F0 FF FA 2C 67 01 FF F0 FF FA 2C 68 01 FF F0"
                            << QStringLiteral("伺服器的資料位元是 7,不是 8");
    QTest::newRow("odd parity") << speed
                    + " FF FA 2C 66 08 FF F0 FF FA 2C 67 02 FF F0 FF FA 2C 68 01 FF F0"
                                << QStringLiteral("伺服器不接受這個同位檢查設定");
    QTest::newRow("2 stop bits") << speed
                    + " FF FA 2C 66 08 FF F0 FF FA 2C 67 01 FF F0 FF FA 2C 68 02 FF F0"
                                 << QStringLiteral("伺服器不接受這個停止位元設定");
    QTest::newRow("no COM port") << QByteArray("FF FE 2C")
                                 << QStringLiteral("伺服器不接受 RFC 2217");
}

void TestNetworkPorts::serverAnswersOtherParameters()
{
    // The test answers as a server would, on a real socket; the answers are waiting before
    // the link asks, as a fast server's would be.
    QFETCH(QByteArray, answers);
    QFETCH(QString, says);
    int pair[2];
    QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
    QByteArray hex = answers.startsWith("FF FE") ? answers : "FF FD 2C 41 " + answers;
    const QByteArray wire = QByteArray::fromHex(hex.replace(' ', ""));
    QCOMPARE(::write(pair[1], wire.constData(), size_t(wire.size())), ssize_t(wire.size()));
    serial::TelnetLink link(pair[0]);
    std::vector<uint8_t> early;
    bool calledOff = false;
    const QString refused =
            QString::fromStdString(link.configure(params(19200), 2000, {}, early, calledOff));
    QVERIFY(!calledOff);
    if (says.isEmpty()) {
        QCOMPARE(refused, QString());
        // A byte of the line among the answers is the line's.
        QCOMPARE(early, std::vector<uint8_t> {0x41});
    } else {
        QVERIFY2(refused.startsWith(says), qPrintable(refused));
    }
    ::close(pair[0]);
    ::close(pair[1]);
}

void TestNetworkPorts::receiveModeFromTheWindow()
{
    const QString url = m_server->rfc2217Url();
    PortSettings::DevicePathText = url;
    PortSettings::PortNameText = url;
    ModeScript script;
    script.then([&] { m_pty->write("OK\r"); })
            .waitFor([] { return memoText().startsWith(QStringLiteral("OK<CR>")); }, "bytes shown")
            .then([] { TForm1Controls(Form1).BreakButton->click(); });
    script.start();
    TForm1Controls(Form1).ReceiveButton->click();
    QVERIFY2(script.finished() && script.failure().isEmpty(),
             qPrintable(script.failure() + u' ' + memoText()));
    QCOMPARE(SerialPort::openCount(), 0);
}

void TestNetworkPorts::failureMessagesNameTheUrl()
{
    const QString url = QStringLiteral("tcp://127.0.0.1:%1").arg(refusedPort());
    PortSettings::DevicePathText = url;
    PortSettings::PortNameText = url;
    MessageRecorder boxes;
    TForm1Controls(Form1).ReceiveButton->click();
    const QStringList texts = boxes.texts(MessageBoxes::Kind::Plain);
    QCOMPARE(texts.size(), 1);
    QVERIFY2(texts[0].startsWith(url + QStringLiteral(" 埠,無法開啟\n連線到 127.0.0.1:")),
             qPrintable(texts[0]));
    QVERIFY2(texts[0].contains(QStringLiteral("被拒絕")), qPrintable(texts[0]));
    QCOMPARE(ModeState::ReceiveModeActive, uint8_t(0));
}

void TestNetworkPorts::connectingCanBeGivenUp_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("中斷") << QStringLiteral("button");
    QTest::newRow("Esc") << QStringLiteral("escape");
    QTest::newRow("close box") << QStringLiteral("close");
}

void TestNetworkPorts::connectingCanBeGivenUp()
{
    // A server that never answers: the window goes on, a box says where it connects, and its
    // 中斷, Esc or its close box gives up at once, without a failure to tell.
    QFETCH(QString, how);
    SilentListener silent;
    const QString url = silent.url(QStringLiteral("rfc2217"));
    PortSettings::DevicePathText = url;
    PortSettings::PortNameText = url;
    MessageRecorder boxes;
    bool modal = false;
    QString said;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->objectName() != QLatin1String("ConnectWaitDialog") || !w->isVisible())
                continue;
            poll.stop();
            modal = QApplication::activeModalWidget() == w;
            for (QLabel *label : w->findChildren<QLabel *>())
                said += label->text();
            if (how == QLatin1String("button"))
                w->findChild<QPushButton *>(QStringLiteral("BreakButton"))->click();
            else if (how == QLatin1String("escape"))
                QTest::keyClick(w, Qt::Key_Escape);
            else
                w->close();
            return;
        }
    });
    poll.start();
    QElapsedTimer clock;
    clock.start();
    TForm1Controls(Form1).ReceiveButton->click();
    QVERIFY(clock.elapsed() < SerialPort::ConnectTimeoutMs);
    QVERIFY(modal);
    QVERIFY2(said.contains(url), qPrintable(said));
    QVERIFY(boxes.shown.isEmpty());
    QCOMPARE(ModeState::ReceiveModeActive, uint8_t(0));
    QCOMPARE(SerialPort::openCount(), 0);
}

void TestNetworkPorts::serverBackWithOtherParameters()
{
    // As asked the first time; after the line dropped the server comes back set to 19200.
    OwnServer server([](int fd, int number, const std::atomic<bool> &) {
        const QByteArray wire = answersTo(number == 0 ? 9600 : 19200);
        ::send(fd, wire.constData(), size_t(wire.size()), MSG_NOSIGNAL);
    });
    const QString url = server.url(QStringLiteral("rfc2217"));
    PortSettings::DevicePathText = url;
    PortSettings::PortNameText = url;
    QString told;
    ModeScript script;
    script.waitFor([&] { return server.connections() == 1; }, "connected")
            .then([&] { server.drop(0); })
            .waitFor([] { return Form1->statusPanel(2).contains(QStringLiteral("19200")); },
                     "why it waits")
            .then([&] { told = Form1->statusPanel(2); })
            .waitFor([&] { return server.connections() >= 6; }, "four more tries", 10000)
            .then([] { TForm1Controls(Form1).BreakButton->click(); });
    script.start();
    TForm1Controls(Form1).ReceiveButton->click();
    QVERIFY2(script.finished() && script.failure().isEmpty(),
             qPrintable(script.failure() + u' ' + Form1->statusPanel(2)));
    QCOMPARE(told, QStringLiteral("裝置已移除,等待重新連接… (伺服器的速率是 19200,不是 9600)"));
    // Each failed try waits longer before the next.
    const QList<int64_t> at = server.connectedAt();
    for (int failed = 1; failed + 1 < at.size(); ++failed) {
        const int64_t gapMs = (at[failed + 1] - at[failed]) / 1000;
        QVERIFY2(gapMs >= serial::returnDelayMs(failed) - 20,
                 qPrintable(QStringLiteral("%1 ms after try %2").arg(gapMs).arg(failed)));
    }
    // The reason reaches the capture once, not once a try.
    QStringList reasons;
    Form1->capture().forEach([&](const TrafficRecord &r) {
        if (r.kind == TrafficKind::LineGone && !r.bytes.isEmpty())
            reasons << QString::fromUtf8(r.bytes);
    });
    QCOMPARE(reasons, QStringList {QStringLiteral("伺服器的速率是 19200,不是 9600")});
    QCOMPARE(SerialPort::openCount(), 0);
}

void TestNetworkPorts::floodIsHeldAtTheQueueBound()
{
    constexpr size_t Bound = size_t(1) << 20;
    SerialPort::setNetworkQueueBound(Bound);
    const auto restore = qScopeGuard([] { SerialPort::setNetworkQueueBound(0); });
    // More than the queue and both sockets' buffers hold.
    QByteArray data(48 << 20, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(data.data()),
                                  data.size() / qsizetype(sizeof(quint32)));
    std::atomic<bool> sentAll {false};
    OwnServer server([&](int fd, int, const std::atomic<bool> &ending) {
        qsizetype done = 0;
        while (done < data.size() && !ending) {
            pollfd p {fd, POLLOUT, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::send(fd, data.constData() + done,
                                     size_t(std::min<qsizetype>(data.size() - done, 1 << 16)),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                done += n;
            else if (errno != EAGAIN && errno != EINTR)
                return;
        }
        sentAll = done == data.size();
    });
    std::unique_ptr<SerialPort> port = open(server.url(QStringLiteral("tcp")), params(9600));
    QVERIFY(port);
    port->startReading();
    // Nobody takes: the queue fills to the bound and stays there, and TCP holds the sender.
    QVERIFY(QTest::qWaitFor([&] { return port->queuedBytes() >= Bound; }, 10000));
    QTest::qSleep(500);
    QVERIFY2(port->queuedBytes() <= Bound + Bound / 8,
             qPrintable(QString::number(port->queuedBytes())));
    QVERIFY(!sentAll);
    // Taken, every byte comes, as sent.
    const Received got = receive(*port, int(data.size()), 60000);
    QCOMPARE(got.bytes.size(), data.size());
    QCOMPARE(QCryptographicHash::hash(got.bytes, QCryptographicHash::Sha256).toHex(),
             QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
    QTRY_VERIFY(sentAll);
}

QTEST_MAIN(TestNetworkPorts)
#include "tst_networkports.moc"
