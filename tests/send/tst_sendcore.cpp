// SPDX-License-Identifier: MIT
// The window-free side of sending: the control-code table, box text to bytes and back, the
// texts the user reads, the file stream and the pacing of the bytes.
#include "traffic/ControlCodes.h"
#include "send/FileByteStream.h"
#include "send/SendPacing.h"
#include "send/SendText.h"
#include "send/SendTexts.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <set>
#include <unistd.h>

using namespace std::chrono_literals;
using SendPacing::Clock;

class TestSendCore : public QObject
{
    Q_OBJECT

private slots:
    void controlCodeTable_data();
    void controlCodeTable();
    void glyphsAreDistinctAndOnlyThem();
    void textToBytes_data();
    void textToBytes();
    void unencodableText_data();
    void unencodableText();
    void bytesToTextRoundTrip();
    void fileTexts();
    void streamGivesEveryByteInOrder();
    void streamEndsWhereShrunkFileEnds();
    void sizeQuery();
    void pacerWithoutPauseDispatchesByInterval();
    void pacerPausesFromTheByteOnwards();
    void pacerStopEndsPauseEarly();
    void pacerPauseAlreadyOverWaitsNothing();
};

void TestSendCore::controlCodeTable_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("glyph");
    const struct
    {
        int code;
        const char *caption;
        int glyph;
    } rows[] = {
            {0x00, "00h - NULL", 0},     {0x01, "01h - SOH", 0x263A}, {0x02, "02h - STX", 0x263B},
            {0x03, "03h - ETX", 0x2665}, {0x07, "07h - BEL", 0x2022}, {0x0A, "0Ah - LF", 0x25D9},
            {0x0B, "0Bh - VT", 0x2642},  {0x0D, "0Dh - CR", 0x266A},  {0x0F, "0Fh - SI", 0x263C},
            {0x13, "13h - DC3", 0x203C}, {0x14, "14h - DC4", 0x00B6}, {0x15, "15h - NAK", 0x00A7},
            {0x1A, "1Ah - SUB", 0x2192}, {0x1B, "1Bh - ESC", 0x2190}, {0x1C, "1Ch - FS", 0x221F},
            {0x1F, "1Fh - US", 0x25BC},
    };
    for (const auto &r : rows)
        QTest::newRow(r.caption) << r.code << QString::fromUtf8(r.caption) << r.glyph;
}

void TestSendCore::controlCodeTable()
{
    QFETCH(int, code);
    QFETCH(QString, caption);
    QFETCH(int, glyph);
    QCOMPARE(ControlCodes::caption(uint8_t(code)), caption);
    const std::optional<QChar> g = ControlCodes::glyphFor(uint8_t(code));
    QCOMPARE(g.has_value(), glyph != 0);
    if (g) {
        QCOMPARE(int(g->unicode()), glyph);
        QCOMPARE(ControlCodes::codeForGlyph(*g), std::optional<uint8_t>(uint8_t(code)));
    }
}

void TestSendCore::glyphsAreDistinctAndOnlyThem()
{
    std::set<char16_t> glyphs;
    for (int code = 1; code < ControlCodes::Count; ++code)
        glyphs.insert(ControlCodes::glyphFor(uint8_t(code))->unicode());
    QCOMPARE(int(glyphs.size()), 31);
    QVERIFY(!ControlCodes::glyphFor(0x20));
    QVERIFY(!ControlCodes::glyphFor(0x7F));
    for (char16_t c : {u'A', u' ', u'\0', u'\r', u'中', u'\u2302'})
        QVERIFY(!ControlCodes::codeForGlyph(QChar(c)));
}

void TestSendCore::textToBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("ascii") << "AB" << QByteArray("AB");
    QTest::newRow("stx text etx") << QString::fromUtf8("☻OK♥") << QByteArray("\x02OK\x03");
    QTest::newRow("cr and esc") << QString::fromUtf8("a♪b←")
                                << QByteArray("a\x0D"
                                              "b\x1B");
    // Big5 for 中文: A4 A4, A4 E5.
    QTest::newRow("chinese") << QString::fromUtf8("中文") << QByteArray("\xA4\xA4\xA4\xE5");
    QTest::newRow("chinese between codes")
            << QString::fromUtf8("☺測試▼") << QByteArray("\x01\xB4\xFA\xB8\xD5\x1F");
    // These glyphs have Big5 forms of their own; in a box they are codes all the same.
    QTest::newRow("arrows and section")
            << QString::fromUtf8("↑↓→§") << QByteArray("\x18\x19\x1A\x15");
    QTest::newRow("full-width comma") << QString(QChar(0xFF0C)) << QByteArray("\xA1\x41");
    QTest::newRow("raw control") << QString(QChar(0x07)) << QByteArray("\x07");
}

void TestSendCore::textToBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    const SendText::Bytes got = SendText::toBytes(text);
    QVERIFY(got.bytes);
    QCOMPARE(*got.bytes, bytes);
}

void TestSendCore::unencodableText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("badIndex");
    QTest::addColumn<QString>("named");
    QTest::newRow("emoji") << QString::fromUtf8("ok😀") << 2 << QString::fromUtf8("'😀' (U+1F600)");
    QTest::newRow("after glyph") << QString::fromUtf8("☻é") << 1
                                 << QString::fromUtf8("'é' (U+00E9)");
    QTest::newRow("simplified") << QString::fromUtf8("中国") << 1
                                << QString::fromUtf8("'国' (U+56FD)");
    QTest::newRow("house sign") << QString::fromUtf8("⌂") << 0 << QString::fromUtf8("'⌂' (U+2302)");
}

void TestSendCore::unencodableText()
{
    QFETCH(QString, text);
    QFETCH(int, badIndex);
    QFETCH(QString, named);
    const SendText::Bytes got = SendText::toBytes(text);
    QVERIFY(!got.bytes);
    QCOMPARE(int(got.badIndex), badIndex);
    const QString message = SendText::unencodableMessage(text, got.badIndex);
    QVERIFY2(message.contains(named), qPrintable(message));
    QVERIFY(message.contains(QStringLiteral("沒有傳送")));
}

void TestSendCore::bytesToTextRoundTrip()
{
    QByteArray bytes;
    for (int c = 1; c < 0x20; ++c)
        bytes += char(c);
    bytes += "A\xA4\xA4\x03";
    const QString text = SendText::fromBytes(bytes);
    QCOMPARE(text.size(), 31 + 1 + 1 + 1);
    QCOMPARE(text.mid(31, 2), QString::fromUtf8("A中"));
    QCOMPARE(*SendText::toBytes(text).bytes, bytes);
}

void TestSendCore::fileTexts()
{
    QCOMPARE(SendTexts::fileProgress(0, 300), QString::fromUtf8("傳送(檔案內容)..0/300"));
    QCOMPARE(SendTexts::fileProgress(299, 300), QString::fromUtf8("傳送(檔案內容)..299/300"));
    QCOMPARE(SendTexts::fileProgress(3000000000LL, 5000000000LL),
             QString::fromUtf8("傳送(檔案內容)..3000000000/5000000000"));
    QCOMPARE(SendTexts::fileSizeLabel(1024), QStringLiteral("1024 byte"));
    QCOMPARE(SendTexts::fileSizeLabel(-1), QStringLiteral("-1 byte"));
    QCOMPARE(SendTexts::fileSizeLabel(3221225472LL), QStringLiteral("3221225472 byte"));
    QCOMPARE(SendTexts::fileSummary(QStringLiteral("/t/a.bin"), 300, 300, false),
             QString::fromUtf8("檔案名稱 : /t/a.bin\n檔案大小 : 300\n總共傳送 : 300\n傳送完畢!"));
    QCOMPARE(SendTexts::fileSummary(QStringLiteral("/t/a.bin"), -1, 7, true),
             QString::fromUtf8("檔案名稱 : /t/a.bin\n檔案大小 : -1\n總共傳送 : 7\n傳送中斷!"));
    QCOMPARE(SendTexts::fileOpenFailed(QStringLiteral("/x")),
             QString::fromUtf8("開啟檔案內容時,發生錯誤 [ /x ]"));
}

void TestSendCore::streamGivesEveryByteInOrder()
{
    QTemporaryDir dir;
    QByteArray content;
    // Longer than the buffer, so the refill is crossed, with every byte value in it.
    for (size_t i = 0; i < FileByteStream::BufferSize * 2 + 77; ++i)
        content += char((i * 7 + i / 256) & 0xFF);
    const QString path = dir.filePath(QStringLiteral("all.bin"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
    f.close();

    FileByteStream stream;
    QVERIFY(stream.open(path));
    QByteArray got;
    for (int b = stream.next(); b >= 0; b = stream.next())
        got += char(b);
    QCOMPARE(got.size(), content.size());
    QVERIFY(got == content);
    QCOMPARE(stream.next(), -1); // stays at the end
}

void TestSendCore::streamEndsWhereShrunkFileEnds()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("shrinks.bin"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(int(FileByteStream::BufferSize * 4), 'x'));
    f.close();

    FileByteStream stream;
    QVERIFY(stream.open(path));
    QCOMPARE(stream.next(), int('x'));
    QVERIFY(QFile::resize(path, qint64(FileByteStream::BufferSize) + 10));
    int64_t count = 1;
    while (stream.next() >= 0)
        ++count;
    // What was buffered before the cut, plus what is left after it; no more.
    QCOMPARE(count, int64_t(FileByteStream::BufferSize) + 10);

    FileByteStream gone;
    QVERIFY(!gone.open(dir.filePath(QStringLiteral("missing"))));
    QCOMPARE(gone.next(), -1);
}

void TestSendCore::sizeQuery()
{
    QTemporaryDir dir;
    const QString big = dir.filePath(QStringLiteral("sparse.bin"));
    QFile f(big);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    // Beyond what 32 bits can count, without writing any of it.
    QVERIFY(::truncate(QFile::encodeName(big).constData(), 5'000'000'000LL) == 0);
    QCOMPARE(FileByteStream::querySize(big), int64_t(5'000'000'000LL));
    QCOMPARE(FileByteStream::querySize(dir.filePath(QStringLiteral("missing"))), int64_t(-1));
}

void TestSendCore::pacerWithoutPauseDispatchesByInterval()
{
    int dispatches = 0;
    int waits = 0;
    SendPacing::Pacer pacer(
            0, [&] { ++dispatches; }, [&](std::chrono::milliseconds) { ++waits; });
    const Clock::time_point start = Clock::now();
    int bytes = 0;
    while (Clock::now() - start < 40ms) {
        pacer.afterByte(Clock::now());
        ++bytes;
    }
    QCOMPARE(waits, 0);
    QVERIFY2(dispatches >= 5 && dispatches <= 11, qPrintable(QString::number(dispatches)));
    QVERIFY(bytes > dispatches * 10);
}

void TestSendCore::pacerPausesFromTheByteOnwards()
{
    int dispatches = 0;
    std::chrono::milliseconds longestWait {0};
    SendPacing::Pacer pacer(
            20, [&] { ++dispatches; },
            [&](std::chrono::milliseconds w) {
                longestWait = std::max(longestWait, w);
                SendPacing::sleepUntil(Clock::now() + w);
            });
    const Clock::time_point sent = Clock::now();
    pacer.afterByte(sent);
    const Clock::duration took = Clock::now() - sent;
    QCOMPARE(dispatches, 1); // every byte, before the pause
    QVERIFY(took >= 20ms);
    // The event loop gets the long part, never the end of the pause.
    QVERIFY(longestWait > 0ms && longestWait <= 18ms);
}

void TestSendCore::pacerStopEndsPauseEarly()
{
    bool stop = false;
    int waits = 0;
    SendPacing::Pacer pacer(
            5000, [] {},
            [&](std::chrono::milliseconds) {
                ++waits;
                stop = true; // Break clicked while events ran
            },
            [&] { return stop; });
    const Clock::time_point sent = Clock::now();
    pacer.afterByte(sent);
    QCOMPARE(waits, 1);
    QVERIFY(Clock::now() - sent < 1s);
}

void TestSendCore::pacerPauseAlreadyOverWaitsNothing()
{
    // A pause is counted from its own byte: time lost elsewhere is not made up for, nor added.
    int waits = 0;
    SendPacing::Pacer pacer(
            10, [] {}, [&](std::chrono::milliseconds) { ++waits; });
    const Clock::time_point before = Clock::now();
    pacer.afterByte(before - 50ms);
    QCOMPARE(waits, 0);
    QVERIFY(Clock::now() - before < 5ms);
}

QTEST_GUILESS_MAIN(TestSendCore)
#include "tst_sendcore.moc"
