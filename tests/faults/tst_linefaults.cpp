// SPDX-License-Identifier: MIT
// Faults of the line and of the file being sent, driven through the main window on real
// pseudo-terminals: the device hangs up in the middle of every mode, stops reading while a
// send goes out under RTS/CTS, and a file can no longer be read half-way through its send.
#include "FaultSupport.h"
#include "GuiHelpers.h"
#include "Pty.h"

#include "../modes/RecordingInjector.h"
#include "../send/SendTestSupport.h"

#include "traffic/DisplayFormatter.h"
#include "session/ModeState.h"
#include "main/Telvixmain1.h"
#include "main/TrafficView.h"
#include "modes/KeyInjection.h"
#include "send/FileByteStream.h"
#include "send/Telvixmain3.h"
#include "send/Telvixmain4.h"
#include "serial/SerialLine.h"
#include "TForm1Controls.h"
#include "TForm3Controls.h"
#include "TForm4Controls.h"
#include "serial/SerialPort.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

using MessageBoxes::Kind;

namespace {

// The display's text with the time taken out of its marks of the device going away.
QString unclocked(QString text)
{
    static const QRegularExpression clock(QStringLiteral("(— 裝置已移除) \\d\\d:\\d\\d:\\d\\d —"));
    return text.replace(clock, QStringLiteral("\\1 —"));
}

const QString Nl {QChar(DisplayFormatter::LineBreak)};

TForm1Controls ui() { return TForm1Controls(Form1); }

QString memoText() { return Form1->memo1()->toPlainText(); }

// Starts a reading mode from its tool button; returns once the mode has ended.
void startReadingMode(Mode mode)
{
    switch (mode) {
    case Mode::Receive:
        ui().ReceiveButton->click();
        break;
    case Mode::Terminal:
        ui().EnableTRModeButton->click();
        break;
    case Mode::R2K:
        ui().R2KModeButton->click();
        break;
    case Mode::FileSend:
    case Mode::Script:
    case Mode::Monitor:
    case Mode::PassThrough:
        qFatal("the mode is no reading mode these cases start");
    }
}

// Chooses `path` in the file dialog, answers the confirmation with the strings and delay and
// returns when the send is over.
void runFileSend(const QString &path, const QString &head, const QString &end, const QString &delay)
{
    answerDialog("QFileDialog", [=](QWidget *w) {
        answerDialog("TForm3", [=](QWidget *w) {
            const TForm3Controls &confirm = TForm3Controls(w);
            confirm.HeadStringEdit->setText(head);
            confirm.EndStringEdit->setText(end);
            confirm.IntercharDelayEdit->setText(delay);
            confirm.SendButton->click();
        });
        auto *dialog = static_cast<QFileDialog *>(w);
        dialog->selectFile(path);
        static_cast<QDialog *>(dialog)->accept();
    });
    ui().Send_FileContentButton->click();
}

// Answers the string dialog's next showing, from inside its exec().
void onStringDialog(std::function<void(const TForm4Controls &)> answer)
{
    answerDialog("TForm4", [answer](QWidget *w) { answer(TForm4Controls(w)); });
}

void sendFromDialog(const TForm4Controls &dialog, const QByteArray &text, const QString &delay, bool cr)
{
    dialog.Edit1->setText(QString::fromLatin1(text));
    dialog.DelayTimeEdit->setText(delay);
    dialog.CheckBox1->setChecked(cr);
    dialog.BitBtn1->click();
}

QString lineLostText(qsizetype sent, qsizetype total)
{
    return QStringLiteral("串列埠已無法寫入 (裝置可能已移除),只送出 %1 / %2 byte")
            .arg(sent)
            .arg(total);
}

QByteArray pattern(qsizetype size)
{
    QByteArray bytes;
    bytes.reserve(size);
    for (qsizetype i = 0; i < size; ++i)
        bytes += char((i * 31 + 7) & 0xFF);
    return bytes;
}

// Letters only, so that the display shows each byte as itself.
QByteArray letters(qsizetype size)
{
    QByteArray bytes;
    bytes.reserve(size);
    for (qsizetype i = 0; i < size; ++i)
        bytes += char('a' + i % 26);
    return bytes;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(content);
    return path;
}

// Everything the device end holds, until nothing more comes for `quietMs`.
QByteArray drain(Pty &pty, int quietMs = 200) { return pty.read(INT_MAX, quietMs); }

// The number of file bytes a summary reports.
qint64 sentInSummary(const QString &summary)
{
    return summary.section(u'\n', 2, 2).section(QStringLiteral(" : "), 1).toLongLong();
}

// Counts the timer ticks the event loop delivers, and how many came since mark().
class Ticker
{
public:
    Ticker()
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { ++m_ticks; });
        m_timer.start();
    }
    void mark() { m_marked = m_ticks; }
    int sinceMark() const { return m_ticks - m_marked; }

private:
    QTimer m_timer;
    int m_ticks = 0;
    int m_marked = 0;
};

// Tells when a value has stopped changing for `quietMs`: the sign of a send that waits.
class Standstill
{
public:
    explicit Standstill(int quietMs) : m_quietMs(quietMs) { }
    // True once `value` has stayed the same for the whole quiet time; `changed` runs each time
    // it moves on.
    bool still(qint64 value, const std::function<void()> &changed = {})
    {
        if (!m_clock.isValid() || value != m_last) {
            m_last = value;
            m_clock.start();
            if (changed)
                changed();
            return false;
        }
        return m_clock.elapsed() >= m_quietMs;
    }

private:
    int m_quietMs;
    qint64 m_last = -1;
    QElapsedTimer m_clock;
};

// A read of the file that fails as a dying medium does: the bytes up to `failAt`, then errors.
struct ReadFault
{
    qint64 failAt = -1; // -1: never fails
    int error = EIO;
    qint64 interruptAt = -1; // one EINTR when this many bytes have been read
    qint64 delivered = 0;
};
ReadFault fault;

ssize_t faultyRead(int fd, void *buffer, size_t count)
{
    if (fault.interruptAt >= 0 && fault.delivered >= fault.interruptAt) {
        fault.interruptAt = -1;
        errno = EINTR;
        return -1;
    }
    if (fault.failAt >= 0 && fault.delivered >= fault.failAt) {
        errno = fault.error;
        return -1;
    }
    size_t want = count;
    if (fault.failAt >= 0)
        want = std::min(want, size_t(fault.failAt - fault.delivered));
    if (fault.interruptAt >= 0)
        want = std::min(want, size_t(fault.interruptAt - fault.delivered));
    const ssize_t n = ::read(fd, buffer, want);
    if (n > 0)
        fault.delivered += n;
    return n;
}

} // namespace

class TestLineFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cleanupTestCase() { tearDownForms(); }

    void hangUpInReadingMode_data();
    void hangUpInReadingMode();
    void terminalSendOnHungUpLine_data();
    void terminalSendOnHungUpLine();
    void hangUpInFileSend_data();
    void hangUpInFileSend();
    void hangUpInStringSend_data();
    void hangUpInStringSend();
    void stalledFileSend();
    void stalledTerminalSend();
    void stalledStringSend_data();
    void stalledStringSend();
    void streamRemembersReadError();
    void unreadableFileHalfWay_data();
    void unreadableFileHalfWay();

private:
    std::shared_ptr<KeyLog> m_log;
    QTemporaryDir m_dir;
};

void TestLineFaults::init()
{
    freshStart();
    QVERIFY(m_dir.isValid());
    m_log = std::make_shared<KeyLog>();
    std::shared_ptr<KeyLog> log = m_log;
    KeyInjection::setFactory([log] {
        KeyInjection::Opened opened;
        opened.injector = std::make_unique<RecordingInjector>(log);
        return opened;
    });
    fault = ReadFault {};
}

void TestLineFaults::cleanup()
{
    KeyInjection::setFactory({});
    FileByteStream::readCall = ::read;
}

void TestLineFaults::hangUpInReadingMode_data()
{
    QTest::addColumn<int>("modeNumber");
    QTest::newRow("receive") << int(Mode::Receive);
    QTest::newRow("terminal") << int(Mode::Terminal);
    QTest::newRow("R2K") << int(Mode::R2K);
}

void TestLineFaults::hangUpInReadingMode()
{
    QFETCH(int, modeNumber);
    const Mode mode = Mode(modeNumber);
    Pty pty;
    const QString slave = pty.slavePath();
    usePort(slave);
    // "bye" is six key events in R2K mode, "ok" four.
    const auto arrived = [&](const char *text) {
        if (mode == Mode::R2K)
            return m_log->events.size() >= 2 * qsizetype(strlen(text));
        return memoText().endsWith(QLatin1String(text));
    };
    int heldBefore = 0;
    uint8_t activeAfter = 0;
    double share = -1;
    CpuShare cpu;
    ModeScript script;
    script.then([&] { QVERIFY(pty.write("bye")); })
            .waitFor([&] { return arrived("bye"); }, QStringLiteral("bytes before the hang-up"))
            .then([&] {
                heldBefore = descriptorsOn(slave);
                pty.hangUp();
            });
    pauseFor(script, 100); // the loop has seen the hang-up by now
    script.then([&] { cpu.start(); });
    pauseFor(script, 1000);
    script.then([&] {
              share = cpu.share();
              activeAfter = *ModeTable::column(mode).activeFlag;
          }).then([] { ui().BreakButton->click(); });
    script.start();
    startReadingMode(mode);
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QCOMPARE(heldBefore, 1);
    // The mode waits for Break as on a silent line, without a core kept busy meanwhile.
    QCOMPARE(activeAfter, uint8_t(1));
    QVERIFY2(share >= 0 && share < 0.5, qPrintable(QString::number(share)));
    verifyWindowIdle(mode);
    QCOMPARE(descriptorsOn(slave), 0);
    // The hang-up is marked in the display, on a line of its own.
    if (mode == Mode::Receive)
        QCOMPARE(unclocked(memoText()), QStringLiteral("bye\n— 裝置已移除 —\n"));
    else if (mode == Mode::Terminal)
        QCOMPARE(unclocked(memoText()), Nl + QStringLiteral("設備回應 : bye\n— 裝置已移除 —\n"));
    else
        QCOMPARE(m_log->events.size(), 6);

    // Nothing of the dead line stays behind: the mode runs on the next device at once.
    Pty next;
    usePort(next.slavePath());
    m_log->events.clear();
    ModeScript again;
    again.then([&] { QVERIFY(next.write("ok")); })
            .waitFor([&] { return arrived("ok"); }, QStringLiteral("bytes on the next device"))
            .then([] { ui().BreakButton->click(); });
    again.start();
    startReadingMode(mode);
    QVERIFY2(again.failure().isEmpty(), qPrintable(again.failure()));
    verifyWindowIdle(mode);
}

void TestLineFaults::terminalSendOnHungUpLine_data()
{
    QTest::addColumn<bool>("midSend");
    QTest::newRow("before the send") << false;
    QTest::newRow("in the middle of a paced send") << true;
}

void TestLineFaults::terminalSendOnHungUpLine()
{
    QFETCH(bool, midSend);
    Pty pty;
    const QString slave = pty.slavePath();
    usePort(slave);
    const QString text = midSend ? QStringLiteral("ABCDEFGH") : QStringLiteral("AT");
    MessageRecorder boxes;
    QString typedAfter;
    uint8_t activeAfter = 0;
    uint8_t sendingAfter = 1;
    // A paced send keeps events back until the message is out, so the device end runs on a
    // thread of its own: it takes the first byte and goes.
    QByteArray got;
    std::thread device;
    ModeScript script;
    if (midSend) {
        script.then([] {
                  ui().TRMode_Char_DelayTime_Edit->setText(QStringLiteral("1000"));
              }).then([&] {
            device = std::thread([&] {
                got = pty.read(1, 10000);
                pty.hangUp();
            });
        });
    } else {
        script.then([&] { pty.hangUp(); });
        pauseFor(script, 100);
    }
    script.then([&] { ui().Memo2->setPlainText(text); })
            .then([] { ui().SendEchoMessageButton->click(); })
            .then([&] {
                typedAfter = ui().Memo2->toPlainText();
                activeAfter = ModeState::TRModeActive;
                sendingAfter = ModeState::SendActive;
            })
            .then([] { ui().BreakButton->click(); });
    script.start();
    startReadingMode(Mode::Terminal);
    if (device.joinable())
        device.join();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    // The user is told how much went out, and keeps the text for another try.
    const qsizetype sent = midSend ? 1 : 0;
    QCOMPARE(got, midSend ? QByteArray("A") : QByteArray());
    QCOMPARE(boxes.texts(Kind::Plain), QStringList {lineLostText(sent, text.size())});
    QCOMPARE(unclocked(memoText()).remove(QStringLiteral("— 裝置已移除 —\n")),
             Nl + QStringLiteral("主機傳送 : ") + text.left(sent));
    QCOMPARE(typedAfter, text);
    QCOMPARE(activeAfter, uint8_t(1));
    QCOMPARE(sendingAfter, uint8_t(0));
    verifyWindowIdle(Mode::Terminal);
    QCOMPARE(descriptorsOn(slave), 0);
}

void TestLineFaults::hangUpInFileSend_data()
{
    QTest::addColumn<QString>("delay");
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<int>("hangUpAfter");
    // With a long pause the hang-up comes while the send waits, and the count is exact.
    QTest::newRow("paced") << "1200" << 8 << 1;
    QTest::newRow("no pause") << "0" << 4 * 1024 * 1024 << 50000;
}

void TestLineFaults::hangUpInFileSend()
{
    QFETCH(QString, delay);
    QFETCH(int, fileSize);
    QFETCH(int, hangUpAfter);
    const bool paced = delay != u"0";
    Pty pty;
    const QString slave = pty.slavePath();
    usePort(slave);
    const QByteArray content = pattern(fileSize);
    const QString path = writeFile(m_dir, QStringLiteral("hangup.bin"), content);
    QByteArray got;
    bool hungUp = false;
    int heldAtHangUp = 0;
    CpuShare cpu;
    double share = -1;
    MessageRecorder boxes;
    boxes.onShown = [&](const MessageBoxes::Shown &s) {
        if (s.text.startsWith(QStringLiteral("檔案名稱")))
            share = cpu.share();
    };
    QTimer device;
    device.setInterval(1);
    QObject::connect(&device, &QTimer::timeout, [&] {
        got += pty.readAvailable();
        if (got.size() < hangUpAfter)
            return;
        device.stop();
        heldAtHangUp = descriptorsOn(slave);
        pty.hangUp();
        hungUp = true;
        cpu.start();
    });
    device.start();
    runFileSend(path, QString(), QStringLiteral("END"), delay);
    device.stop();
    QVERIFY(hungUp);
    QCOMPARE(heldAtHangUp, 1);
    QVERIFY(boxes.texts(Kind::Beep).isEmpty());
    const QStringList texts = boxes.texts(Kind::Plain);
    QCOMPARE(texts.size(), 1);
    const qint64 sent = sentInSummary(texts.constFirst());
    QCOMPARE(texts.constFirst(), fileSummaryText(path, fileSize, sent, true));
    QVERIFY(got == content.left(got.size()));
    if (paced) {
        // Only the byte the device took before it went: the next one found the line gone.
        QCOMPARE(sent, qint64(got.size()));
        // The rest of the pause after the hang-up was waited out, not spun through.
        QVERIFY2(share >= 0 && share < 0.5, qPrintable(QString::number(share)));
    } else {
        QVERIFY2(sent >= got.size() && sent < fileSize, qPrintable(QString::number(sent)));
    }
    verifyWindowIdle(Mode::FileSend);
    QCOMPARE(descriptorsOn(slave), 0);
}

void TestLineFaults::hangUpInStringSend_data()
{
    QTest::addColumn<bool>("whileWaiting");
    QTest::newRow("while the dialog waits") << true;
    QTest::newRow("during a paced string") << false;
}

void TestLineFaults::hangUpInStringSend()
{
    QFETCH(bool, whileWaiting);
    Pty pty;
    const QString slave = pty.slavePath();
    usePort(slave);
    MessageRecorder boxes;
    CpuShare cpu;
    double share = -1;
    bool hungUp = false;
    int heldAtHangUp = 0;
    int showings = 0;
    QByteArray got;
    const auto hangUp = [&] {
        heldAtHangUp = descriptorsOn(slave);
        pty.hangUp();
        hungUp = true;
        cpu.start();
    };
    const auto leaveNext = [&] {
        onStringDialog([&](const TForm4Controls &dialog) {
            ++showings;
            dialog.BitBtn2->click();
        });
    };
    QTimer device;
    device.setInterval(1);
    if (whileWaiting) {
        onStringDialog([&](const TForm4Controls &dialog) {
            ++showings;
            hangUp();
            // A second of the dialog waiting on the dead line, then a send on it.
            QTimer::singleShot(1000, [&, d = dialog] {
                share = cpu.share();
                leaveNext();
                sendFromDialog(d, "AB", QStringLiteral("0"), true);
            });
        });
    } else {
        boxes.onShown = [&](const MessageBoxes::Shown &) { share = cpu.share(); };
        QObject::connect(&device, &QTimer::timeout, [&] {
            got += pty.readAvailable();
            if (got.isEmpty())
                return;
            device.stop();
            hangUp();
        });
        onStringDialog([&](const TForm4Controls &dialog) {
            ++showings;
            leaveNext();
            device.start();
            sendFromDialog(dialog, "0123456789", QStringLiteral("1200"), false);
        });
    }
    ui().Send_UserStringButton->click();
    device.stop();
    QVERIFY(hungUp);
    QCOMPARE(heldAtHangUp, 1);
    // The dialog came back after the failed send, and leaving it ended the send.
    QCOMPARE(showings, 2);
    QCOMPARE(boxes.texts(Kind::Plain),
             QStringList {whileWaiting ? lineLostText(0, 2) : lineLostText(1, 10)});
    if (!whileWaiting)
        QCOMPARE(got, QByteArray("0"));
    QVERIFY2(share >= 0 && share < 0.5, qPrintable(QString::number(share)));
    verifyWindowIdle(Mode::FileSend);
    QCOMPARE(descriptorsOn(slave), 0);
}

void TestLineFaults::stalledFileSend()
{
    Pty pty;
    const QString slave = pty.slavePath();
    QVERIFY(presetHardwareFlow(slave));
    usePort(slave);
    const int size = 256 * 1024; // far more than the line buffers
    const QByteArray content = pattern(size);
    const QString path = writeFile(m_dir, QStringLiteral("stall.bin"), content);
    Ticker ticker;
    Standstill standstill(300);
    QString panelInStall;
    int ticksInStall = -1;
    bool flowInForce = false;
    bool breakPosted = false;
    // The device never reads; once the progress has stood still a while, Break is posted.
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (ModeState::SendActive == 0 || breakPosted)
            return;
        const QString panel = Form1->statusPanel(2);
        if (!panel.contains(QStringLiteral("..")))
            return;
        if (!standstill.still(qint64(qHash(panel)), [&] { ticker.mark(); }))
            return;
        panelInStall = panel;
        ticksInStall = ticker.sinceMark();
        serial::LineConfig config;
        flowInForce = serial::readConfig(SerialPort::openPorts().front()->descriptor(), config) && config.hardwareFlow;
        breakPosted = true;
        QMetaObject::invokeMethod(ui().BreakButton, "click", Qt::QueuedConnection);
    });
    watch.start();
    QByteArray got;
    MessageRecorder boxes;
    // The summary comes up while the port is still held: the device takes what went out.
    boxes.onShown = [&](const MessageBoxes::Shown &s) {
        if (s.text.startsWith(QStringLiteral("檔案名稱")))
            got = drain(pty);
    };
    runFileSend(path, QStringLiteral("H"), QStringLiteral("E"), QStringLiteral("0"));
    watch.stop();
    QVERIFY(breakPosted);
    QVERIFY(flowInForce);
    // Events ran all through the stall, every few tens of milliseconds.
    QVERIFY2(ticksInStall >= 3, qPrintable(QString::number(ticksInStall)));
    QVERIFY(got.startsWith('H'));
    const qint64 sent = got.size() - 1;
    QVERIFY2(sent > 0 && sent < size, qPrintable(QString::number(sent)));
    QVERIFY(got.mid(1) == content.left(sent)); // no end string after a Break
    QCOMPARE(boxes.texts(Kind::Plain), QStringList {fileSummaryText(path, size, sent, true)});
    // While stalled the status bar showed the true progress.
    QCOMPARE(panelInStall, QStringLiteral("傳送(檔案內容)..%1/%2").arg(sent - 1).arg(size));
    verifyWindowIdle(Mode::FileSend);
    QCOMPARE(descriptorsOn(slave), 0);
}

void TestLineFaults::stalledTerminalSend()
{
    Pty pty;
    const QString slave = pty.slavePath();
    QVERIFY(presetHardwareFlow(slave));
    usePort(slave);
    const QByteArray text = letters(30000);
    MessageRecorder boxes;
    Ticker ticker;
    Standstill standstill(300);
    int ticksInStall = -1;
    uint8_t sendingInStall = 0;
    ModeScript script;
    script.then([] { ui().TRMode_Char_DelayTime_Edit->setText(QStringLiteral("0")); })
            .then([&] { ui().Memo2->setPlainText(QString::fromLatin1(text)); })
            // Posted, so that the script goes on from inside the send's own event dispatch.
            .then([] {
                QMetaObject::invokeMethod(ui().SendEchoMessageButton, "click",
                                          Qt::QueuedConnection);
            })
            .waitFor([] { return ModeState::SendActive == 1; }, QStringLiteral("the send"))
            .waitFor([&] { return standstill.still(memoText().size(), [&] { ticker.mark(); }); },
                     QStringLiteral("the send to stall"), 20000)
            .then([&] {
                ticksInStall = ticker.sinceMark();
                sendingInStall = ModeState::SendActive;
                QMetaObject::invokeMethod(ui().BreakButton, "click", Qt::QueuedConnection);
            });
    script.start();
    startReadingMode(Mode::Terminal);
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QCOMPARE(sendingInStall, uint8_t(1));
    QVERIFY2(ticksInStall >= 3, qPrintable(QString::number(ticksInStall)));
    // The driver still holds what went out; the device end reads it after the close.
    const QByteArray got = drain(pty);
    QVERIFY2(got.size() > 0 && got.size() < text.size(), qPrintable(QString::number(got.size())));
    QVERIFY(got == text.left(got.size()));
    // The display shows exactly the bytes that went out, and the text stays for another try.
    QCOMPARE(memoText(), Nl + QStringLiteral("主機傳送 : ") + QString::fromLatin1(got));
    QCOMPARE(ui().Memo2->toPlainText(), QString::fromLatin1(text));
    QVERIFY(boxes.shown.isEmpty()); // Break is the user's own stop
    verifyWindowIdle(Mode::Terminal);
    QCOMPARE(descriptorsOn(slave), 0);
}

void TestLineFaults::stalledStringSend_data()
{
    QTest::addColumn<bool>("deviceReadsAgain");
    QTest::newRow("the device reads again") << true;
    QTest::newRow("the device hangs up") << false;
}

void TestLineFaults::stalledStringSend()
{
    QFETCH(bool, deviceReadsAgain);
    Pty pty;
    const QString slave = pty.slavePath();
    QVERIFY(presetHardwareFlow(slave));
    usePort(slave);
    const QByteArray text = letters(25000);
    MessageRecorder boxes;
    Ticker ticker;
    Standstill standstill(300);
    int ticksInStall = -1;
    int showings = 0;
    int showingsInStall = -1;
    QByteArray gotBeforeHangUp;
    std::unique_ptr<LineCollector> reader;
    // The string send has no Break; what ends a stall is the device.
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        int pending = 0;
        ioctl(pty.masterFd(), FIONREAD, &pending);
        if (pending == 0 || !standstill.still(pending, [&] { ticker.mark(); }))
            return;
        watch.stop();
        ticksInStall = ticker.sinceMark();
        showingsInStall = showings;
        if (deviceReadsAgain) {
            reader = std::make_unique<LineCollector>(pty.masterFd());
        } else {
            // The send waits inside this handler, so what is drained is all it wrote.
            gotBeforeHangUp = drain(pty, 100);
            pty.hangUp();
        }
    });
    onStringDialog([&](const TForm4Controls &dialog) {
        ++showings;
        onStringDialog([&](const TForm4Controls &again) {
            ++showings;
            again.BitBtn2->click();
        });
        watch.start();
        sendFromDialog(dialog, text, QStringLiteral("0"), true);
    });
    ui().Send_UserStringButton->click();
    watch.stop();
    QCOMPARE(showingsInStall, 1); // stalled inside the send, not back in the dialog
    QVERIFY2(ticksInStall >= 3, qPrintable(QString::number(ticksInStall)));
    QCOMPARE(showings, 2);
    if (deviceReadsAgain) {
        QVERIFY(reader);
        QVERIFY(reader->waitForCount(text.size() + 1));
        reader->settle(50);
        QVERIFY(reader->bytes() == text + '\r');
        QVERIFY(boxes.shown.isEmpty());
    } else {
        QVERIFY(gotBeforeHangUp.size() > 0 && gotBeforeHangUp.size() < text.size());
        QVERIFY(gotBeforeHangUp == text.left(gotBeforeHangUp.size()));
        QCOMPARE(boxes.texts(Kind::Plain),
                 QStringList {lineLostText(gotBeforeHangUp.size(), text.size())});
    }
    reader.reset();
    verifyWindowIdle(Mode::FileSend);
    QCOMPARE(descriptorsOn(slave), 0);
}

void TestLineFaults::streamRemembersReadError()
{
    const QByteArray content = pattern(1000);
    const QString path = writeFile(m_dir, QStringLiteral("stream.bin"), content);
    const auto readAll = [](FileByteStream &stream) {
        QByteArray got;
        for (int b = stream.next(); b >= 0; b = stream.next())
            got += char(b);
        return got;
    };
    FileByteStream stream;
    QVERIFY(stream.open(path));
    QCOMPARE(readAll(stream), content);
    QVERIFY(!stream.failed()); // the end of a file is no failure

    FileByteStream::readCall = faultyRead;
    fault = ReadFault {600, EIO, -1, 0};
    QVERIFY(stream.open(path));
    QCOMPARE(readAll(stream), content.left(600));
    QVERIFY(stream.failed());
    QCOMPARE(stream.error(), EIO);
    // Should the medium answer again, nothing after the gap is taken.
    fault.failAt = -1;
    QCOMPARE(stream.next(), -1);
    QVERIFY(stream.failed());
    // Opened again, the stream starts afresh.
    QVERIFY(stream.open(path));
    QVERIFY(!stream.failed());
    QCOMPARE(readAll(stream), content);

    // A source that has nothing yet is waited for, not taken for the end; giving up the wait
    // (Break) ends it without a read error.
    fault = ReadFault {0, EAGAIN, -1, 0};
    QVERIFY(stream.open(path));
    int waits = 0;
    stream.setWaitHook([&waits] { return ++waits < 3; });
    QCOMPARE(stream.next(), -1);
    QCOMPARE(waits, 3);
    QVERIFY(stream.stopped());
    QVERIFY(!stream.failed());
    stream.setWaitHook({});
}

void TestLineFaults::unreadableFileHalfWay_data()
{
    QTest::addColumn<qint64>("failAt");
    QTest::addColumn<qint64>("interruptAt");
    QTest::addColumn<qint64>("expectedSent");
    QTest::addColumn<bool>("complete");
    QTest::newRow("I/O error before the first byte")
            << qint64(0) << qint64(-1) << qint64(0) << false;
    // Past the first buffer, so that the failing read is a refill in mid-send.
    QTest::newRow("I/O error half-way") << qint64(100000) << qint64(-1) << qint64(100000) << false;
    QTest::newRow("a signal half-way loses nothing")
            << qint64(-1) << qint64(100000) << qint64(200000) << true;
}

void TestLineFaults::unreadableFileHalfWay()
{
    QFETCH(qint64, failAt);
    QFETCH(qint64, interruptAt);
    QFETCH(qint64, expectedSent);
    QFETCH(bool, complete);
    Pty pty;
    LineCollector line(pty.masterFd());
    usePort(pty.slavePath());
    const QByteArray content = pattern(200000);
    const QString path = writeFile(m_dir, QStringLiteral("unreadable.bin"), content);
    fault = ReadFault {failAt, EIO, interruptAt, 0};
    FileByteStream::readCall = faultyRead;
    MessageRecorder boxes;
    runFileSend(path, QStringLiteral("H"), QStringLiteral("E"), QStringLiteral("0"));
    const QByteArray expected = 'H' + content.left(expectedSent) + (complete ? "E" : "");
    QVERIFY(line.waitForCount(expected.size()));
    line.settle(50);
    QCOMPARE(line.count(), expected.size());
    QVERIFY(line.bytes() == expected);
    QVERIFY(boxes.texts(Kind::Beep).isEmpty());
    QCOMPARE(boxes.texts(Kind::Plain),
             QStringList {fileSummaryText(path, content.size(), expectedSent, !complete)});
    verifyWindowIdle(Mode::FileSend);
    QCOMPARE(descriptorsOn(pty.slavePath()), 0);
}

QTEST_MAIN(TestLineFaults)
#include "tst_linefaults.moc"
