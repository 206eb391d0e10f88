// SPDX-License-Identifier: MIT
// R2K mode driven from the main window on a real pseudo-terminal, with a recording injector in
// place of the desktop: the notice, the window during and after the mode, the keys typed, and
// what happens when the port or the injector cannot be had.
#include "GuiHelpers.h"
#include "Pty.h"
#include "RecordingInjector.h"

#include "session/ModeState.h"
#include "session/ModeTable.h"
#include "main/Telvixmain1.h"
#include "main/TrafficView.h"
#include "modes/ByteToKeyEvents.h"
#include "modes/KeyInjection.h"
#include "modes/KeyState.h"
#include "serial/PortSettings.h"
#include "serial/SerialPort.h"
#include "TForm1Controls.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <set>

using MessageBoxes::Kind;

namespace {

const QStringList NoticeLines = {
        QStringLiteral(" "),
        QStringLiteral(" 注意 : R 2 K 模式,已經啟動連線"),
        QStringLiteral(" 所有讀入之 RS232 字元資料"),
        QStringLiteral(" 將被轉換成 => IBM (Keyboard) 按鍵字元對應事件"),
        QStringLiteral(" ============================================="),
        QStringLiteral(" 1,不可見字元 (00 ~ 1F) 控制碼傳送對應事件,請參考 (IBM PC ASCII 控制碼表)"),
        QStringLiteral(" 2,(80h) 以後的字碼,即中文字符及全型等字碼(無作用)"),
        QStringLiteral(" 3,可見字元符號之轉換對應,請參考IBM ASCII 字碼表"),
        QStringLiteral(" 4,結束R2K 模式....請按 (中斷按鈕)"),
        QStringLiteral(" 5,RS232字元間隔連續傳送時間,建議大於1ms以上,以確保鍵盤事件接收的穩定"),
};

// The controls the mode switches off, as the window shows them.
const char *const OffDuringMode[] = {
        "ClearDataButton",        "SettingsMenuBar",        "DataModeButton",
        "DataModeMenubar",        "FontsMenubar",           "RS232ConfigMenuBar",
        "Rs232ConfigButton",      "ReceiveModeMenubar",     "ReceiveButton",
        "SendModeMenubar",        "StartRecMenuBar",        "Send_FileContentMenuBar",
        "Send_FileContentButton", "Send_UserStringMenuBar", "Send_UserStringButton",
        "TRModeMenubar",          "EnableTRModeMenubar",    "EnableTRModeButton",
        "EnableR2KModeMenubar",   "R2KModeButton",          "ScriptRunButton",
        "MonitorModeMenuBar",     "PassThroughModeMenuBar",
};

QStringList noticeOf(const QString &memo)
{
    QStringList lines = memo.split(u'\n');
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// What the mode should type for `bytes`: the tables through the key state, as the desktop
// sees it, with the events of each byte sent off before the next byte's are formed.
KeyLog expectedLog(const QByteArray &bytes, bool modeEnds)
{
    RecordingInjector recorder;
    KeyState keys(recorder);
    typeBytes(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()), keys);
    if (modeEnds)
        keys.releaseAll();
    return recorder.log(); // before the key state lets go of what it holds
}

QStringList expectedKeys(const QByteArray &bytes, bool modeEnds)
{
    return expectedLog(bytes, modeEnds).events;
}

struct Step
{
    std::function<bool()> ready; // empty: at once
    std::function<void()> action;
};

// Starts the mode with `start` and runs the steps inside it, each once its condition holds and
// the one before has run; then presses Break. False when a step's condition never held (Break
// is pressed anyway, so the mode always ends).
bool runMode(const std::function<void()> &start, QList<Step> steps, int timeoutMs = 5000)
{
    bool timedOut = false;
    qsizetype next = 0;
    QElapsedTimer clock;
    clock.start();
    QTimer timer;
    timer.setInterval(2);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (ModeState::R2KModeActive == 0)
            return; // not yet inside the mode
        if (next < steps.size() && clock.elapsed() > timeoutMs) {
            timedOut = true;
            next = steps.size();
        }
        if (next < steps.size()) {
            const Step &step = steps[next];
            if (step.ready && !step.ready())
                return;
            ++next;
            if (step.action)
                step.action();
            return;
        }
        timer.stop();
        TForm1Controls(Form1).BreakButton->click();
    });
    timer.start();
    start();
    return !timedOut;
}

void clickMenu() { TForm1Controls(Form1).EnableR2KModeMenubar->trigger(); }
void clickButton() { TForm1Controls(Form1).R2KModeButton->click(); }

} // namespace

class TestR2KMode : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cleanupTestCase() { tearDownForms(); }

    void typesWhatArrives_data();
    void typesWhatArrives();
    void windowDuringAndAfterMode();
    void floodArrivesWholeAndInOrder();
    void noticeOfTheInjectorShownOnStart();
    void helpDuringMode_data();
    void helpDuringMode();
    void portCannotBeOpened();
    void noInjector_data();
    void noInjector();

private:
    void useRecorder(const QString &notice = {});
    std::shared_ptr<KeyLog> m_log;
    std::unique_ptr<Pty> m_pty;
    QByteArray m_savedDisplay;
    QByteArray m_savedWayland;
    QByteArray m_savedSession;
};

void TestR2KMode::init()
{
    freshStart();
    m_pty = std::make_unique<Pty>();
    QVERIFY(m_pty->isOpen());
    PortSettings::DevicePathText = m_pty->slavePath();
    PortSettings::PortNameText = m_pty->slavePath();
    m_log = std::make_shared<KeyLog>();
    useRecorder();
    m_savedDisplay = qgetenv("DISPLAY");
    m_savedWayland = qgetenv("WAYLAND_DISPLAY");
    m_savedSession = qgetenv("XDG_SESSION_TYPE");
}

void TestR2KMode::cleanup()
{
    KeyInjection::setFactory({});
    const auto restore = [](const char *name, const QByteArray &value) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    };
    restore("DISPLAY", m_savedDisplay);
    restore("WAYLAND_DISPLAY", m_savedWayland);
    restore("XDG_SESSION_TYPE", m_savedSession);
    m_pty.reset();
}

void TestR2KMode::useRecorder(const QString &notice)
{
    std::shared_ptr<KeyLog> log = m_log;
    KeyInjection::setFactory([log, notice] {
        KeyInjection::Opened opened;
        opened.injector = std::make_unique<RecordingInjector>(log);
        opened.notice = notice;
        return opened;
    });
}

void TestR2KMode::typesWhatArrives_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<bool>("fromButton");
    QTest::newRow("Hello") << QByteArray("Hello")
                           << QString("+10 +48 -48 -10 +45 -45 +4C -4C +4C -4C +4F -4F").split(u' ')
                           << false;
    QTest::newRow("CR LF, DEL, Big5") << QByteArray("\r\n\x7F\xA4\xA4\xA5\x5C")
                                      << QString("+0D -0D +DC:2B -DC:2B").split(u' ') << true;
    QTest::newRow("Ctrl+C") << QByteArray("\x05\x63\x06") << QString("+11 +43 -43 -11").split(u' ')
                            << false;
    // Break while Alt is held: the end of the mode lets go of it.
    QTest::newRow("Alt held at Break")
            << QByteArray("\x03\x09") << QString("+12 +09 -09 -12").split(u' ') << true;
}

void TestR2KMode::typesWhatArrives()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, events);
    QFETCH(bool, fromButton);
    const int typed = int(expectedKeys(bytes, false).size());
    QVERIFY(runMode(fromButton ? clickButton : clickMenu,
                    {{{}, [&] { QVERIFY(m_pty->write(bytes)); }},
                     {[&] { return m_log->events.size() >= typed; }, {}}}));
    QCOMPARE(m_log->events, events);
    QCOMPARE(m_log->injectorsAlive, 0);
    QCOMPARE(m_log->flushesAt, expectedLog(bytes, true).flushesAt);
}

void TestR2KMode::windowDuringAndAfterMode()
{
    MessageRecorder boxes;
    const TForm1Controls &ui = TForm1Controls(Form1);
    ui.Memo1->setPlainText(QStringLiteral("earlier traffic"));
    Form1->setMemo1Colour(Qt::yellow);
    std::set<QString> off(std::begin(OffDuringMode), std::end(OffDuringMode));
    QStringList memoDuring;
    bool readOnlyDuring = false;
    QColor colourDuring;
    QString panelDuring;
    QStringList wrongDuring;
    uint8_t flagDuring = 0;
    QVERIFY(runMode(clickMenu,
                    {{{}, [&] {
                          memoDuring = noticeOf(ui.Memo1->toPlainText());
                          readOnlyDuring = ui.Memo1->isReadOnly();
                          colourDuring = Form1->memo1Colour();
                          panelDuring = Form1->statusPanel(2);
                          flagDuring = ModeState::R2KModeActive;
                          for (const ModeControlRow &row : ModeTable::rows()) {
                              for (std::string_view n : row.controls) {
                                  const QString name =
                                          QString::fromUtf8(n.data(), qsizetype(n.size()));
                                  if (!n.empty() && controlEnabled(name) == off.count(name))
                                      wrongDuring.append(name);
                              }
                          }
                          for (const char *name : {"BreakMenuBar", "BreakButton", "AboutMenubar",
                                                   "VersionMenubar", "HeloMenuBar"}) {
                              if (!controlEnabled(QString::fromLatin1(name)))
                                  wrongDuring.append(name);
                          }
                      }}}));
    QCOMPARE(memoDuring, NoticeLines);
    QVERIFY(readOnlyDuring);
    QCOMPARE(colourDuring, Form1->palette().color(QPalette::Button));
    QCOMPARE(panelDuring, QStringLiteral("R2K模式(已啟動執行) ....."));
    QCOMPARE(flagDuring, uint8_t(1));
    QCOMPARE(wrongDuring, QStringList());

    // After Break: cleared, editable, its earlier colour, not connected, everything usable.
    QVERIFY(ui.Memo1->toPlainText().isEmpty());
    QVERIFY(!ui.Memo1->isReadOnly());
    QCOMPARE(Form1->memo1Colour(), QColor(Qt::yellow));
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("未連線"));
    for (const char *name : OffDuringMode)
        QVERIFY2(controlEnabled(QString::fromLatin1(name)), name);
    QVERIFY(!ui.BreakMenuBar->isEnabled());
    QVERIFY(!ui.BreakButton->isEnabled());
    QCOMPARE(ModeState::R2KModeActive, uint8_t(0));
    QCOMPARE(ModeState::BreakRequested, uint8_t(0));
    QCOMPARE(SerialPort::openCount(), 0);
    QVERIFY(boxes.shown.isEmpty());
    // The port was given back: the mode starts again at once.
    QVERIFY(runMode(clickButton, {}));
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("未連線"));
}

void TestR2KMode::floodArrivesWholeAndInOrder()
{
    // Far more than one read takes, every printable and control byte: nothing lost, nothing
    // reordered, and the keys of one byte never split by another's.
    QByteArray bytes;
    for (int round = 0; round < 40; ++round) {
        for (int b = 0x20; b < 0x7F; ++b)
            bytes.append(char(b));
        bytes.append("\r\x08\t\x01\x0e\x0f");
    }
    const QStringList expected = expectedKeys(bytes, true);
    QVERIFY(runMode(clickMenu,
                    {{{}, [&] { QVERIFY(m_pty->write(bytes)); }},
                     {[&] { return m_log->events.size() >= expected.size(); }, {}}},
                    10000));
    QCOMPARE(m_log->events.size(), expected.size());
    QCOMPARE(m_log->events, expected);
    QCOMPARE(m_log->flushesAt, expectedLog(bytes, true).flushesAt);
}

void TestR2KMode::noticeOfTheInjectorShownOnStart()
{
    MessageRecorder boxes;
    useRecorder(QStringLiteral("layout note"));
    QStringList shownWhileRunning;
    QVERIFY(runMode(clickMenu, {{{}, [&] { shownWhileRunning = boxes.texts(Kind::Plain); }}}));
    QCOMPARE(shownWhileRunning, QStringList {QStringLiteral("layout note")});
    QCOMPARE(boxes.shown.size(), 1);
}

void TestR2KMode::helpDuringMode_data()
{
    QTest::addColumn<QString>("item");
    QTest::newRow("about") << "AboutMenubar";
    QTest::newRow("version") << "VersionMenubar";
}

void TestR2KMode::helpDuringMode()
{
    QFETCH(QString, item);
    MessageRecorder boxes;
    const TForm1Controls &ui = TForm1Controls(Form1);
    auto *action = Form1->findChild<QAction *>(item);
    QVERIFY(action);
    QString memoAfter;
    uint8_t flagAfter = 0;
    QVERIFY(runMode(clickMenu,
                    {{{},
                      [&] {
                          action->trigger();
                          memoAfter = ui.Memo1->toPlainText();
                          flagAfter = ModeState::R2KModeActive;
                          QVERIFY(m_pty->write("k"));
                      }},
                     {[&] { return m_log->events.size() >= 2; }, {}}}));
    // The mode goes on: still running after the help text, and the next byte is typed.
    QCOMPARE(flagAfter, uint8_t(1));
    QCOMPARE(m_log->events, QString("+4B -4B").split(u' '));
    if (noticeOf(memoAfter) == NoticeLines)
        qInfo("the help text is not built yet: the notice stayed");
    else
        QVERIFY(!memoAfter.contains(NoticeLines[1]));
}

void TestR2KMode::portCannotBeOpened()
{
    MessageRecorder boxes;
    useRecorder(QStringLiteral("layout note"));
    PortSettings::DevicePathText = QStringLiteral("/dev/telvix-no-such-port");
    PortSettings::PortNameText = PortSettings::DevicePathText;
    const TForm1Controls &ui = TForm1Controls(Form1);
    ui.Memo1->setPlainText(QStringLiteral("kept"));
    Form1->setMemo1Colour(Qt::green);
    clickMenu(); // returns at once: there is no mode to break
    QCOMPARE(boxes.shown.size(), 2);
    QCOMPARE(boxes.shown[0].kind, Kind::Beep);
    QCOMPARE(boxes.shown[1].text,
             QStringLiteral("/dev/telvix-no-such-port 埠,無法開啟\n"
                            "找不到裝置 /dev/telvix-no-such-port"));
    QCOMPARE(ui.Memo1->toPlainText(), QStringLiteral("kept"));
    QCOMPARE(Form1->memo1Colour(), QColor(Qt::green));
    QVERIFY(!ui.Memo1->isReadOnly());
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("未連線"));
    QCOMPARE(ModeState::R2KModeActive, uint8_t(0));
    QVERIFY(!ui.BreakButton->isEnabled());
    for (const char *name : OffDuringMode)
        QVERIFY2(controlEnabled(QString::fromLatin1(name)), name);
    QVERIFY(m_log->events.isEmpty());
    QCOMPARE(m_log->injectorsAlive, 0);
}

void TestR2KMode::noInjector_data()
{
    QTest::addColumn<bool>("substitute"); // false: the desktop's own injector
    QTest::addColumn<QByteArray>("display");
    QTest::addColumn<QByteArray>("wayland");
    QTest::addColumn<QString>("says");
    QTest::newRow("substitute has none")
            << true << QByteArray() << QByteArray() << "no way to type";
    QTest::newRow("no display") << false << QByteArray() << QByteArray()
                                << "沒有可用的 X 顯示 (未設定 DISPLAY)";
    QTest::newRow("Wayland without X") << false << QByteArray() << QByteArray("wayland-0")
                                       << "桌面入口:沒有 D-Bus 工作階段匯流排,找不到桌面入口\nX11 "
                                          "(XWayland):沒有可用的 X 顯示";
    QTest::newRow("display not reachable")
            << false << QByteArray(":9317") << QByteArray() << "無法連線到 X 顯示 :9317";
}

void TestR2KMode::noInjector()
{
    QFETCH(bool, substitute);
    QFETCH(QByteArray, display);
    QFETCH(QByteArray, wayland);
    QFETCH(QString, says);
    if (substitute) {
        KeyInjection::setFactory([] {
            KeyInjection::Opened none;
            none.problem = QStringLiteral("no way to type");
            return none;
        });
    } else {
        KeyInjection::setFactory({});
        display.isEmpty() ? qunsetenv("DISPLAY") : qputenv("DISPLAY", display);
        wayland.isEmpty() ? qunsetenv("WAYLAND_DISPLAY") : qputenv("WAYLAND_DISPLAY", wayland);
        qunsetenv("XDG_SESSION_TYPE");
    }
    // A port that would fail: were it tried first, its beep and box would show.
    PortSettings::DevicePathText = QStringLiteral("/dev/telvix-no-such-port");
    MessageRecorder boxes;
    const TForm1Controls &ui = TForm1Controls(Form1);
    ui.Memo1->setPlainText(QStringLiteral("kept"));
    Form1->setMemo1Colour(Qt::green);
    clickButton();
    QCOMPARE(boxes.shown.size(), 1);
    QCOMPARE(boxes.shown[0].kind, Kind::Plain);
    QVERIFY2(boxes.shown[0].text.contains(says), qPrintable(boxes.shown[0].text));
    QVERIFY(boxes.shown[0].text.startsWith(QStringLiteral("無法啟動 R2K 模式")) || substitute);
    QCOMPARE(ui.Memo1->toPlainText(), QStringLiteral("kept"));
    QCOMPARE(Form1->memo1Colour(), QColor(Qt::green));
    QVERIFY(!ui.Memo1->isReadOnly());
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("未連線"));
    QCOMPARE(ModeState::R2KModeActive, uint8_t(0));
    QCOMPARE(SerialPort::openCount(), 0);
    QVERIFY(!ui.BreakButton->isEnabled());
    for (const char *name : OffDuringMode)
        QVERIFY2(controlEnabled(QString::fromLatin1(name)), name);
}

int main(int argc, char **argv)
{
    // No session bus: a Wayland row looks for the desktop portal, which must not be found on
    // whatever bus the machine running the tests has. The portal has tests of its own.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/telvix-no-bus");
    QApplication app(argc, argv);
    TestR2KMode test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_r2kmode.moc"
