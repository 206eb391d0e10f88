// SPDX-License-Identifier: MIT
// R2K mode end to end on a real X server: the bytes written to the pseudo-terminal come out as
// key events in a window of the test's own, exactly once each, and no key stays down.
#include "GuiHelpers.h"
#include "Pty.h"
#include "TypedTextRows.h"
#include "XKeyRecorder.h"

#include "session/ModeState.h"
#include "main/Telvixmain1.h"
#include "modes/KeyInjection.h"
#include "serial/PortSettings.h"
#include "TForm1Controls.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <map>

class TestR2KX11 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase() { tearDownForms(); }

    void desktopInjectorOnXvfb();
    void withoutXTest();
    void waylandWithoutPortalTypesThroughXWayland();
    void otherLayoutIsToldOnce();
    void typesIntoTheFocusedWindow_data();
    void typesIntoTheFocusedWindow();
    void breakLetsGoOfHeldModifiers();

private:
    // Runs the mode from its tool button, writes `bytes` once inside it and presses Break when
    // `typed` presses have typed something (and a little later, to catch any repeat).
    bool typeThrough(const QByteArray &bytes, int typed);

    XKeyRecorder m_recorder;
    std::unique_ptr<Pty> m_pty;
};

void TestR2KX11::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs an X server (run under xvfb-run)");
    freshStart();
    QVERIFY(QTest::qWaitForWindowExposed(Form1));
    const QString why = m_recorder.open();
    QVERIFY2(why.isEmpty(), qPrintable(why));
}

void TestR2KX11::init()
{
    freshStart();
    QVERIFY(QTest::qWaitForWindowExposed(Form1));
    QTest::qWait(50);
    // The program's own window must not be the one typed into.
    m_recorder.focus();
    QVERIFY(m_recorder.hasFocus());
    m_recorder.clear();
    m_pty = std::make_unique<Pty>();
    PortSettings::DevicePathText = m_pty->slavePath();
}

bool TestR2KX11::typeThrough(const QByteArray &bytes, int typed)
{
    bool done = false;
    bool written = false;
    QElapsedTimer clock;
    clock.start();
    qint64 allTypedAt = -1;
    QTimer timer;
    timer.setInterval(2);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (ModeState::R2KModeActive == 0)
            return;
        if (!written) {
            written = m_pty->write(bytes);
            return;
        }
        if (allTypedAt < 0 && m_recorder.typedCount() >= typed)
            allTypedAt = clock.elapsed();
        const bool settled = allTypedAt >= 0 && clock.elapsed() - allTypedAt > 150;
        if (settled || clock.elapsed() > 10000) {
            done = settled;
            timer.stop();
            TForm1Controls(Form1).BreakButton->click();
        }
    });
    timer.start();
    TForm1Controls(Form1).R2KModeButton->click();
    QTest::qWait(50); // the last releases are on their way to the recorder
    return done;
}

void TestR2KX11::desktopInjectorOnXvfb()
{
    KeyInjection::Opened opened = KeyInjection::openDesktop();
    QVERIFY2(opened.injector, qPrintable(opened.problem));
    // A US layout with every key the tables need: nothing to warn about.
    QCOMPARE(opened.notice, QString());
    QVERIFY2(opened.route.contains(QStringLiteral("XTest")), qPrintable(opened.route));
}

void TestR2KX11::withoutXTest()
{
    QProcess server;
    server.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp"), QStringLiteral("-extension"), QStringLiteral("XTEST")});
    if (!server.waitForStarted(5000))
        QSKIP("Xvfb cannot be started here");
    QByteArray number;
    QElapsedTimer clock;
    clock.start();
    while (!number.contains('\n') && clock.elapsed() < 10000) {
        server.waitForReadyRead(100);
        number += server.readAllStandardOutput();
    }
    QVERIFY2(number.contains('\n'), "Xvfb did not tell its display");
    const QByteArray saved = qgetenv("DISPLAY");
    qputenv("DISPLAY", ':' + number.trimmed());
    KeyInjection::Opened opened = KeyInjection::openDesktop();
    qputenv("DISPLAY", saved);
    server.terminate();
    server.waitForFinished(5000);
    QVERIFY(!opened.injector);
    QVERIFY2(opened.problem.contains(QStringLiteral("XTEST")), qPrintable(opened.problem));
}

void TestR2KX11::waylandWithoutPortalTypesThroughXWayland()
{
    // No portal to be had (this process has no session bus): XTest still reaches the XWayland
    // windows, and the user is told that only those get the keys.
    qputenv("WAYLAND_DISPLAY", "telvix-test-no-compositor");
    KeyInjection::Opened opened = KeyInjection::openDesktop();
    qunsetenv("WAYLAND_DISPLAY");
    QVERIFY2(opened.injector, qPrintable(opened.problem));
    QVERIFY2(opened.notice.contains(QStringLiteral("只有 X11 (XWayland) 程式收得到")),
             qPrintable(opened.notice));
    QVERIFY2(opened.notice.contains(QStringLiteral("沒有 D-Bus 工作階段匯流排")),
             qPrintable(opened.notice));
    QVERIFY(opened.route.contains(QStringLiteral("XTest")));
}

void TestR2KX11::otherLayoutIsToldOnce()
{
    // The session's layout as the XKB rules name it; the keymap itself stays US here.
    Display *display = XOpenDisplay(nullptr);
    QVERIFY(display);
    const Atom names = XInternAtom(display, "_XKB_RULES_NAMES", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *saved = nullptr;
    XGetWindowProperty(display, DefaultRootWindow(display), names, 0, 1024, False, XA_STRING, &type,
                       &format, &count, &after, &saved);
    const QByteArray original(reinterpret_cast<const char *>(saved), qsizetype(count));
    if (saved)
        XFree(saved);
    const auto setNames = [&](const QByteArray &value) {
        XChangeProperty(display, DefaultRootWindow(display), names, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(value.data()), int(value.size()));
        XSync(display, False);
    };
    setNames(QByteArray("evdev\0pc105\0de,us\0nodeadkeys,\0\0", 31));
    MessageRecorder boxes;
    QVERIFY(typeThrough("q", 1));
    setNames(original);
    XCloseDisplay(display);
    QCOMPARE(boxes.texts(MessageBoxes::Kind::Plain).size(), 1);
    QVERIFY2(boxes.shown[0].text.contains(QStringLiteral("de(nodeadkeys)")),
             qPrintable(boxes.shown[0].text));
    QCOMPARE(m_recorder.typedText(), QByteArray("q")); // and the mode goes on
}

void TestR2KX11::typesIntoTheFocusedWindow_data() { addTypedTextRows(); }

void TestR2KX11::typesIntoTheFocusedWindow()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, text);
    MessageRecorder boxes;
    QVERIFY(typeThrough(bytes, int(text.size())));
    QCOMPARE(m_recorder.typedText(), text);
    QVERIFY(boxes.shown.isEmpty());
    // Every press has its release before the key is pressed again: nothing repeats.
    std::map<unsigned, bool> down;
    for (const XKeyRecorder::Key &key : m_recorder.keys()) {
        QVERIFY2(down[key.keycode] != key.press,
                 qPrintable(QStringLiteral("keycode %1 %2 twice")
                                    .arg(key.keycode)
                                    .arg(key.press ? "pressed" : "released")));
        down[key.keycode] = key.press;
    }
    for (const auto &[code, isDown] : down)
        QVERIFY2(!isDown, qPrintable(QStringLiteral("keycode %1 left down").arg(code)));
    QCOMPARE(m_recorder.keysDown(), QList<unsigned>());
}

void TestR2KX11::breakLetsGoOfHeldModifiers()
{
    // Alt and Ctrl pressed and never released by the line: Break lets go of both.
    QVERIFY(typeThrough("\x03\x05x", 1));
    QCOMPARE(m_recorder.keysDown(), QList<unsigned>());
    int presses = 0, releases = 0;
    for (const XKeyRecorder::Key &key : m_recorder.keys())
        ++(key.press ? presses : releases);
    QCOMPARE(presses, 3);
    QCOMPARE(releases, 3);
}

int main(int argc, char **argv)
{
    // The recorder reads its connection on a thread of its own.
    XInitThreads();
    // No session bus, so no desktop portal is found on whatever bus the machine has.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/telvix-no-bus");
    QApplication app(argc, argv);
    TestR2KX11 test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_r2kx11.moc"
