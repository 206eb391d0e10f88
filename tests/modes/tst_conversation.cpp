// SPDX-License-Identifier: MIT
// A conversation between two others, watched: the monitor's two lines heard at once, on
// pseudo-terminals of the test's own that play the two directions of a link; and TELVIX
// between a program and its device, the program a client of the test's own (and pySerial),
// the device a pseudo-terminal of the test's own or telvix-sim.
#include "GuiHelpers.h"
#include "Pty.h"
#include "SimDevice.h"

#include "main/Telvixmain1.h"
#include "main/TrafficView.h"
#include "modes/MonitorSession.h"
#include "modes/PassThroughSession.h"
#include "serial/MonitorDialog.h"
#include "serial/PortSettings.h"
#include "serial/SerialPort.h"
#include "serial/SerialSpeed2.h"
#include "session/ModeState.h"
#include "traffic/CaptureExport.h"
#include "traffic/LogFormat.h"

#include <QBuffer>
#include <QLineEdit>
#include <QTest>
#include <modbus.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

QByteArray allValues()
{
    QByteArray bytes;
    for (int v = 0; v < 256; ++v)
        bytes += char(v);
    return bytes;
}

MonitorRequest monitorOf(const Pty &a, const Pty &b)
{
    MonitorRequest r;
    r.a.devicePath = a.slavePath();
    r.b.devicePath = b.slavePath();
    return r;
}

// The capture as the .log has it, a parsed line each.
QList<LogFormat::Parsed> logged()
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    CaptureExport::TextStyle style;
    style.joinGapMs = 0;
    QString error;
    CaptureExport::write(Form1->capture(), CaptureExport::Format::Log, style, buffer, &error);
    QList<LogFormat::Parsed> lines;
    for (QStringView line : QString::fromUtf8(buffer.data()).split(u'\n', Qt::SkipEmptyParts))
        if (const auto p = LogFormat::parseLogLine(line))
            lines.append(*p);
    return lines;
}

// Writes `perMs` bytes each millisecond without waiting; what the pty does not take is
// counted, as a UART drops what nobody reads.
class Flood
{
public:
    Flood(Pty &pty, qsizetype perMs, int ms)
        : m_thread([this, &pty, perMs, ms] {
              QByteArray chunk(perMs, 'x');
              for (int i = 0; i < ms && !m_stop; ++i) {
                  for (qsizetype k = 0; k < perMs; ++k)
                      chunk[k] = char((m_sent + k) & 0xFF);
                  const qsizetype n = pty.writeSome(chunk.constData(), perMs);
                  m_sent += std::max<qsizetype>(0, n);
                  m_refused += perMs - std::max<qsizetype>(0, n);
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
              m_done = true;
          })
    { }
    ~Flood()
    {
        m_stop = true;
        m_thread.join();
    }
    std::atomic<qsizetype> m_sent {0};
    std::atomic<qsizetype> m_refused {0};
    std::atomic<bool> m_done {false};

private:
    std::atomic<bool> m_stop {false};
    std::thread m_thread;
};

// The program's side: opens `name` as a program opens its serial port, raw at `speed`.
class Program
{
public:
    explicit Program(const QString &name, speed_t speed = B9600)
    {
        m_fd = ::open(name.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios t {};
        if (m_fd >= 0 && tcgetattr(m_fd, &t) == 0) {
            cfmakeraw(&t);
            cfsetspeed(&t, speed);
            tcsetattr(m_fd, TCSANOW, &t);
        }
    }
    ~Program()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }
    bool write(const QByteArray &bytes)
    {
        return m_fd >= 0 && ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // Reads until `count` bytes are in or `timeoutMs` passes without one; `ended` when the
    // side was hung up.
    QByteArray read(qsizetype count, int timeoutMs = 2000, bool *ended = nullptr)
    {
        QByteArray got;
        while (got.size() < count) {
            pollfd p {m_fd, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0)
                break;
            char buffer[4096];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0) {
                got.append(buffer, n);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                if (ended)
                    *ended = true;
                break;
            }
        }
        return got;
    }

private:
    int m_fd = -1;
};

QList<TrafficRecord> captured(TrafficKind kind)
{
    QList<TrafficRecord> found;
    Form1->capture().forEach([&](const TrafficRecord &r) {
        if (r.kind == kind)
            found.append(r);
    });
    return found;
}

} // namespace

class TestConversation : public QObject
{
    Q_OBJECT

private slots:
    void init() { freshStart(); }
    void cleanupTestCase() { tearDownForms(); }

    void monitorMergesBothLinesInTimeOrder();
    void monitorHangUpOnOneSide();
    void monitorKeepsUpWithBothLinesAtOnce();
    void monitorDialog_data();
    void monitorDialog();
    void passThroughCarriesEveryByteAndTheSpeed();
    void passThroughKeepsTheNameWhileTheDeviceComesAndGoes();
    void passThroughRefusesANameTaken();
    void passThroughWithPySerial();
    void passThroughModbusFrames();

private:
    QTemporaryDir m_dir;
    QString name() const { return m_dir.filePath(QStringLiteral("ttyTELVIX0")); }
};

void TestConversation::monitorMergesBothLinesInTimeOrder()
{
    Pty a, b;
    MonitorRequest request = monitorOf(a, b);
    request.nameB = QStringLiteral("印表機 → 主機");
    // A question on A, its answer on B, again; then every value on each, one after the other.
    const QList<std::pair<Pty *, QByteArray>> said = {
            {&a, "Q1"}, {&b, "R1"}, {&a, "Q2"}, {&b, "R2"}, {&a, allValues()}, {&b, allValues()}};
    ModeScript script;
    for (const auto &piece : said)
        script.then([piece] {
            piece.first->write(piece.second);
            QTest::qSleep(25);
        });
    script.waitFor([] { return Form1->capture().receivedBytes() == 2 * (256 + 4); }, "all of it")
            .then([] { ModeState::BreakRequested = 1; });
    script.start();
    MonitorSession(*Form1).run(request);
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QVERIFY(Form1->memo1()->toPlainText().startsWith(QStringLiteral(
            "\nA → B : Q1\n印表機 → 主機 : R1\nA → B : Q2\n印表機 → 主機 : R2\nA → B : ")));
    const QList<LogFormat::Parsed> lines = logged();
    QVERIFY(lines.size() >= 7);
    QCOMPARE(lines[0].event, QStringLiteral("SIDES"));
    for (int i = 0; i < said.size(); ++i) {
        QCOMPARE(lines[i + 1].bytes, said[i].second);
        QCOMPARE(lines[i + 1].side, said[i].first == &a ? request.nameA : request.nameB);
    }
    QCOMPARE(Form1->capture().receivedBytes(1), qint64(256 + 4));
    // Heard, never spoken to.
    QVERIFY(a.readAvailable().isEmpty());
    QVERIFY(b.readAvailable().isEmpty());
    QCOMPARE(SerialPort::openCount(), 0);
    QCOMPARE(ModeState::MonitorModeActive, uint8_t(0));
}

void TestConversation::monitorHangUpOnOneSide()
{
    Pty a, b;
    ModeScript script;
    script.then([&] { a.write("before"); })
            .waitFor([] { return Form1->capture().receivedBytes(0) == 6; }, "A's bytes")
            .then([&] { a.hangUp(); })
            .waitFor(
                    [] {
                        bool gone = false;
                        Form1->capture().forEach([&](const TrafficRecord &r) {
                            gone |= r.kind == TrafficKind::LineGone && r.side == 0;
                        });
                        return gone;
                    },
                    "A's hang-up")
            .then([&] { b.write("still"); })
            .waitFor([] { return Form1->capture().receivedBytes(1) == 5; }, "B goes on")
            .then([] { ModeState::BreakRequested = 1; });
    script.start();
    MonitorSession(*Form1).run(monitorOf(a, b));
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    const QList<LogFormat::Parsed> lines = logged();
    const auto hangUp = std::find_if(lines.begin(), lines.end(), [](const LogFormat::Parsed &p) {
        return p.event == u"HANGUP";
    });
    QVERIFY(hangUp != lines.end());
    QCOMPARE(hangUp->side, QStringLiteral("A → B"));
    const auto after = std::find_if(hangUp, lines.end(), [](const LogFormat::Parsed &p) {
        return p.kind == TrafficKind::Received;
    });
    QVERIFY(after != lines.end());
    QCOMPARE(after->bytes, QByteArray("still"));
    QCOMPARE(after->side, QStringLiteral("B → A"));
    // The end of the conversation ends the names.
    QCOMPARE(lines.last().event, QStringLiteral("SIDES"));
}

void TestConversation::monitorKeepsUpWithBothLinesAtOnce()
{
    // 1.2 MB/s on each line for ten seconds, both at once: nothing refused, nothing lost.
    Pty a, b;
    constexpr int Ms = 10000;
    std::unique_ptr<Flood> floodA, floodB;
    ModeScript script;
    script.then([&] {
              floodA = std::make_unique<Flood>(a, 1200, Ms);
              floodB = std::make_unique<Flood>(b, 1200, Ms);
          })
            .waitFor([&] { return floodA->m_done && floodB->m_done; }, "the floods", Ms * 3)
            .waitFor(
                    [&] {
                        return Form1->capture().receivedBytes(0) == floodA->m_sent
                                && Form1->capture().receivedBytes(1) == floodB->m_sent;
                    },
                    "everything read", 10000)
            .then([] { ModeState::BreakRequested = 1; });
    script.start();
    MonitorSession(*Form1).run(monitorOf(a, b));
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QCOMPARE(floodA->m_refused.load() + floodB->m_refused.load(), 0);
    QVERIFY(floodA->m_sent >= 1200 * Ms / 2);
    // In order on each line, whatever the merge did with the other.
    QByteArray onA;
    Form1->capture().forEach([&](const TrafficRecord &r) {
        if (r.kind == TrafficKind::Received && r.side == 0)
            onA += r.bytes;
    });
    for (qsizetype i = 0; i < onA.size(); i += 4099)
        QCOMPARE(uint8_t(onA[i]), uint8_t(i & 0xFF));
}

void TestConversation::monitorDialog_data()
{
    QTest::addColumn<QString>("pathA");
    QTest::addColumn<QString>("pathB");
    QTest::addColumn<QString>("problem");
    QTest::newRow("two ports") << "/dev/pts/90"
                               << "/dev/pts/91"
                               << "";
    QTest::newRow("the same port twice") << "/dev/pts/90"
                                         << "/dev/pts/90"
                                         << "埠 A 與埠 B 是同一個埠 /dev/pts/90";
    QTest::newRow("no number for B") << "/dev/pts/90"
                                     << ""
                                     << "埠 B : com 編號「x」不是正整數";
}

void TestConversation::monitorDialog()
{
    QFETCH(QString, pathA);
    QFETCH(QString, pathB);
    QFETCH(QString, problem);
    PortSettings::BaudRate = 19200;
    PortSettings::Parity = serial::Parity::Even;
    MonitorDialog dialog;
    dialog.reset(PortSettings::current());
    dialog.findChild<QLineEdit *>(QStringLiteral("MonitorPathAEdit"))->setText(pathA);
    dialog.findChild<QLineEdit *>(QStringLiteral("MonitorPathBEdit"))->setText(pathB);
    dialog.findChild<QLineEdit *>(QStringLiteral("MonitorPortBEdit"))->setText(QStringLiteral("x"));
    QString why;
    const std::optional<MonitorDialog::Values> v = dialog.values(&why);
    QCOMPARE(why, problem);
    if (!problem.isEmpty())
        return;
    // B takes A's parameters; neither holds its line back (that would be writing to it).
    QCOMPARE(v->b.baudRate, 19200);
    QCOMPARE(int(v->b.parity), int(serial::Parity::Even));
    QCOMPARE(int(v->a.flow), int(serial::FlowControl::None));
    QCOMPARE(v->nameA, QStringLiteral("A → B"));
}

void TestConversation::passThroughCarriesEveryByteAndTheSpeed()
{
    Pty device;
    PortSettings::DevicePathText = PortSettings::PortNameText = device.slavePath();
    PassThroughRequest request;
    request.name = name().toStdString();
    std::unique_ptr<Program> program;
    QByteArray heard;
    QByteArray answered;
    int64_t speed = 0;
    ModeScript script;
    script.waitFor([this] { return QFileInfo(name()).isSymLink(); }, "the name published")
            .then([&] {
                program = std::make_unique<Program>(name(), B19200);
                QVERIFY(program->isOpen());
                QVERIFY(program->write(allValues()));
            })
            .waitFor(
                    [&] {
                        heard += device.readAvailable();
                        return heard.size() >= 256;
                    },
                    "the program's bytes at the device")
            .waitFor([] { return !captured(TrafficKind::Params).isEmpty(); }, "the speed set")
            .then([&] {
                // The device's own view of its line.
                QVERIFY(serial::readSpeed(device.masterFd(), speed));
                device.write(allValues());
                answered = program->read(256);
            })
            .waitFor([] { return Form1->capture().receivedBytes() == 256; }, "the answer kept")
            .then([] { ModeState::BreakRequested = 1; });
    script.start();
    PassThroughSession(*Form1).run(request);
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QVERIFY(heard == allValues());
    QVERIFY(answered == allValues());
    QCOMPARE(speed, 19200);
    QCOMPARE(QString::fromUtf8(captured(TrafficKind::Params).first().bytes),
             QStringLiteral("19200 8N1"));
    // Both directions named in the log, the program's bytes as what went to the device.
    const QList<LogFormat::Parsed> lines = logged();
    QList<QString> named;
    for (const LogFormat::Parsed &p : lines)
        if (!p.bytes.isEmpty())
            named << p.side;
    QCOMPARE(named, (QList<QString> {request.toDevice, request.toProgram}));
    QVERIFY(Form1->memo1()->toPlainText().startsWith(QStringLiteral("\n") + request.toDevice
                                                     + QStringLiteral(" : ")));
    // The name goes with the mode.
    QVERIFY(!QFileInfo::exists(name()) && !QFileInfo(name()).isSymLink());
    QCOMPARE(SerialPort::openCount(), 0);
}

void TestConversation::passThroughKeepsTheNameWhileTheDeviceComesAndGoes()
{
    // An echo that is pulled out three seconds after TELVIX opens it, and back a second later.
    SimDevice echo(QStringLiteral("echo"),
                   {QStringLiteral("--unplug-after"), QStringLiteral("3"), QStringLiteral("--away"),
                    QStringLiteral("1")});
    QVERIFY(echo.isUp());
    PortSettings::DevicePathText = PortSettings::PortNameText = echo.link();
    PassThroughRequest request;
    request.name = name().toStdString();
    // The program runs on a thread of its own: what it writes reaches the device through the
    // window's thread, which the test's steps must leave free.
    std::atomic<int> roundTrips = 0;
    std::atomic<bool> hungUp = false;
    std::atomic<bool> done = false;
    QByteArray afterReturn;
    std::thread program;
    ModeScript script;
    script.waitFor([this] { return QFileInfo(name()).isSymLink(); }, "the name published")
            .then([&] {
                program = std::thread([&] {
                    // Opens, asks once and closes, again and again.
                    for (int i = 0; i < 100; ++i) {
                        Program p(name());
                        const QByteArray byte(1, char(i));
                        if (p.write(byte) && p.read(1, 1000) == byte)
                            ++roundTrips;
                    }
                    {
                        // Then waits on the line until the device is pulled out.
                        Program p(name());
                        bool ended = false;
                        p.read(1, 6000, &ended);
                        hungUp = ended;
                    }
                    done = true;
                });
            })
            .waitFor([&] { return done.load(); }, "the program's opens and the hang-up", 12000)
            .waitFor([] { return !captured(TrafficKind::LineBack).isEmpty(); }, "back", 8000)
            .then([&] {
                done = false;
                program.join();
                program = std::thread([&] {
                    Program p(name());
                    p.write("again");
                    afterReturn = p.read(5);
                    done = true;
                });
            })
            .waitFor([&] { return done.load(); }, "the name working again")
            .then([] { ModeState::BreakRequested = 1; });
    script.start();
    PassThroughSession(*Form1).run(request);
    if (program.joinable())
        program.join();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QCOMPARE(roundTrips.load(), 100);
    QVERIFY(hungUp);
    QCOMPARE(afterReturn, QByteArray("again"));
    QVERIFY(!captured(TrafficKind::LineGone).isEmpty());
}

void TestConversation::passThroughRefusesANameTaken()
{
    Pty device;
    PortSettings::DevicePathText = PortSettings::PortNameText = device.slavePath();
    {
        QFile taken(name());
        QVERIFY(taken.open(QIODevice::WriteOnly));
        taken.write("someone's");
    }
    MessageRecorder boxes;
    PassThroughRequest request;
    request.name = name().toStdString();
    PassThroughSession(*Form1).run(request);
    QCOMPARE(boxes.texts(MessageBoxes::Kind::Plain).size(), 1);
    QVERIFY(boxes.lastText().contains(name()));
    QCOMPARE(SerialPort::openCount(), 0);
    QCOMPARE(ModeState::PassThroughModeActive, uint8_t(0));
    QFile kept(name());
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("someone's"));
    QFile::remove(name());
}

void TestConversation::passThroughWithPySerial()
{
    // An independent client: pySerial opens the name as a program's serial port, at 19200,
    // and talks to telvix-sim's echo behind TELVIX.
    EchoSim echo;
    QVERIFY(echo.isUp());
    PortSettings::DevicePathText = PortSettings::PortNameText = echo.link();
    PassThroughRequest request;
    request.name = name().toStdString();
    QProcess client;
    ModeScript script;
    script.waitFor([this] { return QFileInfo(name()).isSymLink(); }, "the name published")
            .then([&] {
                // Isolated: a folder named like the module beside it is not taken for it.
                client.start(QStringLiteral("/usr/bin/python3"),
                             {QStringLiteral("-I"), QStringLiteral("-c"),
                              QStringLiteral("import serial, sys\n"
                                             "s = serial.Serial(sys.argv[1], 19200, timeout=3)\n"
                                             "data = bytes(range(256))\n"
                                             "s.write(data)\n"
                                             "sys.exit(0 if s.read(256) == data else 1)\n"),
                              name()});
            })
            .waitFor([&] { return client.state() == QProcess::NotRunning; }, "the client", 15000)
            .then([] { ModeState::BreakRequested = 1; });
    script.start();
    PassThroughSession(*Form1).run(request);
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QVERIFY2(client.exitStatus() == QProcess::NormalExit && client.exitCode() == 0,
             client.readAllStandardError().constData());
    QCOMPARE(Form1->capture().sentBytes(), 256);
    QCOMPARE(Form1->capture().receivedBytes(), 256);
    QVERIFY(!captured(TrafficKind::Params).isEmpty());
}

void TestConversation::passThroughModbusFrames()
{
    // libmodbus's master through TELVIX to telvix-sim's slave, whose replies libmodbus makes
    // too, shown as frames: each request and reply decoded under its direction, the reply the
    // slave sends with a wrong CRC marked, and the frames CSV a row each.
    SimDevice slave(QStringLiteral("modbus"),
                    {QStringLiteral("--bad-crc-every"), QStringLiteral("3")});
    QVERIFY(slave.isUp());
    PortSettings::DevicePathText = PortSettings::PortNameText = slave.link();
    RenderOptions options = Form1->renderer().options();
    options.protocol = modbus::Protocol::Rtu;
    Form1->renderer().setOptions(options);
    PassThroughRequest request;
    request.name = name().toStdString();
    QList<int> results;
    std::atomic<bool> done {false};
    std::thread master;
    ModeScript script;
    script.waitFor([this] { return QFileInfo(name()).isSymLink(); }, "the name published")
            .then([&] {
                master = std::thread([&, path = name().toLocal8Bit()] {
                    modbus_t *ctx = modbus_new_rtu(path.constData(), 9600, 'N', 8, 1);
                    if (ctx && modbus_connect(ctx) == 0) {
                        modbus_set_slave(ctx, 1);
                        modbus_set_response_timeout(ctx, 1, 0);
                        for (int i = 0; i < 4; ++i) {
                            uint16_t registers[2] = {};
                            results << modbus_read_registers(ctx, 0, 2, registers);
                        }
                        modbus_close(ctx);
                    }
                    modbus_free(ctx);
                    done = true;
                });
            })
            .waitFor([&] { return done.load(); }, "the master", 20000)
            .then([] { ModeState::BreakRequested = 1; });
    script.start();
    PassThroughSession(*Form1).run(request);
    if (master.joinable())
        master.join();
    options.protocol = modbus::Protocol::None;
    Form1->renderer().setOptions(options);
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QCOMPARE(results, (QList<int> {2, 2, -1, 2}));

    const QString requestLine = request.toDevice
            + QStringLiteral("  站號 01  03 讀取保持暫存器  要求 起始 0x0000 數量 2  CRC 正確");
    const QString replyStart =
            request.toProgram + QStringLiteral("  站號 01  03 讀取保持暫存器  回應 4 位元組 : ");
    int requests = 0, replies = 0, wrong = 0;
    for (const QString &line : Form1->memo1()->toPlainText().split(u'\n', Qt::SkipEmptyParts)) {
        const QString frame = line.mid(15); // after the time
        requests += frame == requestLine;
        replies += frame.startsWith(replyStart) && frame.endsWith(QStringLiteral("CRC 正確"));
        wrong += frame.startsWith(replyStart) && frame.contains(QStringLiteral("CRC 錯誤"));
    }
    QCOMPARE(requests, 4);
    QCOMPARE(replies, 3);
    QCOMPARE(wrong, 1);
    int marked = 0;
    const TrafficText &text = Form1->memo1()->text();
    for (qsizetype i = 0; i < text.lineCount(); ++i)
        marked += !text.markedRanges(i).empty();
    QCOMPARE(marked, 1);

    QBuffer csv;
    csv.open(QIODevice::WriteOnly);
    QString error;
    QVERIFY(CaptureExport::write(Form1->capture(), CaptureExport::Format::Frames, {}, csv, &error));
    const QStringList rows = QString::fromUtf8(csv.data()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 1 + 8);
    QCOMPARE(rows.filter(QStringLiteral(",\"要求\",")).size(), 4);
    QCOMPARE(rows.filter(QStringLiteral(",\"回應\",")).size(), 4);
    QCOMPARE(rows.filter(QStringLiteral("CRC 錯誤")).size(), 1);
}

QTEST_MAIN(TestConversation)
#include "tst_conversation.moc"
