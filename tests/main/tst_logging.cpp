// SPDX-License-Identifier: MIT
// Capture, logs and time through the window, on real pseudo-terminals: every byte of every mode
// is kept whatever the display does, saves and live logs give back what the line carried, a
// log that cannot be written stops alone, and the display shows arrival times and frames.
#include "../send/SendTestSupport.h"
#include "GuiHelpers.h"
#include "PipeWatchdog.h"
#include "Pty.h"

#include "../modes/RecordingInjector.h"
#include "traffic/LiveLog.h"
#include "traffic/LogFormat.h"
#include "session/ModeState.h"
#include "main/Telvixmain1.h"
#include "traffic/TrafficCapture.h"
#include "main/TrafficView.h"
#include "modes/KeyInjection.h"
#include "widgets/Fonts.h"
#include "send/Telvixmain3.h"
#include "send/Telvixmain4.h"
#include "serial/SerialPort.h"
#include "settings/Telvixmain6.h"
#include "TForm1Controls.h"
#include "TForm3Controls.h"
#include "TForm4Controls.h"
#include "TForm6Controls.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using MessageBoxes::Kind;

namespace {

TForm1Controls ui() { return TForm1Controls(Form1); }

QByteArray allValues(int times = 1)
{
    QByteArray bytes;
    for (int t = 0; t < times; ++t) {
        for (int b = 0; b < 256; ++b)
            bytes.append(char((b + t) & 0xFF));
    }
    return bytes;
}

QByteArray captured(TrafficKind kind)
{
    QByteArray bytes;
    Form1->capture().forEach([&](const TrafficRecord &r) {
        if (r.kind == kind)
            bytes += r.bytes;
    });
    return bytes;
}

QString memoText() { return Form1->memo1()->toPlainText(); }

// Answers the log commands' save dialog with `path` and the filter at `filter`; confirms the
// question whether to replace a file that is there.
void answerSaveDialog(const QString &path, int filter)
{
    answerDialog("QFileDialog", [path, filter](QWidget *w) {
        auto *dialog = static_cast<QFileDialog *>(w);
        dialog->selectNameFilter(dialog->nameFilters().value(filter));
        dialog->selectFile(path);
        if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            name->setText(path);
        if (QFile::exists(path))
            answerDialog("QMessageBox", [](QWidget *box) {
                static_cast<QMessageBox *>(box)->button(QMessageBox::Yes)->click();
            });
        static_cast<QDialog *>(dialog)->accept();
    });
}

// The settings dialog's group of time and framing, set and confirmed.
void setTimeAndFraming(bool lineTimestamps, int idleGapMs, bool counters = false)
{
    answerNextModal([=](QWidget *w) {
        const TForm6Controls &s = TForm6Controls(w);
        s.LineTimestamp_CheckBox->setChecked(lineTimestamps);
        s.IdleGap_CheckBox->setChecked(idleGapMs > 0);
        if (idleGapMs > 0)
            s.IdleGapEdit->setValue(idleGapMs);
        s.Counters_CheckBox->setChecked(counters);
        s.BitBtn1->click();
    });
    ui().MiscMenuBar->trigger();
}

// "[HH:MM:SS.mmm] " at the start of a display line, as the milliseconds of that day.
std::optional<qint64> stampOf(const QString &line)
{
    static const QRegularExpression stamp(
            QStringLiteral("^\\[(\\d\\d):(\\d\\d):(\\d\\d)\\.(\\d{3})\\] "));
    const QRegularExpressionMatch m = stamp.match(line);
    if (!m.hasMatch())
        return std::nullopt;
    return ((m.captured(1).toLongLong() * 60 + m.captured(2).toLongLong()) * 60
            + m.captured(3).toLongLong())
            * 1000
            + m.captured(4).toLongLong();
}

qint64 msOfDayNow() { return QTime::currentTime().msecsSinceStartOfDay(); }

} // namespace

class TestLogging : public QObject
{
    Q_OBJECT

private slots:
    // The fonts the program draws in, as its start-up maps them.
    void initTestCase() { Fonts::installSubstitutions(); }
    void init()
    {
        freshStart();
        QVERIFY(m_dir.isValid());
        m_pty = std::make_unique<Pty>();
        usePort(m_pty->slavePath());
    }
    void cleanup()
    {
        KeyInjection::setFactory({});
        m_pty.reset();
    }
    void cleanupTestCase() { tearDownForms(); }

    void logMenuStandsBetween();
    void captureKeepsEveryByte_data();
    void captureKeepsEveryByte();
    void savedFilesGiveTheTrafficBack();
    void liveLogFollowsTheModes();
    void liveLogStopsAloneWhenItCannotWrite_data();
    void liveLogStopsAloneWhenItCannotWrite();
    void liveLogOnAPipeNeverHoldsTheWindow_data();
    void liveLogOnAPipeNeverHoldsTheWindow();
    void timestampsComeFromArrival();
    void idleGapFramesTheDisplay();
    void countersInTheStatusBar();
    void timeAndFramingAreOffAtStartAndCancelled();
    void fileDialogSpeaksChinese();
    void stampedDumpFitsTheDefaultWindow();
    void deviceGoneIsMarked();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Pty> m_pty;
};

void TestLogging::logMenuStandsBetween()
{
    QStringList menus;
    for (QAction *a : ui().MainMenu1->actions())
        menus.append(a->text());
    QCOMPARE(menus,
             (QStringList {QStringLiteral("設定控制(&S)"), QStringLiteral("顯示模式(&D)"),
                           QStringLiteral("記錄(&L)"), QStringLiteral("工作模式(&M)"),
                           QStringLiteral("說明(&H)")}));
    for (QAction *item : {ui().SaveLogMenuBar, ui().StartLogMenuBar, ui().StopLogMenuBar}) {
        QVERIFY(ui().LogMenuBar->actions().contains(item));
        QVERIFY2(!item->icon().pixmap(16, 16).isNull(), "every item carries a glyph");
    }
    QCOMPARE(ui().SaveLogMenuBar->text(), QStringLiteral("儲存記錄..."));
    QCOMPARE(ui().StartLogMenuBar->text(), QStringLiteral("開始記錄到檔案..."));
    QCOMPARE(ui().StopLogMenuBar->text(), QStringLiteral("停止記錄"));
    QVERIFY(ui().StartLogMenuBar->isEnabled());
    QVERIFY(!ui().StopLogMenuBar->isEnabled());
    // Nothing to save before any mode.
    MessageRecorder boxes;
    ui().SaveLogMenuBar->trigger();
    QCOMPARE(boxes.texts(Kind::Plain).size(), 1);
}

void TestLogging::captureKeepsEveryByte_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("receive") << "receive";
    QTest::newRow("terminal") << "terminal";
    QTest::newRow("R2K") << "r2k";
    QTest::newRow("file send") << "file";
    QTest::newRow("string send") << "string";
}

void TestLogging::captureKeepsEveryByte()
{
    // Every byte value both ways, kept whatever the display does meanwhile: Clear, the form
    // switch and About empty the display, not the capture.
    QFETCH(QString, mode);
    const QByteArray in = allValues(4);
    LineCollector line(m_pty->masterFd());
    QByteArray expectedOut;
    if (mode == u"receive" || mode == u"terminal" || mode == u"r2k") {
        KeyInjection::setFactory([] {
            return KeyInjection::Opened {std::make_unique<RecordingInjector>(), {}, {}, {}};
        });
        if (mode == u"terminal")
            ui().Memo2->setPlainText(QStringLiteral("AT") + QChar(0x263A) + QChar(0x4E00));
        ModeScript script;
        script.then([&] { m_pty->write(in.left(500)); })
                .waitFor([&] { return captured(TrafficKind::Received).size() == 500; }, "first")
                .then([&] {
                    if (mode != u"r2k") {
                        ui().ClearDataButton->click();
                        ui().DataModeButton->click();
                    }
                    ui().AboutMenubar->trigger();
                    if (mode == u"terminal")
                        ui().SendEchoMessageButton->click();
                    m_pty->write(in.mid(500));
                })
                .waitFor([&] { return captured(TrafficKind::Received).size() == in.size(); },
                         "the rest")
                .then([] { ui().BreakButton->click(); });
        script.start();
        (mode == u"receive"            ? ui().ReceiveButton
                 : mode == u"terminal" ? ui().EnableTRModeButton
                                       : ui().R2KModeButton)
                ->click();
        QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
        QVERIFY(captured(TrafficKind::Received) == in);
        if (mode == u"terminal")
            expectedOut = QByteArray("AT\x01\xA4\x40");
    } else if (mode == u"file") {
        const QString path = m_dir.filePath(QStringLiteral("all.bin"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(in);
        f.close();
        expectedOut = '\x02' + in + '\x03';
        MessageRecorder boxes;
        FileSendJob(*Form1,
                    {path, in.size(), QString(QChar(0x263B)), QString(QChar(0x2665)),
                     QStringLiteral("0")})
                .run();
    } else {
        const QString text = QStringLiteral("ab") + QChar(0x263A) + QChar(0x4E00);
        expectedOut = QByteArray("ab\x01\xA4\x40\r");
        answerDialog("TForm4", [text](QWidget *w) {
            const TForm4Controls &s = TForm4Controls(w);
            s.Edit1->setText(text);
            s.DelayTimeEdit->setText(QStringLiteral("0"));
            s.CheckBox1->setChecked(true);
            answerDialog("TForm4", [](QWidget *w) { TForm4Controls(w).BitBtn2->click(); });
            s.BitBtn1->click();
        });
        ui().Send_UserStringButton->click();
    }
    QVERIFY(line.waitForCount(expectedOut.size()));
    line.settle(50);
    QVERIFY(line.bytes() == expectedOut);
    QVERIFY(captured(TrafficKind::Sent) == expectedOut);
    QCOMPARE(Form1->capture().sentBytes(), qint64(expectedOut.size()));
}

void TestLogging::savedFilesGiveTheTrafficBack()
{
    const QByteArray in = allValues(256); // 64 KiB
    const qint64 startMs = QDateTime::currentMSecsSinceEpoch();
    ModeScript script;
    script.then([&] { m_pty->write(in); })
            .waitFor([&] { return captured(TrafficKind::Received).size() == in.size(); },
                     "the bytes")
            .then([] { ui().BreakButton->click(); });
    script.start();
    ui().ReceiveButton->click();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    const qint64 endMs = QDateTime::currentMSecsSinceEpoch();

    // Raw: byte for byte what the device sent.
    const QString bin = m_dir.filePath(QStringLiteral("saved"));
    answerSaveDialog(bin, 3);
    ui().SaveLogMenuBar->trigger();
    QFile binFile(bin + QStringLiteral(".bin")); // the filter's extension is added
    QVERIFY(binFile.open(QIODevice::ReadOnly));
    QCOMPARE(QCryptographicHash::hash(binFile.readAll(), QCryptographicHash::Sha256),
             QCryptographicHash::hash(in, QCryptographicHash::Sha256));

    // The log: its lines read back to the same bytes, at times inside the mode, in order.
    const QString log = m_dir.filePath(QStringLiteral("saved.log"));
    answerSaveDialog(log, 0);
    ui().SaveLogMenuBar->trigger();
    QFile logFile(log);
    QVERIFY(logFile.open(QIODevice::ReadOnly));
    QByteArray back;
    qint64 last = 0;
    int lines = 0;
    for (const QByteArray &raw : logFile.readAll().split('\n')) {
        if (raw.isEmpty())
            continue;
        const std::optional<LogFormat::Parsed> p = LogFormat::parseLogLine(QString::fromUtf8(raw));
        QVERIFY2(p, raw.constData());
        QCOMPARE(int(p->kind), int(TrafficKind::Received));
        QVERIFY(p->wallMs >= startMs - 1 && p->wallMs <= endMs + 1);
        QVERIFY(p->wallMs >= last);
        last = p->wallMs;
        back += p->bytes;
        ++lines;
    }
    QVERIFY(back == in);
    // Reads close together share a line (a read of more than 4096 bytes is a line of its own).
    QVERIFY2(lines <= int(Form1->capture().records()), qPrintable(QString::number(lines)));

    // The text as shown: what the display shows.
    const QString txt = m_dir.filePath(QStringLiteral("saved.txt"));
    answerSaveDialog(txt, 2);
    ui().SaveLogMenuBar->trigger();
    QFile txtFile(txt);
    QVERIFY(txtFile.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(txtFile.readAll()), memoText());

    // A file that cannot be written says so and keeps nothing half-written.
    MessageRecorder boxes;
    answerSaveDialog(QStringLiteral("/dev/full"), 0);
    ui().SaveLogMenuBar->trigger();
    QCOMPARE(boxes.texts(Kind::Plain).size(), 1);
    QVERIFY(boxes.lastText().contains(QStringLiteral("/dev/full")));
    QVERIFY2(boxes.lastText().contains(QStringLiteral("磁碟空間不足")),
             qPrintable(boxes.lastText()));
    QVERIFY(!QFileInfo(QStringLiteral("/dev/full")).isFile());
}

void TestLogging::liveLogFollowsTheModes()
{
    const QString path = m_dir.filePath(QStringLiteral("live.log"));
    answerSaveDialog(path, 0);
    ui().StartLogMenuBar->trigger();
    QVERIFY(Form1->liveLog());
    // No dialog stays behind watching the folder the log writes into.
    QVERIFY(Form1->findChildren<QFileDialog *>().isEmpty());
    QVERIFY(!ui().StartLogMenuBar->isEnabled());
    QVERIFY(ui().StopLogMenuBar->isEnabled());
    auto *panel = ui().StatusBar1->findChild<QLabel *>(QStringLiteral("StatusPanel3"));
    QVERIFY(panel && panel->isVisible());
    QVERIFY(panel->text().contains(QStringLiteral("記錄")));

    // Two modes, one log: it runs until it is stopped.
    for (const char *text : {"first\r", "second\r"}) {
        ModeScript script;
        script.then([&] { m_pty->write(text); })
                .waitFor([&] { return !captured(TrafficKind::Received).isEmpty(); }, "bytes")
                .then([] { ui().BreakButton->click(); });
        script.start();
        ui().ReceiveButton->click();
        QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    }
    // On the disk within a flush interval, before the log is stopped.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() > 0, 2 * LiveLog::FlushIntervalMs + 200);
    ui().StopLogMenuBar->trigger();
    QVERIFY(!Form1->liveLog());
    QVERIFY(!panel->isVisible());
    // The next question starts in the folder confirmed last; cancelled, it starts no log.
    QString folder;
    answerDialog("QFileDialog", [&folder](QWidget *w) {
        folder = static_cast<QFileDialog *>(w)->directory().absolutePath();
        static_cast<QDialog *>(w)->reject();
    });
    ui().StartLogMenuBar->trigger();
    QCOMPARE(folder, QDir(m_dir.path()).absolutePath());
    QVERIFY(!Form1->liveLog());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QByteArray back;
    for (const QByteArray &raw : f.readAll().split('\n')) {
        if (!raw.isEmpty())
            back += LogFormat::parseLogLine(QString::fromUtf8(raw))->bytes;
    }
    QCOMPARE(back, QByteArray("first\rsecond\r"));
}

void TestLogging::liveLogStopsAloneWhenItCannotWrite_data()
{
    QTest::addColumn<bool>("full");
    QTest::newRow("disk full (/dev/full)") << true;
    QTest::newRow("its folder removed") << false;
}

void TestLogging::liveLogStopsAloneWhenItCannotWrite()
{
    // The mode, the display and the capture go on; the user is told once.
    QFETCH(bool, full);
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("logs")));
    const QString path =
            full ? QStringLiteral("/dev/full") : m_dir.filePath(QStringLiteral("logs/x.log"));
    MessageRecorder boxes;
    ModeScript script;
    script.then([&] {
              answerSaveDialog(path, 0);
              ui().StartLogMenuBar->trigger();
              if (!full)
                  QDir(m_dir.filePath(QStringLiteral("logs"))).removeRecursively();
              m_pty->write("one\r");
          })
            .waitFor([&] { return boxes.texts(Kind::Plain).size() == 1; }, "the message", 3000)
            .then([&] { m_pty->write("two\r"); })
            .waitFor([&] { return memoText().contains(QStringLiteral("two")); }, "more traffic")
            .then([] { ui().BreakButton->click(); });
    script.start();
    ui().ReceiveButton->click();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QVERIFY2(boxes.lastText().contains(path), qPrintable(boxes.lastText()));
    QVERIFY(boxes.lastText().contains(full ? QStringLiteral("磁碟空間不足")
                                           : QStringLiteral("記錄檔已不存在")));
    QCOMPARE(boxes.texts(Kind::Plain).size(), 1);
    QVERIFY(!Form1->liveLog());
    QVERIFY(ui().StartLogMenuBar->isEnabled());
    QCOMPARE(captured(TrafficKind::Received), QByteArray("one\rtwo\r"));
}

void TestLogging::liveLogOnAPipeNeverHoldsTheWindow_data()
{
    QTest::addColumn<bool>("reader");
    QTest::newRow("a pipe no one reads") << false;
    QTest::newRow("a reader that never reads") << true;
}

void TestLogging::liveLogOnAPipeNeverHoldsTheWindow()
{
    // A pipe that takes nothing, at the start of the log or once it is full (64 KiB, while a
    // fast line makes a log of megabytes): the window goes on answering, the log is said
    // stopped once and the capture has every byte.
    QFETCH(bool, reader);
    const QString fifo = m_dir.filePath(QStringLiteral("pipe.log"));
    QFile::remove(fifo);
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int readerFd =
            reader ? ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK) : -1;
    PipeWatchdog dog(fifo);
    dog.feedFromEventLoop();
    MessageRecorder boxes;
    answerSaveDialog(fifo, 0);
    ui().StartLogMenuBar->trigger();
    QCOMPARE(Form1->liveLog() != nullptr, reader);
    const QByteArray in = allValues(1200); // 300 KiB
    std::thread writer;
    ModeScript script;
    script.then([&] { writer = std::thread([&] { m_pty->write(in); }); })
            .waitFor([&] { return captured(TrafficKind::Received).size() == in.size(); },
                     "the bytes", 20000)
            .then([] {
                ui().StopLogMenuBar->trigger();
                ui().BreakButton->click();
            });
    script.start();
    ui().ReceiveButton->click();
    writer.join();
    if (readerFd >= 0)
        ::close(readerFd);
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QVERIFY2(!dog.bit(), "the window waited for the pipe");
    QVERIFY(!Form1->liveLog());
    QVERIFY(ui().StartLogMenuBar->isEnabled());
    QCOMPARE(boxes.texts(Kind::Plain).size(), 1);
    QVERIFY2(boxes.lastText().contains(fifo), qPrintable(boxes.lastText()));
    if (!reader)
        QVERIFY2(boxes.lastText().contains(QStringLiteral("沒有程式在讀取這個管道")),
                 qPrintable(boxes.lastText()));
    QVERIFY(captured(TrafficKind::Received) == in);
}

void TestLogging::timestampsComeFromArrival()
{
    // Two bursts 400 ms apart while a dialog holds the display: shown after it closes, each
    // line carries the time its bytes came, not the time it was drawn.
    setTimeAndFraming(true, 0);
    qint64 firstAt = 0;
    qint64 secondAt = 0;
    qint64 closedAt = 0;
    ModeScript script;
    script.then([&] {
              answerNextModal([&](QWidget *dialog) {
                  firstAt = msOfDayNow();
                  m_pty->write("A\r");
                  QTest::qSleep(400);
                  secondAt = msOfDayNow();
                  m_pty->write("B\r");
                  QTest::qSleep(400);
                  closedAt = msOfDayNow();
                  static_cast<QDialog *>(dialog)->reject();
              });
              ui().FontsMenubar->trigger();
          })
            .waitFor([] { return memoText().count(QStringLiteral("<CR>")) == 2; }, "both lines")
            .then([] { ui().BreakButton->click(); });
    script.start();
    ui().ReceiveButton->click();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    const QStringList lines = memoText().split(u'\n');
    QVERIFY2(lines.size() >= 2, qPrintable(memoText()));
    const std::optional<qint64> a = stampOf(lines[0]);
    const std::optional<qint64> b = stampOf(lines[1]);
    QVERIFY2(a && b, qPrintable(memoText()));
    QVERIFY(lines[0].endsWith(QStringLiteral("A<CR>")));
    QVERIFY2(lines[1].endsWith(QStringLiteral("] B<CR>")), qPrintable(lines[1]));
    QVERIFY2(std::abs(*a - firstAt) < 150, qPrintable(QString::number(*a - firstAt)));
    QVERIFY2(std::abs(*b - secondAt) < 150, qPrintable(QString::number(*b - secondAt)));
    QVERIFY(closedAt - *b > 250);
}

void TestLogging::idleGapFramesTheDisplay()
{
    // Frames of a device that sends no line ends, paced at 5 ms a byte, 150 ms apart: one
    // frame a line at a gap of 50 ms, whatever their bytes.
    setTimeAndFraming(false, 50);
    const QList<QByteArray> frames {"ab12", "cd34", "ef56"};
    ModeScript script;
    script.then([&] {
              std::thread writer([&] {
                  for (const QByteArray &frame : frames) {
                      for (char c : frame) {
                          m_pty->write(QByteArray(1, c));
                          std::this_thread::sleep_for(std::chrono::milliseconds(5));
                      }
                      std::this_thread::sleep_for(std::chrono::milliseconds(150));
                  }
              });
              writer.detach();
          })
            .waitFor([] { return memoText().endsWith(QStringLiteral("ef56")); }, "the frames")
            .then([] { ui().BreakButton->click(); });
    script.start();
    ui().ReceiveButton->click();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QCOMPARE(memoText(), QStringLiteral("ab12\ncd34\nef56"));
}

void TestLogging::countersInTheStatusBar()
{
    auto *panel = ui().StatusBar1->findChild<QLabel *>(QStringLiteral("StatusPanel3"));
    QVERIFY(panel);
    QVERIFY(!panel->isVisible()); // off at start: the documented status bar
    setTimeAndFraming(false, 0, true);
    QVERIFY(panel->isVisible());
    ui().Memo2->setPlainText(QStringLiteral("AT"));
    ModeScript script;
    script.then([&] {
              ui().SendEchoMessageButton->click();
              m_pty->write("OK\r\n");
          })
            .waitFor([&] { return panel->text() == QStringLiteral("收 4  送 2"); }, "the counts")
            .then([] { ui().BreakButton->click(); });
    script.start();
    ui().EnableTRModeButton->click();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure() + u' ' + panel->text()));
}

void TestLogging::timeAndFramingAreOffAtStartAndCancelled()
{
    const TForm6Controls &s = TForm6Controls(Form6);
    QCOMPARE(s.GroupBox3->title(), QStringLiteral("時間與分段"));
    for (QCheckBox *box : {s.LineTimestamp_CheckBox, s.BlockTimestamp_CheckBox, s.IdleGap_CheckBox,
                           s.Counters_CheckBox})
        QVERIFY(!box->isChecked());
    QVERIFY(!s.HexText_Radio->isChecked());
    QCOMPARE(s.IdleGapEdit->minimum(), 1);
    QCOMPARE(s.IdleGapEdit->maximum(), 60000);
    // The gap is asked for only while the break at a gap is on.
    QVERIFY(!s.IdleGapEdit->isEnabled());
    QVERIFY(Form1->renderer().options() == RenderOptions {});
    // The user's memory limit too is off at start, and asked for only while it is on.
    QCOMPARE(s.GroupBox4->title(), QStringLiteral("記憶體"));
    QVERIFY(!s.MemoryLimit_CheckBox->isChecked());
    QVERIFY(!s.MemoryLimitEdit->isEnabled());
    QCOMPARE(Form6->windowOptions().memoryLimitMb, 0);
    // The log's joining gap: 10 ms, 0 (a line a read) to a second.
    QCOMPARE(s.LogJoinGapEdit->value(), LogFormat::Lines::DefaultJoinGapMs);
    QCOMPARE(s.LogJoinGapEdit->minimum(), 0);
    QCOMPARE(s.LogJoinGapEdit->maximum(), LogFormat::Lines::MaxJoinGapMs);
    s.MemoryLimit_CheckBox->setChecked(true);
    QVERIFY(s.MemoryLimitEdit->isEnabled());
    QCOMPARE(Form6->windowOptions().memoryLimitMb, s.MemoryLimitEdit->value());
    s.MemoryLimit_CheckBox->setChecked(false);
    // Cancel gives back what there was, in the dialog and in the display.
    answerNextModal([](QWidget *w) {
        const TForm6Controls &d = TForm6Controls(w);
        d.LineTimestamp_CheckBox->setChecked(true);
        d.IdleGap_CheckBox->setChecked(true);
        QVERIFY(d.IdleGapEdit->isEnabled());
        d.IdleGapEdit->setValue(250);
        d.HexText_Radio->setChecked(true);
        d.MemoryLimit_CheckBox->setChecked(true);
        d.MemoryLimitEdit->setValue(512);
        d.LogJoinGapEdit->setValue(0);
        d.BitBtn2->click();
    });
    ui().MiscMenuBar->trigger();
    QVERIFY(!s.LineTimestamp_CheckBox->isChecked());
    QVERIFY(!s.IdleGap_CheckBox->isChecked());
    QCOMPARE(s.IdleGapEdit->value(), 100);
    QVERIFY(!s.IdleGapEdit->isEnabled());
    QVERIFY(s.HEXOnly_Radio->isChecked());
    QVERIFY(!s.MemoryLimit_CheckBox->isChecked());
    QCOMPARE(s.MemoryLimitEdit->value(), 2048);
    QCOMPARE(Form6->logJoinGapMs(), LogFormat::Lines::DefaultJoinGapMs);
    QVERIFY(Form1->renderer().options() == RenderOptions {});
    // OK hands them over.
    setTimeAndFraming(true, 250);
    QVERIFY(Form1->renderer().options() == (RenderOptions {true, 250, false}));
}

void TestLogging::fileDialogSpeaksChinese()
{
    const QTemporaryDir dir; // of its own: the other tests leave their logs in m_dir
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    QFile file(dir.filePath(QStringLiteral("a.log")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(100, 'x')) == 100);
    file.close();
    // The kind, size and date of each entry, and whether the date fits its column.
    QMap<QString, QStringList> rows;
    bool dateFits = false;
    answerDialog("QFileDialog", [&](QWidget *w) {
        auto *dialog = static_cast<QFileDialog *>(w);
        dialog->setDirectory(dir.path());
        auto *view = dialog->findChild<QTreeView *>(QStringLiteral("treeView"));
        QAbstractItemModel *model = view ? view->model() : nullptr;
        if (model && QTest::qWaitFor([&] { return model->rowCount(view->rootIndex()) == 2; }))
            for (int row = 0; row < 2; ++row) {
                const auto at = [&](int column) {
                    return model->index(row, column, view->rootIndex()).data().toString();
                };
                rows[at(0)] = QStringList {at(1), at(2), at(3)};
                dateFits = view->fontMetrics().horizontalAdvance(at(3))
                        <= view->header()->sectionSize(3);
            }
        static_cast<QDialog *>(w)->reject();
    });
    ui().StartLogMenuBar->trigger();
    QCOMPARE(rows.value(QStringLiteral("sub")).value(1), QStringLiteral("資料夾"));
    QCOMPARE(rows.value(QStringLiteral("a.log")).mid(0, 2),
             QStringList({QStringLiteral("100 位元組"), QStringLiteral("log 檔案")}));
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d$"))
                     .match(rows.value(QStringLiteral("a.log")).value(2))
                     .hasMatch(),
             qPrintable(rows.value(QStringLiteral("a.log")).value(2)));
    QVERIFY(dateFits);
}

void TestLogging::stampedDumpFitsTheDefaultWindow()
{
    // The HEX + text style with line stamps, in the window as it starts: every line is seen
    // whole, no sideways scrolling, with room to spare for the frame a window manager draws
    // inside the window's 600 pixels (none here, up to 8 pixels a side on a desktop).
    constexpr int FrameAllowance = 16;
    answerNextModal([](QWidget *w) {
        const TForm6Controls &s = TForm6Controls(w);
        s.LineTimestamp_CheckBox->setChecked(true);
        s.HexText_Radio->setChecked(true);
        s.BitBtn1->click();
    });
    ui().MiscMenuBar->trigger();
    ui().DataModeButton->click(); // the HEX form
    ModeScript script;
    script.then([&] { m_pty->write(allValues()); })
            .waitFor([] { return memoText().count(u'\n') >= 16; }, "the dump")
            .then([] { ui().BreakButton->click(); });
    script.start();
    ui().ReceiveButton->click();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    TrafficView *view = Form1->memo1();
    QCOMPARE(view->horizontalScrollBar()->maximum(), 0);
    // The display's margins: 3 pixels a side and the caret's 2.
    const int64_t needed = view->text().maxWidth() + 8 + FrameAllowance;
    QVERIFY2(needed <= view->viewport()->width(),
             qPrintable(
                     QStringLiteral("%1 of %2 pixels").arg(needed).arg(view->viewport()->width())));
}

void TestLogging::deviceGoneIsMarked()
{
    // The display marks the hang-up with its time, once however often the port says it still
    // cannot open the line, and the text saved as shown has the mark where the display has it.
    ModeScript script;
    script.then([&] { m_pty->write("before\r"); })
            .waitFor([] { return memoText().contains(QStringLiteral("before")); }, "bytes")
            .then([&] { m_pty->hangUp(); })
            .waitFor([] { return memoText().contains(QStringLiteral("裝置已移除")); }, "the mark",
                     5000)
            .then([] { QTest::qWait(300); })
            .then([] { ui().BreakButton->click(); });
    script.start();
    ui().ReceiveButton->click();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    static const QRegularExpression mark(
            QStringLiteral("^before<CR>\n— 裝置已移除 \\d\\d:\\d\\d:\\d\\d —\n$"));
    QVERIFY2(mark.match(memoText()).hasMatch(), qPrintable(memoText()));
    const QString txt = m_dir.filePath(QStringLiteral("gone.txt"));
    answerSaveDialog(txt, 2);
    ui().SaveLogMenuBar->trigger();
    QFile txtFile(txt);
    QVERIFY(txtFile.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(txtFile.readAll()), memoText());
}

QTEST_MAIN(TestLogging)
#include "tst_logging.moc"
