// SPDX-License-Identifier: MIT
// The auto-reply matcher without a line: patterns split over reads, bytes matched once, which
// rule answers, regular expressions over Big5 text, the rate bound, and the rules it refuses.
#include "send/AutoReply.h"

#include <QTest>

using AutoReply::Match;
using AutoReply::Rule;

namespace {

Rule rule(const char *name, Match match, const QString &pattern, const QString &reply = "OK")
{
    Rule r;
    r.name = QString::fromUtf8(name);
    r.match = match;
    r.pattern = pattern;
    r.reply.content = reply;
    return r;
}

// Feeds `reads` one after the other and returns which rules answered, as "rule:reply" words.
QStringList answers(AutoReply::Matcher &m, const QList<QByteArray> &reads, int64_t nowUs = 0)
{
    QStringList out;
    for (const QByteArray &read : reads)
        for (const AutoReply::Hit &h : m.feed(read, nowUs))
            out << QStringLiteral("%1:%2%3")
                            .arg(h.rule)
                            .arg(QString::fromLatin1(h.reply.toHex()))
                            .arg(h.limited ? QStringLiteral("(limited)") : QString());
    return out;
}

} // namespace

class TestAutoReply : public QObject
{
    Q_OBJECT

private slots:
    void matching_data();
    void matching();
    void rateIsBounded();
    void badRulesAreNamed_data();
    void badRulesAreNamed();
};

void TestAutoReply::matching_data()
{
    QTest::addColumn<QList<Rule>>("rules");
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QStringList>("expected");
    const QString ok = QString::fromLatin1(QByteArray("OK").toHex()); // 4f4b
    const Rule at = rule("AT", Match::Text, "AT");
    QTest::newRow("in one read") << QList {at} << QList<QByteArray> {"xxATyy"}
                                 << QStringList {"0:" + ok};
    QTest::newRow("split between two reads")
            << QList {at} << QList<QByteArray> {"xA", "Ty"} << QStringList {"0:" + ok};
    QTest::newRow("longer than any one read, byte by byte")
            << QList {rule("long", Match::Text, "ATZ0123456789")}
            << QList<QByteArray> {"A", "T", "Z", "0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}
            << QStringList {"0:" + ok};
    QTest::newRow("each byte matched once")
            << QList {rule("aa", Match::Text, "AA")} << QList<QByteArray> {"AAA", "A"}
            << QStringList {"0:" + ok, "0:" + ok};
    // "BAT": rule 1 (AT) is complete at the T, rule 0 (BATS) only at the S.
    QTest::newRow("the match complete first answers")
            << QList {rule("BATS", Match::Text, "BATS", "1"), rule("AT", Match::Text, "AT", "2")}
            << QList<QByteArray> {"BATS"} << QStringList {"1:32"};
    QTest::newRow("complete at the same byte: the earlier rule")
            << QList {rule("T", Match::Text, "T", "1"), rule("AT", Match::Text, "AT", "2")}
            << QList<QByteArray> {"AT"} << QStringList {"0:31"};
    Rule off = at;
    off.on = false;
    QTest::newRow("a rule that is off")
            << QList {off} << QList<QByteArray> {"AT"} << QStringList {};
    Rule modbus = rule("modbus", Match::Hex, "01 03 00 00 00 01 84 0A", "01 03 02 00 2A 38 4F");
    modbus.reply.hex = true;
    QTest::newRow("a Modbus request answered, NUL bytes and all")
            << QList {modbus}
            << QList<QByteArray> {QByteArray("\x01\x03\x00", 3),
                                  QByteArray("\x00\x00\x01\x84\x0A", 5)}
            << QStringList {"0:010302002a384f"};
    QTest::newRow("regex over Big5 text")
            << QList {rule("溫度", Match::Regex, QStringLiteral("溫度 \\d+\r\n"))}
            << QList<QByteArray> {"x\xB7\xC5", "\xAB\xD7 42\r", "\n"} << QStringList {"0:" + ok};
    QTest::newRow("regex split in the middle of a Big5 pair")
            << QList {rule("中", Match::Regex, QStringLiteral("中"))}
            << QList<QByteArray> {"\xA4", "\xA4"} << QStringList {"0:" + ok};
    QTest::newRow("regex that matches nothing-long never answers")
            << QList {rule("empty", Match::Regex, "x*")} << QList<QByteArray> {"abc"}
            << QStringList {};
    Rule withCheck = rule("crc", Match::Text, "Q", "01 03");
    withCheck.reply.hex = true;
    withCheck.reply.check = Checksum::Kind::Sum8;
    withCheck.reply.ending = CommandList::Ending::CrLf;
    QTest::newRow("the reply with its check and ending")
            << QList {withCheck} << QList<QByteArray> {"Q"} << QStringList {"0:0103040d0a"};
}

void TestAutoReply::matching()
{
    QFETCH(QList<Rule>, rules);
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QStringList, expected);
    AutoReply::Matcher m;
    QCOMPARE(m.setRules({rules.begin(), rules.end()}), QString());
    QCOMPARE(answers(m, reads), expected);
}

void TestAutoReply::rateIsBounded()
{
    // A device that sends the trigger 10,000 times a second: 100 answers in any second, the
    // rest counted.
    AutoReply::Matcher m;
    Rule r = rule("AT", Match::Text, "AT");
    QCOMPARE(m.setRules({r}), QString());
    int answered = 0;
    int limited = 0;
    for (int i = 0; i < 20000; ++i) {
        for (const AutoReply::Hit &h : m.feed("AT", int64_t(i) * 100)) // two seconds
            (h.limited ? limited : answered) += 1;
    }
    QCOMPARE(answered, 200);
    QCOMPARE(limited, 19800);
    QCOMPARE(m.hits(0), int64_t(20000));
    m.reset();
    QCOMPARE(m.hits(0), int64_t(0));
}

void TestAutoReply::badRulesAreNamed_data()
{
    QTest::addColumn<Rule>("bad");
    QTest::addColumn<QString>("error");
    QTest::newRow("bad regex") << rule(
            "re", Match::Regex,
            "(") << QStringLiteral("規則 2「re」:規則運算式有誤:missing closing parenthesis");
    QTest::newRow("bad hex pattern")
            << rule("hx", Match::Hex, "0G")
            << QStringLiteral("規則 2「hx」:第 2 個字元 'G' 不是十六進位數字");
    QTest::newRow("empty pattern")
            << rule("e", Match::Text, "") << QStringLiteral("規則 2「e」:沒有要找的內容");
    Rule badReply = rule("r", Match::Text, "x", "ZZ");
    badReply.reply.hex = true;
    QTest::newRow("bad reply") << badReply
                               << QStringLiteral(
                                          "規則 2「r」:回應:第 1 個字元 'Z' 不是十六進位數字");
    Rule late = rule("d", Match::Text, "x");
    late.delayMs = 60001;
    QTest::newRow("delay beyond a minute")
            << late << QStringLiteral("規則 2「d」:延遲 60001 ms 不在 0 到 60000 之間");
}

void TestAutoReply::badRulesAreNamed()
{
    QFETCH(Rule, bad);
    QFETCH(QString, error);
    AutoReply::Matcher m;
    QCOMPARE(m.setRules({rule("ok", Match::Text, "AT")}), QString());
    QCOMPARE(m.setRules({rule("good", Match::Text, "AT"), bad}), error);
    // Refused whole: the rules before stay as they were.
    QCOMPARE(answers(m, {"AT"}), QStringList {"0:4f4b"});
}

QTEST_APPLESS_MAIN(TestAutoReply)
#include "tst_autoreply.moc"
