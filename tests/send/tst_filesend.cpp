// SPDX-License-Identifier: MIT
// The file send driven through the main window, with a pty playing the device.
#include "GuiHelpers.h"
#include "Pty.h"
#include "SendTestSupport.h"

#include "session/ModeState.h"
#include "session/ModeTable.h"
#include "main/Telvixmain1.h"
#include "send/Telvixmain3.h"
#include "serial/SerialLine.h"
#include "TForm1Controls.h"
#include "TForm3Controls.h"
#include "serial/SerialPort.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using MessageBoxes::Kind;

namespace {

struct Confirm
{
    QString head;
    QString end;
    QString delay = QStringLiteral("0");
    bool send = true;
    std::function<void()> beforeSend = {}; // runs as the confirmation is left
};

// Starts the file send from its tool button: chooses `path` in the file dialog and answers
// the confirmation. Returns when the send is over.
void runFileSend(const QString &path, const Confirm &c)
{
    answerDialog("QFileDialog", [path, c](QWidget *w) {
        answerDialog("TForm3", [c](QWidget *w) {
            const TForm3Controls &ui = TForm3Controls(w);
            ui.HeadStringEdit->setText(c.head);
            ui.EndStringEdit->setText(c.end);
            ui.IntercharDelayEdit->setText(c.delay);
            if (c.beforeSend)
                c.beforeSend();
            (c.send ? ui.SendButton : ui.CancelButton)->click();
        });
        auto *dialog = static_cast<QFileDialog *>(w);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("選擇欲傳送之 TELVIX  ( 檔案名稱)"));
        dialog->selectFile(path);
        static_cast<QDialog *>(dialog)->accept(); // QFileDialog hides it
    });
    TForm1Controls(Form1).Send_FileContentButton->click();
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(content);
    return path;
}

// Clicks Break once `done` holds, checked from inside the running send.
void breakWhen(std::function<bool()> done)
{
    auto *timer = new QTimer;
    timer->setInterval(1);
    QObject::connect(timer, &QTimer::timeout, [timer, done] {
        if (!done())
            return;
        timer->stop();
        timer->deleteLater();
        TForm1Controls(Form1).BreakButton->click();
    });
    timer->start();
}

// What the window looked like when the summary came up.
struct SummarySeen
{
    QString text;
    QString panel;
    bool breakEnabled = false;
    bool portOpen = false;
    int count = 0;
};

class SummaryWatch
{
public:
    SummaryWatch()
    {
        MessageBoxes::setHook([this](const MessageBoxes::Shown &s) {
            if (s.kind == Kind::Plain && s.text.startsWith(QStringLiteral("檔案名稱"))) {
                seen.text = s.text;
                seen.panel = Form1->statusPanel(2);
                seen.breakEnabled = controlEnabled(QStringLiteral("BreakButton"));
                seen.portOpen = SerialPort::openCount() > 0;
                ++seen.count;
            } else {
                others.append(s);
            }
        });
    }
    ~SummaryWatch() { MessageBoxes::setHook({}); }
    SummarySeen seen;
    QList<MessageBoxes::Shown> others;
};

QString summary(const QString &path, int64_t size, int64_t sent, bool interrupted)
{
    return QStringLiteral("檔案名稱 : %1\n檔案大小 : %2\n總共傳送 : %3\n%4")
            .arg(path)
            .arg(size)
            .arg(sent)
            .arg(interrupted ? QStringLiteral("傳送中斷!") : QStringLiteral("傳送完畢!"));
}

void verifyIdleAgain(const Pty &pty)
{
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("未連線"));
    QCOMPARE(ModeState::SendActive, uint8_t(0));
    QCOMPARE(ModeState::BreakRequested, uint8_t(0));
    QCOMPARE(SerialPort::openCount(), 0);
    QVERIFY(!controlEnabled(QStringLiteral("BreakButton")));
    for (std::string_view name : ModeTable::controlsOff(Mode::FileSend))
        QVERIFY(controlEnabled(QString::fromUtf8(name.data(), qsizetype(name.size()))));
    // The port was given back.
    const serial::OpenResult again = serial::openPort(pty.slavePath().toStdString());
    QVERIFY(again.fd >= 0);
    serial::closePort(again.fd);
}

QByteArray allByteValues(int times)
{
    QByteArray bytes;
    for (int t = 0; t < times; ++t) {
        for (int b = 0; b < 256; ++b)
            bytes += char(b);
    }
    return bytes;
}

} // namespace

class TestFileSend : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        freshStart();
        QVERIFY(m_dir.isValid());
    }
    void cleanupTestCase() { tearDownForms(); }

    void confirmationLayout();
    void headFileEnd_data();
    void headFileEnd();
    void breakInHead();
    void breakInFile_data();
    void breakInFile();
    void fileOverTwoGiBShowsTrueSize();
    void namedPipeWaitsForItsWriter_data();
    void namedPipeWaitsForItsWriter();
    void fileChangesDuringSend_data();
    void fileChangesDuringSend();
    void badDelayOrString_data();
    void badDelayOrString();
    void fileGoneBeforeSend();
    void cancelledSendsNothing();
    void portFailureLeavesWindowAlone();

private:
    QTemporaryDir m_dir;
};

void TestFileSend::confirmationLayout()
{
    const TForm3Controls &ui = TForm3Controls(Form3);
    QCOMPARE(Form3->windowTitle(), QStringLiteral("RS232 傳送檔案資料確定訊息"));
    QCOMPARE(Form3->size(), QSize(433, 227));
    QCOMPARE(Form3->minimumSize(), Form3->maximumSize());
    QCOMPARE(ui.Label11->text(), QStringLiteral("檔案路徑 :"));
    QCOMPARE(ui.Label9->text(), QStringLiteral("檔案大小 :"));
    QCOMPARE(ui.GroupBox1->title(), QStringLiteral("檔案起始 / 結尾字串(插入設定)"));
    QCOMPARE(ui.Label5->buddy(), ui.HeadStringEdit);
    QCOMPARE(ui.Label6->buddy(), ui.EndStringEdit);
    QCOMPARE(ui.Label3->buddy(), ui.IntercharDelayEdit);
    QCOMPARE(ui.IntercharDelayEdit->text(), QStringLiteral("1"));
    QCOMPARE(ui.IntercharDelayEdit->maxLength(), 4);
    QCOMPARE(ui.HeadStringEdit->font().family(), QStringLiteral("Terminal"));
    QVERIFY(ui.SendButton->isDefault());
    QCOMPARE(ui.SendButton->text(), QStringLiteral("傳送"));
    QCOMPARE(ui.CancelButton->text(), QStringLiteral("取消"));
    QCOMPARE(ui.InsertCtrlCodeButton->text(), QStringLiteral("插入控制碼"));
}

void TestFileSend::headFileEnd_data()
{
    QTest::addColumn<QString>("head");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("delay");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray all = allByteValues(3);
    QTest::newRow("every byte value, STX and ETX")
            << QString::fromUtf8("☻") << all << QString::fromUtf8("♥") << "0"
            << "\x02" + all + "\x03";
    QTest::newRow("empty file and strings")
            << QString() << QByteArray() << QString() << "1" << QByteArray();
    QTest::newRow("00h 1Ah FFh") << QString() << QByteArray("\x00\x1A\xFF", 3) << QString() << "1"
                                 << QByteArray("\x00\x1A\xFF", 3);
    QTest::newRow("STX file ETX, paced")
            << QString::fromUtf8("☻") << QByteArray("abc") << QString::fromUtf8("♥") << "2"
            << QByteArray("\x02"
                          "abc\x03");
    QTest::newRow("Big5 head, CR LF end")
            << QString::fromUtf8("中A") << QByteArray("x") << QString::fromUtf8("♪◙") << "0"
            << QByteArray("\xA4\xA4"
                          "Ax\x0D\x0A");
}

void TestFileSend::headFileEnd()
{
    QFETCH(QString, head);
    QFETCH(QByteArray, file);
    QFETCH(QString, end);
    QFETCH(QString, delay);
    QFETCH(QByteArray, expected);
    Pty pty;
    LineCollector line(pty.masterFd());
    usePort(pty.slavePath());
    const QString path = writeFile(m_dir, QStringLiteral("data.bin"), file);
    SummaryWatch watch;
    runFileSend(path, {head, end, delay});
    QVERIFY(line.waitForCount(expected.size()));
    line.settle(50);
    QCOMPARE(line.bytes().toHex(' '), expected.toHex(' '));
    QCOMPARE(watch.seen.count, 1);
    QCOMPARE(watch.seen.text, summary(path, file.size(), file.size(), false));
    // The box comes up while the port is still held and the window still switched over.
    QVERIFY(watch.seen.portOpen);
    QVERIFY(watch.seen.breakEnabled);
    const QString progress = file.isEmpty()
            ? QStringLiteral("傳送(檔案內容)")
            : QStringLiteral("傳送(檔案內容)..%1/%2").arg(file.size() - 1).arg(file.size());
    QCOMPARE(watch.seen.panel, progress);
    QVERIFY(watch.others.isEmpty());
    verifyIdleAgain(pty);
    QCOMPARE(TForm3Controls(Form3).FileSizeLabel->text(), QStringLiteral("%1 byte").arg(file.size()));
    QCOMPARE(TForm3Controls(Form3).FilePathLabel->text(), path);
}

void TestFileSend::breakInHead()
{
    Pty pty;
    LineCollector line(pty.masterFd());
    usePort(pty.slavePath());
    const QString path = writeFile(m_dir, QStringLiteral("f.bin"), "FILE");
    SummaryWatch watch;
    breakWhen([&] { return line.count() >= 1; });
    runFileSend(path, {QStringLiteral("0123456789"), QStringLiteral("END"), QStringLiteral("40")});
    line.settle(100);
    const QByteArray got = line.bytes();
    QVERIFY(!got.isEmpty());
    QVERIFY2(QByteArray("0123456789").startsWith(got) && got.size() < 10, got.constData());
    QCOMPARE(watch.seen.text, summary(path, 4, 0, true));
    verifyIdleAgain(pty);
}

void TestFileSend::breakInFile_data()
{
    QTest::addColumn<QString>("delay");
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<int>("breakAfter");
    QTest::newRow("paced") << "1" << 3000 << 50;
    QTest::newRow("no pause") << "0" << 4 * 1024 * 1024 << 20000;
}

void TestFileSend::breakInFile()
{
    QFETCH(QString, delay);
    QFETCH(int, fileSize);
    QFETCH(int, breakAfter);
    Pty pty;
    LineCollector line(pty.masterFd());
    usePort(pty.slavePath());
    QByteArray content;
    content.reserve(fileSize);
    for (int i = 0; i < fileSize; ++i)
        content += char((i * 31 + 7) & 0xFF);
    const QString path = writeFile(m_dir, QStringLiteral("big.bin"), content);
    SummaryWatch watch;
    breakWhen([&] { return line.count() >= 1 + breakAfter; });
    runFileSend(path, {QString::fromUtf8("☺"), QString::fromUtf8("▼"), delay});
    line.settle(100);
    const QByteArray got = line.bytes();
    const qsizetype sent = got.size() - 1;
    QVERIFY(sent >= breakAfter && sent < fileSize);
    QVERIFY(got.at(0) == '\x01');
    // The byte in flight completed; nothing after it, and no end string.
    QVERIFY(got.mid(1) == content.left(sent));
    QCOMPARE(watch.seen.text, summary(path, fileSize, sent, true));
    QCOMPARE(watch.seen.panel, QStringLiteral("傳送(檔案內容)..%1/%2").arg(sent - 1).arg(fileSize));
    verifyIdleAgain(pty);
}

void TestFileSend::namedPipeWaitsForItsWriter_data()
{
    QTest::addColumn<bool>("breakWhileQuiet");
    QTest::newRow("a slow writer, to its end") << false;
    QTest::newRow("Break while the writer is quiet") << true;
}

void TestFileSend::namedPipeWaitsForItsWriter()
{
    // A pipe that has nothing at the moment has not ended: its writer comes with more, and only
    // closing it is the end. Break ends the wait at once.
    QFETCH(bool, breakWhileQuiet);
    signal(SIGPIPE, SIG_IGN); // a writer left over by a failure must not end the test program
    Pty pty;
    LineCollector line(pty.masterFd());
    usePort(pty.slavePath());
    const QString fifo = m_dir.filePath(QStringLiteral("pipe"));
    QFile::remove(fifo);
    QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    QByteArray content;
    for (int i = 0; i < 5000; ++i)
        content += char((i * 13 + 5) & 0xFF);
    const int quietAfter = breakWhileQuiet ? 1000 : int(content.size());

    std::atomic<bool> release {false};
    std::thread writer([&] {
        // Waits for the send to open the pipe (without blocking, so a failing send cannot
        // leave this thread stuck), then writes 100 bytes every 10 ms.
        int fd = -1;
        for (int tries = 0; fd < 0 && tries < 1000; ++tries) {
            fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (fd < 0)
            return;
        fcntl(fd, F_SETFL, 0);
        for (int at = 0; at < quietAfter; at += 100) {
            if (::write(fd, content.constData() + at, 100) != 100)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        while (breakWhileQuiet && !release)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::close(fd);
    });
    SummaryWatch watch;
    QElapsedTimer sinceQuiet;
    if (breakWhileQuiet)
        breakWhen([&] {
            if (line.count() < 1 + quietAfter)
                return false;
            sinceQuiet.start();
            return true;
        });
    runFileSend(fifo, Confirm {QStringLiteral("H"), QStringLiteral("E")});
    const qint64 breakTook = breakWhileQuiet ? sinceQuiet.elapsed() : 0;
    release = true;
    writer.join();
    line.settle(50);

    const QByteArray sent = content.left(quietAfter);
    QCOMPARE(line.bytes(), 'H' + sent + (breakWhileQuiet ? "" : "E"));
    // A pipe's size is what the file system says of it: nothing.
    QCOMPARE(watch.seen.text, summary(fifo, 0, sent.size(), breakWhileQuiet));
    if (breakWhileQuiet)
        QVERIFY2(breakTook < 1000, qPrintable(QString::number(breakTook)));
    verifyIdleAgain(pty);
}

void TestFileSend::fileOverTwoGiBShowsTrueSize()
{
    Pty pty;
    LineCollector line(pty.masterFd());
    usePort(pty.slavePath());
    const QString path = writeFile(m_dir, QStringLiteral("sparse.bin"), QByteArray());
    const int64_t size = 3LL * 1024 * 1024 * 1024 + 5;
    QVERIFY(::truncate(QFile::encodeName(path).constData(), off_t(size)) == 0);
    SummaryWatch watch;
    QString label;
    breakWhen([&] { return line.count() >= 2000; });
    Confirm c;
    c.beforeSend = [&] { label = TForm3Controls(Form3).FileSizeLabel->text(); };
    runFileSend(path, c);
    line.settle(100);
    QCOMPARE(label, QStringLiteral("3221225477 byte"));
    QCOMPARE(watch.seen.text, summary(path, size, line.count(), true));
    QVERIFY(watch.seen.panel.endsWith(QStringLiteral("/3221225477")));
    QVERIFY(line.bytes() == QByteArray(line.count(), '\0'));
    QFile::remove(path);
}

void TestFileSend::fileChangesDuringSend_data()
{
    QTest::addColumn<qint64>("shrinkTo"); // -1: the file is deleted
    QTest::addColumn<qint64>("expectedSent");
    const qint64 buffered = 64 * 1024;
    QTest::newRow("shrinks") << qint64(100 * 1024) << qint64(100 * 1024);
    QTest::newRow("emptied") << qint64(0) << buffered;
    QTest::newRow("deleted") << qint64(-1) << qint64(160 * 1024);
}

void TestFileSend::fileChangesDuringSend()
{
    QFETCH(qint64, shrinkTo);
    QFETCH(qint64, expectedSent);
    Pty pty;
    LineCollector line(pty.masterFd());
    usePort(pty.slavePath());
    QByteArray content(160 * 1024, 'z');
    for (int i = 0; i < content.size(); i += 1000)
        content[i] = char(i / 1000);
    const QString path = writeFile(m_dir, QStringLiteral("changing.bin"), content);
    SummaryWatch watch;
    bool changed = false;
    auto *timer = new QTimer;
    timer->setInterval(1);
    QObject::connect(timer, &QTimer::timeout, [&, timer] {
        if (line.count() < 100)
            return;
        timer->stop();
        timer->deleteLater();
        changed = shrinkTo < 0 ? QFile::remove(path) : QFile::resize(path, shrinkTo);
    });
    timer->start();
    runFileSend(path, {});
    line.settle(100);
    QVERIFY(changed);
    QCOMPARE(qint64(line.count()), expectedSent);
    QVERIFY(line.bytes() == content.left(expectedSent));
    QCOMPARE(watch.seen.text, summary(path, content.size(), expectedSent, false));
    verifyIdleAgain(pty);
}

void TestFileSend::badDelayOrString_data()
{
    QTest::addColumn<QString>("delay");
    QTest::addColumn<QString>("head");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("letters") << "abc"
                             << "" << int(Kind::Error) << "'abc' is not a valid integer value.";
    QTest::newRow("empty") << ""
                           << "" << int(Kind::Error) << "'' is not a valid integer value.";
    QTest::newRow("blank") << " 5"
                           << "" << int(Kind::Error) << "' 5' is not a valid integer value.";
    QTest::newRow("negative") << "-5"
                              << "" << int(Kind::Plain)
                              << "延遲時間 '-5' 不可小於 0 ms,沒有傳送任何資料";
    QTest::newRow("no Big5 form") << "1" << QString::fromUtf8("😀") << int(Kind::Plain)
                                  << "字元 '😀' (U+1F600) 無法轉成 Big5 碼,所以沒有傳送任何資料";
}

void TestFileSend::badDelayOrString()
{
    QFETCH(QString, delay);
    QFETCH(QString, head);
    QFETCH(int, kind);
    QFETCH(QString, message);
    Pty pty;
    LineCollector line(pty.masterFd());
    usePort(pty.slavePath());
    const QString path = writeFile(m_dir, QStringLiteral("x.bin"), "xyz");
    MessageRecorder boxes;
    runFileSend(path, {head, QString(), delay});
    line.settle(50);
    QCOMPARE(boxes.shown.size(), 1);
    QCOMPARE(int(boxes.shown[0].kind), kind);
    QCOMPARE(boxes.shown[0].text, message);
    QVERIFY(line.bytes().isEmpty());
    verifyIdleAgain(pty);
}

void TestFileSend::fileGoneBeforeSend()
{
    Pty pty;
    usePort(pty.slavePath());
    const QString path = writeFile(m_dir, QStringLiteral("gone.bin"), "12345");
    MessageRecorder boxes;
    QString label;
    Confirm c;
    c.beforeSend = [&] {
        label = TForm3Controls(Form3).FileSizeLabel->text();
        QFile::remove(path);
    };
    runFileSend(path, c);
    QCOMPARE(label, QStringLiteral("5 byte"));
    QCOMPARE(boxes.texts(Kind::Plain),
             QStringList {QStringLiteral("開啟檔案內容時,發生錯誤 [ %1 ]").arg(path)});
    QVERIFY(boxes.texts(Kind::Beep).isEmpty());
    verifyIdleAgain(pty);
}

void TestFileSend::cancelledSendsNothing()
{
    Pty pty;
    LineCollector line(pty.masterFd());
    usePort(pty.slavePath());
    const QString path = writeFile(m_dir, QStringLiteral("kept.bin"), QByteArray(1024, 'k'));
    MessageRecorder boxes;
    Confirm c;
    c.send = false;
    runFileSend(path, c);
    // The labels keep showing the file until the next choice.
    QCOMPARE(TForm3Controls(Form3).FilePathLabel->text(), path);
    QCOMPARE(TForm3Controls(Form3).FileSizeLabel->text(), QStringLiteral("1024 byte"));

    answerDialog("QFileDialog", [](QWidget *w) { static_cast<QFileDialog *>(w)->reject(); });
    TForm1Controls(Form1).Send_FileContentMenuBar->trigger();
    line.settle(50);
    QVERIFY(line.bytes().isEmpty());
    QVERIFY(boxes.shown.isEmpty());
    QCOMPARE(TForm3Controls(Form3).FilePathLabel->text(), path);
    verifyIdleAgain(pty);
}

void TestFileSend::portFailureLeavesWindowAlone()
{
    usePort(m_dir.filePath(QStringLiteral("no-such-port")));
    const QString path = writeFile(m_dir, QStringLiteral("p.bin"), "p");
    Form1->setStatusPanel(2, QStringLiteral("before"));
    MessageRecorder boxes;
    runFileSend(path, {});
    QCOMPARE(boxes.texts(Kind::Beep).size(), 1);
    QCOMPARE(boxes.texts(Kind::Plain).size(), 1);
    QVERIFY(boxes.lastText().contains(QStringLiteral("無法開啟")));
    QCOMPARE(ModeState::SendActive, uint8_t(0));
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("before"));
    QVERIFY(!controlEnabled(QStringLiteral("BreakButton")));
    QVERIFY(controlEnabled(QStringLiteral("Send_FileContentButton")));
}

QTEST_MAIN(TestFileSend)
#include "tst_filesend.moc"
