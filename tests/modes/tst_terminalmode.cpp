// SPDX-License-Identifier: MIT
// Terminal mode through its controls: a device on a real pseudo-terminal answers what the
// test types, and the display must hold exactly the labelled conversation.
#include "GuiHelpers.h"
#include "Pty.h"

#include "traffic/DisplayFormatter.h"
#include "session/ModeState.h"
#include "main/Telvixmain1.h"
#include "main/TrafficView.h"
#include "serial/PortSettings.h"
#include "widgets/InputHistory.h"
#include "TForm1Controls.h"

#include <QRadioButton>
#include <QTest>

#include <thread>

using MessageBoxes::Kind;

namespace {

const QString Nl {QChar(DisplayFormatter::LineBreak)};

QString memoText() { return Form1->memo1()->toPlainText(); }

TForm1Controls ui() { return TForm1Controls(Form1); }

void typeAndEnter(const QString &text)
{
    ui().Memo2->setFocus();
    QTest::keyClicks(ui().Memo2, text);
    QTest::keyClick(ui().Memo2, Qt::Key_Return);
}

} // namespace

class TestTerminalMode : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        freshStart();
        m_pty = std::make_unique<Pty>();
        PortSettings::DevicePathText = m_pty->slavePath();
    }
    void cleanup() { m_pty.reset(); }
    void cleanupTestCase() { tearDownForms(); }

    void conversationIsLabelled();
    void replyDuringSlowSendShownAfterIt();
    void clearDuringReplyGivesNewPrefix();
    void hexSwitchMidConversation();
    void pastedLinesGoOutWithCrLf();
    void insertedEscapeGoesOutAsOneByte();
    void failedDelayConversion();
    void breakRestoresWindow();
    void startingAgainClearsAndLabels();
    void endingAndHexOnTheWire_data();
    void endingAndHexOnTheWire();
    void badHexSendsNothing();
    void historyUpDown_data();
    void historyUpDown();

private:
    void run(ModeScript &script)
    {
        script.start();
        ui().EnableTRModeButton->click();
        QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    }
    std::unique_ptr<Pty> m_pty;
};

void TestTerminalMode::conversationIsLabelled()
{
    QByteArray sent;
    ModeScript script;
    script.then([] {
              QVERIFY(ui().Panel8->isVisible());
              QVERIFY(ui().EchoDataPanel->isVisible());
              QCOMPARE(Form1->statusPanel(2), QStringLiteral("通訊模式(已啟動執行)...."));
          })
            .then([] { typeAndEnter(QStringLiteral("AT")); })
            .then([&] { sent = m_pty->read(2); })
            .then([] { QVERIFY(ui().Memo2->toPlainText().isEmpty()); })
            .then([&] { m_pty->write("OK"); })
            .waitFor([] { return memoText().endsWith(QStringLiteral("OK")); }, "first burst")
            .then([&] { m_pty->write("\r\n"); })
            .waitFor([] { return memoText().endsWith(QStringLiteral("<LF>")); }, "second burst")
            .then([] { ui().BreakButton->click(); });
    run(script);
    QCOMPARE(sent, QByteArray("AT"));
    QCOMPARE(memoText(), Nl + "主機傳送 : AT" + Nl + "設備回應 : OK<CR>" + Nl + "<LF>");
}

void TestTerminalMode::replyDuringSlowSendShownAfterIt()
{
    std::thread device;
    ModeScript script;
    script.then([] { ui().TRMode_Char_DelayTime_Edit->setText(QStringLiteral("50")); })
            .then([&] {
                // The device answers while the send is still going out.
                device = std::thread([this] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(70));
                    m_pty->write("xyz");
                });
                typeAndEnter(QStringLiteral("ABCD"));
            })
            .waitFor([] { return memoText().endsWith(QStringLiteral("xyz")); }, "the reply")
            .then([] { ui().BreakButton->click(); });
    run(script);
    device.join();
    QCOMPARE(memoText(), Nl + "主機傳送 : ABCD" + Nl + "設備回應 : xyz");
    QCOMPARE(m_pty->read(4), QByteArray("ABCD"));
}

void TestTerminalMode::clearDuringReplyGivesNewPrefix()
{
    ModeScript script;
    script.then([&] { m_pty->write("part1"); })
            .waitFor([] { return memoText().endsWith(QStringLiteral("part1")); }, "first part")
            .then([&] { m_pty->write("more"); })
            .waitFor([] { return memoText().endsWith(QStringLiteral("more")); }, "same reply")
            .then([] { ui().ClearDataButton->click(); })
            .then([&] { m_pty->write("part2"); })
            .waitFor([] { return memoText().endsWith(QStringLiteral("part2")); }, "after Clear")
            .then([] { ui().BreakButton->click(); });
    run(script);
    QCOMPARE(memoText(), Nl + "設備回應 : part2");
}

void TestTerminalMode::hexSwitchMidConversation()
{
    ModeScript script;
    script.then([] { ui().HexModeMenuBar->trigger(); })
            .then([] { typeAndEnter(QStringLiteral("A")); })
            .then([&] { m_pty->write("\r"); })
            .waitFor([] { return memoText().contains(QStringLiteral("0D ")); }, "HEX reply")
            .then([] { ui().BreakButton->click(); });
    run(script);
    QCOMPARE(memoText(), Nl + "主機傳送 : 41 " + Nl + "設備回應 : 0D " + Nl);
}

void TestTerminalMode::pastedLinesGoOutWithCrLf()
{
    ModeScript script;
    script.then([] { ui().Memo2->setPlainText(QStringLiteral("L1\nL2")); })
            .then([] { ui().SendEchoMessageButton->click(); })
            .then([] { ui().BreakButton->click(); });
    run(script);
    QCOMPARE(m_pty->read(6), QByteArray("L1\r\nL2"));
    QCOMPARE(memoText(), Nl + "主機傳送 : L1<CR>" + Nl + "<LF>L2");
}

void TestTerminalMode::insertedEscapeGoesOutAsOneByte()
{
    ModeScript script;
    script.then([] { ui().Memo2->setPlainText(QStringLiteral("ab")); })
            .then([] {
                // "a" selected: the code lands after the selection, which stays.
                QTextCursor c = ui().Memo2->textCursor();
                c.setPosition(0);
                c.setPosition(1, QTextCursor::KeepAnchor);
                ui().Memo2->setTextCursor(c);
                answerNextModal([](QWidget *picker) {
                    picker->findChild<QRadioButton *>(QStringLiteral("RadioButton28"))->click();
                    picker->findChild<QAbstractButton *>(QStringLiteral("BitBtn1"))->click();
                });
                ui().EchoEditControlInsertButton->click();
            })
            .then([] {
                // The selected "a" stays; the code (its glyph, ←) follows it.
                QCOMPARE(ui().Memo2->toPlainText(), QStringLiteral("a\u2190b"));
                QCOMPARE(ui().Memo2->textCursor().position(), 2);
            })
            .then([] { ui().SendEchoMessageButton->click(); })
            .then([] { ui().BreakButton->click(); });
    run(script);
    QCOMPARE(m_pty->read(3),
             QByteArray("a\x1B"
                        "b"));
    QCOMPARE(memoText(), Nl + "主機傳送 : a<ESC>b");
}

void TestTerminalMode::failedDelayConversion()
{
    MessageRecorder boxes;
    ModeScript script;
    script.then([] { ui().TRMode_Char_DelayTime_Edit->setText(QStringLiteral("abc")); })
            .then([] { ui().Memo2->setPlainText(QStringLiteral("XY")); })
            .then([] { ui().SendEchoMessageButton->click(); })
            .then([] {
                QCOMPARE(ui().Memo2->toPlainText(), QStringLiteral("XY")); // the button keeps it
                QCOMPARE(ModeState::SendActive, uint8_t(0));
                QCOMPARE(ModeState::TRModeActive, uint8_t(1));
            })
            // The mode goes on: with the delay corrected the next send goes out whole.
            .then([] { ui().TRMode_Char_DelayTime_Edit->setText(QStringLiteral("1")); })
            .then([] { ui().SendEchoMessageButton->click(); })
            .then([] { ui().BreakButton->click(); });
    run(script);
    QCOMPARE(boxes.texts(Kind::Error), QStringList {"'abc' is not a valid integer value."});
    // The first byte went out before the delay was read; it was not shown.
    QCOMPARE(m_pty->read(3), QByteArray("XXY"));
    QCOMPARE(memoText(), Nl + "主機傳送 : " + Nl + "主機傳送 : XY");
}

void TestTerminalMode::breakRestoresWindow()
{
    Form1->setMemo1Colour(Qt::yellow);
    ModeScript script;
    script.then([] {
              QVERIFY(ui().Memo1->isReadOnly());
              QVERIFY(!ui().ReceiveButton->isEnabled());
              QVERIFY(ui().ClearDataButton->isEnabled());
              QVERIFY(!Form1->close());
          })
            .then([&] { m_pty->write("kept"); })
            .waitFor([] { return memoText().endsWith(QStringLiteral("kept")); }, "reply")
            .then([] { ui().BreakMenuBar->trigger(); });
    MessageRecorder boxes;
    run(script);
    QVERIFY(!ui().Panel8->isVisible());
    QVERIFY(!ui().EchoDataPanel->isVisible());
    QVERIFY(!ui().Memo1->isReadOnly());
    QCOMPARE(Form1->memo1Colour(), QColor(Qt::yellow));
    QCOMPARE(memoText(), Nl + "設備回應 : kept");
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("未連線"));
    QCOMPARE(ModeState::TRModeActive, uint8_t(0));
    QVERIFY(ui().ReceiveButton->isEnabled());
    QVERIFY(!ui().BreakButton->isEnabled());
}

void TestTerminalMode::startingAgainClearsAndLabels()
{
    for (int run = 0; run < 2; ++run) {
        ModeScript script;
        script.then([&] { m_pty->write("r"); })
                .waitFor([] { return memoText().endsWith(u'r'); }, "reply")
                .then([] { ui().BreakButton->click(); });
        this->run(script);
        QCOMPARE(memoText(), Nl + "設備回應 : r");
    }
}

void TestTerminalMode::endingAndHexOnTheWire_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QString>("ending");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("shown");
    QTest::newRow("none") << "AT" << false << "無" << QByteArray("AT") << "AT";
    QTest::newRow("CR") << "AT" << false << "CR" << QByteArray("AT\r") << "AT<CR>" + Nl;
    QTest::newRow("LF") << "AT" << false << "LF" << QByteArray("AT\n") << "AT<LF>";
    QTest::newRow("CR LF") << "AT" << false << "CR LF" << QByteArray("AT\r\n")
                           << "AT<CR>" + Nl + "<LF>";
    QTest::newRow("empty box, CR") << "" << false << "CR" << QByteArray("\r") << "<CR>" + Nl;
    QTest::newRow("hex") << "01 03 00 00 00 0A" << true << "無"
                         << QByteArray("\x01\x03\x00\x00\x00\x0A", 6)
                         << "<SOH><ETX><NULL><NULL><NULL><LF>";
    QTest::newRow("hex, CR LF") << "4f4b" << true << "CR LF" << QByteArray("OK\r\n")
                                << "OK<CR>" + Nl + "<LF>";
}

void TestTerminalMode::endingAndHexOnTheWire()
{
    QFETCH(QString, text);
    QFETCH(bool, hex);
    QFETCH(QString, ending);
    QFETCH(QByteArray, wire);
    QFETCH(QString, shown);
    QCOMPARE(ui().LineEndComboBox->currentText(), QStringLiteral("無"));
    QVERIFY(!ui().HexInputCheckBox->isChecked());
    ModeScript script;
    script.then([&] {
              ui().LineEndComboBox->setCurrentText(ending);
              ui().HexInputCheckBox->setChecked(hex);
              typeAndEnter(text);
          })
            .then([] { QVERIFY(ui().Memo2->toPlainText().isEmpty()); })
            .then([] { ui().BreakButton->click(); });
    run(script);
    QCOMPARE(m_pty->read(wire.size() + 1, 300).toHex(' '), wire.toHex(' '));
    QCOMPARE(memoText(), Nl + "主機傳送 : " + shown);
}

void TestTerminalMode::badHexSendsNothing()
{
    const QString message = QStringLiteral("第 5 個字元 'G' 不是十六進位數字,沒有傳送任何資料");
    MessageRecorder boxes;
    ModeScript script;
    script.then([] {
              ui().HexInputCheckBox->setChecked(true);
              ui().LineEndComboBox->setCurrentText(QStringLiteral("CR"));
              typeAndEnter(QStringLiteral("01 0G"));
          })
            .then([] { ui().SendEchoMessageButton->click(); })
            .then([] {
                // Left in the box to be mended where the message points.
                QCOMPARE(ui().Memo2->toPlainText(), QStringLiteral("01 0G"));
                QCOMPARE(ModeState::SendActive, uint8_t(0));
            })
            .then([] {
                QTest::keyClick(ui().Memo2, Qt::Key_Backspace);
                QTest::keyClick(ui().Memo2, Qt::Key_Backspace);
                typeAndEnter(QStringLiteral("41"));
            })
            .then([] { ui().BreakButton->click(); });
    run(script);
    QCOMPARE(boxes.texts(Kind::Plain), QStringList({message, message}));
    QCOMPARE(m_pty->read(4, 300),
             QByteArray("\x01"
                        "A\r"));
    QCOMPARE(memoText(), Nl + "主機傳送 : <SOH>A<CR>" + Nl);
}

void TestTerminalMode::historyUpDown_data()
{
    // Keys: U is Up, D is Down, anything else is typed.
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("box");
    const QStringList three {"one", "two", "three"};
    QTest::newRow("Up goes back") << three << "typedUU"
                                  << "two";
    QTest::newRow("Up stops at the oldest") << three << "UUUU"
                                            << "one";
    QTest::newRow("Down goes forward") << three << "UUUD"
                                       << "two";
    QTest::newRow("past the newest: what was typed") << three << "typedUUDD"
                                                     << "typed";
    QTest::newRow("Down alone changes nothing") << three << "typedD"
                                                << "typed";
    QTest::newRow("an edit is kept while moving") << three << "U!UD"
                                                  << "three!";
    QTest::newRow("a repeat is one entry") << QStringList {"a", "b", "b"} << "UU"
                                           << "a";
    QTest::newRow("Up inside a message moves the caret first")
            << QStringList {"old", "l1\nl2"} << "UU"
            << "l1\nl2";
    QTest::newRow("and then goes back") << QStringList {"old", "l1\nl2"} << "UUU"
                                        << "old";
    QStringList many;
    for (int i = 0; i <= InputHistory::Capacity; ++i)
        many << QStringLiteral("m%1").arg(i);
    QTest::newRow("the last 100") << many << QString(InputHistory::Capacity + 1, u'U') << "m1";
}

void TestTerminalMode::historyUpDown()
{
    QFETCH(QStringList, sent);
    QFETCH(QString, keys);
    QFETCH(QString, box);
    ModeScript script;
    script.then([&] {
              for (const QString &message : sent) {
                  ui().Memo2->setPlainText(message);
                  ui().SendEchoMessageButton->click();
              }
          })
            .then([&] {
                ui().Memo2->setFocus();
                for (const QChar key : keys) {
                    if (key == u'U')
                        QTest::keyClick(ui().Memo2, Qt::Key_Up);
                    else if (key == u'D')
                        QTest::keyClick(ui().Memo2, Qt::Key_Down);
                    else
                        QTest::keyClicks(ui().Memo2, key);
                }
            })
            .then([&] { QCOMPARE(ui().Memo2->toPlainText(), box); })
            .then([] { ui().BreakButton->click(); });
    run(script);
}

QTEST_MAIN(TestTerminalMode)
#include "tst_terminalmode.moc"
