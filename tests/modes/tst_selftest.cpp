// SPDX-License-Identifier: MIT
// The cable self-test on real lines: telvix-sim's echo as a loopback plug, good and faulty, a
// pseudo-terminal that nobody answers, two pseudo-terminals joined like a null-modem cable, the
// handshake lines through a line model of the test's own wiring, and the dialog driven through
// its controls.
#include "EchoSim.h"
#include "GuiHelpers.h"
#include "Pty.h"

#include "modes/LineSelfTest.h"
#include "modes/SelfTestDialog.h"
#include "serial/LineControl.h"
#include "serial/PortSettings.h"
#include "serial/SerialPort.h"
#include "session/ModeHost.h"
#include "traffic/DisplayFormatter.h"
#include "traffic/LineEvents.h"
#include "traffic/Traffic.h"
#include "traffic/TrafficRenderer.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QStyle>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

std::unique_ptr<SerialPort> openLine(const QString &path, const serial::LineParams &params = {})
{
    return SerialPort::open(path.toStdString(), params).port;
}

LineSelfTest::Options optionsFor(std::vector<int32_t> speeds, uint8_t dataBits = 8)
{
    LineSelfTest::Options o;
    o.params = {9600, serial::Parity::None, dataBits, 0};
    o.speeds = std::move(speeds);
    o.seed = 7;
    return o;
}

// Two pseudo-terminals joined one way, as the TX of one port wired to the RX of another.
class Cable
{
public:
    Cable(Pty &from, Pty &to)
        : m_thread([this, &from, &to] {
              char buffer[4096];
              while (!m_stop) {
                  pollfd p {from.masterFd(), POLLIN, 0};
                  if (poll(&p, 1, 10) <= 0 || !(p.revents & POLLIN))
                      continue;
                  const ssize_t n = ::read(from.masterFd(), buffer, sizeof buffer);
                  if (n > 0)
                      to.write(QByteArray(buffer, qsizetype(n)));
              }
          })
    { }
    ~Cable()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop {false};
    std::thread m_thread;
};

// A loopback plug's handshake wiring: RTS→CTS, DTR→DSR and, unless cut, DTR→DCD.
struct Plug
{
    uint8_t outputs = serial::Dtr | serial::Rts;
    bool dcdWired = true;
    int setCalls = 0;
};

class PlugLines : public serial::LineControl
{
public:
    explicit PlugLines(Plug &plug) : m_plug(plug) { }
    bool modemLines(uint8_t &lines) override
    {
        lines = m_plug.outputs;
        if (m_plug.outputs & serial::Rts)
            lines |= serial::Cts;
        if (m_plug.outputs & serial::Dtr)
            lines |= serial::Dsr | (m_plug.dcdWired ? serial::Dcd : 0);
        return true;
    }
    bool setLine(serial::ModemLine line, bool on) override
    {
        if (line != serial::Dtr && line != serial::Rts) {
            errno = EINVAL;
            return false;
        }
        ++m_plug.setCalls;
        m_plug.outputs = on ? (m_plug.outputs | line) : (m_plug.outputs & ~line);
        return true;
    }
    bool waitForChange(uint8_t) override
    {
        errno = ENOTTY;
        return false;
    }
    bool errorCounts(serial::ErrorCounts &counts) override
    {
        counts = {};
        return true;
    }
    bool sendBreak(int) override { return true; }

private:
    Plug &m_plug;
};

class TestHost : public ModeHost, public DisplaySink, public TrafficConsumer
{
public:
    explicit TestHost(QString path) : m_path(std::move(path)) { m_traffic.subscribe(this); }
    ~TestHost() override { m_traffic.unsubscribe(this); }

    std::unique_ptr<SerialPort> openPort() override
    {
        std::unique_ptr<SerialPort> port = openLine(m_path);
        if (!port)
            messages.append(QStringLiteral("COM1 埠,無法開啟"));
        return port;
    }
    void enterMode(Mode) override { }
    void leaveMode(Mode) override { }
    void setStatusText(const QString &) override { }
    DisplaySink &display() override { return *this; }
    TrafficRenderer &renderer() override { return m_renderer; }
    TrafficStream &traffic() override { return m_traffic; }
    void message(const QString &text) override { messages.append(text); }
    void errorBox(const QString &text) override { messages.append(text); }
    void insertAtCaret(QStringView) override { }
    void appendLine(QStringView) override { }
    void clear() override { }

    void take(const TrafficRecord &record) override
    {
        if (record.kind == TrafficKind::Report)
            reports.append(LineEvents::describe(record));
    }
    void passEnd() override { ++passEnds; }

    QStringList messages;
    QStringList reports;
    int passEnds = 0;

private:
    QString m_path;
    DisplayFormatter m_formatter;
    TrafficRenderer m_renderer {m_formatter};
    TrafficStream m_traffic;
};

QStringList column(const QTableWidget *table, int c)
{
    QStringList out;
    for (int r = 0; r < table->rowCount(); ++r)
        out << (table->item(r, c) ? table->item(r, c)->text() : QString());
    return out;
}

// Whether the row's 說明 shows whole: inside the visible part of the table, wrapped to its column
// and no taller than its row.
bool detailShownWhole(const QTableWidget *table, int row)
{
    const QString text = table->item(row, 2)->text();
    const int right = table->columnViewportPosition(2) + table->columnWidth(2);
    const int margin =
            table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1;
    const QRect needed = table->fontMetrics().boundingRect(
            QRect(0, 0, table->columnWidth(2) - 2 * margin, 100000), Qt::TextWordWrap, text);
    return right <= table->viewport()->width()
            && needed.width() <= table->columnWidth(2) - 2 * margin
            && needed.height() <= table->rowHeight(row);
}

LineSelfTest::SpeedResult speedThat(bool passed)
{
    LineSelfTest::SpeedResult r;
    r.speed = 9600;
    r.passed = passed;
    r.sent = 960;
    r.received = 960;
    return r;
}

} // namespace

class SelfTestTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void goodLoopPasses();
    void faultyLoopFailsAtTheByte_data();
    void faultyLoopFailsAtTheByte();
    void silentPortTimesOutAndStaysLive();
    void twoPortsJoinedByACable();
    void linePairsThroughTheirWiring();
    void verdictNamesWhatWasNotTested_data();
    void verdictNamesWhatWasNotTested();

    void dialogRunsTheTickedSpeeds();
    void dialogNamesThePortTested_data();
    void dialogNamesThePortTested();
    void dialogReportsAPeerThatWillNotOpen();
    void escapeStopsARunningTest();
};

void SelfTestTest::cleanup()
{
    SerialPort::setControlFactory({});
    QCOMPARE(SerialPort::openCount(), 0);
}

void SelfTestTest::goodLoopPasses()
{
    EchoSim sim;
    QVERIFY(sim.isUp());
    auto port = openLine(sim.link());
    QVERIFY(port);
    const LineSelfTest::Options options = optionsFor({9600, 115200});
    const LineSelfTest::Results results = LineSelfTest::run(*port, *port, options);

    QCOMPARE(results.speeds.size(), size_t(2));
    for (const LineSelfTest::SpeedResult &r : results.speeds) {
        QVERIFY2(r.passed, qPrintable(LineSelfTest::reportText(results, options, {})));
        QCOMPARE(r.sent, LineSelfTest::patternFor(r.speed, options.params, options.seed).size());
        QCOMPARE(r.received, r.sent);
        QCOMPARE(r.firstMismatch, qsizetype(-1));
        QVERIFY(r.bytesPerSecond > 0);
    }
    // About a second of line time, never less than the 256 values nor more than a few KiB.
    QCOMPARE(results.speeds[0].sent, qsizetype(960));
    QCOMPARE(results.speeds[1].sent, qsizetype(256 + 4096));
    // A plain pseudo-terminal has no handshake lines: nothing to test, nothing failed.
    QCOMPARE(results.pairs.size(), size_t(3));
    for (const LineSelfTest::PairResult &p : results.pairs)
        QCOMPARE(p.outcome, LineSelfTest::PairOutcome::Unsupported);
    QVERIFY(results.passed());

    const QStringList lines =
            LineSelfTest::reportText(results, options, QStringLiteral("迴路插頭 X")).split(u'\n');
    QCOMPARE(lines.size(), 1 + 2 + 3 + 1);
    QVERIFY2(lines[0].contains(QStringLiteral("亂數種子 7")), qPrintable(lines[0]));
    QVERIFY2(lines[1].startsWith(QStringLiteral("速率 9600: 通過")), qPrintable(lines[1]));
    QVERIFY2(lines[2].startsWith(QStringLiteral("速率 115200: 通過")), qPrintable(lines[2]));
    QVERIFY2(lines[3].startsWith(QStringLiteral("RTS→CTS: 不支援")), qPrintable(lines[3]));
    // The bytes passed, but no line pair was tested: no plain pass.
    QVERIFY2(lines[6].startsWith(QStringLiteral("結果: 通過 (僅資料;線路對未測試) (")),
             qPrintable(lines[6]));
}

void SelfTestTest::faultyLoopFailsAtTheByte_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<qsizetype>("offset");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("received");
    QTest::addColumn<qsizetype>("altered");
    QTest::addColumn<qsizetype>("missing");
    QTest::addColumn<QString>("bytesText");

    // The simulator counts from 1 over the whole opening: the faults fall in the first speed.
    QTest::newRow("altered byte") << QStringList {"--alter", "100"} << 8 << qsizetype(99) << 0x63
                                  << 0x62 << qsizetype(1) << qsizetype(0) << "預期 63h, 收到 62h";
    QTest::newRow("two altered") << QStringList {"--alter", "100", "--alter", "700"} << 8
                                 << qsizetype(99) << 0x63 << 0x62 << qsizetype(2) << qsizetype(0)
                                 << "預期 63h, 收到 62h";
    QTest::newRow("dropped byte") << QStringList {"--drop", "50"} << 8 << qsizetype(49) << 0x31
                                  << 0x32 << qsizetype(0) << qsizetype(1) << "預期 31h, 收到 32h";
    // Seven data bits send the values masked: the 200th byte is C7h & 7Fh.
    QTest::newRow("seven bits, altered")
            << QStringList {"--alter", "200"} << 7 << qsizetype(199) << 0x47 << 0x46 << qsizetype(1)
            << qsizetype(0) << "預期 47h, 收到 46h";
    // Upper-case digits, as everywhere the program writes a byte.
    QTest::newRow("letters among the digits")
            << QStringList {"--alter", "172"} << 8 << qsizetype(171) << 0xAB << 0xAA << qsizetype(1)
            << qsizetype(0) << "預期 ABh, 收到 AAh";
}

void SelfTestTest::faultyLoopFailsAtTheByte()
{
    QFETCH(QStringList, faults);
    QFETCH(int, dataBits);
    EchoSim sim(faults);
    QVERIFY(sim.isUp());
    const LineSelfTest::Options options = optionsFor({9600, 19200}, uint8_t(dataBits));
    auto port = openLine(sim.link(), options.params);
    QVERIFY(port);
    const LineSelfTest::Results results = LineSelfTest::run(*port, *port, options);
    const QString report = LineSelfTest::reportText(results, options, {});

    QCOMPARE(results.speeds.size(), size_t(2));
    const LineSelfTest::SpeedResult &bad = results.speeds[0];
    QVERIFY2(!bad.passed, qPrintable(report));
    QTEST(bad.firstMismatch, "offset");
    QTEST(bad.expectedByte, "expected");
    QTEST(bad.receivedByte, "received");
    QTEST(bad.altered, "altered");
    QTEST(bad.missing, "missing");
    QCOMPARE(bad.extra, qsizetype(0));
    QCOMPARE(bad.received, bad.sent - bad.missing);
    // What went wrong at one speed stays there.
    QVERIFY2(results.speeds[1].passed, qPrintable(report));
    QVERIFY(!results.passed());

    QFETCH(qsizetype, offset);
    QVERIFY2(report.contains(QStringLiteral("速率 9600: 失敗 ")), qPrintable(report));
    QVERIFY2(report.contains(QStringLiteral("位移 %1").arg(offset)), qPrintable(report));
    QFETCH(QString, bytesText);
    QVERIFY2(report.contains(bytesText), qPrintable(report));
    QVERIFY2(report.contains(u"結果: 失敗"), qPrintable(report));
}

void SelfTestTest::silentPortTimesOutAndStaysLive()
{
    Pty pty; // nobody reads the master: nothing comes back
    QVERIFY(pty.isOpen());
    auto port = openLine(pty.slavePath());
    QVERIFY(port);
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(20);
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start();
    QElapsedTimer clock;
    clock.start();
    const LineSelfTest::Results results =
            LineSelfTest::run(*port, *port, optionsFor({9600, 115200}));
    const qint64 elapsed = clock.elapsed();
    ticker.stop();

    for (const LineSelfTest::SpeedResult &r : results.speeds) {
        QVERIFY(!r.passed);
        QVERIFY(r.timedOut);
        QCOMPARE(r.received, qsizetype(0));
        QVERIFY(r.missing > 0);
    }
    QVERIFY2(elapsed < 3000, qPrintable(QString::number(elapsed)));
    // The window's timers kept running through the waits.
    QVERIFY2(ticks >= int(elapsed / 20 / 3), qPrintable(QString::number(ticks)));
    QVERIFY(LineSelfTest::rows(results)[0].detail.contains(u"逾時"));
}

void SelfTestTest::twoPortsJoinedByACable()
{
    Pty a;
    Pty b;
    QVERIFY(a.isOpen() && b.isOpen());
    auto sender = openLine(a.slavePath());
    auto receiver = openLine(b.slavePath());
    QVERIFY(sender && receiver);
    const Cable cable(a, b);
    const LineSelfTest::Results results =
            LineSelfTest::run(*sender, *receiver, optionsFor({57600, 921600}));
    for (const LineSelfTest::SpeedResult &r : results.speeds) {
        QVERIFY(r.passed);
        QCOMPARE(r.received, r.sent);
    }
    // Nothing came back on the sending side: the bytes crossed the cable.
    QCOMPARE(a.readAvailable(), QByteArray());
}

void SelfTestTest::linePairsThroughTheirWiring()
{
    Plug plug;
    plug.dcdWired = false;
    SerialPort::setControlFactory([&plug](int) { return std::make_unique<PlugLines>(plug); });
    Pty pty;
    auto port = openLine(pty.slavePath());
    QVERIFY(port);
    const LineSelfTest::Results results = LineSelfTest::run(*port, *port, optionsFor({}));

    QCOMPARE(results.pairs.size(), size_t(3));
    QCOMPARE(results.pairs[0].outcome, LineSelfTest::PairOutcome::Passed);
    QCOMPARE(results.pairs[1].outcome, LineSelfTest::PairOutcome::Passed);
    QCOMPARE(results.pairs[2].outcome, LineSelfTest::PairOutcome::Failed);
    QCOMPARE(results.pairs[2].input, serial::Dcd);
    QVERIFY2(results.pairs[2].detail.contains(u"DCD"), qPrintable(results.pairs[2].detail));
    // Each output back as it was before the test.
    QCOMPARE(plug.outputs, uint8_t(serial::Dtr | serial::Rts));
    QVERIFY(plug.setCalls >= 6);

    const std::vector<LineSelfTest::Row> rows = LineSelfTest::rows(results);
    QCOMPARE(rows[0].item, QStringLiteral("RTS→CTS"));
    QCOMPARE(rows[0].verdict, QStringLiteral("通過"));
    QCOMPARE(rows[2].item, QStringLiteral("DTR→DCD"));
    QCOMPARE(rows[2].verdict, QStringLiteral("失敗"));
}

void SelfTestTest::verdictNamesWhatWasNotTested_data()
{
    // Each pair's outcome in the order RTS→CTS, DTR→DSR, DTR→DCD: P passed, F failed, U the
    // driver has no such line.
    QTest::addColumn<bool>("bytesPass");
    QTest::addColumn<QString>("pairs");
    QTest::addColumn<QString>("verdict");
    QTest::newRow("everything tested and passing") << true << "PPP"
                                                   << "通過";
    QTest::newRow("no pair tested") << true << "UUU"
                                    << "通過 (僅資料;線路對未測試)";
    QTest::newRow("one pair untested") << true << "PPU"
                                       << "通過 (線路對 DTR→DCD 未測試)";
    QTest::newRow("two pairs untested") << true << "UPU"
                                        << "通過 (線路對 RTS→CTS、DTR→DCD 未測試)";
    QTest::newRow("a pair failed, the rest untested") << true << "UFU"
                                                      << "失敗";
    QTest::newRow("the bytes failed, no pair tested") << false << "UUU"
                                                      << "失敗";
    QTest::newRow("the bytes failed, the pairs passed") << false << "PPP"
                                                        << "失敗";
}

void SelfTestTest::verdictNamesWhatWasNotTested()
{
    QFETCH(bool, bytesPass);
    QFETCH(QString, pairs);
    QFETCH(QString, verdict);
    LineSelfTest::Results results;
    results.speeds = {speedThat(true), speedThat(bytesPass)};
    results.pairs = LineSelfTest::wiredPairs();
    for (size_t i = 0; i < results.pairs.size(); ++i) {
        const QChar c = pairs[qsizetype(i)];
        results.pairs[i].outcome = c == u'P' ? LineSelfTest::PairOutcome::Passed
                : c == u'F'                  ? LineSelfTest::PairOutcome::Failed
                                             : LineSelfTest::PairOutcome::Unsupported;
    }
    const QString summary = LineSelfTest::summaryText(results);
    QVERIFY2(summary.startsWith(QStringLiteral("結果: %1 (通過 ").arg(verdict)),
             qPrintable(summary));
    QCOMPARE(results.passed(), !verdict.startsWith(u"失敗"));
}

void SelfTestTest::dialogRunsTheTickedSpeeds()
{
    EchoSim sim;
    QVERIFY(sim.isUp());
    TestHost host(sim.link());
    QStringList items;
    QStringList verdicts;
    QStringList cut;
    int openDuringRun = -1;
    answerNextModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<SelfTestDialog *>(modal);
        if (!dialog)
            return;
        QCOMPARE(dialog->windowTitle(), QStringLiteral("線路自我測試"));
        QVERIFY(dialog->findChild<QCheckBox *>("speed9600")->isChecked());
        QVERIFY(dialog->findChild<QCheckBox *>("speed115200")->isChecked());
        dialog->findChild<QCheckBox *>("speed115200")->click();
        dialog->findChild<QCheckBox *>("speed38400")->click();
        dialog->findChild<QSpinBox *>("seed")->setValue(4321);
        QCOMPARE(dialog->findChild<QCheckBox *>("speed38400")->accessibleName(),
                 QStringLiteral("速率 38400"));
        // Between blocks the window has its turn: the stop button is live then.
        QTimer::singleShot(0, [&] {
            openDuringRun = SerialPort::openCount();
            QVERIFY(dialog->findChild<QPushButton *>("stopButton")->isEnabled());
        });
        dialog->findChild<QPushButton *>("startButton")->click();
        const auto *table = dialog->findChild<QTableWidget *>("results");
        items = column(table, 0);
        verdicts = column(table, 1);
        for (int row = 0; row < table->rowCount(); ++row) {
            if (!detailShownWhole(table, row))
                cut << table->item(row, 2)->text();
        }
        dialog->findChild<QPushButton *>("closeButton")->click();
    });
    runLineSelfTest(host, nullptr);

    QCOMPARE(openDuringRun, 1);
    QCOMPARE(items, QStringList({"速率 9600", "速率 38400", "RTS→CTS", "DTR→DSR", "DTR→DCD"}));
    QCOMPARE(verdicts, QStringList({"通過", "通過", "不支援", "不支援", "不支援"}));
    // Each 說明 shows whole, wrapped in its column.
    QCOMPARE(cut, QStringList());
    QCOMPARE(host.reports.size(), 1);
    QVERIFY2(host.reports[0].contains(QStringLiteral("迴路插頭 COM1 (%1)").arg(sim.link())),
             qPrintable(host.reports[0]));
    QVERIFY(host.reports[0].contains(QStringLiteral("速率 38400: 通過")));
    QVERIFY(host.reports[0].contains(QStringLiteral("亂數種子 4321")));
    QVERIFY(host.passEnds >= 1);
    QVERIFY(host.messages.isEmpty());
}

void SelfTestTest::dialogNamesThePortTested_data()
{
    // What the settings name the port by, and how the report names it: %1 is the device.
    QTest::addColumn<bool>("byDevicePath");
    QTest::addColumn<QString>("named");
    QTest::newRow("COM number") << false << "COM1 (%1)";
    QTest::newRow("device path") << true << "%1";
}

void SelfTestTest::dialogNamesThePortTested()
{
    QFETCH(bool, byDevicePath);
    EchoSim sim;
    QVERIFY(sim.isUp());
    PortSettings::reset();
    const auto settingsBack = qScopeGuard([] { PortSettings::reset(); });
    if (byDevicePath) {
        PortSettings::DevicePathText = sim.link();
        PortSettings::PortNameText = sim.link();
    }
    QFETCH(QString, named);
    named = named.arg(sim.link());
    TestHost host(sim.link());
    QString shown;
    answerNextModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<SelfTestDialog *>(modal);
        if (!dialog)
            return;
        const auto guard = qScopeGuard([dialog] { dialog->reject(); });
        dialog->findChild<QCheckBox *>("speed115200")->click();
        dialog->findChild<QPushButton *>("startButton")->click();
        const auto *label = dialog->findChild<QLabel *>("portName");
        QVERIFY(label);
        shown = label->text();
    });
    runLineSelfTest(host, nullptr);

    QVERIFY2(shown.endsWith(named), qPrintable(shown));
    QCOMPARE(host.reports.size(), 1);
    const QString heading = host.reports[0].section(u'\n', 0, 0);
    QVERIFY2(heading.contains(QStringLiteral("迴路插頭 %1,").arg(named)), qPrintable(heading));
}

void SelfTestTest::dialogReportsAPeerThatWillNotOpen()
{
    EchoSim sim;
    QVERIFY(sim.isUp());
    TestHost host(sim.link());
    const QString missing = QStringLiteral("/dev/telvix-no-such-port");
    QStringList rowsAfter;
    answerNextModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<SelfTestDialog *>(modal);
        if (!dialog)
            return;
        dialog->findChild<QLineEdit *>("peerPath")->setText(missing);
        dialog->findChild<QPushButton *>("startButton")->click();
        rowsAfter = column(dialog->findChild<QTableWidget *>("results"), 0);
        QCOMPARE(SerialPort::openCount(), 0);
        // Nothing ticked is a message too, not a run.
        dialog->findChild<QLineEdit *>("peerPath")->clear();
        for (QCheckBox *box : dialog->findChildren<QCheckBox *>()) {
            if (box->isChecked())
                box->click();
        }
        dialog->findChild<QPushButton *>("startButton")->click();
        dialog->reject();
    });
    runLineSelfTest(host, nullptr);
    QCOMPARE(host.messages,
             QStringList({missing + QStringLiteral(" 埠,無法開啟\n找不到裝置 ") + missing,
                          "請至少勾選一個速率"}));
    QVERIFY(rowsAfter.isEmpty());
    QVERIFY(host.reports.isEmpty());
}

void SelfTestTest::escapeStopsARunningTest()
{
    Pty pty; // silent: each speed would wait out its time-out
    TestHost host(pty.slavePath());
    answerNextModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<SelfTestDialog *>(modal);
        if (!dialog)
            return;
        for (QCheckBox *box : dialog->findChildren<QCheckBox *>()) {
            if (!box->isChecked())
                box->click();
        }
        QTimer::singleShot(100, [dialog] { QTest::keyClick(dialog, Qt::Key_Escape); });
        dialog->findChild<QPushButton *>("startButton")->click();
    });
    QElapsedTimer clock;
    clock.start();
    runLineSelfTest(host, nullptr);
    // Eight speeds of half a second each, ended after the first: the dialog closed itself.
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(host.reports.size(), 1);
    const QString &report = host.reports[0];
    QVERIFY2(report.contains(QStringLiteral("結果: 已停止")), qPrintable(report));
    QVERIFY2(report.contains(QStringLiteral("速率 9600: 已停止")), qPrintable(report));
    QVERIFY2(report.contains(QStringLiteral("DTR→DCD: 已停止")), qPrintable(report));
}

QTEST_MAIN(SelfTestTest)
#include "tst_selftest.moc"
