// SPDX-License-Identifier: MIT
// The display's text store: insertion at the caret, selections, and the width marks that let
// a very long line be measured without walking it.
#include "main/TrafficText.h"

#include <QRandomGenerator>
#include <QTest>

#include <climits>

namespace {

// Wide for CJK-like units, as a real font would be, so wrong sums show.
int advance(char16_t c) { return c >= 0x3000 ? 12 : (c % 3) + 5; }

int64_t bruteWidth(const QString &s, qsizetype column)
{
    int64_t w = 0;
    for (qsizetype i = 0; i < column; ++i)
        w += advance(s[i].unicode());
    return w;
}

// Which characters of text() are marked, line breaks included as never marked.
std::vector<bool> markedFlags(const TrafficText &t)
{
    std::vector<bool> out;
    for (qsizetype i = 0; i < t.lineCount(); ++i) {
        if (i)
            out.push_back(false);
        std::vector<bool> line(size_t(t.line(i).size()), false);
        qsizetype last = -1;
        for (const MarkedRange &m : t.markedRanges(i)) {
            // Sorted, apart and not empty.
            if (m.from <= last || m.to <= m.from || m.to > t.line(i).size())
                return {};
            for (qsizetype c = m.from; c < m.to; ++c)
                line[size_t(c)] = true;
            last = m.to;
        }
        out.insert(out.end(), line.begin(), line.end());
    }
    return out;
}

std::vector<bool> flags(const char *pattern)
{
    std::vector<bool> out;
    for (const char *c = pattern; *c; ++c)
        out.push_back(*c == '#');
    return out;
}

} // namespace

class TestTrafficText : public QObject
{
    Q_OBJECT

private slots:
    void insertAtCaretKeepsSelection();
    void multiLinePieces();
    void appendLineLeavesCaretBelow();
    void editing_data();
    void editing();
    void widthsOfVeryLongLine();
    void widthsPastTwoGigapixels();
    void randomEditsKeepWidthsExact();
    void offsetsFollowEveryEdit();
    void replaceRangeAndNeighbours();
    void marksFollowInsertions();
    void marksAcrossLines();
    void marksGoWithRemovedText();
    void randomEditsKeepMarksRight();
};

void TestTrafficText::insertAtCaretKeepsSelection()
{
    TrafficText t;
    t.setText(QStringLiteral("one two"));
    t.setCaret({0, 4});
    t.setCaret({0, 7}, true);
    QCOMPARE(t.selectedText(), QStringLiteral("two"));
    t.insertAtCaret(u"!");
    QCOMPARE(t.text(), QStringLiteral("one two!"));
    QVERIFY(!t.hasSelection());
    QCOMPARE(t.caret(), (TextPosition {0, 8}));
    // A selection made backwards behaves the same: the piece follows the selected text.
    t.setCaret({0, 3});
    t.setCaret({0, 0}, true);
    t.insertAtCaret(u"#");
    QCOMPARE(t.text(), QStringLiteral("one# two!"));
    QCOMPARE(t.caret(), (TextPosition {0, 4}));
}

void TestTrafficText::multiLinePieces()
{
    TrafficText t;
    t.setText(QStringLiteral("headtail"));
    t.setCaret({0, 4});
    t.insertAtCaret(u"A\nB\n\nC");
    QCOMPARE(t.text(), QStringLiteral("headA\nB\n\nCtail"));
    QCOMPARE(t.lineCount(), 4);
    QCOMPARE(t.caret(), (TextPosition {3, 1}));
    t.insertAtCaret(u"\n");
    QCOMPARE(t.line(4), QStringLiteral("tail"));
    QCOMPARE(t.caret(), (TextPosition {4, 0}));
}

void TestTrafficText::appendLineLeavesCaretBelow()
{
    TrafficText t;
    t.appendLine(u" ");
    t.appendLine(u"程式 : TELVIX");
    QCOMPARE(t.text(), QStringLiteral(" \n程式 : TELVIX\n"));
    QCOMPARE(t.caret(), (TextPosition {2, 0}));
    t.insertAtCaret(u"x");
    QCOMPARE(t.line(2), QStringLiteral("x"));
}

void TestTrafficText::editing_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("result");
    QTest::newRow("backspace joins lines") << "ab\ncd" << 1 << 0 << "back"
                                           << "abcd";
    QTest::newRow("backspace at start") << "ab" << 0 << 0 << "back"
                                        << "ab";
    QTest::newRow("backspace surrogate pair")
            << QString::fromUcs4(U"a\U0001F600") << 0 << 3 << "back"
            << "a";
    QTest::newRow("delete joins lines") << "ab\ncd" << 0 << 2 << "del"
                                        << "abcd";
    QTest::newRow("delete at end") << "ab" << 0 << 2 << "del"
                                   << "ab";
    QTest::newRow("typing") << "ab" << 0 << 1 << "type"
                            << "aXb";
}

void TestTrafficText::editing()
{
    QFETCH(QString, start);
    QFETCH(int, line);
    QFETCH(int, column);
    QFETCH(QString, op);
    TrafficText t;
    t.setText(start);
    t.setCaret({line, column});
    if (op == "back")
        t.deleteBackward();
    else if (op == "del")
        t.deleteForward();
    else
        t.replaceSelection(u"X");
    QTEST(t.text(), "result");
}

void TestTrafficText::widthsOfVeryLongLine()
{
    TrafficText t;
    t.setAdvance(advance);
    QString all;
    // A megabyte arriving in passes, as receive mode inserts it.
    for (int pass = 0; pass < 256; ++pass) {
        QString piece;
        for (int i = 0; i < 4096; ++i)
            piece += QChar(char16_t(pass % 7 == 0 && i % 5 == 0 ? 0x4E00 : 0x21 + (i % 90)));
        t.insertAtCaret(piece);
        all += piece;
    }
    QCOMPARE(t.lineCount(), 1);
    QCOMPARE(t.lineWidth(0), bruteWidth(all, all.size()));
    QCOMPARE(t.maxWidth(), t.lineWidth(0));
    for (qsizetype col : {qsizetype(0), qsizetype(1), qsizetype(1023), qsizetype(1024),
                          qsizetype(1025), qsizetype(500000), all.size() - 1, all.size()}) {
        const int64_t x = t.xOfColumn(0, col);
        QCOMPARE(x, bruteWidth(all, col));
        // A point just inside a character's left half finds that character's column.
        QCOMPARE(t.columnAtX(0, x + 1), col);
    }
}

void TestTrafficText::randomEditsKeepWidthsExact()
{
    QRandomGenerator rng(42);
    TrafficText t;
    t.setAdvance(advance);
    for (int step = 0; step < 2000; ++step) {
        const int op = int(rng.bounded(10));
        const qsizetype line = rng.bounded(int(t.lineCount()));
        const qsizetype column = rng.bounded(int(t.line(line).size()) + 1);
        t.setCaret({line, column});
        if (op < 6) {
            QString piece;
            const int n = int(rng.bounded(3000));
            for (int i = 0; i < n; ++i)
                piece += rng.bounded(40) == 0 ? QChar(u'\n')
                                              : QChar(char16_t(0x20 + rng.bounded(95)));
            t.insertAtCaret(piece);
        } else if (op < 8) {
            t.setCaret({rng.bounded(int(t.lineCount())), 0}, true);
            t.deleteBackward();
        } else {
            t.deleteForward();
        }
    }
    int64_t widest = 0;
    for (qsizetype i = 0; i < t.lineCount(); ++i) {
        QCOMPARE(t.lineWidth(i), bruteWidth(t.line(i), t.line(i).size()));
        widest = std::max(widest, t.lineWidth(i));
        const qsizetype probe = t.line(i).size() / 2;
        QCOMPARE(t.xOfColumn(i, probe), bruteWidth(t.line(i), probe));
    }
    QCOMPARE(t.maxWidth(), widest);
    QCOMPARE(t.characterCount(), t.text().size());
}

void TestTrafficText::widthsPastTwoGigapixels()
{
    // Three hours of one unbroken HEX line at a large font: far past what int holds. A wide
    // advance stands in for the characters, so a few hundred thousand make the width.
    TrafficText t;
    t.setAdvance([](char16_t c) { return c == u'W' ? 30000 : 7; });
    const QString chunk(4096, u'W');
    for (int i = 0; i < 20; ++i)
        t.insertAtCaret(chunk);
    const int64_t expected = int64_t(20) * 4096 * 30000;
    QVERIFY(expected > INT_MAX);
    QCOMPARE(t.lineWidth(0), expected);
    QCOMPARE(t.maxWidth(), expected);
    QCOMPARE(t.xOfColumn(0, t.line(0).size()), expected);
    const qsizetype column = 75000;
    const int64_t x = t.xOfColumn(0, column);
    QCOMPARE(x, int64_t(column) * 30000);
    QCOMPARE(t.columnAtX(0, x + 1), column);
    QCOMPARE(t.columnAtX(0, expected + 100), t.line(0).size());
    // A short line after it is measured as ever.
    t.insertAtCaret(u"\nab");
    QCOMPARE(t.lineWidth(1), int64_t(14));
    QCOMPARE(t.maxWidth(), expected);
}

void TestTrafficText::offsetsFollowEveryEdit()
{
    // The offsets assistive technology counts in agree with the text after any edit, the
    // index of line starts being brought up to date only where lines moved.
    QRandomGenerator rng(11);
    TrafficText t;
    for (int step = 0; step < 600; ++step) {
        const qsizetype line = rng.bounded(int(t.lineCount()));
        t.setCaret({line, rng.bounded(int(t.line(line).size()) + 1)});
        switch (rng.bounded(4)) {
        case 0:
        case 1: {
            QString piece;
            const int n = int(rng.bounded(40));
            for (int i = 0; i < n; ++i)
                piece += rng.bounded(6) == 0 ? QChar(u'\n') : QChar(char16_t(u'a' + rng.bounded(26)));
            t.insertAtCaret(piece);
            break;
        }
        case 2:
            t.deleteBackward();
            break;
        default:
            t.replaceRange(t.caret(), t.positionOf(t.offsetOf(t.caret()) + rng.bounded(30)), u"Z");
            break;
        }
        if (step % 7 != 0)
            continue;
        const QString whole = t.text();
        QCOMPARE(t.characterCount(), whole.size());
        for (int k = 0; k < 20; ++k) {
            const qsizetype offset = rng.bounded(int(whole.size()) + 1);
            const TextPosition p = t.positionOf(offset);
            QCOMPARE(t.offsetOf(p), offset);
            // The position names the same place in the lines as the offset does in the text.
            QCOMPARE(t.textBetween({0, 0}, p), whole.left(offset));
        }
    }
    QCOMPARE(t.positionOf(-5), (TextPosition {0, 0}));
    QCOMPARE(t.positionOf(t.characterCount() + 5), t.endPosition());
    t.clear();
    QCOMPARE(t.offsetOf({3, 3}), 0);
}

void TestTrafficText::replaceRangeAndNeighbours()
{
    TrafficText t;
    t.setText(QString::fromUcs4(U"ab\U0001F600c\nde"));
    // A surrogate pair is one character to step over, a line break one more.
    QCOMPARE(t.nextPosition({0, 2}), (TextPosition {0, 4}));
    QCOMPARE(t.previousPosition({0, 4}), (TextPosition {0, 2}));
    QCOMPARE(t.nextPosition({0, 5}), (TextPosition {1, 0}));
    QCOMPARE(t.previousPosition({1, 0}), (TextPosition {0, 5}));
    QCOMPARE(t.previousPosition({0, 0}), (TextPosition {0, 0}));
    QCOMPARE(t.nextPosition(t.endPosition()), t.endPosition());
    // Either order names the same range; the caret ends behind the new text.
    t.replaceRange({1, 1}, {0, 1}, u"X\nY");
    QCOMPARE(t.text(), QStringLiteral("aX\nYe"));
    QCOMPARE(t.caret(), (TextPosition {1, 1}));
    QVERIFY(!t.hasSelection());
    QCOMPARE(t.textBetween({1, 1}, {0, 1}), QStringLiteral("X\nY"));
}

void TestTrafficText::marksFollowInsertions()
{
    TrafficText t;
    t.insertAtCaret(u"abXYcd", {{2, 4}});
    QCOMPARE(t.markedRanges(0), (std::vector<MarkedRange> {{2, 4}}));
    t.setCaret({0, 0});
    t.insertAtCaret(u"__"); // before: the mark moves with its text
    QCOMPARE(markedFlags(t), flags("____##__"));
    t.setCaret({0, 5});
    t.insertAtCaret(u"i"); // inside: the inserted text is not marked
    QCOMPARE(t.text(), QStringLiteral("__abXiYcd"));
    QCOMPARE(markedFlags(t), flags("____#_#__"));
    t.setCaret({0, 7});
    t.insertAtCaret(u"z"); // right after a mark: not part of it
    QCOMPARE(markedFlags(t), flags("____#_#___"));
    t.setCaret(t.endPosition());
    t.insertAtCaret(u"QR", {{0, 1}, {1, 2}}); // touching marks join
    QCOMPARE(t.markedRanges(0).back(), (MarkedRange {10, 12}));
    t.setText(QStringLiteral("plain"));
    QVERIFY(t.markedRanges(0).empty());
    t.insertAtCaret(u"!", {{0, 1}});
    t.clear();
    QVERIFY(t.markedRanges(0).empty());
}

void TestTrafficText::marksAcrossLines()
{
    TrafficText t;
    // A mark spanning a break marks both sides, never the break.
    t.insertAtCaret(u"ab\ncd", {{1, 5}});
    QCOMPARE(markedFlags(t), flags("_#_##"));
    QCOMPARE(t.markedRanges(1), (std::vector<MarkedRange> {{0, 2}}));
    // A line split by an insertion carries its marks to the new line.
    t.setText(QString());
    t.insertAtCaret(u"abcdef", {{1, 2}, {4, 6}});
    t.setCaret({0, 3});
    t.insertAtCaret(u"1\n2\n3");
    QCOMPARE(t.lineCount(), qsizetype(3));
    QCOMPARE(t.markedRanges(0), (std::vector<MarkedRange> {{1, 2}}));
    QVERIFY(t.markedRanges(1).empty());
    QCOMPARE(t.line(2), QStringLiteral("3def"));
    QCOMPARE(t.markedRanges(2), (std::vector<MarkedRange> {{2, 4}}));
    // Split inside a mark: both halves stay marked, the break between them is not.
    t.setCaret({2, 3});
    t.insertAtCaret(u"\n");
    QCOMPARE(t.markedRanges(2), (std::vector<MarkedRange> {{2, 3}}));
    QCOMPARE(t.markedRanges(3), (std::vector<MarkedRange> {{0, 1}}));
    QCOMPARE(t.markAt({3, 0}), &t.markedRanges(3)[0]);
    QCOMPARE(t.markAt({3, 1}), nullptr);
}

void TestTrafficText::marksGoWithRemovedText()
{
    TrafficText t;
    t.insertAtCaret(u"abcdefgh", {{2, 4}, {6, 7}});
    t.replaceRange({0, 3}, {0, 6}, u""); // across the end of one mark
    QCOMPARE(t.text(), QStringLiteral("abcgh"));
    QCOMPARE(markedFlags(t), flags("__##_"));
    t.replaceRange({0, 2}, {0, 4}, u"XY"); // the replacement is not marked
    QCOMPARE(markedFlags(t), flags("_____"));
    QVERIFY(t.markedRanges(0).empty());

    t.setText(QString());
    t.insertAtCaret(u"ab\ncd\nef", {{1, 2}, {3, 4}, {7, 8}});
    t.replaceRange({0, 2}, {2, 0}, u""); // joins the first and last line
    QCOMPARE(t.text(), QStringLiteral("abef"));
    QCOMPARE(markedFlags(t), flags("_#_#"));
    t.setCaret({0, 4});
    t.deleteBackward();
    QCOMPARE(markedFlags(t), flags("_#_"));
    t.setCaret({0, 1});
    t.deleteForward();
    QCOMPARE(markedFlags(t), flags("__"));
}

void TestTrafficText::randomEditsKeepMarksRight()
{
    // Against a plain model: the text and one flag per character.
    QRandomGenerator random(7);
    TrafficText t;
    QString model;
    std::vector<bool> marked;
    for (int step = 0; step < 3000; ++step) {
        const qsizetype at = random.bounded(int(model.size() + 1));
        if (random.bounded(3) == 0 && !model.isEmpty()) {
            const qsizetype to = std::min(model.size(), at + random.bounded(6));
            t.replaceRange(t.positionOf(at), t.positionOf(to), u"");
            model.remove(at, to - at);
            marked.erase(marked.begin() + at, marked.begin() + to);
        } else {
            QString piece;
            std::vector<MarkedRange> marks;
            std::vector<bool> pieceFlags;
            for (int i = random.bounded(1, 6); i > 0; --i) {
                const bool nl = random.bounded(4) == 0;
                piece += nl ? u'\n' : QChar(u'a' + random.bounded(26));
                const bool m = !nl && random.bounded(2) == 0;
                pieceFlags.push_back(m);
                if (m) {
                    const qsizetype c = piece.size() - 1;
                    if (!marks.empty() && marks.back().to == c)
                        marks.back().to = c + 1;
                    else
                        marks.push_back({c, c + 1});
                }
            }
            t.setCaret(t.positionOf(at));
            t.insertAtCaret(piece, marks);
            model.insert(at, piece);
            marked.insert(marked.begin() + at, pieceFlags.begin(), pieceFlags.end());
        }
        QCOMPARE(t.text(), model);
        QCOMPARE(markedFlags(t), marked);
    }
}

QTEST_APPLESS_MAIN(TestTrafficText)
#include "tst_traffictext.moc"
