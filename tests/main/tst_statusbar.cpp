// SPDX-License-Identifier: MIT
// The status bar read as a user reads it: in every state the window gets into (a mode running,
// counters, a live log, a memory notice, long device paths and network URLs, the wait for a
// device to come back), each panel's drawn text fits inside its frame, no panel covers another,
// and what a panel cannot show whole is in its tool tip and accessible name.
#include "GuiHelpers.h"
#include "Pty.h"

#include "TForm1Controls.h"
#include "TForm2Controls.h"
#include "TForm6Controls.h"
#include "main/MemoryWatch.h"
#include "main/Telvixmain1.h"
#include "serial/PortSettings.h"
#include "widgets/ElidedLabel.h"

#include <QAccessible>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QString ByIdPath =
        QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
const QString LongUrl = QStringLiteral("rfc2217://console-server-07.lab.example.net:7001");
const QString ReconnectText =
        QStringLiteral("裝置已移除,等待重新連接… (伺服器的速率是 19200,不是 9600)");

QList<QLabel *> shownPanels()
{
    QList<QLabel *> panels;
    for (int i = 0; i < 5; ++i) {
        auto *p = Form1->findChild<QLabel *>(QStringLiteral("StatusPanel%1").arg(i));
        if (p && p->isVisible())
            panels << p;
    }
    return panels;
}

// What the panel draws: a plain label draws its whole text.
QString drawnText(const QLabel *panel)
{
    const auto *elided = qobject_cast<const ElidedLabel *>(panel);
    return elided ? elided->shownText() : panel->text();
}

// Every fault of the bar as it is now, one line each; empty when it reads right.
QStringList barFaults()
{
    // As the next pass of the event loop would: the panels take their new widths.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QStringList faults;
    QStatusBar *bar = TForm1Controls(Form1).StatusBar1;
    const QList<QLabel *> panels = shownPanels();
    QList<QRect> rects;
    for (QLabel *p : panels) {
        const QString name = p->objectName();
        const QString drawn = drawnText(p);
        const int advance = p->fontMetrics().horizontalAdvance(drawn);
        if (advance > p->contentsRect().width())
            faults << QStringLiteral("%1: \"%2\" needs %3 px, has %4")
                              .arg(name, drawn)
                              .arg(advance)
                              .arg(p->contentsRect().width());
        if (!p->toolTip().contains(p->text()))
            faults << QStringLiteral("%1: tool tip \"%2\" lacks \"%3\"")
                              .arg(name, p->toolTip(), p->text());
        const QString accessible =
                QAccessible::queryAccessibleInterface(p)->text(QAccessible::Name);
        if (accessible != p->text())
            faults << QStringLiteral("%1: accessible name \"%2\"").arg(name, accessible);
        const QRect r(p->mapTo(bar, QPoint(0, 0)), p->size());
        if (!bar->rect().contains(r))
            faults << QStringLiteral("%1: runs out of the bar").arg(name);
        for (qsizetype i = 0; i < rects.size(); ++i) {
            if (rects[i].intersects(r))
                faults << QStringLiteral("%1 covers %2").arg(name, panels[i]->objectName());
        }
        rects << r;
    }
    return faults;
}

// The port dialog confirmed with `devicePath` (empty: the default COM1).
void setPort(const QString &devicePath)
{
    answerNextModal([devicePath](QWidget *w) {
        const TForm2Controls &d = TForm2Controls(w);
        d.DevicePathEdit->setText(devicePath);
        d.BitBtn1->click();
    });
    TForm1Controls(Form1).Rs232ConfigButton->click();
}

void setCounters(bool on)
{
    answerNextModal([on](QWidget *w) {
        const TForm6Controls &s = TForm6Controls(w);
        s.Counters_CheckBox->setChecked(on);
        s.BitBtn1->click();
    });
    TForm1Controls(Form1).MiscMenuBar->trigger();
}

void makeSizable()
{
    answerNextModal([](QWidget *w) {
        const TForm6Controls &s = TForm6Controls(w);
        s.FormSizable_CheckBox->setChecked(true);
        s.BitBtn1->click();
    });
    TForm1Controls(Form1).MiscMenuBar->trigger();
}

void startLiveLog(const QString &path)
{
    answerNextModal([path](QWidget *w) {
        auto *dialog = static_cast<QFileDialog *>(w);
        dialog->selectFile(path);
        if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            name->setText(path);
        static_cast<QDialog *>(dialog)->accept();
    });
    TForm1Controls(Form1).StartLogMenuBar->trigger();
}

void showMemoryNotice()
{
    // The readings are the test's own: the machine's would end the notice at once.
    Form1->findChild<QTimer *>(QStringLiteral("MemoryTimer"))->stop();
    MemoryReading low;
    low.totalKb = 8 << 20;
    low.availableKb = 400 << 10;
    low.ownKb = 1 << 20;
    Form1->checkMemory(low);
}

enum class Line { Idle, Receiving, Reconnecting };

} // namespace

Q_DECLARE_METATYPE(Line)

class TestStatusBar : public QObject
{
    Q_OBJECT

private slots:
    void init() { freshStart(); }
    void cleanupTestCase() { tearDownForms(); }

    void panelsFitAndNeverOverlap_data();
    void panelsFitAndNeverOverlap();
    void widerWindowWidensThePortSummary_data();
    void widerWindowWidensThePortSummary();
};

void TestStatusBar::panelsFitAndNeverOverlap_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<Line>("line");
    QTest::addColumn<bool>("counters");
    QTest::addColumn<bool>("log");
    QTest::addColumn<bool>("memory");
    // The panels whose text may lose its middle at the default size; every other text shows whole.
    QTest::addColumn<QStringList>("elidable");
    const QStringList none;
    const QStringList summary {QStringLiteral("StatusPanel0")};
    const QStringList mode {QStringLiteral("StatusPanel2")};
    const QStringList summaryAndMode {QStringLiteral("StatusPanel0"),
                                      QStringLiteral("StatusPanel2")};
    QTest::newRow("idle") << QString() << Line::Idle << false << false << false << none;
    QTest::newRow("receiving") << QString() << Line::Receiving << false << false << false << none;
    QTest::newRow("receiving, counters")
            << QString() << Line::Receiving << true << false << false << none;
    QTest::newRow("receiving, counters, live log")
            << QString() << Line::Receiving << true << true << false << none;
    QTest::newRow("receiving, counters, live log, memory")
            << QString() << Line::Receiving << true << true << true << none;
    QTest::newRow("reconnecting, counters")
            << QString() << Line::Reconnecting << true << false << false << mode;
    QTest::newRow("by-id path, idle")
            << ByIdPath << Line::Idle << false << false << false << summary;
    QTest::newRow("by-id path, receiving, live log")
            << ByIdPath << Line::Receiving << false << true << false << summary;
    QTest::newRow("by-id path, everything")
            << ByIdPath << Line::Reconnecting << true << true << true << summaryAndMode;
    QTest::newRow("url, idle") << LongUrl << Line::Idle << false << false << false << none;
    QTest::newRow("url, receiving, counters, live log")
            << LongUrl << Line::Receiving << true << true << false << summary;
    QTest::newRow("url, reconnecting, memory")
            << LongUrl << Line::Reconnecting << false << false << true << summaryAndMode;
}

void TestStatusBar::panelsFitAndNeverOverlap()
{
    QFETCH(QString, port);
    QFETCH(Line, line);
    QFETCH(bool, counters);
    QFETCH(bool, log);
    QFETCH(bool, memory);
    QFETCH(QStringList, elidable);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (!port.isEmpty())
        setPort(port);
    if (counters)
        setCounters(true);
    if (log) {
        startLiveLog(dir.filePath(QStringLiteral("live.log")));
        QVERIFY(Form1->liveLog());
    }
    if (memory)
        showMemoryNotice();
    const QString summary = Form1->statusPanel(0);
    QVERIFY2(summary.startsWith(port.isEmpty() ? QStringLiteral("COM1 = ") : port + u' '),
             qPrintable(summary));

    QStringList faults;
    QStringList elided;
    const auto check = [&] {
        faults = barFaults();
        for (QLabel *p : shownPanels()) {
            if (drawnText(p) != p->text() && !elidable.contains(p->objectName()))
                elided << p->objectName() + QStringLiteral(": ") + drawnText(p);
        }
    };
    if (line == Line::Idle) {
        check();
    } else {
        // The summary names the port the row is about; the line itself is a pseudo-terminal,
        // since nothing answers at those names here.
        Pty pty;
        PortSettings::DevicePathText = pty.slavePath();
        ModeScript script;
        script.waitFor([] { return Form1->statusPanel(2) != QStringLiteral("未連線"); }, "the mode")
                .then([&] {
                    if (line == Line::Reconnecting)
                        Form1->setStatusText(ReconnectText);
                })
                .then(check)
                .then([] { TForm1Controls(Form1).BreakButton->click(); });
        script.start();
        TForm1Controls(Form1).ReceiveButton->click();
        QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
        QVERIFY(script.finished());
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
    QVERIFY2(elided.isEmpty(), qPrintable(elided.join(u'\n')));
    // The short texts stay as documented, whole and where they were.
    QCOMPARE(Form1->statusPanel(0), summary);
}

void TestStatusBar::widerWindowWidensThePortSummary_data()
{
    QTest::addColumn<QString>("port");
    QTest::newRow("COM1") << QString();
    QTest::newRow("by-id path") << ByIdPath;
    QTest::newRow("url") << LongUrl;
}

void TestStatusBar::widerWindowWidensThePortSummary()
{
    QFETCH(QString, port);
    if (!port.isEmpty())
        setPort(port);
    setCounters(true);
    makeSizable();
    const auto widths = [] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QList<int> w;
        for (int i = 0; i < 4; ++i)
            w << Form1->findChild<QLabel *>(QStringLiteral("StatusPanel%1").arg(i))->width();
        return w;
    };
    const QList<int> before = widths();
    // First the room goes where a text is short of it; from then on all of it to the summary.
    const int width = Form1->width();
    Form1->resize(width + 700, Form1->height());
    QTRY_COMPARE(Form1->width(), width + 700);
    const QList<int> wide = widths();
    Form1->resize(width + 1000, Form1->height());
    QTRY_COMPARE(Form1->width(), width + 1000);
    const QList<int> wider = widths();
    for (int i = 0; i < 4; ++i)
        QVERIFY2(wide[i] >= before[i], qPrintable(QString::number(i)));
    QCOMPARE(wider[0], wide[0] + 300);
    QCOMPARE(wider.mid(1), wide.mid(1));
    auto *summary = Form1->findChild<QLabel *>(QStringLiteral("StatusPanel0"));
    QCOMPARE(drawnText(summary), summary->text());
    const QStringList faults = barFaults();
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
}

QTEST_MAIN(TestStatusBar)
#include "tst_statusbar.moc"
