// SPDX-License-Identifier: MIT
// The typed-string send driven through the main window, with a pty playing the device.
#include "GuiHelpers.h"
#include "Pty.h"
#include "SendTestSupport.h"

#include "session/ModeState.h"
#include "session/ModeTable.h"
#include "main/Telvixmain1.h"
#include "send/Telvixmain3.h"
#include "send/Telvixmain4.h"
#include "serial/SerialLine.h"
#include "TForm1Controls.h"
#include "TForm3Controls.h"
#include "TForm4Controls.h"
#include "serial/SerialPort.h"

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using MessageBoxes::Kind;

namespace {

struct Showing
{
    QString text;
    QString delay = QStringLiteral("0");
    bool cr = false;
    QString button = QStringLiteral("BitBtn1"); // BitBtn2 leaves; "escape", "close"
    std::function<void()> check; // runs while the dialog is up
    bool hex = false;
};

// Answers the string dialog's coming showings in order.
void answerShowings(QList<Showing> showings)
{
    if (showings.isEmpty())
        return;
    answerDialog("TForm4", [showings](QWidget *w) mutable {
        const Showing s = showings.takeFirst();
        answerShowings(showings);
        auto *dialog = static_cast<TForm4 *>(w);
        const TForm4Controls &ui = TForm4Controls(dialog);
        if (s.check)
            s.check();
        if (s.button == u"escape") {
            QTest::keyClick(dialog, Qt::Key_Escape);
            return;
        }
        if (s.button == u"close") {
            dialog->close();
            return;
        }
        if (s.button == u"BitBtn1") {
            ui.Edit1->setText(s.text);
            ui.DelayTimeEdit->setText(s.delay);
            ui.CheckBox1->setChecked(s.cr);
            ui.HexInputCheckBox->setChecked(s.hex);
        }
        dialog->findChild<QPushButton *>(s.button)->click();
    });
}

Showing leave() { return {QString(), QString(), false, QStringLiteral("BitBtn2"), {}}; }

void verifyIdleAgain(const Pty &pty)
{
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("未連線"));
    QCOMPARE(ModeState::SendActive, uint8_t(0));
    QCOMPARE(SerialPort::openCount(), 0);
    const serial::OpenResult again = serial::openPort(pty.slavePath().toStdString());
    QVERIFY(again.fd >= 0);
    serial::closePort(again.fd);
}

// Every start command the table knows is usable: the string send switches none off.
void verifyNothingDisabled()
{
    for (std::string_view name : ModeTable::controlsOff(Mode::FileSend))
        QVERIFY2(controlEnabled(QString::fromUtf8(name.data(), qsizetype(name.size()))),
                 name.data());
    QVERIFY(!controlEnabled(QStringLiteral("BreakButton")));
}

} // namespace

class TestStringSend : public QObject
{
    Q_OBJECT

private slots:
    void init() { freshStart(); }
    void cleanupTestCase() { tearDownForms(); }

    void dialogLayout();
    void sendsBytes_data();
    void sendsBytes();
    void sendsAgainUntilLeft();
    void leaveOnFirstShowing_data();
    void leaveOnFirstShowing();
    void delayThatIsNoNumber();
    void refusedBeforeSending_data();
    void refusedBeforeSending();
    void anotherModeMeanwhileCannotTakeThePort();
    void portFailure();
};

void TestStringSend::dialogLayout()
{
    const TForm4Controls &ui = TForm4Controls(Form4);
    QCOMPARE(Form4->windowTitle(), QStringLiteral("字串資料 , 傳送 -> RS232 埠"));
    QCOMPARE(Form4->size(), QSize(403, 207));
    QCOMPARE(Form4->minimumSize(), Form4->maximumSize());
    QCOMPARE(ui.Label1->text(), QStringLiteral("請在下方輸入你要傳送的字元資料"));
    QCOMPARE(ui.Label1->buddy(), ui.Edit1);
    QCOMPARE(ui.Label2->buddy(), ui.DelayTimeEdit);
    QCOMPARE(ui.Edit1->font().family(), QStringLiteral("Terminal"));
    QCOMPARE(ui.Edit1->font().pixelSize(), 23);
    QVERIFY(ui.Edit1->text().isEmpty());
    QCOMPARE(ui.DelayTimeEdit->text(), QStringLiteral("0"));
    QVERIFY(!ui.CheckBox1->isChecked());
    QVERIFY(!ui.HexInputCheckBox->isChecked());
    QCOMPARE(ui.CheckBox1->text(), QStringLiteral("後置碼自動加上 0Dh ?"));
    QCOMPARE(ui.GroupBox1->title(), QStringLiteral("字元間隔傳送時間與後置碼處理"));
    QCOMPARE(ui.BitBtn1->text(), QStringLiteral("傳送"));
    QCOMPARE(ui.BitBtn2->text(), QStringLiteral("離開"));
    QCOMPARE(ui.BitBtn3->text(), QStringLiteral("插入控制碼"));
    QVERIFY(ui.BitBtn1->isDefault());
}

void TestStringSend::sendsBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("delay");
    QTest::addColumn<bool>("cr");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("AB, CR, paced") << "AB"
                                   << "10" << true << false << QByteArray("AB\r");
    QTest::newRow("empty") << ""
                           << "0" << false << false << QByteArray();
    QTest::newRow("empty, CR only") << ""
                                    << "abc" << true << false << QByteArray("\r");
    QTest::newRow("inserted CR and ESC")
            << QString::fromUtf8("a♪b←") << "0" << false << false << QByteArray("a\rb\x1B");
    QTest::newRow("Big5") << QString::fromUtf8("中文") << "1" << false << false
                          << QByteArray("\xA4\xA4\xA4\xE5");
    const QString longText = QString(300, u'x') + QStringLiteral("END");
    QTest::newRow("longer than 119 bytes")
            << longText << "0" << true << false << longText.toLatin1() + '\r';
    QTest::newRow("140 Chinese characters")
            << QString(140, u'中') << "0" << false << false << QByteArray(140 * 2, '\xA4');
    QTest::newRow("hex") << "01 03 00 00 00 0A"
                         << "1" << false << true << QByteArray("\x01\x03\x00\x00\x00\x0A", 6);
    QTest::newRow("hex, packed, CR") << "4f4B"
                                     << "0" << true << true << QByteArray("OK\r");
}

void TestStringSend::sendsBytes()
{
    QFETCH(QString, text);
    QFETCH(QString, delay);
    QFETCH(bool, cr);
    QFETCH(bool, hex);
    QFETCH(QByteArray, expected);
    Pty pty;
    LineCollector line(pty.masterFd());
    usePort(pty.slavePath());
    MessageRecorder boxes;
    bool allOutAtSecondShowing = false;
    Showing after = leave();
    after.check = [&] {
        // Written before the dialog came back; the reading thread may lag a little.
        allOutAtSecondShowing = line.waitForCount(expected.size(), 2000);
        QCOMPARE(ModeState::SendActive, uint8_t(1));
        QCOMPARE(Form1->statusPanel(2), QStringLiteral("傳送(自定字串)......"));
    };
    answerShowings({{text, delay, cr, QStringLiteral("BitBtn1"), {}, hex}, after});
    TForm1Controls(Form1).Send_UserStringButton->click();
    line.settle(50);
    QCOMPARE(line.bytes().toHex(' '), expected.toHex(' '));
    QVERIFY(allOutAtSecondShowing);
    QVERIFY(boxes.shown.isEmpty());
    verifyIdleAgain(pty);
    // Kept for the next time.
    QCOMPARE(TForm4Controls(Form4).Edit1->text(), text);
    QCOMPARE(TForm4Controls(Form4).DelayTimeEdit->text(), delay);
    QCOMPARE(TForm4Controls(Form4).CheckBox1->isChecked(), cr);
    QCOMPARE(TForm4Controls(Form4).HexInputCheckBox->isChecked(), hex);
}

void TestStringSend::sendsAgainUntilLeft()
{
    Pty pty;
    LineCollector line(pty.masterFd());
    usePort(pty.slavePath());
    bool idleDuringSend = false;
    Showing first {
            QStringLiteral("one"), QStringLiteral("5"), false, QStringLiteral("BitBtn1"), {}};
    Showing second {QStringLiteral("two"), QStringLiteral("0"), true, QStringLiteral("BitBtn1"),
                    [&] {
                        verifyNothingDisabled();
                        idleDuringSend = true;
                    }};
    answerShowings({first, second, leave()});
    TForm1Controls(Form1).Send_UserStringMenuBar->trigger();
    line.settle(50);
    QVERIFY(idleDuringSend);
    QCOMPARE(line.bytes(), QByteArray("onetwo\r"));
    verifyIdleAgain(pty);
}

void TestStringSend::leaveOnFirstShowing_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("leave button") << "BitBtn2";
    QTest::newRow("escape") << "escape";
    QTest::newRow("close box") << "close";
}

void TestStringSend::leaveOnFirstShowing()
{
    QFETCH(QString, how);
    Pty pty;
    LineCollector line(pty.masterFd());
    usePort(pty.slavePath());
    bool held = false;
    Showing s = leave();
    s.button = how;
    s.check = [&] {
        // The port is open while the dialog waits: another open of it fails.
        held = serial::openPort(pty.slavePath().toStdString()).fd < 0;
    };
    answerShowings({s});
    TForm1Controls(Form1).Send_UserStringButton->click();
    QVERIFY(held);
    QVERIFY(line.bytes().isEmpty());
    verifyIdleAgain(pty);
}

void TestStringSend::delayThatIsNoNumber()
{
    Pty pty;
    LineCollector line(pty.masterFd());
    usePort(pty.slavePath());
    MessageRecorder boxes;
    answerShowings(
            {{QStringLiteral("XYZ"), QStringLiteral("abc"), true, QStringLiteral("BitBtn1"), {}}});
    TForm1Controls(Form1).Send_UserStringButton->click();
    line.settle(50);
    // The first byte has gone out when the delay is converted; the send stops there and the
    // mode ends: no second showing, port closed, idle again.
    QCOMPARE(line.bytes(), QByteArray("X"));
    QCOMPARE(boxes.shown.size(), 1);
    QCOMPARE(boxes.shown[0].kind, Kind::Error);
    QCOMPARE(boxes.shown[0].text, QStringLiteral("'abc' is not a valid integer value."));
    QVERIFY(!Form4->isVisible());
    verifyIdleAgain(pty);
}

void TestStringSend::refusedBeforeSending_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("delay");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QString>("message");
    QTest::newRow("negative delay")
            << "AB"
            << "-1" << false << "延遲時間 '-1' 不可小於 0 ms,沒有傳送任何資料";
    QTest::newRow("no Big5 form") << QString::fromUtf8("ok😀") << "0" << false
                                  << "字元 '😀' (U+1F600) 無法轉成 Big5 碼,所以沒有傳送任何資料";
    QTest::newRow("bad hex digit")
            << "01 03 0G"
            << "0" << true << "第 8 個字元 'G' 不是十六進位數字,沒有傳送任何資料";
    QTest::newRow("odd hex digit") << "01 030"
                                   << "0" << true
                                   << "第 6 個字元 '0' 沒有成對 (每個位元組是兩位十六進位數字),"
                                      "沒有傳送任何資料";
}

void TestStringSend::refusedBeforeSending()
{
    QFETCH(QString, text);
    QFETCH(QString, delay);
    QFETCH(bool, hex);
    QFETCH(QString, message);
    Pty pty;
    LineCollector line(pty.masterFd());
    usePort(pty.slavePath());
    MessageRecorder boxes;
    bool shownAgain = false;
    Showing again = leave();
    again.check = [&] { shownAgain = true; };
    answerShowings({{text, delay, true, QStringLiteral("BitBtn1"), {}, hex}, again});
    TForm1Controls(Form1).Send_UserStringButton->click();
    line.settle(50);
    QVERIFY(line.bytes().isEmpty()); // not even the 0Dh
    QCOMPARE(boxes.texts(Kind::Plain), QStringList {message});
    QVERIFY(shownAgain);
    verifyIdleAgain(pty);
}

void TestStringSend::anotherModeMeanwhileCannotTakeThePort()
{
    Pty pty;
    LineCollector line(pty.masterFd());
    usePort(pty.slavePath());
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("f.bin"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("FILE");
    f.close();
    MessageRecorder boxes;

    std::vector<SerialPort *> portsDuringSend;
    bool nestedDone = false;
    uint8_t sendActiveAfterNested = 0;
    qsizetype bytesBeforeNested = 0;
    // Between two bytes of the string the user starts the file send from the tool bar.
    auto *timer = new QTimer;
    timer->setInterval(1);
    QObject::connect(timer, &QTimer::timeout, [&, timer] {
        if (line.count() < 2)
            return;
        timer->stop();
        timer->deleteLater();
        bytesBeforeNested = line.count();
        portsDuringSend = SerialPort::openPorts();
        QVERIFY(controlEnabled(QStringLiteral("Send_FileContentButton")));
        answerDialog("QFileDialog", [file](QWidget *w) {
            answerDialog("TForm3",
                         [](QWidget *w) { TForm3Controls(w).SendButton->click(); });
            auto *d = static_cast<QFileDialog *>(w);
            d->selectFile(file);
            static_cast<QDialog *>(d)->accept();
        });
        TForm1Controls(Form1).Send_FileContentButton->click();
        sendActiveAfterNested = ModeState::SendActive;
        QVERIFY(SerialPort::openPorts() == portsDuringSend);
        nestedDone = true;
    });
    timer->start();

    answerShowings({{QStringLiteral("0123456789"),
                     QStringLiteral("30"),
                     false,
                     QStringLiteral("BitBtn1"),
                     {}},
                    leave()});
    TForm1Controls(Form1).Send_UserStringButton->click();
    line.settle(50);

    QVERIFY(nestedDone);
    QVERIFY(bytesBeforeNested < 10); // it really ran in the middle
    QCOMPARE(boxes.texts(Kind::Beep).size(), 1);
    QCOMPARE(boxes.texts(Kind::Plain).size(), 1);
    QVERIFY(boxes.lastText().contains(QStringLiteral("無法開啟")));
    QCOMPARE(sendActiveAfterNested, uint8_t(1)); // the running send keeps its flag
    QCOMPARE(line.bytes(), QByteArray("0123456789"));
    verifyIdleAgain(pty);
    QVERIFY(!controlEnabled(QStringLiteral("BreakButton")));
}

void TestStringSend::portFailure()
{
    QTemporaryDir dir;
    usePort(dir.filePath(QStringLiteral("absent")));
    Form1->setStatusPanel(2, QStringLiteral("before"));
    MessageRecorder boxes;
    TForm1Controls(Form1).Send_UserStringButton->click();
    QCOMPARE(boxes.texts(Kind::Beep).size(), 1);
    QVERIFY(boxes.lastText().contains(QStringLiteral("無法開啟")));
    QCOMPARE(ModeState::SendActive, uint8_t(0));
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("before"));
    QVERIFY(!Form4->isVisible());
}

QTEST_MAIN(TestStringSend)
#include "tst_stringsend.moc"
