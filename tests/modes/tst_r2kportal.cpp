// SPDX-License-Identifier: MIT
// R2K mode through the desktop portal, on a D-Bus bus of the test's own with a stand-in for
// the desktop's side of the portal: the keys it is sent, the consent and its refusal, a portal
// that is missing or goes away mid-mode, and that nothing is left down.
#include "GuiHelpers.h"
#include "MockPortal.h"
#include "Pty.h"
#include "TypedTextRows.h"

#include "session/ModeState.h"
#include "main/Telvixmain1.h"
#include "modes/KeyInjection.h"
#include "serial/PortSettings.h"
#include "serial/SerialPort.h"
#include "TForm1Controls.h"

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <map>

using MessageBoxes::Kind;

namespace {

PrivateBus *bus = nullptr;

QStringList kinds(const QStringList &events)
{
    // "NS WHAT ARGS" without the time.
    QStringList out;
    for (const QString &e : events)
        out.append(e.section(u' ', 1));
    return out;
}

// The display's lines, without the empty one the caret waits on.
QStringList memoLines()
{
    QStringList lines = TForm1Controls(Form1).Memo1->toPlainText().split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool hasEventStarting(const QStringList &seen, const QString &prefix)
{
    return std::any_of(seen.begin(), seen.end(),
                       [&](const QString &e) { return e.startsWith(prefix); });
}

} // namespace

class TestR2KPortal : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase() { tearDownForms(); }

    void typesTheTables_data();
    void typesTheTables();
    void keySequences_data();
    void keySequences();
    void breakLetsGoOfHeldModifiers();
    void consentComesBeforeThePort();
    void refusedConsent_data();
    void refusedConsent();
    void waitingForConsentCanBeCalledOff();
    void withoutPortal_data();
    void withoutPortal();
    void portalGoesAwayMidMode_data();
    void portalGoesAwayMidMode();
    void consentKeptForTheRunWithVersion2();

private:
    // Runs the mode from its tool button; `during` runs once the mode is up, and the mode
    // ends with Break once `done` holds (or after 10 s).
    bool runMode(const std::function<void()> &during, const std::function<bool()> &done);
    bool typeThrough(const QByteArray &bytes, int typed);
    void restartPortal(const MockPortalOptions &options);

    std::unique_ptr<MockPortal> m_portal;
    std::unique_ptr<Pty> m_pty;
};

void TestR2KPortal::initTestCase()
{
    if (!bus->error().isEmpty())
        QSKIP(qPrintable(QStringLiteral("no D-Bus daemon here: ") + bus->error()));
}

void TestR2KPortal::init()
{
    freshStart();
    KeyInjection::setFactory({});
    restartPortal({});
    m_pty = std::make_unique<Pty>();
    QVERIFY(m_pty->isOpen());
    PortSettings::DevicePathText = m_pty->slavePath();
}

void TestR2KPortal::cleanup()
{
    m_portal.reset();
    m_pty.reset();
}

void TestR2KPortal::restartPortal(const MockPortalOptions &options)
{
    m_portal.reset();
    m_portal = std::make_unique<MockPortal>(bus->address());
    const QString why = m_portal->start(options);
    QVERIFY2(why.isEmpty(), qPrintable(why));
}

bool TestR2KPortal::runMode(const std::function<void()> &during, const std::function<bool()> &done)
{
    ModeScript script;
    script.waitFor([] { return ModeState::R2KModeActive != 0; }, QStringLiteral("mode started"))
            .then(during)
            .waitFor(done, QStringLiteral("the keys arrived"), 10000)
            .then([] { TForm1Controls(Form1).BreakButton->click(); });
    script.start();
    TForm1Controls(Form1).R2KModeButton->click();
    if (!script.failure().isEmpty())
        qWarning("%s", qPrintable(script.failure()));
    return script.failure().isEmpty() && script.finished();
}

bool TestR2KPortal::typeThrough(const QByteArray &bytes, int typed)
{
    const bool ran = runMode([&] { QVERIFY(m_pty->write(bytes)); },
                             [&] { return m_portal->typedCount() >= typed; });
    // Whatever the session's end sends is on its way to the portal.
    waitUntil([&] { return kinds(m_portal->events()).contains(QStringLiteral("close")); }, 2000);
    return ran;
}

void TestR2KPortal::typesTheTables_data()
{
    addTypedTextRows();
    // Written at once: several thousand key calls on their way together.
    QByteArray flood;
    while (flood.size() < 3000)
        flood += "The quick brown fox, 0123456789: JUMPS over {the} lazy dog?! ";
    QTest::newRow("flood") << flood << flood;
}

void TestR2KPortal::typesTheTables()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, text);
    MessageRecorder boxes;
    QVERIFY(typeThrough(bytes, int(text.size())));
    QCOMPARE(m_portal->typedText(), text);
    QVERIFY(boxes.shown.isEmpty());
    // Each press has its release before the same key comes again: nothing repeats.
    std::map<std::pair<bool, int>, bool> down;
    for (const MockPortal::Key &key : m_portal->keys()) {
        bool &isDown = down[{key.keysym, key.code}];
        QVERIFY2(isDown != key.press,
                 qPrintable(QStringLiteral("%1 %2 twice")
                                    .arg(key.code)
                                    .arg(key.press ? "pressed" : "released")));
        isDown = key.press;
    }
    QCOMPARE(m_portal->keysDown(), QStringList());
    // The consent is asked once, and the session ends with the mode.
    const QStringList seen = kinds(m_portal->events());
    QCOMPARE(seen.filter(QRegularExpression(QStringLiteral("^start "))).size(), 1);
    QCOMPARE(seen.last(), QStringLiteral("close"));
}

void TestR2KPortal::keySequences_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("events");
    // Shift by keysym, the punctuation key by its evdev code (53 is KEY_SLASH, 52 KEY_DOT).
    QTest::newRow("question mark")
            << QByteArray("?")
            << QStringList {"keysym 65505 1", "keycode 53 1", "keycode 53 0", "keysym 65505 0"};
    QTest::newRow("full stop") << QByteArray(".") << QStringList {"keycode 52 1", "keycode 52 0"};
    QTest::newRow("capital") << QByteArray("H")
                             << QStringList {"keysym 65505 1", "keysym 104 1", "keysym 104 0",
                                             "keysym 65505 0"};
    // 03h holds Alt until 04h: Alt+Tab.
    QTest::newRow("Alt+Tab") << QByteArray("\x03\x09\x04")
                             << QStringList {"keysym 65513 1", "keysym 65289 1", "keysym 65289 0",
                                             "keysym 65513 0"};
    QTest::newRow("Ctrl+C") << QByteArray("\x05\x63\x06")
                            << QStringList {"keysym 65507 1", "keysym 99 1", "keysym 99 0",
                                            "keysym 65507 0"};
    // SOH's Enter goes by its keysym: the scan code it carries is another key's.
    QTest::newRow("SOH") << QByteArray("\x01") << QStringList {"keysym 65293 1", "keysym 65293 0"};
}

void TestR2KPortal::keySequences()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, events);
    QVERIFY(runMode([&] { QVERIFY(m_pty->write(bytes)); },
                    [&] {
                        return kinds(m_portal->events()).filter(QStringLiteral("key")).size()
                                >= events.size();
                    }));
    waitUntil([&] { return kinds(m_portal->events()).contains(QStringLiteral("close")); }, 2000);
    const QStringList keys =
            kinds(m_portal->events()).filter(QRegularExpression(QStringLiteral("^key")));
    QCOMPARE(keys, events);
}

void TestR2KPortal::breakLetsGoOfHeldModifiers()
{
    // Alt and Ctrl pressed and never released by the line: Break lets go of both, last first,
    // before the session is closed.
    QVERIFY(runMode([&] { QVERIFY(m_pty->write("\x03\x05x")); },
                    [&] { return m_portal->keys().size() >= 4; }));
    QVERIFY(waitUntil([&] { return kinds(m_portal->events()).contains(QStringLiteral("close")); }));
    QCOMPARE(m_portal->keysDown(), QStringList());
    const QStringList seen = kinds(m_portal->events());
    const qsizetype close = seen.indexOf(QStringLiteral("close"));
    QVERIFY(close >= 2);
    QCOMPARE(seen.mid(close - 2, 3), (QStringList {"keysym 65507 0", "keysym 65513 0", "close"}));
}

void TestR2KPortal::consentComesBeforeThePort()
{
    // The port fails to open: the desktop has been asked already, and the session it gave is
    // closed again; the port's own failure is all the user hears.
    PortSettings::DevicePathText = QStringLiteral("/dev/telvix-no-such-port");
    PortSettings::PortNameText = PortSettings::DevicePathText;
    MessageRecorder boxes;
    TForm1Controls(Form1).Memo1->setPlainText(QStringLiteral("kept"));
    TForm1Controls(Form1).R2KModeButton->click();
    QVERIFY(waitUntil([&] { return kinds(m_portal->events()).contains(QStringLiteral("close")); }));
    const QStringList seen = kinds(m_portal->events());
    QCOMPARE(seen.first(), QStringLiteral("create"));
    QVERIFY2(hasEventStarting(seen, QStringLiteral("select types=1 ")),
             qPrintable(seen.join(u',')));
    QVERIFY2(hasEventStarting(seen, QStringLiteral("start ")), qPrintable(seen.join(u',')));
    QCOMPARE(boxes.texts(Kind::Plain),
             QStringList {QStringLiteral("/dev/telvix-no-such-port 埠,無法開啟\n"
                                         "找不到裝置 /dev/telvix-no-such-port")});
    QCOMPARE(TForm1Controls(Form1).Memo1->toPlainText(), QStringLiteral("kept"));
    QCOMPARE(ModeState::R2KModeActive, uint8_t(0));
}

void TestR2KPortal::refusedConsent_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<uint>("granted");
    QTest::addColumn<QString>("says");
    QTest::newRow("user says no") << "refuse" << 1u << "桌面沒有允許 TELVIX 控制鍵盤";
    QTest::newRow("granted without keyboard") << "grant" << 2u << "桌面允許了遠端控制,但不包括鍵盤";
}

void TestR2KPortal::refusedConsent()
{
    QFETCH(QString, answer);
    QFETCH(uint, granted);
    QFETCH(QString, says);
    MockPortalOptions options;
    options.answer = answer;
    options.grantedDevices = granted;
    restartPortal(options);
    // A port that would fail: had it been tried, its beep and box would show.
    PortSettings::DevicePathText = QStringLiteral("/dev/telvix-no-such-port");
    MessageRecorder boxes;
    TForm1Controls(Form1).Memo1->setPlainText(QStringLiteral("kept"));
    TForm1Controls(Form1).R2KModeButton->click();
    QCOMPARE(boxes.shown.size(), 1);
    QCOMPARE(boxes.shown[0].kind, Kind::Plain);
    QVERIFY2(boxes.shown[0].text.startsWith(QStringLiteral("無法啟動 R2K 模式:") + says),
             qPrintable(boxes.shown[0].text));
    QCOMPARE(TForm1Controls(Form1).Memo1->toPlainText(), QStringLiteral("kept"));
    QCOMPARE(ModeState::R2KModeActive, uint8_t(0));
    QCOMPARE(SerialPort::openCount(), 0);
    QVERIFY(controlEnabled(QStringLiteral("R2KModeButton")));
    QVERIFY(waitUntil([&] { return kinds(m_portal->events()).contains(QStringLiteral("close")); }));
    QVERIFY(m_portal->keys().isEmpty());
}

void TestR2KPortal::waitingForConsentCanBeCalledOff()
{
    MockPortalOptions options;
    options.answer = QStringLiteral("never");
    restartPortal(options);
    MessageRecorder boxes;
    bool shown = false;
    // Looked for from the loops that wait for the desktop, without a loop of its own.
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *dialog = qobject_cast<QDialog *>(w);
            if (!dialog || w->objectName() != QLatin1String("PortalConsentDialog")
                || !w->isVisible()) {
                continue;
            }
            poll.stop();
            // The main window takes no input meanwhile.
            shown = QApplication::activeModalWidget() == dialog;
            dialog->findChild<QPushButton *>(QStringLiteral("CancelButton"))->click();
            return;
        }
    });
    poll.start();
    TForm1Controls(Form1).R2KModeButton->click();
    QVERIFY(shown);
    QVERIFY(boxes.shown.isEmpty()); // giving up is the user's own choice: nothing to tell
    QCOMPARE(ModeState::R2KModeActive, uint8_t(0));
    QVERIFY(waitUntil([&] {
        const QStringList seen = kinds(m_portal->events());
        return seen.contains(QStringLiteral("request-close"))
                && seen.contains(QStringLiteral("close"));
    }));
}

void TestR2KPortal::withoutPortal_data()
{
    QTest::addColumn<bool>("portalRuns");
    QTest::addColumn<QString>("says");
    QTest::newRow("no portal on the bus")
            << false << "桌面入口:工作階段匯流排上沒有桌面入口 (xdg-desktop-portal)";
    QTest::newRow("portal without remote desktop")
            << true << "桌面入口:桌面入口沒有遠端桌面 (RemoteDesktop) 介面";
}

void TestR2KPortal::withoutPortal()
{
    QFETCH(bool, portalRuns);
    QFETCH(QString, says);
    m_portal->stop();
    if (portalRuns) {
        MockPortalOptions options;
        options.remoteDesktop = false;
        restartPortal(options);
    }
    // No X server either: both ways are named, and what to do.
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    MessageRecorder boxes;
    TForm1Controls(Form1).R2KModeButton->click();
    if (!display.isNull())
        qputenv("DISPLAY", display);
    QCOMPARE(boxes.shown.size(), 1);
    const QString text = boxes.shown[0].text;
    QVERIFY2(text.startsWith(QStringLiteral("無法啟動 R2K 模式")), qPrintable(text));
    QVERIFY2(text.contains(says), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("X11 (XWayland):沒有可用的 X 顯示")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("xdg-desktop-portal-gnome")), qPrintable(text));
    QCOMPARE(ModeState::R2KModeActive, uint8_t(0));
}

void TestR2KPortal::portalGoesAwayMidMode_data()
{
    QTest::addColumn<bool>("portalQuits"); // else the desktop ends the session
    QTest::addColumn<QString>("says");
    QTest::newRow("portal quits") << true << "桌面入口 (xdg-desktop-portal) 已經結束";
    QTest::newRow("desktop ends the session") << false << "桌面結束了遠端控制工作階段";
}

void TestR2KPortal::portalGoesAwayMidMode()
{
    QFETCH(bool, portalQuits);
    QFETCH(QString, says);
    MessageRecorder boxes;
    QStringList memoDuring;
    int typedBefore = 0;
    ModeScript script;
    script.waitFor([] { return ModeState::R2KModeActive != 0; }, QStringLiteral("mode started"))
            .then([&] { QVERIFY(m_pty->write("ab")); })
            .waitFor([&] { return m_portal->typedCount() >= 2; }, QStringLiteral("ab typed"))
            .then([&] {
                typedBefore = m_portal->typedCount();
                portalQuits ? m_portal->stop() : m_portal->closeSessions();
            })
            .waitFor([&] { return !memoLines().filter(says).isEmpty(); },
                     QStringLiteral("the loss told"))
            .then([&] { QVERIFY(m_pty->write("cd")); })
            .waitFor([&] { return Form1->capture().receivedBytes() >= 4; },
                     QStringLiteral("bytes kept after the loss"))
            .then([&] {
                memoDuring = memoLines();
                TForm1Controls(Form1).BreakButton->click();
            });
    script.start();
    TForm1Controls(Form1).R2KModeButton->click();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QVERIFY(script.finished());
    QCOMPARE(typedBefore, 2);
    // Said once, in the notice; no box stops the mode.
    QCOMPARE(memoDuring.filter(says).size(), 1);
    QVERIFY(boxes.shown.isEmpty());
    QCOMPARE(ModeState::R2KModeActive, uint8_t(0));
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("未連線"));
    if (!portalQuits) {
        // After the desktop ended it, nothing more was sent and nothing was refused.
        QCOMPARE(m_portal->typedCount(), 2);
        QVERIFY(kinds(m_portal->events()).filter(QStringLiteral("rejected")).isEmpty());
    }
}

void TestR2KPortal::consentKeptForTheRunWithVersion2()
{
    MockPortalOptions options;
    options.version = 2;
    restartPortal(options);
    QStringList routeSeen;
    QVERIFY(runMode([&] { routeSeen = memoLines(); }, [] { return true; }));
    QVERIFY(runMode([] {}, [] { return true; }));
    const QStringList selects =
            kinds(m_portal->events()).filter(QRegularExpression(QStringLiteral("^select ")));
    QCOMPARE(selects.size(), 2);
    // Kept while TELVIX runs; the first run has none to give.
    QVERIFY2(selects[0].contains(QStringLiteral("persist=1 restore=")) && selects[0].endsWith(u'='),
             qPrintable(selects[0]));
    QVERIFY2(!selects[1].endsWith(QStringLiteral("restore=")), qPrintable(selects[1]));
    // The notice says which way the keys go, in one line after its own ten.
    QCOMPARE(routeSeen.size(), 11);
    QVERIFY2(routeSeen[10].contains(QStringLiteral("桌面入口")), qPrintable(routeSeen[10]));
}

int main(int argc, char **argv)
{
    // The process's session bus is ours alone, and the session is a Wayland one, so the
    // portal is the way R2K takes; the window itself is drawn offscreen.
    PrivateBus privateBus;
    privateBus.becomeSessionBus();
    bus = &privateBus;
    qputenv("WAYLAND_DISPLAY", "telvix-test-no-compositor");
    QApplication app(argc, argv);
    TestR2KPortal test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_r2kportal.moc"
