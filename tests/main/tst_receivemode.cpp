// SPDX-License-Identifier: MIT
// Receive mode end to end: a real pseudo-terminal plays the device, the test drives the window
// through its menus and buttons while the mode runs.
#include "GuiHelpers.h"
#include "Pty.h"

#include "TForm1Controls.h"
#include "TForm6Controls.h"
#include "main/FindBar.h"
#include "main/Telvixmain1.h"
#include "main/TrafficView.h"
#include "serial/PortSettings.h"
#include "serial/SerialPort.h"
#include "session/ModeState.h"
#include "settings/Telvixmain6.h"
#include "traffic/DisplayFormatter.h"
#include "traffic/Traffic.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using MessageBoxes::Kind;

namespace {

const QString Nl {QChar(DisplayFormatter::LineBreak)};

QString memoText() { return Form1->memo1()->toPlainText(); }

double cpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
            + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

class TestReceiveMode : public QObject
{
    Q_OBJECT

private slots:
    void init() { freshStart(); }
    void cleanupTestCase() { tearDownForms(); }

    void showsBytesInBothForms();
    void clearAndHexSwitchMidStream();
    void everyByteValueInOrder();
    void outputGoesToTheCaret();
    void lookDuringModeAndRestore();
    void missingPortChangesNothing();
    void hangUpLeavesModeIdleUntilBreak();
    void restartsAfterBreak();
    void breakKeepsWhatWasRead();
    void pairWaitsAcrossModes();
    void flawedBytesShownMarked();
    void modbusFramesALine();
    void memoryShortageSaidOnceWhileReceiving();
    void memoryLimitOfTheSettings();
    void bytesArriveInFullDuringASearch();
    void passesFollowTheScreenNotTheReads();
};

// A search through a long display for what is not there runs between the reads: the bytes
// that arrive meanwhile are shown, every one, while it goes on.
void TestReceiveMode::bytesArriveInFullDuringASearch()
{
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    TrafficView *memo = Form1->memo1();
    auto *bar = Form1->findChild<FindBar *>(QStringLiteral("FindBar"));
    QByteArray payload;
    for (int i = 0; i < 4000; ++i)
        payload += char('a' + i % 26);
    const QString long_ = QString(8 * FindBar::SliceCharacters, u'-');
    bool shownWhileSearching = false;
    connect(memo, &TrafficView::textChanged, this,
            [&] { shownWhileSearching = shownWhileSearching || bar->searching(); });
    ModeScript script;
    script.then([&] { memo->insertAtCaret(long_); })
            .then([&] {
                bar->open();
                pty.write(payload);
                QTest::keyClicks(bar->findChild<QLineEdit *>(QStringLiteral("FindEdit")),
                                 QStringLiteral("zz"));
                QVERIFY(bar->searching());
            })
            .waitFor([&] { return !bar->searching(); }, "the search's end", 20000)
            .waitFor([&] { return memo->text().lineLength(0) == long_.size() + payload.size(); },
                     "every byte")
            .then([&] {
                QCOMPARE(memo->text().lineText(0, long_.size(), long_.size() + payload.size()),
                         QString::fromLatin1(payload));
            })
            .then([] { TForm1Controls(Form1).BreakButton->click(); });
    script.start();
    TForm1Controls(Form1).ReceiveButton->click();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QCOMPARE(bar->statusText(), QStringLiteral("找不到"));
    QVERIFY(shownWhileSearching);
}

// Short of memory, the window says so once in a panel of its own, the documented panels stay,
// and every byte still arrives on the display.
void TestReceiveMode::memoryShortageSaidOnceWhileReceiving()
{
    // The readings are the test's own: the machine's would end the shortage at once.
    Form1->findChild<QTimer *>(QStringLiteral("MemoryTimer"))->stop();
    auto *panel = Form1->findChild<QLabel *>(QStringLiteral("StatusPanel4"));
    QVERIFY(panel && panel->isHidden());
    QStatusBar *bar = TForm1Controls(Form1).StatusBar1;
    const auto documentedPanelsShown = [bar] {
        for (int i = 0; i < 3; ++i) {
            auto *p = bar->findChild<QLabel *>(QStringLiteral("StatusPanel%1").arg(i));
            if (!p || !p->isVisibleTo(bar))
                return false;
        }
        return true;
    };
    QStringList said;
    connect(bar, &QStatusBar::messageChanged, this, [&](const QString &m) {
        if (!m.isEmpty())
            said << m;
    });
    int shown = 0;
    const auto countShown = [&] { shown += panel->isHidden() ? 0 : 1; };
    MemoryReading low;
    low.totalKb = 8 << 20;
    low.availableKb = 400 << 10; // under 5 %
    low.ownKb = 1 << 20;
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    ModeScript script;
    script.then([&] { pty.write("ab"); })
            .waitFor([] { return memoText() == "ab"; }, "bytes before")
            .then([&] {
                for (int i = 0; i < 3; ++i) {
                    const bool before = !panel->isHidden();
                    Form1->checkMemory(low);
                    if (!before)
                        countShown();
                }
            })
            .then([&] { QVERIFY(documentedPanelsShown()); })
            .then([&] { pty.write("cd"); })
            .waitFor([] { return memoText() == "abcd"; }, "bytes after the shortage")
            .then([] { TForm1Controls(Form1).BreakButton->click(); });
    script.start();
    TForm1Controls(Form1).ReceiveButton->click();
    QVERIFY2(script.finished() && script.failure().isEmpty(), qPrintable(script.failure()));
    QCOMPARE(shown, 1);
    QVERIFY2(said.isEmpty(), qPrintable(said.join(u'|')));
    QCOMPARE(panel->text(), QStringLiteral("記憶體不足"));
    QVERIFY2(panel->toolTip().contains(QStringLiteral("4%")), qPrintable(panel->toolTip()));
    QVERIFY(panel->toolTip().contains(QStringLiteral("開始記錄到檔案")));
    QVERIFY(panel->accessibleDescription().contains(QStringLiteral("4%")));
    QVERIFY(documentedPanelsShown());
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("未連線"));
    // The capture kept everything too.
    QCOMPARE(Form1->capture().receivedBytes(), 4);
    // A brief message of the bar gives the panels back when it goes.
    bar->showMessage(QStringLiteral("brief"), 50);
    QTRY_VERIFY(bar->currentMessage().isEmpty());
    QVERIFY(documentedPanelsShown());
    QVERIFY(!panel->isHidden());
    // Plenty again: the panel goes; a new shortage is shown anew.
    MemoryReading plenty = low;
    plenty.availableKb = 4 << 20;
    Form1->checkMemory(plenty);
    QVERIFY(panel->isHidden());
    Form1->checkMemory(low);
    QVERIFY(!panel->isHidden());
    Form1->checkMemory(plenty);
}

// A limit set in the settings dialog is what the window's readings are held to; it starts
// where it means something, above what the window itself needs.
void TestReceiveMode::memoryLimitOfTheSettings()
{
    Form1->findChild<QTimer *>(QStringLiteral("MemoryTimer"))->stop();
    auto *panel = Form1->findChild<QLabel *>(QStringLiteral("StatusPanel4"));
    int minimum = 0;
    answerNextModal([&](QWidget *w) {
        const TForm6Controls &d = TForm6Controls(w);
        d.MemoryLimit_CheckBox->setChecked(true);
        minimum = d.MemoryLimitEdit->minimum();
        d.MemoryLimitEdit->setValue(minimum);
        d.BitBtn1->click();
    });
    TForm1Controls(Form1).MiscMenuBar->trigger();
    QCOMPARE(minimum, 256);
    MemoryReading reading;
    reading.totalKb = 8 << 20;
    reading.availableKb = 6 << 20;
    reading.ownKb = 200 << 10;
    Form1->checkMemory(reading);
    QVERIFY(panel->isHidden());
    reading.ownKb = 300 << 10;
    Form1->checkMemory(reading);
    QVERIFY(!panel->isHidden());
    QCOMPARE(panel->text(), QStringLiteral("記憶體超過上限"));
    QVERIFY2(panel->toolTip().contains(QStringLiteral("超過設定的 256 MB")),
             qPrintable(panel->toolTip()));
}

void TestReceiveMode::flawedBytesShownMarked()
{
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    ModeScript script;
    script.then([&] { pty.write("ab"); })
            .waitFor([] { return memoText() == "ab"; }, "sound bytes")
            .then([] {
                // As the port's reader publishes a byte that came with a framing error.
                Form1->traffic().publish({TrafficKind::Flawed, monotonicMicroseconds(), "x"});
                Form1->traffic().passEnd();
            })
            .then([&] { pty.write("c"); })
            .waitFor([] { return memoText() == "abxc"; }, "flawed byte among the others")
            .then([] { TForm1Controls(Form1).BreakButton->click(); });
    script.start();
    TForm1Controls(Form1).ReceiveButton->click();
    QVERIFY2(script.finished() && script.failure().isEmpty(), qPrintable(script.failure()));
    QCOMPARE(Form1->memo1()->text().markedRanges(0), (std::vector<MarkedRange> {{2, 3}}));
}

void TestReceiveMode::modbusFramesALine()
{
    // Chosen in the settings dialog: a frame a line, each with its time; a request and its
    // reply come glued in one read, the next has a check wrong by a bit and waits for the
    // line's silence to be shown, marked; noise is bytes, marked too.
    answerNextModal([](QWidget *w) {
        TForm6Controls(w).ModbusRtu_Radio->setChecked(true);
        TForm6Controls(w).BitBtn1->click();
    });
    TForm1Controls(Form1).MiscMenuBar->trigger();
    const QByteArray request = QByteArray::fromHex("01030000000AC5CD");
    const QByteArray reply = QByteArray::fromHex("010304000A000B9BF6");
    QByteArray wrong = request;
    wrong[7] = char(0xCC);
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    ModeScript script;
    script.then([&] { pty.write(request + reply); })
            .waitFor([] { return memoText().count(QStringLiteral("站號")) == 2; }, "two frames")
            .then([&] { pty.write(wrong); })
            .waitFor([] { return memoText().count(QStringLiteral("站號")) == 3; }, "the wrong one")
            .then([&] { pty.write(QByteArray::fromHex("FFFF")); })
            .waitFor([] { return memoText().contains(QStringLiteral("無法解析")); }, "noise")
            .then([] { TForm1Controls(Form1).BreakButton->click(); });
    script.start();
    TForm1Controls(Form1).ReceiveButton->click();
    QVERIFY2(script.finished() && script.failure().isEmpty(), qPrintable(script.failure()));
    QStringList lines = memoText().split(Nl, Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    for (QString &line : lines) {
        QVERIFY2(line.startsWith(u'[') && line[13] == u']', qPrintable(line));
        line = line.mid(15);
    }
    QCOMPARE(lines,
             (QStringList {
                     QStringLiteral(
                             "站號 01  03 讀取保持暫存器  要求 起始 0x0000 數量 10  CRC 正確"),
                     QStringLiteral(
                             "站號 01  03 讀取保持暫存器  回應 4 位元組 : 000A 000B  CRC 正確"),
                     QStringLiteral("站號 01  03 讀取保持暫存器  要求 起始 0x0000 數量 10  CRC "
                                    "錯誤 (應為 C5 CD)"),
                     QStringLiteral("無法解析 : FF FF")}));
    // The two faulty lines marked, their time stamps not.
    const TrafficText &text = Form1->memo1()->text();
    int markedLines = 0;
    for (qsizetype i = 0; i < text.lineCount(); ++i) {
        const std::vector<MarkedRange> marks = text.markedRanges(i);
        if (marks.empty())
            continue;
        ++markedLines;
        QCOMPARE(marks.size(), size_t(1));
        QCOMPARE(marks[0].from, qsizetype(15));
        QCOMPARE(marks[0].to, text.line(i).size());
    }
    QCOMPARE(markedLines, 2);
}

void TestReceiveMode::showsBytesInBothForms()
{
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    ModeScript script;
    script.then([&] { pty.write("Hi\r\n!"); })
            .waitFor([] { return memoText() == "Hi<CR>" + Nl + "<LF>!"; }, "ASCII text")
            .then([] { TForm1Controls(Form1).HexModeMenuBar->trigger(); })
            .then([&] { pty.write(QByteArray("A\r\x00", 3)); })
            .waitFor([] { return memoText() == "41 0D " + Nl + "00 "; }, "HEX text")
            .then([] { TForm1Controls(Form1).BreakButton->click(); });
    script.start();
    TForm1Controls(Form1).ReceiveButton->click();
    QVERIFY2(script.finished() && script.failure().isEmpty(), qPrintable(script.failure()));
    QCOMPARE(ModeState::ReceiveModeActive, uint8_t(0));
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("未連線"));
}

void TestReceiveMode::clearAndHexSwitchMidStream()
{
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    ModeScript script;
    script.then([&] { pty.write("abc"); })
            .waitFor([] { return memoText() == "abc"; }, "first bytes")
            .then([] { TForm1Controls(Form1).ClearDataButton->click(); })
            .then([&] { pty.write("de"); })
            .waitFor([] { return memoText() == "de"; }, "bytes after Clear")
            .then([] { TForm1Controls(Form1).DataModeButton->click(); })
            .then([&] { QCOMPARE(memoText(), QString()); })
            .then([&] { pty.write("f"); })
            .waitFor([] { return memoText() == "66 "; }, "bytes after the switch")
            .then([] { TForm1Controls(Form1).BreakMenuBar->trigger(); });
    script.start();
    TForm1Controls(Form1).StartRecMenuBar->trigger();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
}

void TestReceiveMode::everyByteValueInOrder()
{
    // 64 KiB of every byte value, far more than a tty buffers: nothing may be dropped.
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    QByteArray bytes;
    for (int i = 0; i < 65536; ++i)
        bytes.append(char((i * 7 + i / 256) & 0xFF));
    QString expected;
    DisplayFormatter hex;
    hex.setHexForm(true);
    hex.append(bytes, expected);
    qsizetype sent = 0;
    ModeScript script;
    script.then([] { TForm1Controls(Form1).HexModeMenuBar->trigger(); })
            .waitFor(
                    [&] {
                        sent += pty.writeSome(bytes.constData() + sent, bytes.size() - sent);
                        return sent == bytes.size();
                    },
                    "the device to send everything", 20000)
            .waitFor([&] { return memoText().size() >= expected.size(); }, "all bytes", 20000)
            .then([] { TForm1Controls(Form1).BreakButton->click(); });
    script.start();
    TForm1Controls(Form1).ReceiveButton->click();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QCOMPARE(memoText(), expected);
}

void TestReceiveMode::outputGoesToTheCaret()
{
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    TrafficView *memo = Form1->memo1();
    ModeScript script;
    script.then([&] { pty.write("one two"); })
            .waitFor([] { return memoText() == "one two"; }, "first text")
            // The user clicks between "one" and " two": output goes there.
            .then([&] {
                memo->setCaret({0, 3});
            })
            .then([&] { pty.write("X"); })
            .waitFor([] { return memoText() == "oneX two"; }, "text at the caret")
            // With "two" selected the selection stays and the byte follows it.
            .then([&] {
                memo->setCaret({0, 5});
                memo->setCaret({0, 8}, true);
            })
            .then([&] { pty.write("Y"); })
            .waitFor([] { return memoText() == "oneX twoY"; }, "text after the selection")
            .then([&] { QCOMPARE(memo->selectedText(), QString()); })
            .then([] { TForm1Controls(Form1).BreakButton->click(); });
    script.start();
    TForm1Controls(Form1).ReceiveButton->click();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
}

void TestReceiveMode::lookDuringModeAndRestore()
{
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    const TForm1Controls &ui = TForm1Controls(Form1);
    ui.Memo1->setPlainText(QStringLiteral("old"));
    Form1->setMemo1Colour(Qt::white);
    bool closeRefused = false;
    ModeScript script;
    script.then([&] {
              QVERIFY(ui.Memo1->isReadOnly());
              QVERIFY(ui.Memo1->isEmpty());
              QCOMPARE(Form1->memo1Colour(), Form1->palette().color(QPalette::Button));
              QCOMPARE(Form1->statusPanel(2), QStringLiteral("接收模式(已啟動執行)...."));
              QVERIFY(!ui.ReceiveButton->isEnabled());
              QVERIFY(!ui.StartRecMenuBar->isEnabled());
              QVERIFY(ui.BreakButton->isEnabled());
              MessageRecorder boxes;
              closeRefused = !Form1->close();
          }).then([] { TForm1Controls(Form1).BreakButton->click(); });
    script.start();
    ui.ReceiveButton->click();
    QVERIFY(closeRefused);
    QVERIFY(!ui.Memo1->isReadOnly());
    QCOMPARE(Form1->memo1Colour(), QColor(Qt::white));
    QVERIFY(ui.ReceiveButton->isEnabled());
    QVERIFY(!ui.BreakButton->isEnabled());
}

void TestReceiveMode::missingPortChangesNothing()
{
    MessageRecorder boxes;
    PortSettings::DevicePathText = QStringLiteral("/dev/telvix-nothing");
    PortSettings::PortNameText = PortSettings::DevicePathText;
    Form1->memo1()->setPlainText(QStringLiteral("kept"));
    TForm1Controls(Form1).ReceiveButton->click();
    QCOMPARE(boxes.texts(Kind::Plain),
             QStringList {"/dev/telvix-nothing 埠,無法開啟\n找不到裝置 /dev/telvix-nothing"});
    QCOMPARE(ModeState::ReceiveModeActive, uint8_t(0));
    QCOMPARE(memoText(), QStringLiteral("kept"));
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("未連線"));
    QVERIFY(!Form1->memo1()->isReadOnly());
}

void TestReceiveMode::hangUpLeavesModeIdleUntilBreak()
{
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    double cpuBefore = 0;
    double cpuIdle = 0;
    ModeScript script;
    script.then([&] { pty.write("bye"); })
            .waitFor([] { return memoText() == "bye"; }, "bytes before the hang-up")
            .then([&] { pty.hangUp(); })
            .then([&] { cpuBefore = cpuSeconds(); })
            .waitFor(
                    [&] {
                        static QElapsedTimer t;
                        if (!t.isValid())
                            t.start();
                        return t.elapsed() > 500;
                    },
                    "half a second")
            .then([&] { cpuIdle = cpuSeconds() - cpuBefore; })
            .then([] { TForm1Controls(Form1).BreakButton->click(); });
    script.start();
    TForm1Controls(Form1).ReceiveButton->click();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    // A hung-up tty is always "readable"; watching it would burn a core.
    QVERIFY2(cpuIdle < 0.2, qPrintable(QString::number(cpuIdle)));
    // Nothing but the mark of the hang-up, on a line of its own.
    QCOMPARE(memoText().section(u'\n', 0, 0), QStringLiteral("bye"));
    QVERIFY2(memoText().section(u'\n', 1).startsWith(QStringLiteral("— 裝置已移除 ")),
             qPrintable(memoText()));
    QCOMPARE(memoText().count(u'\n'), 2);
    QCOMPARE(SerialPort::openCount(), 0);
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("未連線"));
}

void TestReceiveMode::restartsAfterBreak()
{
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    for (const char *text : {"first", "second"}) {
        ModeScript script;
        script.then([&] { pty.write(text); })
                .waitFor([&] { return memoText() == QLatin1String(text); }, "text")
                .then([] { TForm1Controls(Form1).BreakButton->click(); });
        script.start();
        TForm1Controls(Form1).ReceiveButton->click();
        QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    }
}

// Break while the window was held (a dialog, a busy moment) and the reader had taken a backlog
// off the line: every byte of it is in the capture, though the display need not show it.
void TestReceiveMode::breakKeepsWhatWasRead()
{
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    QByteArray sent(256 * 1024, '\0');
    for (qsizetype i = 0; i < sent.size(); ++i)
        sent[i] = char('a' + i % 26);
    ModeScript script;
    script.then([&] { pty.write("go"); })
            .waitFor([] { return memoText() == "go"; }, "the mode reading")
            .then([&] {
                // The window is held here: only the reader takes the bytes off the line.
                QVERIFY(pty.write(sent));
                QThread::msleep(300);
                TForm1Controls(Form1).BreakButton->click();
            });
    script.start();
    TForm1Controls(Form1).ReceiveButton->click();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QCOMPARE(Form1->capture().receivedBytes(), 2 + sent.size());
}

void TestReceiveMode::pairWaitsAcrossModes()
{
    // A Big5 lead byte at the end of one run pairs with the first byte of the next.
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    ModeScript first;
    first.then([&] { pty.write("a\xA4"); })
            .waitFor([] { return memoText() == "a"; }, "lead byte")
            .waitFor([] { return Form1->formatter().leadBytePending(); }, "pending pair")
            .then([] { TForm1Controls(Form1).BreakButton->click(); });
    first.start();
    TForm1Controls(Form1).ReceiveButton->click();
    QVERIFY2(first.failure().isEmpty(), qPrintable(first.failure()));
    ModeScript second;
    second.then([&] { pty.write("\x40"); })
            .waitFor([] { return memoText() == QString(QChar(0x4E00)); }, "completed pair")
            .then([] { TForm1Controls(Form1).BreakButton->click(); });
    second.start();
    TForm1Controls(Form1).ReceiveButton->click();
    QVERIFY2(second.failure().isEmpty(), qPrintable(second.failure()));
}

// A line at its own rate hands over a read every millisecond; the display shows them a frame
// at a time, and every byte still arrives, in order.
void TestReceiveMode::passesFollowTheScreenNotTheReads()
{
    struct PassCounter : TrafficConsumer
    {
        void take(const TrafficRecord &r) override { took = took || !r.bytes.isEmpty(); }
        void passEnd() override
        {
            passes += took ? 1 : 0;
            took = false;
        }
        bool took = false;
        int passes = 0;
    } counter;
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    constexpr int Writes = 400;
    QByteArray sent;
    for (int i = 0; i < Writes * 16; ++i)
        sent += char('A' + i % 23);
    std::thread writer;
    QElapsedTimer paced;
    qint64 pacedMs = 0;
    ModeScript script;
    script.then([&] {
              Form1->traffic().subscribe(&counter);
              paced.start();
              writer = std::thread([&] {
                  // Each write due at start + n ms, as a UART hands its bytes over.
                  const auto start = std::chrono::steady_clock::now();
                  for (int n = 0; n < Writes; ++n) {
                      std::this_thread::sleep_until(start + std::chrono::milliseconds(n));
                      if (::write(pty.masterFd(), sent.constData() + n * 16, 16) != 16)
                          return;
                  }
              });
          })
            .waitFor([&] { return Form1->capture().receivedBytes() == sent.size(); }, "the bytes")
            .waitFor([&] { return Form1->memo1()->toPlainText().size() == sent.size(); },
                     "the display")
            .then([&] {
                pacedMs = paced.elapsed();
                TForm1Controls(Form1).BreakButton->click();
            });
    script.start();
    TForm1Controls(Form1).ReceiveButton->click();
    if (writer.joinable())
        writer.join();
    Form1->traffic().unsubscribe(&counter);
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QCOMPARE(Form1->memo1()->toPlainText(), QString::fromLatin1(sent));
    const int reads = int(Form1->capture().records());
    QVERIFY2(counter.passes <= pacedMs / TForm1::FrameMs + 2,
             qPrintable(QStringLiteral("%1 passes in %2 ms").arg(counter.passes).arg(pacedMs)));
    QVERIFY2(reads >= 2 * counter.passes,
             qPrintable(QStringLiteral("%1 reads, %2 passes").arg(reads).arg(counter.passes)));
}

QTEST_MAIN(TestReceiveMode)
#include "tst_receivemode.moc"
