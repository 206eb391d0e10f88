// SPDX-License-Identifier: MIT
// The line panel driven as a user would, while receive mode runs on a real pseudo-terminal. A
// pty has no handshake lines, so the port is given a line model of the test's own that has
// them; the path through the kernel's calls is tested under the interposer (tst_linecontrol,
// tst_linepanelpty).
#include "GuiHelpers.h"
#include "LinePanelHelpers.h"
#include "Pty.h"

#include "traffic/LineEvents.h"
#include "main/LinePanel.h"
#include "traffic/LogFormat.h"
#include "session/ModeState.h"
#include "main/Telvixmain1.h"
#include "main/TrafficView.h"
#include "serial/PortSettings.h"
#include "serial/SerialPort.h"
#include "serial/Telvixmain2.h"
#include "TForm1Controls.h"
#include "TForm2Controls.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <cerrno>
#include <mutex>
#include <termios.h>

namespace {

// Lines a test sets and reads; every call is counted, so a refused driver can be seen not to
// be asked again and again.
struct LineModel
{
    std::mutex mutex;
    uint8_t lines = 0;
    serial::ErrorCounts counts;
    bool refuse = false;
    int lineReads = 0;
    QList<std::pair<serial::ModemLine, bool>> sets;
    QList<int> breaks;
};

class ModelControl : public serial::LineControl
{
public:
    explicit ModelControl(LineModel &model) : m(model) { }
    bool modemLines(uint8_t &lines) override
    {
        const std::lock_guard lock(m.mutex);
        ++m.lineReads;
        lines = m.lines;
        return answer();
    }
    bool setLine(serial::ModemLine line, bool on) override
    {
        const std::lock_guard lock(m.mutex);
        if (m.refuse)
            return answer();
        m.sets.append({line, on});
        m.lines = on ? (m.lines | line) : (m.lines & ~line);
        return true;
    }
    bool waitForChange(uint8_t) override
    {
        errno = ENOTTY; // polled, as most USB adapters are
        return false;
    }
    bool errorCounts(serial::ErrorCounts &counts) override
    {
        const std::lock_guard lock(m.mutex);
        counts = m.counts;
        return answer();
    }
    bool sendBreak(int ms) override
    {
        {
            const std::lock_guard lock(m.mutex);
            if (m.refuse)
                return answer();
        }
        QTest::qSleep(ms);
        const std::lock_guard lock(m.mutex);
        m.breaks.append(ms);
        return true;
    }

private:
    bool answer()
    {
        if (!m.refuse)
            return true;
        errno = ENOTTY;
        return false;
    }
    LineModel &m;
};

tcflag_t inputFlagsOfOpenPort()
{
    const std::vector<SerialPort *> open = SerialPort::openPorts();
    termios t {};
    if (open.empty() || tcgetattr(open.back()->descriptor(), &t) != 0)
        return 0;
    return t.c_iflag;
}

} // namespace

class TestLinePanel : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        freshStart();
        model = std::make_unique<LineModel>();
        SerialPort::setControlFactory(
                [m = model.get()](int) { return std::make_unique<ModelControl>(*m); });
    }
    void cleanup() { SerialPort::setControlFactory({}); }
    void cleanupTestCase() { tearDownForms(); }

    void showsAndHidesWithoutMovingTheRest();
    void hiddenChangesNothing();
    void outputsAndBreak();
    void lampsAndCountersFollowTheLine();
    void refusingDriverIsSaidOnce();
    void flowControlFromThePortDialog_data();
    void flowControlFromThePortDialog();

private:
    void showPanel()
    {
        if (!TForm1Controls(Form1).LinePanelMenuBar->isChecked())
            TForm1Controls(Form1).LinePanelMenuBar->trigger();
    }
    bool runReceive(ModeScript &script)
    {
        script.then([] { TForm1Controls(Form1).BreakButton->click(); });
        script.start();
        TForm1Controls(Form1).ReceiveButton->click();
        return script.finished() && script.failure().isEmpty();
    }
    std::unique_ptr<LineModel> model;
};

void TestLinePanel::showsAndHidesWithoutMovingTheRest()
{
    QVERIFY(!panel()->isVisible());
    QVERIFY(!TForm1Controls(Form1).LinePanelMenuBar->isChecked());
    // Beside the documented items, not among them.
    const QList<QAction *> items = TForm1Controls(Form1).SettingsMenuBar->actions();
    QVERIFY(items.indexOf(TForm1Controls(Form1).LinePanelMenuBar)
            > items.indexOf(TForm1Controls(Form1).ClearDataMenubar));
    QCOMPARE(TForm1Controls(Form1).LinePanelMenuBar->text(), QStringLiteral("線路狀態面板"));

    const QSize window = Form1->size();
    const QSize memo = Form1->memo1()->size();
    const QRect toolBar = TForm1Controls(Form1).Panel1->geometry();
    showPanel();
    QVERIFY(waitUntil([] { return panel()->isVisible(); }));
    QVERIFY(waitUntil([&] { return Form1->memo1()->size() == memo; }));
    QCOMPARE(Form1->width(), window.width());
    QCOMPARE(Form1->height(), window.height() + panel()->height());
    QCOMPARE(TForm1Controls(Form1).Panel1->geometry(), toolBar);
    QCOMPARE(panel()->geometry().top(), toolBar.bottom() + 1);
    TForm1Controls(Form1).LinePanelMenuBar->trigger();
    QVERIFY(waitUntil([&] { return Form1->size() == window; }));
    QCOMPARE(Form1->memo1()->size(), memo);
}

void TestLinePanel::hiddenChangesNothing()
{
    // Chosen, then hidden: the port opens as it always did.
    showPanel();
    panelChild<QComboBox>("OpenLinesCombo")->setCurrentIndex(1);
    panelChild<QCheckBox>("MarkErrorsCheck")->setChecked(true);
    TForm1Controls(Form1).LinePanelMenuBar->trigger();
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    tcflag_t flags = 0;
    ModeScript script;
    script.then([&] { pty.write("x"); })
            .waitFor([] { return Form1->memo1()->toPlainText() == u"x"; }, "the byte")
            .then([&] { flags = inputFlagsOfOpenPort(); });
    QVERIFY(runReceive(script));
    QVERIFY(model->sets.isEmpty());
    QCOMPARE(model->lineReads, 0);
    QCOMPARE(flags & (PARMRK | INPCK), tcflag_t(0));
    QVERIFY(captured(TrafficKind::ModemLines).isEmpty());
}

void TestLinePanel::outputsAndBreak()
{
    showPanel();
    panelChild<QComboBox>("OpenLinesCombo")->setCurrentIndex(1); // 開
    QToolButton *dtr = panelChild<QToolButton>("DtrButton");
    QToolButton *rts = panelChild<QToolButton>("RtsButton");
    QPushButton *breakButton = panelChild<QPushButton>("SendBreakButton");
    QVERIFY(!dtr->isEnabled() && !breakButton->isEnabled()); // no port yet
    panelChild<QSpinBox>("BreakDurationSpin")->setValue(120);
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    ModeScript script;
    script.waitFor([&] { return dtr->isEnabled() && dtr->isChecked() && rts->isChecked(); },
                   "both outputs on after opening")
            .then([&] { dtr->click(); })
            .waitFor([&] { return !(model->lines & serial::Dtr); }, "DTR off")
            .waitFor([&] { return spoken(dtr) == u"DTR 關"; }, "DTR readable as off")
            .then([&] { breakButton->click(); })
            .waitFor([&] { return model->breaks.size() == 1; }, "a break")
            .waitFor([] { return captured(TrafficKind::BreakSent).size() == 1; }, "break recorded");
    QVERIFY2(runReceive(script), qPrintable(script.failure()));
    QCOMPARE(model->breaks, QList<int>({120}));
    const QList<std::pair<serial::ModemLine, bool>> expected {
            {serial::Dtr, true}, {serial::Rts, true}, {serial::Dtr, false}};
    QCOMPARE(model->sets, expected);
    QVERIFY(!dtr->isEnabled()); // the mode ended

    // Every change is in the capture, in order, and reads in the log.
    const QList<TrafficRecord> changes = captured(TrafficKind::ModemLines);
    QList<uint8_t> changed;
    for (const TrafficRecord &r : changes)
        if (LineEvents::modemChangeOf(r)->changed != 0)
            changed.append(LineEvents::modemChangeOf(r)->changed);
    QCOMPARE(changed, QList<uint8_t>({serial::Dtr, serial::Rts, serial::Dtr}));
    QVERIFY(LogFormat::logLine(captured(TrafficKind::BreakSent).first())
                    .contains(QStringLiteral("EV\tBREAK\t送出 Break 120 ms")));
}

void TestLinePanel::lampsAndCountersFollowTheLine()
{
    showPanel();
    QLabel *cts = panelChild<QLabel>("CtsLamp");
    QLabel *dsr = panelChild<QLabel>("DsrLamp");
    QLabel *counts = panelChild<QLabel>("ErrorCountsLabel");
    QCOMPARE(spoken(cts), QStringLiteral("CTS 未連線"));
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    const auto setInputs = [this](uint8_t lines) {
        const std::lock_guard lock(model->mutex);
        model->lines = (model->lines & serial::OutputLines) | lines;
    };
    ModeScript script;
    script.waitFor([&] { return spoken(cts) == u"CTS 關"; }, "CTS read")
            .then([&] { setInputs(serial::Cts | serial::Dcd); })
            .waitFor([&] { return spoken(cts) == u"CTS 開" && spoken(dsr) == u"DSR 關"; },
                     "CTS on")
            .then([&] {
                const std::lock_guard lock(model->mutex);
                model->counts.frame = 2;
                model->counts.parity = 1;
            })
            .waitFor([&] { return counts->text().startsWith(QStringLiteral("訊框 2 同位 1 ")); },
                     "counters")
            .then([&] { setInputs(serial::Dsr); })
            .waitFor([&] { return spoken(dsr) == u"DSR 開" && spoken(cts) == u"CTS 關"; },
                     "DSR on, CTS off")
            .waitFor([] { return captured(TrafficKind::ModemLines).size() >= 3; }, "recorded");
    QVERIFY2(runReceive(script), qPrintable(script.failure()));

    const QList<TrafficRecord> changes = captured(TrafficKind::ModemLines);
    QCOMPARE(LineEvents::modemChangeOf(changes[0])->changed, uint8_t(0)); // the state at start
    QCOMPARE(LineEvents::modemChangeOf(changes[1])->changed, uint8_t(serial::Cts | serial::Dcd));
    QCOMPARE(LineEvents::modemChangeOf(changes[2])->changed,
             uint8_t(serial::Cts | serial::Dsr | serial::Dcd));
    QVERIFY(changes[1].timeUs <= changes[2].timeUs);
    const QList<TrafficRecord> errors = captured(TrafficKind::LineErrors);
    QCOMPARE(errors.size(), 1);
    QCOMPARE(LineEvents::errorCountsOf(errors[0])->frame, 2u);
}

void TestLinePanel::refusingDriverIsSaidOnce()
{
    model->refuse = true;
    MessageRecorder boxes;
    showPanel();
    QLabel *cts = panelChild<QLabel>("CtsLamp");
    QLabel *note = panelChild<QLabel>("LineNoteLabel");
    QToolButton *rts = panelChild<QToolButton>("RtsButton");
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    ModeScript script;
    script.waitFor([&] { return spoken(cts) == u"CTS 未知"; }, "unknown lamp")
            .waitFor([&] { return !note->text().isEmpty(); }, "said")
            .then([&] { QTest::qWait(400); })
            .then([&] { rts->click(); })
            .waitFor([&] { return !rts->isChecked(); }, "the refused toggle springs back")
            .waitFor([&] { return note->text().contains(u"RTS"); }, "the refusal said");
    QVERIFY2(runReceive(script), qPrintable(script.failure()));
    QVERIFY(boxes.shown.isEmpty());
    // What the driver refused was said of that mode's port: it goes with the mode.
    QVERIFY(waitUntil([&] { return note->text().isEmpty(); }));
    // Asked once, not 20 times a second for the whole mode.
    QVERIFY2(model->lineReads <= 2, qPrintable(QString::number(model->lineReads)));
    QVERIFY(captured(TrafficKind::ModemLines).isEmpty());
}

void TestLinePanel::flowControlFromThePortDialog_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<bool>("crtscts");
    QTest::addColumn<bool>("xonxoff");
    QTest::newRow("none") << 1 << false << false;
    QTest::newRow("RTS/CTS") << 2 << true << false;
    QTest::newRow("XON/XOFF") << 3 << false << true;
}

void TestLinePanel::flowControlFromThePortDialog()
{
    QFETCH(int, choice);
    QFETCH(bool, crtscts);
    QFETCH(bool, xonxoff);
    Pty pty;
    QComboBox *flow = Form2->findChild<QComboBox *>(QStringLiteral("FlowControlCombo"));
    QVERIFY(flow);
    QCOMPARE(flow->currentText(), QStringLiteral("保持驅動程式設定"));
    answerNextModal([&](QWidget *) {
        Form2->findChild<QLineEdit *>(QStringLiteral("DevicePathEdit"))->setText(pty.slavePath());
        flow->setCurrentIndex(choice);
        Form2->findChild<QPushButton *>(QStringLiteral("BitBtn1"))->click();
    });
    Form1->RS232ConfigMenuBarClick();
    QCOMPARE(int(PortSettings::Flow), choice);
    termios t {};
    ModeScript script;
    script.then([&] { tcgetattr(SerialPort::openPorts().back()->descriptor(), &t); });
    QVERIFY(runReceive(script));
    QCOMPARE((t.c_cflag & CRTSCTS) != 0, crtscts);
    QCOMPARE((t.c_iflag & (IXON | IXOFF)) == (IXON | IXOFF), xonxoff);
}

QTEST_MAIN(TestLinePanel)
#include "tst_linepanel.moc"
