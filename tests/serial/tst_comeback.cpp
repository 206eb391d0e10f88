// SPDX-License-Identifier: MIT
// A device that goes away mid-mode and comes back: told by its serial number, its by-id name
// or its path; opened again with the same parameters in place of the old line; another device
// where it was is not taken; RS-485 set again on the line that came back; and receive mode
// from the window across the gap, with telvix-sim playing the pulled adapter.
#include "FakeLines.h"
#include "FakeSysfs.h"
#include "GuiHelpers.h"
#include "Pty.h"

#include "session/ModeState.h"
#include "main/Telvixmain1.h"
#include "main/TrafficView.h"
#include "serial/Comeback.h"
#include "serial/PortDirectory.h"
#include "serial/PortSettings.h"
#include "serial/SerialPort.h"
#include "TForm1Controls.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>

#include <linux/serial.h>
#include <poll.h>
#include <termios.h>

namespace {

struct Taken
{
    QByteArray bytes;
    int gone = 0;
    QStringList back; // the paths LineBack records named
    QList<int64_t> receivedAt; // the times of the Received records after the last LineBack
};

// Takes from the port until `done` holds or time is up.
Taken takeUntil(SerialPort &port, const std::function<bool(const Taken &)> &done,
                int timeoutMs = 5000)
{
    Taken t;
    QElapsedTimer clock;
    clock.start();
    while (!done(t) && clock.elapsed() < timeoutMs) {
        serial::waitReadable(port.wakeDescriptor(), 50);
        for (const TrafficRecord &r : port.take()) {
            if (r.kind == TrafficKind::Received) {
                t.bytes += r.bytes;
                t.receivedAt << r.timeUs;
            } else if (r.kind == TrafficKind::LineGone) {
                ++t.gone;
            } else if (r.kind == TrafficKind::LineBack) {
                t.back << QString::fromUtf8(r.bytes);
                t.receivedAt.clear();
            }
        }
    }
    return t;
}

const serial::LineParams Params {19200, serial::Parity::None,      8,
                                 0,     serial::FlowControl::Keep, false};

// Whether a program holds the pty's slave open: until then its master polls hung up.
bool slaveOpened(const Pty &pty)
{
    pollfd p {pty.masterFd(), POLLIN, 0};
    return ::poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP) == 0;
}


// An FT232R adapter plugged in as `name`; with a pty, its line is that pty's.
void plug(FakeSysfs &tree, const char *name, const char *serialNumber = "A50285BI",
          const Pty *line = nullptr)
{
    tree.addUsbSerial(QString::fromLatin1(name), QStringLiteral("FTDI"), QStringLiteral("FT232R"),
                      QString::fromLatin1(serialNumber));
    if (line)
        tree.linkDevice(QString::fromLatin1(name), line->slavePath());
}

// The adapter at ttyUSB0 pulled under a reading port: its line hangs up and it leaves the tree;
// true when the port told the hang-up once.
bool pull(FakeSysfs &tree, Pty &line, SerialPort &port)
{
    tree.removePort(QStringLiteral("ttyUSB0"));
    line.hangUp();
    return takeUntil(port, [](const Taken &t) { return t.gone > 0; }).gone == 1;
}

} // namespace

class TestComeback : public QObject
{
    Q_OBJECT

private slots:
    void init() { freshStart(); }
    void cleanupTestCase() { tearDownForms(); }

    void sameDeviceIsTold();
    void adapterComesBackElsewhere();
    void returnedLineIsReadBeforeItIsTaken();
    void rs485SetAgainOnReturn();
    void retryWaits_data();
    void retryWaits();
    void receiveModeAcrossTheGap();
    void breakWhileWaiting();
};

void TestComeback::sameDeviceIsTold()
{
    FakeSysfs tree;
    const serial::ScanRoots roots = tree.roots();
    plug(tree, "ttyUSB0", "A50285BI");
    const std::string usb0 = roots.devDir + "/ttyUSB0";
    const serial::DeviceIdentity id = serial::identify(usb0, roots);
    QCOMPARE(id.serialNumber, std::string("A50285BI"));
    QVERIFY(!id.byIdName.empty());
    // Named by its by-id link it is the same adapter.
    QCOMPARE(serial::identify(roots.byIdDir + '/' + id.byIdName, roots).serialNumber,
             std::string("A50285BI"));

    tree.removePort(QStringLiteral("ttyUSB0"));
    QCOMPARE(serial::findReturned(id, roots), std::string());
    // Another adapter where it was is another device.
    plug(tree, "ttyUSB0", "OTHER123");
    QCOMPARE(serial::findReturned(id, roots), std::string());
    // The same one, wherever the kernel puts it now.
    plug(tree, "ttyUSB1", "A50285BI");
    QCOMPARE(serial::findReturned(id, roots), roots.devDir + "/ttyUSB1");

    // Without a serial number (a pseudo-terminal, a link) the path tells; a network port is
    // always worth a try.
    Pty pty;
    const serial::DeviceIdentity plain = serial::identify(pty.slavePath().toStdString(), roots);
    QVERIFY(plain.serialNumber.empty());
    QCOMPARE(serial::findReturned(plain, roots), pty.slavePath().toStdString());
    const serial::DeviceIdentity net = serial::identify("rfc2217://host:2217", roots);
    QCOMPARE(serial::findReturned(net, roots), std::string("rfc2217://host:2217"));
}

void TestComeback::adapterComesBackElsewhere()
{
    FakeSysfs tree;
    serial::CurrentScanRoots = tree.roots();
    const std::string devDir = serial::CurrentScanRoots.devDir;
    auto first = std::make_unique<Pty>();
    plug(tree, "ttyUSB0", "A50285BI", first.get());
    SerialPort::Opened opened = SerialPort::open(devDir + "/ttyUSB0", Params);
    QVERIFY(opened.port);
    SerialPort &port = *opened.port;
    port.startReading();
    QVERIFY(first->write("before"));
    QCOMPARE(takeUntil(port, [](const Taken &t) { return t.bytes.size() >= 6; }).bytes,
             QByteArray("before"));

    // Pulled: the line hangs up and the adapter leaves the tree.
    QVERIFY(pull(tree, *first, port));
    // Another adapter in its place is not taken.
    Pty other;
    plug(tree, "ttyUSB0", "OTHER123", &other);
    const Taken meanwhile = takeUntil(
            port, [](const Taken &t) { return !t.back.isEmpty(); }, 4 * SerialPort::ReturnPollMs);
    QVERIFY(meanwhile.back.isEmpty());

    // The same adapter back, as the next number: opened again with the same speed.
    Pty again;
    plug(tree, "ttyUSB1", "A50285BI", &again);
    const Taken back = takeUntil(port, [](const Taken &t) { return !t.back.isEmpty(); });
    QCOMPARE(back.back, QStringList {QString::fromStdString(devDir + "/ttyUSB1")});
    termios t {};
    tcgetattr(again.masterFd(), &t);
    QCOMPARE(cfgetospeed(&t), speed_t(B19200));
    // Both ways on the new line.
    QVERIFY(again.write("after"));
    QCOMPARE(takeUntil(port, [](const Taken &t) { return t.bytes.size() >= 5; }).bytes,
             QByteArray("after"));
    QVERIFY(port.writeByte('!'));
    QCOMPARE(again.read(1), QByteArray("!"));
    QVERIFY(other.readAvailable().isEmpty());
    serial::CurrentScanRoots = {};
}

void TestComeback::returnedLineIsReadBeforeItIsTaken()
{
    FakeSysfs tree;
    serial::CurrentScanRoots = tree.roots();
    const std::string devDir = serial::CurrentScanRoots.devDir;
    auto first = std::make_unique<Pty>();
    plug(tree, "ttyUSB0", "A50285BI", first.get());
    SerialPort::Opened opened = SerialPort::open(devDir + "/ttyUSB0", Params);
    QVERIFY(opened.port);
    SerialPort &port = *opened.port;
    port.startReading();
    QVERIFY(pull(tree, *first, port));

    // Back while nobody takes (a dialog holds the window): the device sends more than the
    // driver holds, and a byte the pty does not take now is one a UART would have lost.
    Pty again;
    plug(tree, "ttyUSB1", "A50285BI", &again);
    QVERIFY(QTest::qWaitFor([&] { return slaveOpened(again); }, 5000));
    QByteArray sent;
    qsizetype lost = 0;
    const int64_t firstSendUs = monotonicMicroseconds();
    for (int i = 0; i < 100; ++i) {
        QByteArray chunk(1024, char('a' + i % 26));
        chunk[0] = char(i);
        const qsizetype in =
                std::max<qsizetype>(again.writeSome(chunk.constData(), chunk.size()), 0);
        sent += chunk.left(in);
        lost += chunk.size() - in;
        QTest::qSleep(10);
    }
    const int64_t lastSendUs = monotonicMicroseconds();
    QTest::qSleep(1000);
    const Taken after = takeUntil(
            port, [&](const Taken &t) { return t.bytes.size() >= sent.size(); }, 10000);
    QCOMPARE(lost, qsizetype(0));
    QCOMPARE(after.back.size(), 1);
    QCOMPARE(after.bytes.size(), sent.size());
    QVERIFY(after.bytes == sent);
    // Stamped as they arrived, not when the window came to take them a second later.
    QVERIFY(!after.receivedAt.isEmpty());
    for (int64_t at : after.receivedAt) {
        QVERIFY2(
                at >= firstSendUs && at <= lastSendUs + 500000,
                qPrintable(
                        QStringLiteral("%1 ms after the last send").arg((at - lastSendUs) / 1000)));
    }
    serial::CurrentScanRoots = {};
}

void TestComeback::rs485SetAgainOnReturn()
{
    FakeLines lines;
    QVERIFY2(FakeLines::active(), "runs with the fakelines interposer preloaded");
    FakeSysfs tree;
    serial::CurrentScanRoots = tree.roots();
    const std::string devDir = serial::CurrentScanRoots.devDir;
    auto first = std::make_unique<Pty>();
    plug(tree, "ttyUSB0", "A50285BI", first.get());
    serial::LineParams params = Params;
    params.rs485 = {true, false, true, 2, 3};
    SerialPort::Opened opened = SerialPort::open(devDir + "/ttyUSB0", params);
    QVERIFY2(opened.port, opened.reason.c_str());
    opened.port->startReading();
    QVERIFY(pull(tree, *first, *opened.port));

    // Plugged in again it is a new device, its driver's setting a new one's.
    lines.setRs485(0);
    Pty again;
    plug(tree, "ttyUSB1", "A50285BI", &again);
    QCOMPARE(takeUntil(*opened.port, [](const Taken &t) { return !t.back.isEmpty(); }).back.size(),
             1);
    const FakeLines::Rs485Record driver = lines.rs485();
    QCOMPARE(driver.flags, uint32_t(SER_RS485_ENABLED | SER_RS485_RTS_AFTER_SEND));
    QCOMPARE(driver.delayBeforeMs, 2u);
    QCOMPARE(driver.delayAfterMs, 3u);
    serial::CurrentScanRoots = {};
}

void TestComeback::retryWaits_data()
{
    QTest::addColumn<int>("failed"); // attempts to open the device that failed in a row
    QTest::addColumn<int>("waitMs");
    QTest::newRow("absent or not yet tried") << 0 << 250;
    QTest::newRow("one failure") << 1 << 250;
    QTest::newRow("two") << 2 << 500;
    QTest::newRow("three") << 3 << 1000;
    QTest::newRow("five") << 5 << 4000;
    QTest::newRow("six, at the top") << 6 << 5000;
    QTest::newRow("a night of failures") << 100000 << 5000;
}

void TestComeback::retryWaits()
{
    QFETCH(int, failed);
    QFETCH(int, waitMs);
    QCOMPARE(serial::returnDelayMs(failed), waitMs);
}

void TestComeback::receiveModeAcrossTheGap()
{
    // telvix-sim plays the adapter: it drops out 0.4 s after the port is opened and comes back
    // under the same name a second later, sending its counter again.
    QProcess sim;
    const QString name = QStringLiteral("comeback-%1").arg(QCoreApplication::applicationPid());
    sim.start(QStringLiteral(TELVIX_SIM_PATH),
              {QStringLiteral("stream"), QStringLiteral("--pattern"), QStringLiteral("text"),
               QStringLiteral("--rate"), QStringLiteral("2000"), QStringLiteral("--unplug-after"),
               QStringLiteral("0.4"), QStringLiteral("--away"), QStringLiteral("1"),
               QStringLiteral("--name"), name, QStringLiteral("--quiet")});
    QVERIFY(sim.waitForStarted());
    QByteArray path;
    QTRY_VERIFY_WITH_TIMEOUT((path += sim.readAllStandardOutput()).contains('\n'), 5000);
    PortSettings::DevicePathText = QString::fromUtf8(path.trimmed());
    PortSettings::PortNameText = PortSettings::DevicePathText;

    QStringList statuses;
    const auto memo = [] { return Form1->memo1()->toPlainText(); };
    ModeScript script;
    script.waitFor([&] { return !memo().isEmpty(); }, "bytes before the gap")
            .waitFor([&] { return Form1->statusPanel(2).contains(QStringLiteral("等待重新連接")); },
                     "the device gone", 5000)
            .then([&] { statuses << Form1->statusPanel(2); })
            .waitFor([&] { return memo().contains(QStringLiteral("裝置重新連接")); },
                     "the device back", 5000)
            .then([&] { statuses << Form1->statusPanel(2); })
            .waitFor(
                    [&] {
                        const QString after = memo().section(QStringLiteral("裝置重新連接"), 1);
                        return after.count(u'\n') >= 2;
                    },
                    "bytes after the gap", 5000)
            .then([] { TForm1Controls(Form1).BreakButton->click(); });
    script.start();
    TForm1Controls(Form1).ReceiveButton->click();
    sim.terminate();
    sim.waitForFinished(5000);
    QVERIFY2(script.finished() && script.failure().isEmpty(),
             qPrintable(script.failure() + u'\n' + memo()));
    QCOMPARE(statuses.size(), 2);
    QCOMPARE(statuses[0], QStringLiteral("裝置已移除,等待重新連接…"));
    QVERIFY(!statuses[1].contains(QStringLiteral("等待")));
    // The gap on a line of its own, with the time.
    QVERIFY2(memo().contains(QRegularExpression(
                     QStringLiteral("\\n— 裝置重新連接 \\d\\d:\\d\\d:\\d\\d —\\n"))),
             qPrintable(memo()));
    // The capture has both events, in order.
    QList<TrafficKind> events;
    Form1->capture().forEach([&](const TrafficRecord &r) {
        if (r.kind == TrafficKind::LineGone || r.kind == TrafficKind::LineBack)
            events << r.kind;
    });
    QCOMPARE(events, (QList<TrafficKind> {TrafficKind::LineGone, TrafficKind::LineBack}));
    QCOMPARE(ModeState::ReceiveModeActive, uint8_t(0));
}

void TestComeback::breakWhileWaiting()
{
    // A device that never comes back: Break ends the mode as always, at once.
    auto pty = std::make_unique<Pty>();
    PortSettings::DevicePathText = pty->slavePath();
    PortSettings::PortNameText = PortSettings::DevicePathText;
    QElapsedTimer clock;
    qint64 breakAt = 0;
    ModeScript script;
    script.then([&] { pty->hangUp(); })
            .waitFor([] { return Form1->statusPanel(2).contains(QStringLiteral("等待重新連接")); },
                     "the device gone")
            .then([&] {
                clock.start();
                TForm1Controls(Form1).BreakButton->click();
            });
    script.start();
    TForm1Controls(Form1).ReceiveButton->click();
    breakAt = clock.elapsed();
    QVERIFY2(script.finished() && script.failure().isEmpty(), qPrintable(script.failure()));
    QVERIFY(breakAt < SerialPort::ReturnPollMs * 4);
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("未連線"));
    QCOMPARE(SerialPort::openCount(), 0);
}

QTEST_MAIN(TestComeback)
#include "tst_comeback.moc"
