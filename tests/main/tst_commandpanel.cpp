// SPDX-License-Identifier: MIT
// The command list and the auto-replies driven as a user would, while receive or terminal mode
// runs on a real pseudo-terminal: what reaches the line, what the display, the capture and the
// log make of it, repeats on their grid, answers with their delay and their bound.
#include "GuiHelpers.h"
#include "Pty.h"

#include "TForm1Controls.h"
#include "main/CommandPanel.h"
#include "main/Telvixmain1.h"
#include "main/TrafficView.h"
#include "send/CommandRepeat.h"
#include "serial/PortSettings.h"
#include "session/ModeState.h"
#include "traffic/LogFormat.h"
#include "traffic/TrafficCapture.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

using CommandList::Command;

namespace {

CommandPanel *panel() { return Form1->commandPanel(); }

void showPanel()
{
    if (!TForm1Controls(Form1).CommandPanelMenuBar->isChecked())
        TForm1Controls(Form1).CommandPanelMenuBar->trigger();
}

QPushButton *sendButton(int row)
{
    return panel()->findChild<QPushButton *>(QStringLiteral("CommandSend%1").arg(row + 1));
}

Command command(const QString &content, bool hex, Checksum::Kind check = Checksum::Kind::None,
                int repeatMs = 0, const QString &key = {})
{
    Command c;
    c.name = QStringLiteral("讀取");
    c.hex = hex;
    c.content = content;
    c.check = check;
    c.repeatMs = repeatMs;
    c.key = key;
    return c;
}

AutoReply::Rule rule(const QString &pattern, const QString &reply, int delayMs = 0)
{
    AutoReply::Rule r;
    r.name = pattern;
    r.pattern = pattern;
    r.reply.content = reply;
    r.reply.ending = CommandList::Ending::CrLf;
    r.delayMs = delayMs;
    return r;
}

QList<TrafficRecord> sentRecords()
{
    QList<TrafficRecord> found;
    Form1->capture().forEach([&](const TrafficRecord &r) {
        if (r.kind == TrafficKind::Sent)
            found.append(r);
    });
    return found;
}

// The bytes of the Modbus request "read 10 holding registers from 0 of slave 1", with its CRC.
const QByteArray ReadRequest("\x01\x03\x00\x00\x00\x0A\xC5\xCD", 8);

} // namespace

class TestCommandPanel : public QObject
{
    Q_OBJECT

private slots:
    void init() { freshStart(); }
    void cleanupTestCase() { tearDownForms(); }

    void growsTheWindowAndWaitsForAMode();
    void clickKeyAndEnterSendTheCommand();
    void repeatStaysOnItsGridAndStopsAtBreak();
    void terminalModeLabelsWhatTheListSends();
    void autoReplyAnswersAfterItsDelay();
    void replyStormIsBounded();
    void listFileGoesOutAndComesBack();

private:
    bool runMode(ModeScript &script, QAbstractButton *start = nullptr)
    {
        script.then([] { TForm1Controls(Form1).BreakButton->click(); });
        script.start();
        (start ? start : TForm1Controls(Form1).ReceiveButton)->click();
        return script.finished() && script.failure().isEmpty();
    }
};

void TestCommandPanel::growsTheWindowAndWaitsForAMode()
{
    QVERIFY(!panel()->isVisible());
    const QList<QAction *> items = TForm1Controls(Form1).SettingsMenuBar->actions();
    QCOMPARE(items.last(), TForm1Controls(Form1).CommandPanelMenuBar);
    QCOMPARE(items.at(items.size() - 2), TForm1Controls(Form1).LinePanelMenuBar);
    const QSize window = Form1->size();
    const QSize memo = Form1->memo1()->size();
    showPanel();
    QVERIFY(waitUntil([] { return panel()->isVisible(); }));
    QCOMPARE(Form1->height(), window.height() + panel()->height());
    QCOMPARE(Form1->width(), window.width());
    QVERIFY(waitUntil([&] { return Form1->memo1()->size() == memo; }));

    // No mode runs: the command is there but cannot go, and says why.
    panel()->setCommands({command("AT", false)});
    QVERIFY(!sendButton(0)->isEnabled());
    QCOMPARE(sendButton(0)->toolTip(), QString::fromUtf8(CommandPanel::NoModeTip));
    TForm1Controls(Form1).CommandPanelMenuBar->trigger();
    QVERIFY(waitUntil([&] { return Form1->size() == window; }));
}

void TestCommandPanel::clickKeyAndEnterSendTheCommand()
{
    showPanel();
    panel()->setCommands({command("01 03 00 00 00 0A", true, Checksum::Kind::Crc16Modbus, 0,
                                  QStringLiteral("F5"))});
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    QByteArray heard;
    const auto heardTimes = [&](int n) {
        heard += pty.readAvailable();
        return heard == ReadRequest.repeated(n);
    };
    auto *content = panel()->findChild<QLineEdit *>(QStringLiteral("CommandContent1"));
    // A key works in the window that has the keyboard.
    Form1->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(Form1));
    ModeScript script;
    script.waitFor([] { return sendButton(0)->isEnabled(); }, "the command can go")
            .then([] { sendButton(0)->click(); })
            .waitFor([&] { return heardTimes(1); }, "by its button")
            .then([] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5); })
            .waitFor([&] { return heardTimes(2); }, "by its key")
            .then([&] {
                content->setFocus();
                QTest::keyClick(content, Qt::Key_Return);
            })
            .waitFor([&] { return heardTimes(3); }, "by Enter on its row")
            .waitFor([] { return sentRecords().size() == 3; }, "three records in the capture")
            // Receive mode shows what arrives; what the list sends only when asked.
            .then([] {
                QVERIFY(Form1->memo1()->toPlainText().isEmpty());
                panel()->findChild<QCheckBox *>(QStringLiteral("ShowSentCheck"))->setChecked(true);
                sendButton(0)->click();
            })
            .waitFor([] { return Form1->memo1()->toPlainText().startsWith(u"\n送出 : "); },
                     "shown when asked");
    QVERIFY2(runMode(script), qPrintable(script.failure()));
    for (const TrafficRecord &r : sentRecords()) {
        QCOMPARE(r.bytes, ReadRequest);
        QVERIFY(LogFormat::logLine(r).contains(u"\tTX\t"));
    }
    QVERIFY(!sendButton(0)->isEnabled()); // the mode ended
}

void TestCommandPanel::repeatStaysOnItsGridAndStopsAtBreak()
{
    showPanel();
    panel()->setCommands({command("R", false, Checksum::Kind::None, 10)});
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    QElapsedTimer running;
    QByteArray heard;
    qint64 ranMs = 0;
    ModeScript script;
    script.waitFor([] { return sendButton(0)->isEnabled(); }, "the command can go")
            .then([&] {
                sendButton(0)->click();
                running.start();
            })
            .waitFor(
                    [&] {
                        heard += pty.readAvailable();
                        return running.elapsed() >= 2000;
                    },
                    "two seconds of repeats", 10000)
            .then([&] {
                QVERIFY(sendButton(0)->isChecked());
                ranMs = running.elapsed();
            });
    QVERIFY2(runMode(script), qPrintable(script.failure()));
    // Break stopped it: nothing after, the button is out again.
    const QByteArray tail = pty.read(1000, 200);
    heard += tail;
    QVERIFY(panel()->repeatOf(0) == nullptr);
    QVERIFY(!sendButton(0)->isChecked());
    QVERIFY(pty.read(1, 100).isEmpty());
    // One send on each 10 ms point from the first: a late one does not push the next back.
    const qint64 expected = ranMs / 10 + 1;
    QVERIFY2(qAbs(heard.size() - expected) <= 2,
             qPrintable(QStringLiteral("%1 sends in %2 ms").arg(heard.size()).arg(ranMs)));
    QCOMPARE(heard, QByteArray(heard.size(), 'R'));
}

void TestCommandPanel::terminalModeLabelsWhatTheListSends()
{
    showPanel();
    panel()->setCommands({command("ATI", false)});
    TForm1Controls(Form1).LocalNameEdit->setText(QStringLiteral("PC"));
    TForm1Controls(Form1).RemoteNameEdit->setText(QStringLiteral("數據機"));
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    ModeScript script;
    script.waitFor([] { return sendButton(0)->isEnabled(); }, "the command can go")
            .then([] { sendButton(0)->click(); })
            .waitFor([&] { return pty.readAvailable() == "ATI"; }, "on the line")
            .then([&] { pty.write("OK"); })
            .waitFor([] { return Form1->memo1()->toPlainText().endsWith(u"OK"); }, "the answer")
            .then([] { sendButton(0)->click(); })
            .waitFor([] { return Form1->memo1()->toPlainText().endsWith(u"ATI"); },
                     "the second command");
    QVERIFY2(runMode(script, TForm1Controls(Form1).EnableTRModeButton),
             qPrintable(script.failure()));
    QCOMPARE(Form1->memo1()->toPlainText(), QStringLiteral("\nPC : ATI\n數據機 : OK\nPC : ATI"));
}

void TestCommandPanel::autoReplyAnswersAfterItsDelay()
{
    showPanel();
    panel()->setRules({rule(QStringLiteral("AT"), QStringLiteral("OK"), 80)});
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    QElapsedTimer sinceTrigger;
    QByteArray answer;
    qint64 answeredMs = -1;
    ModeScript script;
    // The trigger split between two writes is found all the same.
    script.waitFor([] { return panel()->answering(); }, "the rules answer")
            .then([&] { pty.write("xA"); })
            .then([&] {
                QTest::qWait(30);
                pty.write("Ty");
                sinceTrigger.start();
            })
            .waitFor(
                    [&] {
                        answer += pty.readAvailable();
                        if (answer.size() == 4 && answeredMs < 0)
                            answeredMs = sinceTrigger.elapsed();
                        return answer.size() >= 4;
                    },
                    "the answer")
            .waitFor([] { return panel()->responder().hits(0) == 1; }, "counted");
    QVERIFY2(runMode(script), qPrintable(script.failure()));
    QCOMPARE(answer, QByteArray("OK\r\n"));
    QVERIFY2(answeredMs >= 75, qPrintable(QString::number(answeredMs)));
    QCOMPARE(sentRecords().size(), 1);
    // The display's passes follow the screen again once no rule answers.
    QVERIFY(!panel()->answering());
}

void TestCommandPanel::replyStormIsBounded()
{
    showPanel();
    AutoReply::Rule storm = rule(QStringLiteral("X"), QStringLiteral("Y"));
    storm.reply.ending = CommandList::Ending::None;
    panel()->setRules({storm});
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    MessageRecorder boxes;
    std::atomic<bool> writing {false};
    std::atomic<int> written {0};
    std::thread device;
    QElapsedTimer storming;
    QByteArray answers;
    ModeScript script;
    script.waitFor([] { return panel()->answering(); }, "the rules answer")
            .then([&] {
                writing = true;
                storming.start();
                // Ten triggers every millisecond.
                device = std::thread([&] {
                    while (writing) {
                        written += int(pty.writeSome("XXXXXXXXXX", 10));
                        QThread::usleep(1000);
                    }
                });
            })
            .waitFor(
                    [&] {
                        answers += pty.readAvailable();
                        return storming.elapsed() >= 2500;
                    },
                    "the storm", 10000)
            .then([&] {
                writing = false;
                device.join();
            })
            .waitFor([&] { return panel()->responder().hits(0) == written; },
                     "every match counted");
    QVERIFY2(runMode(script), qPrintable(script.failure()));
    if (device.joinable()) {
        writing = false;
        device.join();
    }
    answers += pty.read(1000, 100);
    QVERIFY2(written > 10000, qPrintable(QString::number(written)));
    // At most 100 in any second: 2.5 s of storm is three windows at the most.
    QVERIFY2(answers.size() <= 300 && answers.size() >= 200,
             qPrintable(QString::number(answers.size())));
    QVERIFY(panel()->findChild<QLabel *>(QStringLiteral("ReplyNoteLabel"))
                    ->text()
                    .contains(u"100"));
    QVERIFY(boxes.shown.isEmpty());
}

void TestCommandPanel::listFileGoesOutAndComesBack()
{
    showPanel();
    QTemporaryDir dir;
    const std::vector<Command> list {
            command("01 03", true, Checksum::Kind::Lrc, 0, QStringLiteral("Ctrl+2")),
            command("AT", false, Checksum::Kind::None, 500)};
    panel()->setCommands(list);
    panel()->setRules({rule(QStringLiteral("AT"), QStringLiteral("OK"), 5)});
    const QString path = dir.filePath(QStringLiteral("站點.tvcmd"));
    QVERIFY(panel()->saveFile(path));
    panel()->setCommands({});
    panel()->setRules({});
    QVERIFY(panel()->openFile(path));
    QVERIFY(panel()->commands() == list);
    QCOMPARE(panel()->rules().size(), size_t(1));

    // A bad file is said with its row, and the list stays as it was.
    QFile bad(dir.filePath(QStringLiteral("bad.tvcmd")));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write(
            R"({"format": "telvix-commands", "version": 1, "commands": [{"name": "壞", "form": "hex", "content": "0G"}]})");
    bad.close();
    MessageRecorder boxes;
    QVERIFY(!panel()->openFile(bad.fileName()));
    QVERIFY(boxes.lastText().contains(QStringLiteral("第 1 列「壞」")));
    QVERIFY(panel()->commands() == list);
}

QTEST_MAIN(TestCommandPanel)
#include "tst_commandpanel.moc"
