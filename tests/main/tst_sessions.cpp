// SPDX-License-Identifier: MIT
// No byte lost while the window is busy, on real pseudo-terminals: a device streams faster
// than a tty buffers while a modal dialog holds receive or terminal mode, or while a long
// terminal send runs, and every byte is shown, in order, once the window is free again; a
// hang-up behind a dialog costs no CPU. And the modes as units of their own, driven through a
// host of the test's instead of the window.
#include "../modes/RecordingInjector.h"
#include "GuiHelpers.h"
#include "Pty.h"

#include "traffic/DisplayFormatter.h"
#include "session/ModeHost.h"
#include "session/ModeState.h"
#include "main/ReceiveSession.h"
#include "main/ScriptWindow.h"
#include "main/Telvixmain1.h"
#include "traffic/Traffic.h"
#include "traffic/TrafficRenderer.h"
#include "main/TrafficView.h"
#include "modes/KeyInjection.h"
#include "modes/MonitorSession.h"
#include "modes/PassThroughSession.h"
#include "modes/R2KSession.h"
#include "modes/TerminalSession.h"
#include "session/ConversationDisplay.h"
#include "send/FileSendJob.h"
#include "send/StringSendJob.h"
#include "serial/PortSettings.h"
#include "traffic/CaptureExport.h"
#include "serial/SerialPort.h"
#include "widgets/CodeEditor.h"
#include "TForm1Controls.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <sys/resource.h>
#include <thread>

namespace {

double cpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
            + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

QByteArray pattern(qsizetype size, int seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251 + seed) & 0xFF);
    return bytes;
}

// A device that sends `bytes` at a steady pace without ever waiting: what the line does not
// take when offered is lost, as a UART's receiver drops what nobody reads.
class StreamingDevice
{
public:
    StreamingDevice(Pty &pty, QByteArray bytes, qsizetype perMillisecond)
        : m_thread([this, &pty, bytes = std::move(bytes), perMillisecond] {
              for (qsizetype at = 0; at < bytes.size() && !m_stop; at += perMillisecond) {
                  const qsizetype n = std::min(perMillisecond, bytes.size() - at);
                  const qsizetype taken = pty.writeSome(bytes.constData() + at, n);
                  m_refused += n - std::max<qsizetype>(0, taken);
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
              m_done = true;
          })
    { }
    ~StreamingDevice()
    {
        m_stop = true;
        m_thread.join();
    }
    bool done() const { return m_done; }
    qsizetype refused() const { return m_refused; }

private:
    std::atomic<bool> m_stop {false};
    std::atomic<bool> m_done {false};
    std::atomic<qsizetype> m_refused {0};
    std::thread m_thread;
};

QString hexOf(const QByteArray &bytes)
{
    DisplayFormatter hex;
    hex.setHexForm(true);
    hex.setSettings({LineBreakRule::NoCR, std::nullopt, HexStyle::HEXOnly});
    QString out;
    hex.append(bytes, out);
    return out;
}

QString memoText() { return Form1->memo1()->toPlainText(); }

// Shows `openDialog`'s modal dialog for `holdMs` while `during` runs, then cancels it; the CPU
// the program used meanwhile, as a share of one core.
double holdDialog(const std::function<void()> &openDialog, int holdMs,
                  const std::function<void()> &during = {})
{
    double cpu = -1;
    QTimer::singleShot(0, [&] {
        if (!waitUntil([] { return QApplication::activeModalWidget() != nullptr; }))
            return;
        if (during)
            during();
        const double cpu0 = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        // Sleeping, not spinning the event loop: the program's own threads are what counts.
        QTest::qSleep(holdMs);
        cpu = (cpuSeconds() - cpu0) / (double(wall.elapsed()) / 1000.0);
        if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            d->reject();
    });
    openDialog();
    return cpu;
}

// A host of the test's own: the modes reach no window.
class TestHost : public ModeHost, public DisplaySink
{
public:
    explicit TestHost(QString path) : m_path(std::move(path)) { m_traffic.subscribe(&records); }
    ~TestHost() override { m_traffic.unsubscribe(&records); }

    std::unique_ptr<SerialPort> openPort() override
    {
        SerialPort::Opened opened =
                SerialPort::open(m_path.toStdString(), {9600, serial::Parity::None, 8, 0});
        if (!opened.port)
            messages.append(QStringLiteral("no port"));
        return std::move(opened.port);
    }
    void enterMode(Mode mode) override { steps.append(QStringLiteral("enter %1").arg(int(mode))); }
    void leaveMode(Mode mode) override { steps.append(QStringLiteral("leave %1").arg(int(mode))); }
    void setStatusText(const QString &text) override { status.append(text); }
    DisplaySink &display() override { return *this; }
    TrafficRenderer &renderer() override { return m_renderer; }
    TrafficStream &traffic() override { return m_traffic; }
    void message(const QString &text) override { messages.append(text); }
    void errorBox(const QString &text) override { messages.append(u'!' + text); }

    void insertAtCaret(QStringView piece) override { shown += piece; }
    void appendLine(QStringView line) override
    {
        shown += line;
        shown += u'\n';
    }
    void clear() override { shown.clear(); }

    // Every record the stream carried.
    struct Recorder : TrafficConsumer
    {
        void take(const TrafficRecord &r) override { all.push_back(r); }
        QByteArray bytes(TrafficKind kind) const
        {
            QByteArray out;
            for (const TrafficRecord &r : all) {
                if (r.kind == kind)
                    out += r.bytes;
            }
            return out;
        }
        std::vector<TrafficRecord> all;
    } records;

    QString shown;
    QStringList steps;
    QStringList status;
    QStringList messages;

private:
    QString m_path;
    DisplayFormatter m_formatter;
    TrafficRenderer m_renderer {m_formatter};
    TrafficStream m_traffic;
};

class TestPanel : public TerminalPanel
{
public:
    QString localName() const override { return QStringLiteral("L"); }
    QString remoteName() const override { return QStringLiteral("R"); }
    QString delayText() const override { return delay; }
    QString messageText() const override { return message; }
    void clearMessage() override { message.clear(); }
    void focusMessage() override { }
    QString delay = QStringLiteral("0");
    QString message;
};

} // namespace

class TestSessions : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        freshStart();
        m_pty = std::make_unique<Pty>();
        PortSettings::DevicePathText = m_pty->slavePath();
        PortSettings::PortNameText = m_pty->slavePath();
    }
    void cleanup() { m_pty.reset(); }
    void cleanupTestCase() { tearDownForms(); }

    void dialogOverReadingMode_data();
    void dialogOverReadingMode();
    void replyDuringLongTerminalSend();
    void hangUpBehindDialog();
    void breakEndsEachMode_data();
    void breakEndsEachMode();
    void receiveSessionOnItsOwn();
    void terminalSessionOnItsOwn();
    void sendJobsOnTheirOwn();
    void r2kSessionOnItsOwn();
    void scriptFromTheWindow();
    void scriptResultInTheWindow_data();
    void scriptResultInTheWindow();
    void scriptFiles();

private:
    std::unique_ptr<Pty> m_pty;
};

void TestSessions::dialogOverReadingMode_data()
{
    QTest::addColumn<bool>("terminal");
    QTest::newRow("font dialog over receive mode") << false;
    QTest::newRow("picker over terminal mode") << true;
}

void TestSessions::dialogOverReadingMode()
{
    // 300 KB at 300 KB/s while a dialog is up for a second: several times what a tty holds.
    QFETCH(bool, terminal);
    const TForm1Controls &ui = TForm1Controls(Form1);
    ui.HexModeMenuBar->trigger();
    const QByteArray bytes = pattern(300000);
    double cpu = -1;
    qsizetype refused = -1;
    ModeScript script;
    script.then([&] {
              std::unique_ptr<StreamingDevice> device;
              const auto open = [&] {
                  if (terminal)
                      ui.EchoEditControlInsertButton->click();
                  else
                      ui.FontsMenubar->trigger();
              };
              cpu = holdDialog(open, 1000, [&] {
                  device = std::make_unique<StreamingDevice>(*m_pty, bytes, 300);
              });
              QVERIFY(waitUntil([&] { return device->done(); }, 10000));
              refused = device->refused();
          })
            .waitFor([&] { return memoText().count(u' ') >= bytes.size(); }, "every byte shown",
                     15000)
            .then([&] { ui.BreakButton->click(); });
    script.start();
    (terminal ? ui.EnableTRModeButton : ui.ReceiveButton)->click();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QCOMPARE(refused, 0);
    // In order and whole, after the remote name in terminal mode.
    QString shown = memoText();
    if (terminal)
        shown.remove(ConversationDisplay::prefix(ui.RemoteNameEdit->text()));
    shown.remove(QChar(DisplayFormatter::LineBreak));
    QVERIFY(shown == hexOf(bytes));
    // Waiting behind the dialog is no work.
    QVERIFY2(cpu >= 0 && cpu < 0.3, qPrintable(QString::number(cpu)));
}

void TestSessions::replyDuringLongTerminalSend()
{
    // A message of 2000 characters at 1 ms takes two seconds; the device answers 200 KB
    // meanwhile. Everything it said is shown after the message, as one reply, in order.
    const TForm1Controls &ui = TForm1Controls(Form1);
    ui.HexModeMenuBar->trigger();
    ui.Memo2->setPlainText(QString(2000, u'A'));
    ui.TRMode_Char_DelayTime_Edit->setText(QStringLiteral("1"));
    const QByteArray reply = pattern(200000, 3);
    qsizetype refused = -1;
    QByteArray sent;
    ModeScript script;
    script.then([&] {
              StreamingDevice device(*m_pty, reply, 100);
              ui.SendEchoMessageButton->click();
              QVERIFY(waitUntil([&] { return device.done(); }, 10000));
              refused = device.refused();
          })
            .waitFor([&] { return memoText().size() > 3 * (2000 + reply.size()); }, "the reply",
                     15000)
            .then([&] {
                sent = m_pty->read(2000);
                ui.BreakButton->click();
            });
    script.start();
    ui.EnableTRModeButton->click();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QCOMPARE(refused, 0);
    QCOMPARE(sent, QByteArray(2000, 'A'));
    const QString expected = ConversationDisplay::prefix(ui.LocalNameEdit->text())
            + hexOf(QByteArray(2000, 'A')) + ConversationDisplay::prefix(ui.RemoteNameEdit->text())
            + hexOf(reply);
    QString shown = memoText();
    shown.remove(QChar(DisplayFormatter::LineBreak));
    QVERIFY(shown == QString(expected).remove(QChar(DisplayFormatter::LineBreak)));
}

void TestSessions::hangUpBehindDialog()
{
    // The device goes away while the settings dialog is up: nothing spins meanwhile, and Break
    // ends the mode once the dialog is closed.
    const TForm1Controls &ui = TForm1Controls(Form1);
    double cpu = -1;
    ModeScript script;
    script.then([&] { m_pty->write("before"); })
            .waitFor([] { return memoText() == QStringLiteral("before"); }, "text")
            .then([&] {
                cpu = holdDialog([&] { ui.FontsMenubar->trigger(); }, 1000,
                                 [&] { m_pty->hangUp(); });
            })
            .then([&] { ui.BreakButton->click(); });
    script.start();
    ui.ReceiveButton->click();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QVERIFY(script.finished());
    QVERIFY2(cpu >= 0 && cpu < 0.2, qPrintable(QString::number(cpu)));
    QCOMPARE(memoText(), QStringLiteral("before"));
    QCOMPARE(ModeState::ReceiveModeActive, uint8_t(0));
    QCOMPARE(SerialPort::openCount(), 0);
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("未連線"));
}

void TestSessions::breakEndsEachMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("receive") << int(Mode::Receive);
    QTest::newRow("terminal") << int(Mode::Terminal);
    QTest::newRow("R2K") << int(Mode::R2K);
    QTest::newRow("file send") << int(Mode::FileSend);
    QTest::newRow("script") << int(Mode::Script);
    QTest::newRow("monitor") << int(Mode::Monitor);
    QTest::newRow("pass-through") << int(Mode::PassThrough);
}

void TestSessions::breakEndsEachMode()
{
    // Each mode, while the device streams at it, ends at Break within a moment, lets its port
    // go and gives the window back.
    QFETCH(int, mode);
    const Mode m = Mode(mode);
    const TForm1Controls &ui = TForm1Controls(Form1);
    KeyInjection::setFactory([] {
        return KeyInjection::Opened {std::make_unique<RecordingInjector>(), {}, {}, {}};
    });
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("big.bin"));
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(pattern(1 << 20));
    }
    StreamingDevice device(*m_pty, pattern(1 << 20), 50);
    QElapsedTimer sinceBreak;
    QTimer::singleShot(300, [&] {
        if (m == Mode::FileSend) {
            // Behind its dialogs; the send itself runs when they are answered.
            return;
        }
        sinceBreak.start();
        ui.BreakButton->click();
    });
    switch (m) {
    case Mode::Receive:
        ui.ReceiveButton->click();
        break;
    case Mode::Terminal:
        ui.EnableTRModeButton->click();
        break;
    case Mode::R2K:
        ui.R2KModeButton->click();
        break;
    case Mode::Script:
        // Taking what comes, never ending by itself.
        Form1->scriptWindow()->editor()->setPlainText(
                QStringLiteral("while true do read(4096, 50) end"));
        Form1->scriptWindow()->findChild<QPushButton *>(QStringLiteral("ScriptRunButton"))->click();
        QCOMPARE(Form1->scriptWindow()->resultText(), QStringLiteral("已停止"));
        break;
    case Mode::Monitor: {
        Pty other;
        PortSettings::PortChoice a, b;
        a.devicePath = m_pty->slavePath();
        b.devicePath = other.slavePath();
        MonitorSession(*Form1).run({a, b});
        break;
    }
    case Mode::PassThrough: {
        QTemporaryDir names;
        PassThroughRequest request;
        request.name = names.filePath(QStringLiteral("ttyTELVIX0")).toStdString();
        PassThroughSession(*Form1).run(request);
        break;
    }
    case Mode::FileSend: {
        FileSendRequest request {file, 1 << 20, {}, {}, QStringLiteral("1")};
        QTimer::singleShot(300, [&] {
            sinceBreak.start();
            ui.BreakButton->click();
        });
        MessageRecorder boxes;
        FileSendJob(*Form1, request).run();
        QVERIFY(boxes.lastText().endsWith(QStringLiteral("傳送中斷!")));
        break;
    }
    }
    QVERIFY(sinceBreak.isValid());
    QVERIFY2(sinceBreak.elapsed() < 1000, qPrintable(QString::number(sinceBreak.elapsed())));
    QCOMPARE(*ModeTable::column(m).activeFlag, uint8_t(0));
    QCOMPARE(SerialPort::openCount(), 0);
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("未連線"));
    QVERIFY(!ui.BreakButton->isEnabled());
    KeyInjection::setFactory({});
}

void TestSessions::receiveSessionOnItsOwn()
{
    TestHost host(m_pty->slavePath());
    const QByteArray bytes = pattern(5000);
    QStringList stepsWhileRunning;
    ModeScript script;
    script.then([&] {
              stepsWhileRunning = host.steps;
              m_pty->write(bytes);
          })
            .waitFor(
                    [&] {
                        return host.records.bytes(TrafficKind::Received).size() == bytes.size();
                    },
                    "the bytes")
            .then([] { ModeState::BreakRequested = 1; });
    script.start();
    ReceiveSession(host).run();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QCOMPARE(stepsWhileRunning, QStringList {QStringLiteral("enter 0")});
    QCOMPARE(host.steps, (QStringList {QStringLiteral("enter 0"), QStringLiteral("leave 0")}));
    // Every byte passed the stream with the time it came, and then the display.
    QVERIFY(host.records.bytes(TrafficKind::Received) == bytes);
    int64_t last = 0;
    for (const TrafficRecord &r : host.records.all) {
        QVERIFY(r.timeUs >= last);
        last = r.timeUs;
    }
    QVERIFY(last > 0 && last <= monotonicMicroseconds());
    DisplayFormatter reference;
    QString expected;
    reference.append(bytes, expected);
    QCOMPARE(host.shown, expected);
    QCOMPARE(ModeState::ReceiveModeActive, uint8_t(0));
    QCOMPARE(SerialPort::openCount(), 0);

    // A port that fails to open starts nothing.
    TestHost nowhere(QStringLiteral("/dev/telvix-none"));
    ReceiveSession(nowhere).run();
    QVERIFY(nowhere.steps.isEmpty());
    QCOMPARE(nowhere.messages, QStringList {QStringLiteral("no port")});
}

void TestSessions::terminalSessionOnItsOwn()
{
    TestHost host(m_pty->slavePath());
    TestPanel panel;
    TerminalSession session(host, panel);
    QByteArray sent;
    ModeScript script;
    script.then([&] {
              panel.message = QStringLiteral("AT");
              session.send();
              sent = m_pty->read(2);
              m_pty->write("OK");
          })
            .waitFor([&] { return host.shown.endsWith(QStringLiteral("OK")); }, "the reply")
            .then([] { ModeState::BreakRequested = 1; });
    script.start();
    session.run();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QCOMPARE(sent, QByteArray("AT"));
    QVERIFY(panel.message.isEmpty());
    QCOMPARE(host.shown, QStringLiteral("\nL : AT\nR : OK"));
    QCOMPARE(host.records.bytes(TrafficKind::Sent), QByteArray("AT"));
    QCOMPARE(host.records.bytes(TrafficKind::Received), QByteArray("OK"));
    // A send outside the conversation does nothing.
    panel.message = QStringLiteral("late");
    session.send();
    QVERIFY(m_pty->readAvailable().isEmpty());
}

void TestSessions::sendJobsOnTheirOwn()
{
    TestHost host(m_pty->slavePath());
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("f.bin"));
    const QByteArray content = pattern(3000);
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    FileSendJob(
            host,
            {file, content.size(), QStringLiteral("H"), QStringLiteral("E"), QStringLiteral("0")})
            .run();
    QByteArray got;
    QVERIFY(waitUntil([&] {
        got += m_pty->readAvailable();
        return got.size() >= content.size() + 2;
    }));
    QVERIFY(got == 'H' + content + 'E');
    QVERIFY(host.records.bytes(TrafficKind::Sent) == got);
    QVERIFY(host.messages.last().endsWith(QStringLiteral("傳送完畢!")));
    QCOMPARE(host.status.last(), QStringLiteral("傳送(檔案內容)..2999/3000"));
    QCOMPARE(ModeState::SendActive, uint8_t(0));

    // The string send asks for the next string until it is left.
    host.records.all.clear();
    QList<StringSendRequest> asks {{QStringLiteral("one"), QStringLiteral("0"), true},
                                   {QStringLiteral("two"), QStringLiteral("0"), false}};
    StringSendJob(host, [&]() -> std::optional<StringSendRequest> {
        if (asks.isEmpty())
            return std::nullopt;
        return asks.takeFirst();
    }).run();
    QCOMPARE(m_pty->read(7), QByteArray("one\rtwo"));
    QCOMPARE(host.records.bytes(TrafficKind::Sent), QByteArray("one\rtwo"));
    QCOMPARE(host.status.last(), QStringLiteral("未連線"));
    QCOMPARE(SerialPort::openCount(), 0);
}

void TestSessions::r2kSessionOnItsOwn()
{
    TestHost host(m_pty->slavePath());
    auto log = std::make_shared<KeyLog>();
    KeyInjection::setFactory([log] {
        return KeyInjection::Opened {std::make_unique<RecordingInjector>(log), {}, {}, {}};
    });
    ModeScript script;
    script.then([&] { m_pty->write("Hi"); })
            .waitFor([&] { return log->events.contains(QStringLiteral("+49")); }, "the keys")
            .then([] { ModeState::BreakRequested = 1; });
    script.start();
    R2KSession(host).run();
    KeyInjection::setFactory({});
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    // Shift, H, then i: typed in the order they came.
    QCOMPARE(log->events.first(), QStringLiteral("+10"));
    QVERIFY(log->events.indexOf(QStringLiteral("+48"))
            < log->events.indexOf(QStringLiteral("+49")));
    QCOMPARE(host.records.bytes(TrafficKind::Received), QByteArray("Hi"));
    QVERIFY(host.shown.contains(QStringLiteral("R 2 K")));
}

namespace {

ScriptWindow *scriptWindow() { return Form1->scriptWindow(); }

// 執行 in the script window; returns when the script's mode has ended.
void runScript(const QString &source)
{
    scriptWindow()->editor()->setPlainText(source);
    scriptWindow()->findChild<QPushButton *>(QStringLiteral("ScriptRunButton"))->click();
}

} // namespace

void TestSessions::scriptFromTheWindow()
{
    const TForm1Controls &ui = TForm1Controls(Form1);
    ui.LocalNameEdit->setText(QStringLiteral("PC"));
    ui.RemoteNameEdit->setText(QStringLiteral("數據機"));
    Form1->ScriptModeMenuBarClick();
    QVERIFY(scriptWindow()->isVisible());
    QVERIFY(!scriptWindow()->isModal());
    QByteArray heard;
    ModeScript device;
    device.waitFor(
                  [&] {
                      heard += m_pty->readAvailable();
                      return heard == "ATI\r";
                  },
                  "the query")
            .then([&] {
                QCOMPARE(Form1->statusPanel(2), QStringLiteral("腳本模式(已啟動執行)...."));
                QVERIFY(!ui.ReceiveButton->isEnabled());
                m_pty->write("TELVIX-SIM\r\nOK\r\n");
            });
    device.start();
    runScript(QStringLiteral("send('ATI\\r')\n"
                             "local _, model = expect_match('(%u[%u%-]+)\\r\\n', 2000)\n"
                             "print('model', model)\n"
                             "log('model ' .. tostring(model))\n"
                             "if expect('OK', 2000) then pass(model) else fail('no OK') end\n"));
    QVERIFY2(device.failure().isEmpty(), qPrintable(device.failure()));
    // The script's end ended the mode: the port is given back.
    QCOMPARE(scriptWindow()->resultText(), QStringLiteral("通過 : TELVIX-SIM"));
    QCOMPARE(scriptWindow()->output(), QStringLiteral("model\tTELVIX-SIM"));
    QCOMPARE(SerialPort::openCount(), 0);
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("未連線"));
    QVERIFY(ui.ReceiveButton->isEnabled());
    // Labelled as a conversation, each block under its sender's name.
    const QString shown = memoText();
    QVERIFY2(shown.startsWith(QStringLiteral("\nPC : ATI")), qPrintable(shown));
    QVERIFY2(shown.contains(QStringLiteral("\n數據機 : ")), qPrintable(shown));
    QVERIFY(shown.contains(QStringLiteral("TELVIX-SIM")));

    // The capture, and the log written from it, hold the traffic and the script's event.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("script.log"));
    QString error;
    QVERIFY2(CaptureExport::save(Form1->capture(), CaptureExport::Format::Log, {}, path, &error),
             qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString log = QString::fromUtf8(file.readAll());
    const qsizetype tx = log.indexOf(QStringLiteral("\tTX\t"));
    const qsizetype rx = log.indexOf(QStringLiteral("\tRX\t"));
    const qsizetype event = log.indexOf(QStringLiteral("model TELVIX-SIM"));
    QVERIFY2(tx >= 0 && tx < rx && rx < event, qPrintable(log));
}

void TestSessions::scriptResultInTheWindow_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("portThere");
    QTest::addColumn<QString>("result"); // its start
    QTest::addColumn<int>("markedLine");
    QTest::newRow("pass") << "pass('fine')" << true << "通過 : fine" << 0;
    QTest::newRow("fail") << "fail('unit 7 silent')" << true << "失敗 : unit 7 silent" << 0;
    QTest::newRow("run-time error") << "local t = nil\n\nprint(t.x)" << true << "錯誤 : 腳本:3:" << 3;
    QTest::newRow("syntax error") << "send('x'\nx = = 1" << true << "錯誤 : 腳本:2:" << 2;
    QTest::newRow("refused line call") << "line.brk(-1)" << true << "錯誤 : 腳本:1:" << 1;
    QTest::newRow("no port") << "pass()" << false << "未執行 : 無法開啟埠" << 0;
}

void TestSessions::scriptResultInTheWindow()
{
    QFETCH(QString, source);
    QFETCH(bool, portThere);
    QFETCH(QString, result);
    QFETCH(int, markedLine);
    MessageRecorder boxes;
    if (!portThere)
        PortSettings::DevicePathText = PortSettings::PortNameText =
                QStringLiteral("/dev/telvix-no-such-port");
    runScript(source);
    QVERIFY2(scriptWindow()->resultText().startsWith(result),
             qPrintable(scriptWindow()->resultText()));
    QCOMPARE(scriptWindow()->editor()->markedLine(), markedLine);
    // The port's own failure message, as every mode's start gives it.
    QCOMPARE(boxes.texts(MessageBoxes::Kind::Plain).size(), portThere ? 0 : 1);
    QCOMPARE(SerialPort::openCount(), 0);
    QCOMPARE(ModeState::ScriptModeActive, uint8_t(0));
    // An edit makes the mark a guess: it goes.
    scriptWindow()->editor()->appendPlainText(QStringLiteral("-- mended"));
    QCOMPARE(scriptWindow()->editor()->markedLine(), 0);
}

void TestSessions::scriptFiles()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("login.lua"));
    scriptWindow()->editor()->setPlainText(QStringLiteral("print('登入')"));
    QVERIFY(scriptWindow()->saveFile(path));
    QCOMPARE(scriptWindow()->scriptName(), QStringLiteral("login.lua"));
    QVERIFY(!scriptWindow()->isWindowModified());
    scriptWindow()->editor()->setPlainText(QString());
    QVERIFY(scriptWindow()->openFile(path));
    QCOMPARE(scriptWindow()->source(), QStringLiteral("print('登入')").toUtf8());
    // A file that is no UTF-8 text would come back from the editor changed: not taken.
    const QString latin = dir.filePath(QStringLiteral("latin1.lua"));
    {
        QFile f(latin);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("print('\xe9t\xe9')");
    }
    MessageRecorder boxes;
    QVERIFY(!scriptWindow()->openFile(latin));
    QCOMPARE(boxes.shown.size(), 1);
    QCOMPARE(scriptWindow()->scriptName(), QStringLiteral("login.lua"));
    QVERIFY(!scriptWindow()->saveFile(dir.filePath(QStringLiteral("no/such/folder/x.lua"))));
}

QTEST_MAIN(TestSessions)
#include "tst_sessions.moc"
