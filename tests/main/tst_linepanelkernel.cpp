// SPDX-License-Identifier: MIT
// The line panel through the kernel's own calls: receive mode on a real pseudo-terminal, which
// the fakelines interposer gives handshake lines, a break and error counters. Nothing here is
// a line model: the port makes the same ioctl calls it makes on a USB adapter.
#include "EchoSim.h"
#include "FakeLines.h"
#include "GuiHelpers.h"
#include "LinePanelHelpers.h"
#include "Pty.h"

#include "traffic/LineEvents.h"
#include "main/LinePanel.h"
#include "session/ModeState.h"
#include "main/Telvixmain1.h"
#include "main/TrafficView.h"
#include "serial/PortSettings.h"
#include "serial/SerialPort.h"
#include "TForm1Controls.h"

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

class TestLinePanelKernel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const FakeLines probe;
        if (!FakeLines::active())
            QSKIP("the fakelines interposer is not preloaded");
    }
    void init() { freshStart(); }
    void cleanupTestCase() { tearDownForms(); }

    void linesBreakAndCounters();
    void pulseSeenAtItsMoment();
    void errorsMarkedAndRealFfPasses();
    void selfTestThroughTheMenu_data();
    void selfTestThroughTheMenu();

private:
    bool runReceive(ModeScript &script)
    {
        TForm1Controls(Form1).LinePanelMenuBar->trigger();
        script.then([] { TForm1Controls(Form1).BreakButton->click(); });
        script.start();
        TForm1Controls(Form1).ReceiveButton->click();
        return script.finished() && script.failure().isEmpty();
    }
};

void TestLinePanelKernel::linesBreakAndCounters()
{
    FakeLines fake;
    QVERIFY(fake.isValid());
    // A loopback plug: what the port drives comes back on its inputs.
    fake.setWiring(FakeLines::RtsToCts | FakeLines::DtrToDsr | FakeLines::DtrToDcd);
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    QToolButton *rts = panelChild<QToolButton>("RtsButton");
    QToolButton *dtr = panelChild<QToolButton>("DtrButton");
    QLabel *cts = panelChild<QLabel>("CtsLamp");
    QLabel *dsr = panelChild<QLabel>("DsrLamp");
    QLabel *dcd = panelChild<QLabel>("DcdLamp");
    ModeScript script;
    script.waitFor([&] { return rts->isEnabled() && !spoken(cts).endsWith(u"未知"); }, "lamps")
            .then([&] {
                if (rts->isChecked())
                    rts->click(); // off first, whatever the open left
                if (dtr->isChecked())
                    dtr->click();
            })
            .waitFor([&] { return spoken(cts) == u"CTS 關" && spoken(dsr) == u"DSR 關"; },
                     "all off")
            .then([&] { rts->click(); })
            .waitFor([&] { return spoken(cts) == u"CTS 開" && spoken(dsr) == u"DSR 關"; },
                     "RTS → CTS")
            .then([&] { dtr->click(); })
            .waitFor([&] { return spoken(dsr) == u"DSR 開" && spoken(dcd) == u"DCD 開"; },
                     "DTR → DSR, DCD")
            .then([&] { panelChild<QPushButton>("SendBreakButton")->click(); })
            .waitFor([&] { return fake.breaks().count == 1 && !fake.breaks().on; }, "a break")
            .then([&] { fake.addErrors({1, 2, 0, 0, 1}); })
            .waitFor([] {
                return panelChild<QLabel>("ErrorCountsLabel")->text()
                        == QStringLiteral("訊框 1 同位 2 溢位 0 緩衝 0 Break 1");
            }, "the counters");
    QVERIFY2(runReceive(script), qPrintable(script.failure()));
    QCOMPARE(fake.outputs(), uint8_t(serial::Dtr | serial::Rts));
    QVERIFY(fake.breaks().lastMs >= 250 && fake.breaks().lastMs < 2000);
    QCOMPARE(captured(TrafficKind::BreakSent).size(), 1);
    QCOMPARE(LineEvents::errorCountsOf(captured(TrafficKind::LineErrors).last())->parity, 2u);
    // The inputs followed the outputs in the capture too.
    bool ctsRose = false;
    for (const TrafficRecord &r : captured(TrafficKind::ModemLines)) {
        const auto c = LineEvents::modemChangeOf(r);
        ctsRose = ctsRose || ((c->changed & serial::Cts) && (c->lines & serial::Cts));
    }
    QVERIFY(ctsRose);
}

void TestLinePanelKernel::pulseSeenAtItsMoment()
{
    // A carrier blip of 5 ms falls between two polls 50 ms apart; the wait for changes sees it,
    // and when even the read after the wait comes too late, the interrupt counts tell it.
    FakeLines fake;
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    ModeScript script;
    script.waitFor([] {
              const std::vector<SerialPort *> open = SerialPort::openPorts();
              return !open.empty() && open.back()->watcher()
                      && open.back()->watcher()->waitsForChanges();
          }, "the wait for changes")
            .then([&] {
                fake.setInput(serial::Dcd, true);
                QTest::qSleep(5);
                fake.setInput(serial::Dcd, false);
            })
            .waitFor([] {
                for (const TrafficRecord &r : captured(TrafficKind::ModemLines))
                    if (LineEvents::modemChangeOf(r)->lines & serial::Dcd)
                        return true;
                return false;
            }, "the blip recorded", 2000);
    QVERIFY2(runReceive(script), qPrintable(script.failure()));
}

void TestLinePanelKernel::errorsMarkedAndRealFfPasses()
{
    FakeLines fake;
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    panelChild<QCheckBox>("MarkErrorsCheck")->setChecked(true);
    TForm1Controls(Form1).HexModeMenuBar->trigger();
    ModeScript script;
    // What the tty delivers under PARMRK: 41h with a parity error, then a real FFh (doubled by
    // the tty itself) and 42h.
    script.waitFor([] { return !SerialPort::openPorts().empty(); }, "the port")
            .then([&] {
                fake.inject(QByteArray("\xFF\x00\x41", 3));
                pty.write(QByteArray("\xFF\x42", 2));
            })
            .waitFor([] { return Form1->capture().receivedBytes() == 3; }, "three bytes");
    QVERIFY2(runReceive(script), qPrintable(script.failure()));
    QList<TrafficRecord> flawed = captured(TrafficKind::Flawed);
    QCOMPARE(flawed.size(), 1);
    QCOMPARE(flawed[0].bytes, QByteArray("A"));
    QByteArray received;
    for (const TrafficRecord &r : captured(TrafficKind::Received))
        received += r.bytes;
    QCOMPARE(received, QByteArray("\xFF\x42", 2));
    QCOMPARE(Form1->memo1()->toPlainText(), QStringLiteral("41 FF 42 "));
}

void TestLinePanelKernel::selfTestThroughTheMenu_data()
{
    QTest::addColumn<uint>("wiring");
    QTest::addColumn<QStringList>("verdicts");
    const uint all = FakeLines::RtsToCts | FakeLines::DtrToDsr | FakeLines::DtrToDcd;
    QTest::newRow("a good plug") << all << QStringList({"通過", "通過", "通過", "通過"});
    QTest::newRow("DCD not wired")
            << (all & ~uint(FakeLines::DtrToDcd)) << QStringList({"通過", "通過", "通過", "失敗"});
}

void TestLinePanelKernel::selfTestThroughTheMenu()
{
    // The simulator echoes the bytes; the interposer wires the lines as the plug does.
    QFETCH(uint, wiring);
    QFETCH(QStringList, verdicts);
    FakeLines fake;
    fake.setWiring(wiring);
    EchoSim sim;
    QVERIFY(sim.isUp());
    PortSettings::DevicePathText = sim.link();
    QStringList shown;
    answerNextModal([&](QWidget *dialog) {
        dialog->findChild<QCheckBox *>(QStringLiteral("speed115200"))->click(); // 9600 only
        dialog->findChild<QPushButton *>(QStringLiteral("startButton"))->click();
        const auto *table = dialog->findChild<QTableWidget *>(QStringLiteral("results"));
        for (int r = 0; r < table->rowCount(); ++r)
            shown << table->item(r, 1)->text();
        dialog->findChild<QPushButton *>(QStringLiteral("closeButton"))->click();
    });
    TForm1Controls(Form1).SelfTestMenuBar->trigger();
    QCOMPARE(shown, verdicts);
    QCOMPARE(SerialPort::openCount(), 0);
    // The report is kept with the capture, as the log shows it.
    const QList<TrafficRecord> reports = captured(TrafficKind::Report);
    QCOMPARE(reports.size(), 1);
    const QString report = LineEvents::describe(reports[0]);
    qInfo().noquote() << report; // the report a user sees, in the test's output
    QVERIFY2(report.contains(QStringLiteral("速率 9600: 通過")), qPrintable(report));
    QCOMPARE(report.contains(QStringLiteral("失敗 0 項")), !verdicts.contains(QStringLiteral("失敗")));
}

QTEST_MAIN(TestLinePanelKernel)
#include "tst_linepanelkernel.moc"
