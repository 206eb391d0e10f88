// SPDX-License-Identifier: MIT
// The byte-to-key tables against a recording substitute, row by row, and the key state that
// turns the tables' presses into what a real keyboard does.
#include "RecordingInjector.h"

#include "modes/ByteToKeyEvents.h"
#include "modes/DesktopKeys.h"
#include "modes/KeyState.h"

#include <QTest>

#include <X11/keysym.h>
#include <linux/input-event-codes.h>

namespace {

QStringList translate(const QByteArray &bytes)
{
    RecordingInjector recorder;
    for (char c : bytes)
        ByteToKeyEvents(uint8_t(c), recorder);
    return recorder.log().events;
}

QStringList split(const char *events)
{
    return QString::fromLatin1(events).split(u' ', Qt::SkipEmptyParts);
}

QString hex(int value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

class TestKeyTables : public QObject
{
    Q_OBJECT

private slots:
    void digitsAndLetters_data();
    void digitsAndLetters();
    void punctuation_data();
    void punctuation();
    void controlCodes_data();
    void controlCodes();
    void bytesWithoutEvents();
    void examples_data();
    void examples();
    void scanCodeLookup_data();
    void scanCodeLookup();
    void keyState_data();
    void keyState();
    void keyStateLeavesNothingDown();
    void desktopKeys_data();
    void desktopKeys();
    void everyKeyHasADesktopName();
};

void TestKeyTables::digitsAndLetters_data()
{
    QTest::addColumn<QByteArray>("byte");
    QTest::addColumn<QStringList>("events");
    for (int b = '0'; b <= '9'; ++b)
        QTest::addRow("digit %c", b) << QByteArray(1, char(b)) << QStringList {u'+' + hex(b)};
    for (int b = 'a'; b <= 'z'; ++b) {
        // The key of the capital letter, and no Shift.
        QTest::addRow("small %c", b) << QByteArray(1, char(b)) << QStringList {u'+' + hex(b - 32)};
    }
    for (int b = 'A'; b <= 'Z'; ++b) {
        QTest::addRow("capital %c", b)
                << QByteArray(1, char(b)) << QStringList {"+10", u'+' + hex(b), "-10"};
    }
}

void TestKeyTables::digitsAndLetters()
{
    QFETCH(QByteArray, byte);
    QFETCH(QStringList, events);
    QCOMPARE(translate(byte), events);
}

void TestKeyTables::punctuation_data()
{
    QTest::addColumn<QByteArray>("byte");
    QTest::addColumn<QStringList>("events");
    // Character, the US key's scan code, Shift, and the virtual key of that key on a US
    // keyboard: the digit keys for the shifted digits, VK_OEM_* for the rest.
    struct Row
    {
        char c;
        int scan;
        bool shift;
        int virtualKey;
    };
    const Row rows[] = {
            {'!', 0x02, true, 0x31},   {'"', 0x28, true, 0xDE},  {'#', 0x04, true, 0x33},
            {'$', 0x05, true, 0x34},   {'%', 0x06, true, 0x35},  {'&', 0x08, true, 0x37},
            {'\'', 0x28, false, 0xDE}, {'(', 0x0A, true, 0x39},  {')', 0x0B, true, 0x30},
            {'*', 0x09, true, 0x38},   {'+', 0x0D, true, 0xBB},  {',', 0x33, false, 0xBC},
            {'-', 0x0C, false, 0xBD},  {'.', 0x34, false, 0xBE}, {'/', 0x35, false, 0xBF},
            {':', 0x27, true, 0xBA},   {';', 0x27, false, 0xBA}, {'<', 0x33, true, 0xBC},
            {'=', 0x0D, false, 0xBB},  {'>', 0x34, true, 0xBE},  {'?', 0x35, true, 0xBF},
            {'@', 0x03, true, 0x32},   {'[', 0x1A, false, 0xDB}, {'\\', 0x2B, false, 0xDC},
            {']', 0x1B, false, 0xDD},  {'^', 0x07, true, 0x36},  {'_', 0x0C, true, 0xBD},
            {'`', 0x29, false, 0xC0},  {'{', 0x1A, true, 0xDB},  {'|', 0x2B, true, 0xDC},
            {'}', 0x1B, true, 0xDD},   {'~', 0x29, true, 0xC0},
    };
    for (const Row &r : rows) {
        const QString key = u'+' + hex(r.virtualKey) + u':' + hex(r.scan);
        QTest::addRow("%c", r.c) << QByteArray(1, r.c)
                                 << (r.shift ? QStringList {"+10", key, "-10"} : QStringList {key});
    }
}

void TestKeyTables::punctuation()
{
    QFETCH(QByteArray, byte);
    QFETCH(QStringList, events);
    QCOMPARE(translate(byte), events);
}

void TestKeyTables::controlCodes_data()
{
    QTest::addColumn<QByteArray>("byte");
    QTest::addColumn<QStringList>("events");
    const char *rows[0x21] = {
            "",    "+0D:54", "+14", "+12", "-12", "+11", "-11", "+0D", // NUL..BEL
            "+08", "+09",    "",    "+09", "+0C", "+0D", "+2D", "+1B", // BS..SI
            "+7A", "+24",    "+2A", "+08", "",    "+7B", "+70", "+71", // DLE..ETB
            "+72", "+73",    "+74", "+75", "+76", "+77", "+78", "+79", // CAN..US
            "+20", // space
    };
    for (int b = 0; b <= 0x20; ++b)
        QTest::addRow("%02Xh", b) << QByteArray(1, char(b)) << split(rows[b]);
}

void TestKeyTables::controlCodes()
{
    QFETCH(QByteArray, byte);
    QFETCH(QStringList, events);
    QCOMPARE(translate(byte), events);
}

void TestKeyTables::bytesWithoutEvents()
{
    QVERIFY(translate("\x7F").isEmpty());
    for (int b = 0x80; b <= 0xFF; ++b)
        QVERIFY2(translate(QByteArray(1, char(b))).isEmpty(), qPrintable(hex(b)));
}

void TestKeyTables::examples_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("events");
    QTest::newRow("Hello") << QByteArray("Hello") << split("+10 +48 -10 +45 +4C +4C +4F");
    QTest::newRow("7") << QByteArray("7") << split("+37");
    QTest::newRow("z") << QByteArray("z") << split("+5A");
    QTest::newRow("Z") << QByteArray("Z") << split("+10 +5A -10");
    QTest::newRow("?") << QByteArray("?") << split("+10 +BF:35 -10");
    QTest::newRow(".") << QByteArray(".") << split("+BE:34");
    QTest::newRow("CR LF") << QByteArray("\r\n") << split("+0D");
    QTest::newRow("DEL") << QByteArray("\x7F") << QStringList();
    // 中 is A4 A4 in Big5: both bytes high, nothing. 許 is A5 5C: the second byte is a backslash.
    QTest::newRow("Big5 high pair") << QByteArray("\xA4\xA4") << QStringList();
    QTest::newRow("Big5 low trail") << QByteArray("\xA5\x5C") << split("+DC:2B");
    QTest::newRow("Alt+Tab") << QByteArray("\x03\x09\x04") << split("+12 +09 -12");
    QTest::newRow("Ctrl+C") << QByteArray("\x05\x63\x06") << split("+11 +43 -11");
}

void TestKeyTables::examples()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, events);
    QCOMPARE(translate(bytes), events);
}

void TestKeyTables::scanCodeLookup_data()
{
    QTest::addColumn<int>("scan");
    QTest::addColumn<int>("virtualKey");
    const int rows[][2] = {
            {0x27, 0xBA}, {0x0D, 0xBB}, {0x33, 0xBC}, {0x0C, 0xBD}, {0x34, 0xBE}, {0x35, 0xBF},
            {0x29, 0xC0}, {0x1A, 0xDB}, {0x2B, 0xDC}, {0x1B, 0xDD}, {0x28, 0xDE}, {0x02, 0x31},
            {0x0A, 0x39}, {0x0B, 0x30}, {0x10, 0x51}, {0x1E, 0x41}, {0x2C, 0x5A}, {0x32, 0x4D},
            {0x01, 0x1B}, {0x0E, 0x08}, {0x0F, 0x09}, {0x1C, 0x0D}, {0x1D, 0x11}, {0x2A, 0x10},
            {0x36, 0x10}, {0x38, 0x12}, {0x39, 0x20}, {0x3A, 0x14}, {0x3B, 0x70}, {0x44, 0x79},
            {0x57, 0x7A}, {0x58, 0x7B}, {0x47, 0x24}, {0x52, 0x2D}, {0x4C, 0x0C}, {0x00, 0x00},
            {0x55, 0x00}, {0x59, 0x00}, {0xFF, 0x00},
    };
    for (const auto &r : rows)
        QTest::addRow("%02Xh", r[0]) << r[0] << r[1];
}

void TestKeyTables::scanCodeLookup()
{
    QFETCH(int, scan);
    QFETCH(int, virtualKey);
    QCOMPARE(int(UsLayout::virtualKeyForScanCode(uint8_t(scan))), virtualKey);
}

void TestKeyTables::keyState_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("modeEnds");
    QTest::addColumn<QStringList>("events");
    QTest::newRow("key released at once") << QByteArray("ab") << false << split("+41 -41 +42 -42");
    QTest::newRow("same key twice") << QByteArray("ll") << false << split("+4C -4C +4C -4C");
    QTest::newRow("Shift bracket") << QByteArray("A") << false << split("+10 +41 -41 -10");
    QTest::newRow("shifted punctuation")
            << QByteArray("?") << false << split("+10 +BF:35 -BF:35 -10");
    QTest::newRow("Enter with its scan code")
            << QByteArray("\x01") << false << split("+0D:54 -0D:54");
    QTest::newRow("Ctrl+C") << QByteArray("\x05\x63\x06") << false << split("+11 +43 -43 -11");
    QTest::newRow("Alt+Tab") << QByteArray("\x03\x09\x04") << false << split("+12 +09 -09 -12");
    QTest::newRow("Alt held over capitals")
            << QByteArray("\x03Q\x04") << false << split("+12 +10 +51 -51 -10 -12");
    QTest::newRow("Alt left down at the end")
            << QByteArray("\x03x") << true << split("+12 +58 -58 -12");
    QTest::newRow("both held, released last first")
            << QByteArray("\x05\x03") << true << split("+11 +12 -12 -11");
    QTest::newRow("second Alt press adds nothing")
            << QByteArray("\x03\x03\x04\x04") << false << split("+12 -12");
    QTest::newRow("release of a key not held") << QByteArray("\x04\x06") << true << QStringList();
    QTest::newRow("released Ctrl not released again")
            << QByteArray("\x05\x06") << true << split("+11 -11");
}

void TestKeyTables::keyState()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, modeEnds);
    QFETCH(QStringList, events);
    auto log = std::make_shared<KeyLog>();
    RecordingInjector recorder(log);
    {
        KeyState keys(recorder);
        typeBytes(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()), keys);
        if (modeEnds)
            keys.releaseAll();
        else
            QCOMPARE(log->events, events); // nothing still down for the end to release
    }
    QCOMPARE(log->events, events);
}

void TestKeyTables::keyStateLeavesNothingDown()
{
    // Every byte value, alone and after 03h/05h, leaves no key down once the mode ends.
    for (const QByteArray &prefix : {QByteArray(), QByteArray("\x03"), QByteArray("\x05\x03")}) {
        for (int b = 0; b <= 0xFF; ++b) {
            RecordingInjector recorder;
            KeyState keys(recorder);
            for (char c : prefix + char(b))
                ByteToKeyEvents(uint8_t(c), keys);
            keys.releaseAll();
            QStringList down;
            for (const QString &e : recorder.log().events) {
                const QString key = e.mid(1, 2);
                if (e.startsWith(u'+')) {
                    QVERIFY2(!down.contains(key), qPrintable(e + " pressed twice"));
                    down.append(key);
                } else {
                    QVERIFY2(down.removeOne(key), qPrintable(e + " released but not down"));
                }
            }
            QVERIFY2(down.isEmpty(), qPrintable(hex(b) + ": " + down.join(u' ')));
        }
    }
}

namespace {

// "c30" an evdev keycode, "s65" a keysym, "-" nothing, each prefixed + or - as pressed or
// released.
QStringList desktopNames(const QByteArray &bytes)
{
    struct Namer : KeyInjector
    {
        QStringList names;
        void inject(const KeyEvent &e) override
        {
            const DesktopKeys::DesktopKey key = DesktopKeys::desktopKeyFor(e);
            using Kind = DesktopKeys::DesktopKey::Kind;
            const QString code = key.kind == Kind::Keycode ? u'c' + QString::number(key.code)
                    : key.kind == Kind::Keysym             ? u's' + QString::number(key.code)
                                                           : QStringLiteral("-");
            names.append((e.isRelease() ? u'-' : u'+') + code);
        }
    } namer;
    for (char c : bytes)
        ByteToKeyEvents(uint8_t(c), namer);
    return namer.names;
}

QString keycode(int code) { return QStringLiteral("+c%1").arg(code); }
QString keysym(int sym, bool press = true)
{
    return (press ? u'+' : u'-') + QStringLiteral("s%1").arg(sym);
}

} // namespace

void TestKeyTables::desktopKeys_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("names");
    // The punctuation rows go by the evdev code of their key; the scan codes of the tables
    // must be exactly those.
    const struct
    {
        char c;
        int evdev;
        bool shift;
    } punctuation[] = {
            {'!', KEY_1, true},
            {'"', KEY_APOSTROPHE, true},
            {'#', KEY_3, true},
            {'$', KEY_4, true},
            {'%', KEY_5, true},
            {'&', KEY_7, true},
            {'\'', KEY_APOSTROPHE, false},
            {'(', KEY_9, true},
            {')', KEY_0, true},
            {'*', KEY_8, true},
            {'+', KEY_EQUAL, true},
            {',', KEY_COMMA, false},
            {'-', KEY_MINUS, false},
            {'.', KEY_DOT, false},
            {'/', KEY_SLASH, false},
            {':', KEY_SEMICOLON, true},
            {';', KEY_SEMICOLON, false},
            {'<', KEY_COMMA, true},
            {'=', KEY_EQUAL, false},
            {'>', KEY_DOT, true},
            {'?', KEY_SLASH, true},
            {'@', KEY_2, true},
            {'[', KEY_LEFTBRACE, false},
            {'\\', KEY_BACKSLASH, false},
            {']', KEY_RIGHTBRACE, false},
            {'^', KEY_6, true},
            {'_', KEY_MINUS, true},
            {'`', KEY_GRAVE, false},
            {'{', KEY_LEFTBRACE, true},
            {'|', KEY_BACKSLASH, true},
            {'}', KEY_RIGHTBRACE, true},
            {'~', KEY_GRAVE, true},
    };
    for (const auto &r : punctuation) {
        QTest::addRow("%c", r.c) << QByteArray(1, r.c)
                                 << (r.shift ? QStringList {keysym(XK_Shift_L), keycode(r.evdev),
                                                            keysym(XK_Shift_L, false)}
                                             : QStringList {keycode(r.evdev)});
    }
    // Keys the tables name by what they are go by keysym, so the layout cannot change them.
    QTest::newRow("small letter") << QByteArray("q") << QStringList {keysym(XK_q)};
    QTest::newRow("capital letter")
            << QByteArray("Z")
            << QStringList {keysym(XK_Shift_L), keysym(XK_z), keysym(XK_Shift_L, false)};
    QTest::newRow("digit") << QByteArray("7") << QStringList {keysym(XK_7)};
    const struct
    {
        char byte;
        int sym;
    } controls[] = {
            // 01h carries the scan code of SysRq, which is no name for Enter.
            {0x01, XK_Return}, {0x02, XK_Caps_Lock}, {0x03, XK_Alt_L}, {0x05, XK_Control_L},
            {0x07, XK_Return}, {0x08, XK_BackSpace}, {0x09, XK_Tab},   {0x0C, XK_Clear},
            {0x0E, XK_Insert}, {0x0F, XK_Escape},    {0x10, XK_F11},   {0x11, XK_Home},
            {0x12, XK_Print},  {0x15, XK_F12},       {0x16, XK_F1},    {0x1F, XK_F10},
            {0x20, XK_space},
    };
    for (const auto &r : controls)
        QTest::addRow("%02Xh", r.byte) << QByteArray(1, r.byte) << QStringList {keysym(r.sym)};
    QTest::newRow("Alt released") << QByteArray("\x04") << QStringList {keysym(XK_Alt_L, false)};
    QTest::newRow("Ctrl released")
            << QByteArray("\x06") << QStringList {keysym(XK_Control_L, false)};
}

void TestKeyTables::desktopKeys()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, names);
    QCOMPARE(desktopNames(bytes), names);
}

void TestKeyTables::everyKeyHasADesktopName()
{
    for (int b = 0; b <= 0x7F; ++b) {
        for (const QString &name : desktopNames(QByteArray(1, char(b))))
            QVERIFY2(name.mid(1) != u'-', qPrintable(hex(b) + " has a key without a name"));
    }
    // The keysyms written out as numbers are X's own.
    QCOMPARE(DesktopKeys::keysymFor(0x0D), uint32_t(XK_Return));
    QCOMPARE(DesktopKeys::keysymFor(0x7B), uint32_t(XK_F12));
    QCOMPARE(DesktopKeys::keysymFor(0xDE), uint32_t(XK_apostrophe));
    QCOMPARE(DesktopKeys::keysymFor(0x12), uint32_t(XK_Alt_L));
    QCOMPARE(DesktopKeys::keysymFor(0x2A), uint32_t(XK_Print));
    QCOMPARE(DesktopKeys::keysymFor(0xFF), uint32_t(0));
}

QTEST_APPLESS_MAIN(TestKeyTables)
#include "tst_keytables.moc"
