// SPDX-License-Identifier: MIT
// What each byte shows as, under every rule and form, and the Big5 pair state.
#include "traffic/Cp950.h"
#include "traffic/DisplayFormatter.h"

#include <QTest>

Q_DECLARE_METATYPE(LineBreakRule)
Q_DECLARE_METATYPE(HexStyle)

namespace {

// breakByte -1: the user's box is empty.
DisplaySettings settings(LineBreakRule rule, int breakByte = -1, HexStyle style = HexStyle::HEXOnly)
{
    DisplaySettings s {rule, std::nullopt, style};
    if (breakByte >= 0)
        s.userBreakByte = uint8_t(breakByte);
    return s;
}

// One formatter for every case, as the window has one: its pair state carries over.
DisplayFormatter formatter;

QString render(const QByteArray &bytes, bool hex, const DisplaySettings &s)
{
    formatter.setSettings(s);
    formatter.setHexForm(hex);
    QString out;
    for (char c : bytes)
        formatter.appendByte(uint8_t(c), out);
    return out;
}

uint8_t leadBytePending() { return formatter.leadBytePending() ? 1 : 0; }

const QString Nl {QChar(DisplayFormatter::LineBreak)};

} // namespace

class TestFormatter : public QObject
{
    Q_OBJECT

private slots:
    void init() { formatter.reset(); }

    void asciiForm_data();
    void asciiForm();
    void hexForm_data();
    void hexForm();
    void chunkEqualsByteByByte_data();
    void chunkEqualsByteByByte();
    void everyControlCodeHasItsName();
    void pairState();
    void pairSurvivesHexBytes();
    void invalidPairStaysVisible();
    void nothingIsLost();
};

void TestFormatter::asciiForm_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<LineBreakRule>("rule");
    QTest::addColumn<int>("breakByte"); // -1: none
    QTest::addColumn<QString>("shown");
    const QByteArray hi("\x48\x69\x0D\x0A\x21");
    QTest::newRow("CR") << hi << LineBreakRule::CR << -1 << "Hi<CR>" + Nl + "<LF>!";
    QTest::newRow("LF") << hi << LineBreakRule::LF << -1 << "Hi<CR><LF>" + Nl + "!";
    QTest::newRow("NoCR") << hi << LineBreakRule::NoCR << -1 << "Hi<CR><LF>!";
    QTest::newRow("user ;") << QByteArray("a;b") << LineBreakRule::UserDefineCRLF << 0x3B
                            << "a;" + Nl + "b";
    QTest::newRow("user CR acts as CR")
            << hi << LineBreakRule::UserDefineCRLF << 0x0D << "Hi<CR>" + Nl + "<LF>!";
    QTest::newRow("user empty breaks nothing")
            << QByteArray("a\r\nb\x00", 5) << LineBreakRule::UserDefineCRLF << -1
            << "a<CR><LF>b<NULL>";
    QTest::newRow("user high byte never breaks in ASCII")
            << QByteArray("\xA4\x40"
                          "A")
            << LineBreakRule::UserDefineCRLF << 0xA4 << QString(QChar(0x4E00)) + "A";
    QTest::newRow("DEL is the house glyph")
            << QByteArray("\x7F") << LineBreakRule::CR << -1 << QString(QChar(0x2302));
    QTest::newRow("blank") << QByteArray(" ") << LineBreakRule::CR << -1 << " ";
    QTest::newRow("NUL") << QByteArray(1, '\0') << LineBreakRule::CR << -1 << "<NULL>";
    QTest::newRow("Big5 pair") << QByteArray("\xA4\x40") << LineBreakRule::CR << -1
                               << QString(QChar(0x4E00));
    QTest::newRow("pair eats CR") << QByteArray("\xA4\x0D"
                                                "A")
                                  << LineBreakRule::CR << -1 << QString(QChar(0xFFFD)) + "A";
    QTest::newRow("FF FF is one pair") << QByteArray("\xFF\xFF\x0D") << LineBreakRule::CR << -1
                                       << QString(QChar(0xFFFD)) + "<CR>" + Nl;
    QTest::newRow("names again after a pair") << QByteArray("\xA4\x40\x0D") << LineBreakRule::CR
                                              << -1 << QString(QChar(0x4E00)) + "<CR>" + Nl;
}

void TestFormatter::asciiForm()
{
    QFETCH(QByteArray, bytes);
    QFETCH(LineBreakRule, rule);
    QFETCH(int, breakByte);
    QFETCH(QString, shown);
    QCOMPARE(render(bytes, false, settings(rule, breakByte)), shown);
}

void TestFormatter::hexForm_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<LineBreakRule>("rule");
    QTest::addColumn<int>("breakByte");
    QTest::addColumn<HexStyle>("style");
    QTest::addColumn<QString>("shown");
    const QByteArray abc("\x41\x42\x0D\x0A\x43");
    QTest::newRow("CR") << abc << LineBreakRule::CR << -1 << HexStyle::HEXOnly
                        << "41 42 0D " + Nl + "0A 43 ";
    QTest::newRow("LF") << abc << LineBreakRule::LF << -1 << HexStyle::HEXOnly
                        << "41 42 0D 0A " + Nl + "43 ";
    QTest::newRow("NoCR") << abc << LineBreakRule::NoCR << -1 << HexStyle::HEXOnly
                          << "41 42 0D 0A 43 ";
    QTest::newRow("user A") << QByteArray("A") << LineBreakRule::UserDefineCRLF << 0x41
                            << HexStyle::HEXOnly << "41 " + Nl;
    QTest::newRow("user high byte breaks in HEX")
            << QByteArray("\xC4\x40") << LineBreakRule::UserDefineCRLF << 0xC4 << HexStyle::HEXOnly
            << "C4 " + Nl + "40 ";
    QTest::newRow("00 and C4") << QByteArray("\x00\xC4", 2) << LineBreakRule::CR << -1
                               << HexStyle::HEXOnly << "00 C4 ";
    QTest::newRow("HexAnsi printable")
            << QByteArray("@") << LineBreakRule::CR << -1 << HexStyle::HexAnsi << "40(@) ";
    QTest::newRow("HexAnsi control")
            << QByteArray("\r") << LineBreakRule::CR << -1 << HexStyle::HexAnsi << "0D(<CR>) " + Nl;
    QTest::newRow("HexAnsi high") << QByteArray("\xA4") << LineBreakRule::CR << -1
                                  << HexStyle::HexAnsi << "A4(.) ";
    QTest::newRow("AnsiHex printable")
            << QByteArray("A") << LineBreakRule::CR << -1 << HexStyle::AnsiHex << "A(41) ";
    QTest::newRow("AnsiHex control")
            << QByteArray("\n") << LineBreakRule::LF << -1 << HexStyle::AnsiHex << "<LF>(0A) " + Nl;
    QTest::newRow("AnsiHex high") << QByteArray("\xFF") << LineBreakRule::CR << -1
                                  << HexStyle::AnsiHex << ".(FF) ";
}

void TestFormatter::hexForm()
{
    QFETCH(QByteArray, bytes);
    QFETCH(LineBreakRule, rule);
    QFETCH(int, breakByte);
    QFETCH(HexStyle, style);
    QFETCH(QString, shown);
    QCOMPARE(render(bytes, true, settings(rule, breakByte, style)), shown);
    QCOMPARE(leadBytePending(), uint8_t(0)); // HEX never touches the pair
}

void TestFormatter::chunkEqualsByteByByte_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<LineBreakRule>("rule");
    QTest::addColumn<int>("breakByte");
    QTest::addColumn<HexStyle>("style");
    for (const bool hex : {true, false}) {
        const char *form = hex ? "HEX" : "ASCII";
        for (const HexStyle style : {HexStyle::HEXOnly, HexStyle::HexAnsi, HexStyle::AnsiHex}) {
            QTest::addRow("%s style %d CR", form, int(style))
                    << hex << LineBreakRule::CR << -1 << style;
            QTest::addRow("%s style %d LF", form, int(style))
                    << hex << LineBreakRule::LF << -1 << style;
            QTest::addRow("%s style %d none", form, int(style))
                    << hex << LineBreakRule::NoCR << -1 << style;
            QTest::addRow("%s style %d user FF", form, int(style))
                    << hex << LineBreakRule::UserDefineCRLF << 0xFF << style;
            QTest::addRow("%s style %d user empty", form, int(style))
                    << hex << LineBreakRule::UserDefineCRLF << -1 << style;
        }
    }
}

// A chunk shows exactly as its bytes one by one would, after what the string already holds:
// the chunk's own way through is another path than the byte's.
void TestFormatter::chunkEqualsByteByByte()
{
    QFETCH(bool, hex);
    QFETCH(LineBreakRule, rule);
    QFETCH(int, breakByte);
    QFETCH(HexStyle, style);
    QByteArray bytes;
    for (int round = 0; round < 3; ++round)
        for (int b = 0; b < 256; ++b)
            bytes.append(char((b * 7 + round) & 0xFF));
    const DisplaySettings s = settings(rule, breakByte, style);
    DisplayFormatter one;
    one.setSettings(s);
    one.setHexForm(hex);
    QString byByte = QStringLiteral("before");
    for (char c : bytes)
        one.appendByte(uint8_t(c), byByte);
    DisplayFormatter chunked;
    chunked.setSettings(s);
    chunked.setHexForm(hex);
    QString byChunk = QStringLiteral("before");
    // Uneven chunks, empty ones among them.
    const qsizetype sizes[] = {0, 1, 5, 64, 299};
    for (qsizetype at = 0, k = 0; at < bytes.size(); ++k) {
        const qsizetype n = std::min(bytes.size() - at, sizes[k % 5]);
        chunked.append(bytes.mid(at, n), byChunk);
        at += n;
    }
    QCOMPARE(byChunk, byByte);
}

void TestFormatter::everyControlCodeHasItsName()
{
    const char *expected[32] = {"NULL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                "BS",   "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                "DLE",  "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                "CAN",  "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    for (int b = 0; b < 32; ++b) {
        const QString name = u'<' + QLatin1String(expected[b]) + u'>';
        QCOMPARE(DisplayFormatter::ControlCodeNames(uint8_t(b)), name);
        QCOMPARE(render(QByteArray(1, char(b)), false, settings(LineBreakRule::NoCR)), name);
    }
    for (int b = 0x20; b < 0x7F; ++b)
        QCOMPARE(render(QByteArray(1, char(b)), false, settings(LineBreakRule::NoCR)),
                 QString(QChar(b)));
}

void TestFormatter::pairState()
{
    const DisplaySettings s = settings(LineBreakRule::CR);
    QCOMPARE(render("\xA4", false, s), QString());
    QCOMPARE(leadBytePending(), uint8_t(1));
    QCOMPARE(formatter.pendingLeadBytes(), QByteArray("\xA4"));
    // Whatever comes next closes the pair: here a byte of 80h or above again.
    QCOMPARE(render("\xA5", false, s), QString(Cp950::decodePair(0xA4, 0xA5)));
    QCOMPARE(leadBytePending(), uint8_t(0));
    QVERIFY(formatter.pendingLeadBytes().isEmpty());
}

void TestFormatter::pairSurvivesHexBytes()
{
    // A lead byte seen in the ASCII form waits through HEX bytes (as across the ASCII/HEX
    // switch, Clear or the end of a mode) and pairs with the next ASCII-form byte.
    const DisplaySettings s = settings(LineBreakRule::CR);
    QCOMPARE(render("\xA4", false, s), QString());
    QCOMPARE(render("\x40\x41", true, s), QStringLiteral("40 41 "));
    QCOMPARE(render("\x40", false, s), QString(QChar(0x4E00)));
}

void TestFormatter::invalidPairStaysVisible()
{
    QCOMPARE(Cp950::decodePair(0xA4, 0x40), QChar(0x4E00)); // 一
    QCOMPARE(Cp950::decodePair(0xB4, 0xFA), QChar(0x6E2C)); // 測
    QCOMPARE(Cp950::decodePair(0xA4, 0x0D), QChar(0xFFFD));
    QCOMPARE(Cp950::decodePair(0x80, 0x40), QChar(0xFFFD));
    QCOMPARE(Cp950::decodePair(0xFF, 0xFF), QChar(0xFFFD));
}

void TestFormatter::nothingIsLost()
{
    // Every byte is accounted for: one character per pair, the pending byte, or its own text.
    const DisplaySettings s = settings(LineBreakRule::NoCR);
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    QString out = render(all, false, s);
    // 00h-1Fh named, 20h-7Fh one each, 80h-FFh: 64 pairs.
    int names = 0;
    for (int b = 0; b < 32; ++b)
        names += DisplayFormatter::ControlCodeNames(uint8_t(b)).size();
    QCOMPARE(out.size(), names + 96 + 64);
    QCOMPARE(leadBytePending(), uint8_t(0));
    QCOMPARE(render(all, true, s).size(), 256 * 3);
}

QTEST_APPLESS_MAIN(TestFormatter)
#include "tst_formatter.moc"
