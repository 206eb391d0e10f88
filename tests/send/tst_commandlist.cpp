// SPDX-License-Identifier: MIT
// The command list without a window: what a row puts on the line, the list file (commands and
// auto-reply rules) going out and coming back, the files it refuses whole, and the repeat grid on a clock of the test's own.
#include "send/CommandFile.h"
#include "send/CommandList.h"
#include "send/RepeatGrid.h"

#include <QTest>

using CommandList::Command;
using CommandList::Ending;

Q_DECLARE_METATYPE(Command)

namespace {

Command command(const char *name, bool hex, const QString &content, Ending ending = Ending::None,
                Checksum::Kind check = Checksum::Kind::None, qsizetype from = 0)
{
    Command c;
    c.name = QString::fromUtf8(name);
    c.hex = hex;
    c.content = content;
    c.ending = ending;
    c.check = check;
    c.checkFrom = from;
    return c;
}

QByteArray file(const QByteArray &rows, int version = 1)
{
    return R"({"format": "telvix-commands", "version": )" + QByteArray::number(version)
            + R"(, "commands": [)" + rows + "]}";
}

QByteArray replies(const QByteArray &rows)
{
    return R"({"format": "telvix-commands", "version": 1, "commands": [], "replies": [)" + rows
            + "]}";
}

} // namespace

class TestCommandList : public QObject
{
    Q_OBJECT

private slots:
    void compose_data();
    void compose();
    void roundTrip();
    void badFilesLoadNothing_data();
    void badFilesLoadNothing();
    void repeatGridDoesNotDrift();
};

void TestCommandList::compose_data()
{
    QTest::addColumn<Command>("cmd");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("problem");
    using K = Checksum::Kind;
    QTest::newRow("modbus request, crc after the content")
            << command("讀取", true, "01 03 00 00 00 01", Ending::None, K::Crc16Modbus)
            << QByteArray("\x01\x03\x00\x00\x00\x01\x84\x0A", 8) << QString();
    QTest::newRow("text, Big5 and a control glyph, then CR LF")
            << command("a", false, QStringLiteral("AT中\u2190"), Ending::CrLf)
            << QByteArray("AT\xA4\xA4\x1B\r\n") << QString();
    QTest::newRow("the ending comes after the check")
            << command("b", false, "AB", Ending::Cr, K::Sum8) << QByteArray("AB\x83\r")
            << QString();
    QTest::newRow("check from the second byte")
            << command("c", true, "02 11 22", Ending::None, K::Xor8, 1)
            << QByteArray("\x02\x11\x22\x33") << QString();
    QTest::newRow("bad hex names the character")
            << command("d", true, "01 0G") << QByteArray()
            << QStringLiteral("第 5 個字元 'G' 不是十六進位數字");
    QTest::newRow("check start beyond the content")
            << command("e", false, "A", Ending::None, K::Sum8, 5) << QByteArray()
            << QStringLiteral("校驗碼從第 6 個位元組算起,但內容只有 1 個位元組");
}

void TestCommandList::compose()
{
    QFETCH(Command, cmd);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, problem);
    const SendText::Composed got = CommandList::compose(cmd);
    QCOMPARE(got.problem, problem);
    QCOMPARE(got.bytes.value_or(QByteArray()).toHex(' '), bytes.toHex(' '));
}

void TestCommandList::roundTrip()
{
    std::vector<Command> list {
            command("讀取保持暫存器", true, "01 03 00 00 00 0A", Ending::None,
                    Checksum::Kind::Crc16Modbus),
            command("AT", false, QStringLiteral("AT\u2190"), Ending::CrLf),
            command("帶頭的", true, "02 05 01", Ending::Lf, Checksum::Kind::Crc32, 2),
    };
    list[1].repeatMs = 1000;
    list[1].key = QStringLiteral("F5");
    list[2].key = QStringLiteral("Ctrl+9");
    AutoReply::Rule reply;
    reply.name = QStringLiteral("站 1");
    reply.match = AutoReply::Match::Regex;
    reply.pattern = QStringLiteral("溫度 (\\d+)");
    reply.reply = command("", true, "01 03 02 00 2A", Ending::None, Checksum::Kind::Crc16Modbus);
    reply.delayMs = 20;
    reply.on = false;
    reply.maxPerSecond = 5;
    const QByteArray saved = CommandFile::save({list, {reply}});
    QVERIFY(saved.contains("\"version\": 1"));
    QVERIFY(saved.contains("讀取保持暫存器")); // UTF-8, not escaped
    const CommandFile::Loaded back = CommandFile::load(saved);
    QCOMPARE(back.error, QString());
    QVERIFY(back.contents.commands == list);
    QVERIFY(back.contents.replies == std::vector {reply});
    // Fields left out take their defaults; a file without replies has none.
    const CommandFile::Loaded minimal =
            CommandFile::load(file(R"({"name": "x", "content": "hi"})"));
    QCOMPARE(minimal.error, QString());
    QVERIFY(minimal.contents.commands == std::vector {command("x", false, "hi")});
    QVERIFY(minimal.contents.replies.empty());
}

void TestCommandList::badFilesLoadNothing_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");
    const QString notAList = QStringLiteral("這不是 TELVIX 的命令清單檔");
    QTest::newRow("not JSON") << QByteArray("01 03 00 00") << notAList;
    QTest::newRow("other JSON") << QByteArray(R"({"commands": []})") << notAList;
    QTest::newRow("a later version")
            << file("", 2) << QStringLiteral("命令清單檔是第 2 版,比這個程式能讀的第 1 版新");
    QTest::newRow("no rows array") << QByteArray(R"({"format": "telvix-commands", "version": 1})")
                                   << QStringLiteral("命令清單檔的版本或內容不完整");
    // The good first row is not kept either.
    const QByteArray good = R"({"name": "ok", "content": "x"}, )";
    QTest::newRow("bad hex in row 2")
            << file(good + R"({"name": "壞", "form": "hex", "content": "0x"})")
            << QStringLiteral("第 2 列「壞」:第 2 個字元 'x' 不是十六進位數字");
    QTest::newRow("unknown checksum")
            << file(good + R"({"name": "c", "content": "x", "checksum": "crc8"})")
            << QStringLiteral("第 2 列「c」:校驗碼「crc8」不明");
    QTest::newRow("unknown ending") << file(R"({"name": "e", "ending": "cr-lf"})")
                                    << QStringLiteral("第 1 列「e」:行尾「cr-lf」不明");
    QTest::newRow("unknown form") << file(R"({"name": "f", "form": "binary"})")
                                  << QStringLiteral("第 1 列「f」:格式「binary」不是 text 或 hex");
    QTest::newRow("bad key")
            << file(R"({"name": "k", "key": "F13"})")
            << QStringLiteral("第 1 列「k」:按鍵「F13」不能用 (可用 F1–F12 與 Ctrl+1–Ctrl+9)");
    QTest::newRow("key twice") << file(good.chopped(3)
                                       + R"(, "key": "F2"}, {"name": "k2", "key": "F2"})")
                               << QStringLiteral("第 2 列「k2」:按鍵 F2 已給了前面的命令");
    QTest::newRow("negative repeat")
            << file(R"({"name": "r", "repeatMs": -5})")
            << QStringLiteral("第 1 列「r」:重複間隔 -5 ms 不在 0 到 3600000 之間");
    QTest::newRow("check start zero") << file(R"({"name": "z", "checksumFrom": 0})")
                                      << QStringLiteral("第 1 列「z」:校驗碼的起點 0 不是正整數");
    QTest::newRow("a row that is no object")
            << file(good + "42") << QStringLiteral("第 2 列「」:不是一個命令");
    // Rules: the good first rule is not kept either.
    const QByteArray rule = R"({"name": "ok", "pattern": "AT", "reply": {"content": "OK"}}, )";
    QTest::newRow("a rule with a bad expression")
            << replies(rule + R"({"name": "re", "match": "regex", "pattern": "(", "reply": {}})")
            << QStringLiteral("規則 2「re」:規則運算式有誤:missing closing parenthesis");
    QTest::newRow("a rule's reply with a bad checksum")
            << replies(R"({"name": "r", "pattern": "A", "reply": {"checksum": "md5"}})")
            << QStringLiteral("規則 1「r」:校驗碼「md5」不明");
    QTest::newRow("a rule matched by an unknown way")
            << replies(R"({"name": "w", "match": "glob", "pattern": "A"})")
            << QStringLiteral("規則 1「w」:比對方式「glob」不是 text、hex 或 regex");
    QTest::newRow("replies not a list")
            << QByteArray(R"({"format": "telvix-commands", "version": 1, "commands": [],
                              "replies": {}})")
            << QStringLiteral("命令清單檔的版本或內容不完整");
}

void TestCommandList::badFilesLoadNothing()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    const CommandFile::Loaded got = CommandFile::load(text);
    QCOMPARE(got.error, error);
    QVERIFY(got.contents.commands.empty());
    QVERIFY(got.contents.replies.empty());
}

void TestCommandList::repeatGridDoesNotDrift()
{
    // A send that goes out a little late each time still leaves the grid where it was.
    RepeatGrid grid(1000, 10000);
    int64_t now = 1000;
    for (int n = 0; n < 10000; ++n) {
        QCOMPARE(grid.dueUs(), 1000 + int64_t(n) * 10000);
        now = grid.dueUs() + (n % 7) * 900; // up to 5.4 ms late
        grid.sent(now);
    }
    QCOMPARE(grid.skipped(), int64_t(0));
    // Held up for 3.5 periods: sent at once, the points that passed are skipped and counted,
    // and the next is on the grid again.
    const int64_t due = grid.dueUs();
    grid.sent(due + 35000);
    QCOMPARE(grid.skipped(), int64_t(3));
    QCOMPARE(grid.dueUs(), due + 40000);
    // A send a little early (a timer that fired early) does not send twice at one point.
    grid.sent(grid.dueUs() - 100);
    QCOMPARE(grid.dueUs(), due + 50000);
}

QTEST_APPLESS_MAIN(TestCommandList)
#include "tst_commandlist.moc"
