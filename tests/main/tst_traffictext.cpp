// SPDX-License-Identifier: MIT
// The display's text store: insertion at the caret, selections, and the width marks that let
// a very long line be measured without walking it.
#include "traffic/TrafficText.h"

#include "traffic/DisplayFormatter.h"
#include "traffic/FindQuery.h"

#include <QRandomGenerator>
#include <QTest>

#include <climits>
#include <malloc.h>

namespace {

// Wide for CJK-like units, as a real font would be, so wrong sums show.
int advance(char16_t c) { return c >= 0x3000 ? 12 : (c % 3) + 5; }
// The display's font: printable ASCII of one advance, the rest not.
int monoAdvance(char16_t c)
{
    if (c >= 0x3000)
        return 14;
    return c >= 0x20 && c < 0x7F ? 7 : 9 + c % 4;
}

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

// A character of each kind the store holds apart: ASCII, Latin-1 past ASCII, two-byte and
// three-byte forms, and the halves of a pair.
QString mixedPiece(QRandomGenerator &rng, int length, bool wide)
{
    QString piece;
    while (piece.size() < length) {
        switch (rng.bounded(wide ? 11 : 3)) {
        case 0:
            piece += u'\n';
            break;
        case 1:
            piece += QChar(char16_t(0x20 + rng.bounded(95)));
            break;
        case 2:
            piece += QChar(char16_t(0x80 + rng.bounded(0x80)));
            break;
        case 3:
            piece += QChar(char16_t(0x100 + rng.bounded(0x700))); // Greek, Cyrillic...
            break;
        case 4:
            piece += QChar(char16_t(0x800 + rng.bounded(0x1800))); // Indic, Thai...
            break;
        case 5:
            piece += QChar(char16_t(0x2000 + rng.bounded(0x1400))); // symbols, CJK punctuation
            break;
        case 6:
        case 7:
            piece += QChar(char16_t(0x4E00 + rng.bounded(0x5200)));
            break;
        case 8:
            piece += QChar(char16_t(0xE000 + rng.bounded(0x2000))); // Big5's own, compatibility
            break;
        case 9:
            piece += QChar(char16_t(0xFF00 + rng.bounded(0x100)));
            break;
        default:
            piece += rng.bounded(2) ? QStringLiteral("\U0001F600") : QStringLiteral("\U00020000");
        }
    }
    return piece;
}

// Where every line break of `text` is, as positions of the store.
TextPosition positionIn(const QString &text, qsizetype offset)
{
    TextPosition p;
    for (qsizetype i = 0; i < offset; ++i) {
        if (text[i] == u'\n')
            p = {p.line + 1, 0};
        else
            ++p.column;
    }
    return p;
}

int64_t liveHeap()
{
    const struct mallinfo2 m = mallinfo2();
    return int64_t(m.uordblks + m.hblkhd);
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
    void randomEditsKeepWidthsExact_data();
    void randomEditsKeepWidthsExact();
    void offsetsFollowEveryEdit();
    void replaceRangeAndNeighbours();
    void marksFollowInsertions();
    void marksAcrossLines();
    void marksGoWithRemovedText();
    void randomEditsKeepMarksRight();
    void lineTurnsWideMidLine();
    void insertionAroundTheTurn();
    void selectionAcrossBothKindsOfLines();
    void surrogatePairsStepAsOne();
    void deletingBackToLatin1();
    void clearAndReuse();
    void caretInsideSelectionWhenInserting();
    void randomEditsOfMixedTextMatchAModel();
    void memoryPerCharacter();
    void hugeBlocksOfALongSession();
    void find_data();
    void find();
    void findInSlicesAcrossPieces_data();
    void findInSlicesAcrossPieces();
    void findAfterTheTextChanged();
    void bytesAsShown_data();
    void bytesAsShown();
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

void TestTrafficText::randomEditsKeepWidthsExact_data()
{
    QTest::addColumn<bool>("mono");
    QTest::newRow("proportional") << false;
    // Printable ASCII all of one advance, as in the display's font: runs of it are measured by
    // their length, anything else by each character's own.
    QTest::newRow("monospaced") << true;
}

void TestTrafficText::randomEditsKeepWidthsExact()
{
    QFETCH(bool, mono);
    const auto width = [mono](QStringView s, qsizetype n) {
        int64_t w = 0;
        for (qsizetype i = 0; i < n; ++i)
            w += mono ? monoAdvance(s[i].unicode()) : advance(s[i].unicode());
        return w;
    };
    QRandomGenerator rng(42);
    TrafficText t;
    t.setAdvance(mono ? TrafficText::Advance(monoAdvance) : TrafficText::Advance(advance));
    for (int step = 0; step < 2000; ++step) {
        const int op = int(rng.bounded(10));
        const qsizetype line = rng.bounded(int(t.lineCount()));
        const qsizetype column = rng.bounded(int(t.line(line).size()) + 1);
        t.setCaret({line, column});
        if (op < 6) {
            QString piece;
            const int n = int(rng.bounded(3000));
            // Now and then a control code, a Latin-1 letter or DEL among the printable ones.
            const char16_t odd[] = {0x01, 0x09, 0x7F, 0xE9};
            for (int i = 0; i < n; ++i)
                piece += rng.bounded(40) == 0   ? QChar(u'\n')
                        : rng.bounded(500) == 0 ? QChar(odd[rng.bounded(4)])
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
        QCOMPARE(t.lineWidth(i), width(t.line(i), t.line(i).size()));
        widest = std::max(widest, t.lineWidth(i));
        const qsizetype probe = t.line(i).size() / 2;
        QCOMPARE(t.xOfColumn(i, probe), width(t.line(i), probe));
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
                piece += rng.bounded(6) == 0 ? QChar(u'\n')
                                             : QChar(char16_t(u'a' + rng.bounded(26)));
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

void TestTrafficText::lineTurnsWideMidLine()
{
    // A Latin-1 line past a few width marks that meets a character beyond Latin-1 in its middle,
    // then at its end: every width and column stays as a plain sum of advances says.
    TrafficText t;
    t.setAdvance(advance);
    QString model;
    for (int i = 0; i < 3 * TrafficText::MarkStride + 100; ++i)
        model += QChar(char16_t(i % 7 == 0 ? 0xE9 : 0x41 + i % 26));
    t.insertAtCaret(model);
    QVERIFY(t.isLatin1Line(0));
    const qsizetype middle = TrafficText::MarkStride + 17;
    t.setCaret({0, middle});
    t.insertAtCaret(u"中文");
    model.insert(middle, QStringLiteral("中文"));
    QVERIFY(!t.isLatin1Line(0));
    QCOMPARE(t.line(0), model);
    t.setCaret(t.endPosition());
    t.insertAtCaret(u"尾ÿ");
    model += QStringLiteral("尾ÿ");
    QCOMPARE(t.line(0), model);
    QCOMPARE(t.lineLength(0), model.size());
    QCOMPARE(t.lineWidth(0), bruteWidth(model, model.size()));
    for (qsizetype c : {qsizetype(0), middle, middle + 1, middle + 2, TrafficText::MarkStride,
                        2 * TrafficText::MarkStride - 1, 2 * TrafficText::MarkStride,
                        3 * TrafficText::MarkStride + 1, model.size() - 1, model.size()}) {
        QCOMPARE(t.xOfColumn(0, c), bruteWidth(model, c));
        QCOMPARE(t.columnAtX(0, bruteWidth(model, c)), c);
        QCOMPARE(t.charAt(0, c), c < model.size() ? model[c].unicode() : char16_t(0));
    }
    QCOMPARE(t.lineText(0, middle - 1, middle + 3), model.mid(middle - 1, 4));
    QCOMPARE(t.lineText(0, 2 * TrafficText::MarkStride - 2, 2 * TrafficText::MarkStride + 5),
             model.mid(2 * TrafficText::MarkStride - 2, 7));
}

void TestTrafficText::insertionAroundTheTurn()
{
    // Pieces go in before the first wide character, right at it and after it, Latin-1 ones and
    // wide ones, with line breaks that split the line on either side of it.
    TrafficText t;
    t.setAdvance(advance);
    t.setText(QStringLiteral("abcdé程式xyz"));
    t.setCaret({0, 2});
    t.insertAtCaret(u"12");
    QCOMPARE(t.text(), QStringLiteral("ab12cdé程式xyz"));
    t.setCaret({0, 7});
    t.insertAtCaret(u"ñ");
    QCOMPARE(t.text(), QStringLiteral("ab12cdéñ程式xyz"));
    t.setCaret({0, 9});
    t.insertAtCaret(u"‧");
    QCOMPARE(t.text(), QStringLiteral("ab12cdéñ程‧式xyz"));
    // A break before the turn leaves a Latin-1 line and a wide one; after it, the other way.
    t.setCaret({0, 4});
    t.insertAtCaret(u"\n");
    QCOMPARE(t.line(0), QStringLiteral("ab12"));
    QCOMPARE(t.line(1), QStringLiteral("cdéñ程‧式xyz"));
    t.setCaret({1, 7});
    t.insertAtCaret(u"!\n?");
    QCOMPARE(t.text(), QStringLiteral("ab12\ncdéñ程‧式!\n?xyz"));
    QVERIFY(t.isLatin1Line(0));
    QVERIFY(!t.isLatin1Line(1));
    QVERIFY(t.isLatin1Line(2));
    QCOMPARE(t.caret(), (TextPosition {2, 1}));
    // A multi-line piece with a wide middle line, into the wide line.
    t.setCaret({1, 5});
    t.insertAtCaret(u"A\n電腦\nB");
    QCOMPARE(t.text(), QStringLiteral("ab12\ncdéñ程A\n電腦\nB‧式!\n?xyz"));
    for (qsizetype i = 0; i < t.lineCount(); ++i)
        QCOMPARE(t.lineWidth(i), bruteWidth(t.line(i), t.lineLength(i)));
    QCOMPARE(t.characterCount(), t.text().size());
}

void TestTrafficText::selectionAcrossBothKindsOfLines()
{
    TrafficText t;
    t.setText(QStringLiteral("plain line\n中文 line\nlatin1 ÿ\n末"));
    QVERIFY(t.isLatin1Line(0));
    QVERIFY(!t.isLatin1Line(1));
    QVERIFY(t.isLatin1Line(2));
    t.setCaret({0, 6});
    t.setCaret({3, 1}, true);
    QCOMPARE(t.selectedText(), QStringLiteral("line\n中文 line\nlatin1 ÿ\n末"));
    QCOMPARE(t.textBetween({1, 1}, {2, 3}), QStringLiteral("文 line\nlat"));
    QCOMPARE(t.textBetween({2, 8}, {1, 2}), QStringLiteral(" line\nlatin1 ÿ"));
    QCOMPARE(t.textBetween({1, 0}, {1, 2}), QStringLiteral("中文"));
    // The offsets assistive technology uses run through both.
    QCOMPARE(t.offsetOf({2, 0}), 19);
    QCOMPARE(t.positionOf(13), (TextPosition {1, 2}));
    t.selectAll();
    QCOMPARE(t.selectedText(), t.text());
}

void TestTrafficText::surrogatePairsStepAsOne()
{
    TrafficText t;
    const QString face = QStringLiteral("\U0001F600");
    t.setText(u'a' + face + u'b');
    QVERIFY(!t.isLatin1Line(0));
    QCOMPARE(t.nextPosition({0, 1}), (TextPosition {0, 3}));
    QCOMPARE(t.previousPosition({0, 3}), (TextPosition {0, 1}));
    QCOMPARE(t.charAt(0, 1), face[0].unicode());
    QCOMPARE(t.charAt(0, 2), face[1].unicode());
    t.setCaret({0, 3});
    t.deleteBackward();
    QCOMPARE(t.text(), QStringLiteral("ab"));
    // A half on its own is kept as it came, and steps as one character.
    t.setText(QString(QChar(0xD83D)) + u'x' + QChar(0xDE00));
    QCOMPARE(t.text(), QString(QChar(0xD83D)) + u'x' + QChar(0xDE00));
    QCOMPARE(t.nextPosition({0, 0}), (TextPosition {0, 1}));
    QCOMPARE(t.previousPosition({0, 3}), (TextPosition {0, 2}));
    // Cut in two by a break, the halves stay on their lines.
    t.setText(u'a' + face);
    t.setCaret({0, 2});
    t.insertAtCaret(u"\n");
    QCOMPARE(t.line(0), u'a' + QString(face[0]));
    QCOMPARE(t.line(1), QString(face[1]));
}

void TestTrafficText::deletingBackToLatin1()
{
    // Once wide a line may stay so; what it holds and measures is all that counts.
    TrafficText t;
    t.setAdvance(advance);
    QString model = QString(2 * TrafficText::MarkStride, u'x') + QStringLiteral("中") + u'ÿ'
            + QString(TrafficText::MarkStride, u'y');
    t.setText(model);
    const qsizetype at = 2 * TrafficText::MarkStride;
    t.setCaret({0, at + 1});
    t.deleteBackward();
    model.remove(at, 1);
    QCOMPARE(t.line(0), model);
    QCOMPARE(t.lineWidth(0), bruteWidth(model, model.size()));
    QCOMPARE(t.xOfColumn(0, at + 10), bruteWidth(model, at + 10));
    QCOMPARE(t.charAt(0, at), u'ÿ');
    // The next edits of the line are exact as well, in both directions.
    t.setCaret({0, 5});
    t.deleteForward();
    model.remove(5, 1);
    t.replaceRange({0, at - 3}, {0, at + 3}, u"é");
    model.replace(at - 3, 6, QStringLiteral("é"));
    QCOMPARE(t.line(0), model);
    QCOMPARE(t.lineWidth(0), bruteWidth(model, model.size()));
    QCOMPARE(t.columnAtX(0, bruteWidth(model, at)), at);
}

void TestTrafficText::clearAndReuse()
{
    TrafficText t;
    t.setAdvance(advance);
    t.insertAtCaret(QString(5000, u'中') + u'\n' + QString(300, u'a') + u'\n');
    t.insertAtCaret(u"ab", {{0, 2}});
    t.clear();
    QVERIFY(t.isEmpty());
    QCOMPARE(t.text(), QString());
    QCOMPARE(t.lineCount(), 1);
    QCOMPARE(t.maxWidth(), 0);
    QVERIFY(t.markedRanges(0).empty());
    QVERIFY(t.isLatin1Line(0));
    t.insertAtCaret(u"again\n又");
    QCOMPARE(t.text(), QStringLiteral("again\n又"));
    QVERIFY(t.isLatin1Line(0));
    QVERIFY(!t.isLatin1Line(1));
    QCOMPARE(t.lineWidth(0), bruteWidth(QStringLiteral("again"), 5));
    QCOMPARE(t.maxWidth(), bruteWidth(QStringLiteral("again"), 5));
    QCOMPARE(t.offsetOf({1, 1}), 7);
}

void TestTrafficText::caretInsideSelectionWhenInserting()
{
    // Received text goes after the selection, whichever end the caret is at, in a wide line as
    // in a Latin-1 one, and the selected text is left as it was.
    for (bool backwards : {false, true}) {
        TrafficText t;
        t.setText(QStringLiteral("選取 this 文字"));
        const TextPosition a {0, 3};
        const TextPosition b {0, 10};
        t.setCaret(backwards ? b : a);
        t.setCaret(backwards ? a : b, true);
        QCOMPARE(t.selectedText(), QStringLiteral("this 文字"));
        t.insertAtCaret(u"+更多\nnext");
        QCOMPARE(t.text(), QStringLiteral("選取 this 文字+更多\nnext"));
        QCOMPARE(t.caret(), (TextPosition {1, 4}));
        QVERIFY(!t.hasSelection());
    }
}

void TestTrafficText::randomEditsOfMixedTextMatchAModel()
{
    // Every operation against a plain QString, on text that mixes all kinds of characters in
    // lines long enough to hold width marks.
    QRandomGenerator rng(2024);
    TrafficText t;
    t.setAdvance(advance);
    QString model;
    for (int step = 0; step < 1500; ++step) {
        const qsizetype at = rng.bounded(int(model.size() + 1));
        const int op = int(rng.bounded(10));
        if (op < 5) {
            // A piece after a selection kept, Latin-1 only or not.
            const qsizetype to = std::min(model.size(), at + rng.bounded(20));
            const QString piece = mixedPiece(rng, int(rng.bounded(1, 1500)), rng.bounded(3) == 0);
            t.setCaret(positionIn(model, to));
            t.setCaret(positionIn(model, at), true);
            t.insertAtCaret(piece);
            model.insert(to, piece);
            QCOMPARE(t.offsetOf(t.caret()), to + piece.size());
        } else if (op < 7) {
            const qsizetype to = std::min(model.size(), at + rng.bounded(3000));
            const QString piece = mixedPiece(rng, int(rng.bounded(4)), true);
            t.replaceRange(positionIn(model, at), positionIn(model, to), piece);
            model.replace(at, to - at, piece);
        } else if (op < 8) {
            t.setCaret(positionIn(model, at));
            const TextPosition before = t.previousPosition(t.caret());
            const qsizetype from = t.offsetOf(before);
            t.deleteBackward();
            model.remove(from, at - from);
        } else if (op < 9) {
            t.setCaret(positionIn(model, at));
            const qsizetype to = t.offsetOf(t.nextPosition(t.caret()));
            t.deleteForward();
            model.remove(at, to - at);
        } else {
            const qsizetype to = std::min(model.size(), at + rng.bounded(5000));
            QCOMPARE(t.textBetween(positionIn(model, to), positionIn(model, at)),
                     model.mid(at, to - at));
        }
        QCOMPARE(t.characterCount(), model.size());
        if (step % 50 != 0)
            continue;
        QCOMPARE(t.text(), model);
        int64_t widest = 0;
        for (qsizetype i = 0; i < t.lineCount(); ++i) {
            const QString line = t.line(i);
            QCOMPARE(t.lineWidth(i), bruteWidth(line, line.size()));
            widest = std::max(widest, t.lineWidth(i));
            const qsizetype probe = rng.bounded(int(line.size() + 1));
            QCOMPARE(t.xOfColumn(i, probe), bruteWidth(line, probe));
            QCOMPARE(t.lineText(i, probe / 2, probe), line.mid(probe / 2, probe - probe / 2));
            QCOMPARE(t.charAt(i, probe), probe < line.size() ? line[probe].unicode() : 0);
        }
        QCOMPARE(t.maxWidth(), widest);
        const qsizetype offset = rng.bounded(int(model.size() + 1));
        QCOMPARE(t.positionOf(offset), positionIn(model, offset));
    }
}

void TestTrafficText::memoryPerCharacter()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer keeps a heap of its own, which mallinfo2 does not see");
#elif defined(__has_feature)
#    if __has_feature(address_sanitizer)
    QSKIP("AddressSanitizer keeps a heap of its own, which mallinfo2 does not see");
#    endif
#endif
    // Received lines cost about their characters, a byte each while Latin-1, and the line that
    // grows keeps little room: measured on the heap, not by the store's own account.
    const QString textLine = QString(70, u'N');
    const int lines = 50000;
    const int64_t before = liveHeap();
    {
        TrafficText t;
        for (int i = 0; i < lines / 100; ++i) {
            QString piece;
            for (int j = 0; j < 100; ++j)
                piece += textLine + u'\n';
            t.insertAtCaret(piece);
        }
        const double perCharacter = double(liveHeap() - before) / double(lines * 71);
        QVERIFY2(perCharacter < 1.8, qPrintable(QString::number(perCharacter)));
        QVERIFY(std::abs(t.memoryBytes() - (liveHeap() - before)) < (liveHeap() - before) / 10);
    }
    {
        // Big5 text: two bytes a character, its ASCII one; less than UTF-16 takes.
        TrafficText t;
        for (int i = 0; i < lines / 100; ++i) {
            QString piece;
            for (int j = 0; j < 100; ++j)
                piece += QString(20, u'中') + QString(50, u'a') + u'\n';
            t.insertAtCaret(piece);
        }
        const double perCharacter = double(liveHeap() - before) / double(lines * 71);
        QVERIFY2(perCharacter < 2.2, qPrintable(QString::number(perCharacter)));
    }
    {
        // One line that never ends, in pieces as a read loop gives them.
        TrafficText t;
        const QString piece(4000, u'x');
        for (int i = 0; i < 4000; ++i)
            t.insertAtCaret(piece);
        const double perCharacter = double(liveHeap() - before) / (4000.0 * 4000.0);
        QVERIFY2(perCharacter < 1.2, qPrintable(QString::number(perCharacter)));
    }
    QVERIFY(liveHeap() - before < 64 * 1024);
}

// Past 16 MiB of text the shared blocks are huge pages mapped apart from the heap: the lines in
// them read back right, they cost what the others do, and Clear gives them back.
void TestTrafficText::hugeBlocksOfALongSession()
{
    TrafficText t;
    t.setAdvance(monoAdvance);
    const auto lineOf = [](int i) {
        return QStringLiteral("%1 ").arg(i, 8, 16, QChar(u'0'))
                + QString(190, QChar(u'A' + i % 26));
    };
    const int lines = 120000; // about 24 MB
    for (int i = 0; i < lines;) {
        QString piece;
        for (int j = 0; j < 500; ++j, ++i)
            piece += lineOf(i) + u'\n';
        t.insertAtCaret(piece);
    }
    QVERIFY(t.mappedBytes() > 0);
    const double perCharacter = double(t.memoryBytes()) / double(t.characterCount());
    QVERIFY2(perCharacter < 1.3, qPrintable(QString::number(perCharacter)));
    for (int i : {0, 1, 80000, 90001, lines - 1}) {
        QCOMPARE(t.line(i), lineOf(i));
        QCOMPARE(t.lineWidth(i), int64_t(lineOf(i).size()) * 7);
    }
    // A line in a huge block edited: the rest stays where it was.
    t.setCaret({100000, 3});
    t.replaceSelection(u"中");
    QCOMPARE(t.line(100000), lineOf(100000).insert(3, u'中'));
    QCOMPARE(t.line(100001), lineOf(100001));
    t.clear();
    QCOMPARE(t.mappedBytes(), 0);
    t.insertAtCaret(u"again");
    QCOMPARE(t.text(), QStringLiteral("again"));
}

Q_DECLARE_METATYPE(TextPosition)
Q_DECLARE_METATYPE(TextSearch::Options)
Q_DECLARE_METATYPE(std::optional<TextRange>)

namespace {

TextSearch::Options findOptions(bool backward, bool caseSensitive, bool wrap)
{
    TextSearch::Options o;
    o.backward = backward;
    o.caseSensitive = caseSensitive;
    o.wrap = wrap;
    return o;
}

std::optional<TextRange> range(qsizetype l1, qsizetype c1, qsizetype l2, qsizetype c2)
{
    return TextRange {{l1, c1}, {l2, c2}};
}

} // namespace

void TestTrafficText::find_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("needle");
    QTest::addColumn<TextPosition>("from");
    QTest::addColumn<TextSearch::Options>("options");
    QTest::addColumn<std::optional<TextRange>>("expected");
    const auto fwd = findOptions(false, false, false);
    const auto back = findOptions(true, false, false);
    const std::optional<TextRange> none;
    const QString abc = QStringLiteral("xabc\nabcABC\n");
    QTest::newRow("forward from the start")
            << abc << "abc" << TextPosition {} << fwd << range(0, 1, 0, 4);
    QTest::newRow("forward from inside a match skips it")
            << abc << "abc" << TextPosition {0, 2} << fwd << range(1, 0, 1, 3);
    QTest::newRow("forward from a match's start finds it")
            << abc << "abc" << TextPosition {1, 0} << fwd << range(1, 0, 1, 3);
    QTest::newRow("case ignored") << abc << "ABC" << TextPosition {0, 2} << fwd
                                  << range(1, 0, 1, 3);
    QTest::newRow("case kept") << abc << "ABC" << TextPosition {} << findOptions(false, true, false)
                               << range(1, 3, 1, 6);
    QTest::newRow("case kept, none left")
            << abc << "abc" << TextPosition {1, 1} << findOptions(false, true, false) << none;
    QTest::newRow("forward past the end without wrap")
            << abc << "xa" << TextPosition {0, 1} << fwd << none;
    QTest::newRow("forward wraps to the start")
            << abc << "xa" << TextPosition {0, 1} << findOptions(false, false, true)
            << range(0, 0, 0, 2);
    QTest::newRow("wrap stops where the search began")
            << abc << "zz" << TextPosition {1, 2} << findOptions(false, false, true) << none;
    QTest::newRow("wrap finds a match over the start point")
            << QStringLiteral("abcd") << "bc" << TextPosition {0, 2}
            << findOptions(false, false, true) << range(0, 1, 0, 3);
    QTest::newRow("backward from the end")
            << abc << "abc" << TextPosition {2, 0} << back << range(1, 3, 1, 6);
    QTest::newRow("backward ends at or before the start point")
            << abc << "abc" << TextPosition {1, 5} << back << range(1, 0, 1, 3);
    QTest::newRow("backward from a match's end finds it")
            << abc << "abc" << TextPosition {1, 3} << back << range(1, 0, 1, 3);
    QTest::newRow("backward past the start without wrap")
            << abc << "abc" << TextPosition {0, 3} << back << none;
    QTest::newRow("backward wraps to the end")
            << abc << "abc" << TextPosition {0, 3} << findOptions(true, false, true)
            << range(1, 3, 1, 6);
    QTest::newRow("a match runs over line breaks") << QStringLiteral("41 0D \n0A 42 ") << "0D 0A"
                                                   << TextPosition {} << fwd << range(0, 3, 1, 2);
    QTest::newRow("backward over line breaks and an empty line")
            << QStringLiteral("<CR>\n\n<LF>!") << "<CR><LF>" << TextPosition {2, 5} << back
            << range(0, 0, 2, 4);
    QTest::newRow("a line break is no character of the needle")
            << QStringLiteral("a\nb") << "a b" << TextPosition {} << fwd << none;
    QTest::newRow("overlapping candidates")
            << QStringLiteral("aaab") << "aab" << TextPosition {} << fwd << range(0, 1, 0, 4);
    QTest::newRow("wide line, case ignored") << QStringLiteral("中文 Stra\u00dfe ÄBC") << "äbc"
                                             << TextPosition {} << fwd << range(0, 10, 0, 13);
    QTest::newRow("empty needle finds nothing") << abc << "" << TextPosition {} << fwd << none;
    QTest::newRow("empty text") << QString() << "a" << TextPosition {}
                                << findOptions(false, false, true) << none;
}

void TestTrafficText::find()
{
    QFETCH(QString, text);
    QFETCH(QString, needle);
    QFETCH(TextPosition, from);
    QFETCH(TextSearch::Options, options);
    QFETCH(std::optional<TextRange>, expected);
    TrafficText t;
    t.setText(text);
    const std::optional<TextRange> found = t.find(needle, from, options);
    QCOMPARE(found.has_value(), expected.has_value());
    if (found) {
        QCOMPARE(found->from, expected->from);
        QCOMPARE(found->to, expected->to);
    }
}

// A search a few characters at a time reads the text as one that runs at once: at the ends of
// the pieces wide lines are decoded in, between slices and across line breaks.
void TestTrafficText::findInSlicesAcrossPieces_data()
{
    QTest::addColumn<bool>("wide");
    QTest::addColumn<bool>("backward");
    QTest::addColumn<qsizetype>("budget");
    for (const bool wide : {false, true}) {
        for (const bool backward : {false, true}) {
            for (const qsizetype budget : {qsizetype(1), qsizetype(7), qsizetype(1 << 20)}) {
                QTest::addRow("%s %s budget %lld", wide ? "wide" : "latin1",
                              backward ? "backward" : "forward", qlonglong(budget))
                        << wide << backward << budget;
            }
        }
    }
}

void TestTrafficText::findInSlicesAcrossPieces()
{
    QFETCH(bool, wide);
    QFETCH(bool, backward);
    QFETCH(qsizetype, budget);
    // Matches straddle column 1024 (a piece's end), a line break and the very end.
    const QString filler = wide ? QStringLiteral("\u4e2d") : QStringLiteral("-");
    QString first = filler.repeated(1022) + QStringLiteral("0D 0A") + filler.repeated(2000);
    QString text = first + QStringLiteral("0D") + u'\n' + QStringLiteral(" 0A")
            + filler.repeated(3000) + QStringLiteral("0D 0A");
    const std::vector<TextRange> all = {
            {{0, 1022}, {0, 1027}}, {{0, first.size()}, {1, 3}}, {{1, 3003}, {1, 3008}}};
    TrafficText t;
    t.setText(text);
    TextSearch::Options options;
    options.backward = backward;
    std::vector<TextRange> found;
    TextPosition from = backward ? t.endPosition() : TextPosition {};
    for (;;) {
        TextSearch search(u"0d 0a", from, options);
        int slices = 0;
        while (search.run(t, budget) == TextSearch::State::Running)
            QVERIFY(++slices < 100000);
        if (search.state() == TextSearch::State::NotFound)
            break;
        found.push_back(search.match());
        from = backward ? search.match().from : search.match().to;
    }
    if (backward)
        std::reverse(found.begin(), found.end());
    QCOMPARE(found.size(), all.size());
    for (size_t i = 0; i < all.size(); ++i) {
        QCOMPARE(found[i].from, all[i].from);
        QCOMPARE(found[i].to, all[i].to);
    }
}

// Output arriving between two slices: the search goes on over the grown text and reports
// only what the text holds.
void TestTrafficText::findAfterTheTextChanged()
{
    TrafficText t;
    t.setText(QStringLiteral("-").repeated(100) + QStringLiteral("OK"));
    TextSearch search(u"OK!", {}, {});
    QCOMPARE(search.run(t, 50), TextSearch::State::Running);
    t.insertAtCaret(u"!\nmore");
    QCOMPARE(search.run(t, 1000), TextSearch::State::Found);
    QCOMPARE(search.match().from, (TextPosition {0, 100}));
    QCOMPARE(search.match().to, (TextPosition {0, 103}));

    // A partial match that the text no longer holds is no match.
    TrafficText u;
    u.setText(QStringLiteral("abc"));
    TextSearch gone(u"abcd", {}, {});
    QCOMPARE(gone.run(u, 3), TextSearch::State::Running);
    u.setText(QStringLiteral("xyzd"));
    QCOMPARE(gone.run(u, 1000), TextSearch::State::NotFound);
}

void TestTrafficText::bytesAsShown_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<bool>("hexForm");
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("shown"); // empty: refused
    QTest::addColumn<QString>("error");
    const int only = int(HexStyle::HEXOnly);
    QTest::newRow("HEX form") << "0d 0A" << true << only << "0D 0A"
                              << "";
    QTest::newRow("digits without blanks") << "0D0A41" << true << only << "0D 0A 41"
                                           << "";
    QTest::newRow("commas, 0x and h") << "0x0D, 0Ah" << true << only << "0D 0A"
                                      << "";
    QTest::newRow("bracketed HEX style")
            << "41 0D" << true << int(HexStyle::HexAnsi) << "41(A) 0D(<CR>)"
            << "";
    QTest::newRow("ASCII form names control codes") << "48 0D 0A" << false << only << "H<CR><LF>"
                                                    << "";
    QTest::newRow("ASCII form, a Big5 pair") << "A4 40 41" << false << only << "\u4e00A"
                                             << "";
    QTest::newRow("ASCII form, a lone lead byte")
            << "41 A4" << false << only << ""
            << "ASCII 模式下, 80h 以上的位元組與下一個位元組合為一個字";
    QTest::newRow("odd digits") << "0D 0" << true << only << ""
                                << "16 進制位元組須兩位數一組:「0」";
    QTest::newRow("no hex digit") << "0G" << true << only << ""
                                  << "「G」不是 16 進制數字";
}

void TestTrafficText::bytesAsShown()
{
    QFETCH(QString, query);
    QFETCH(bool, hexForm);
    QFETCH(int, style);
    QFETCH(QString, shown);
    QFETCH(QString, error);
    DisplayFormatter display;
    DisplaySettings settings;
    settings.hexStyle = HexStyle(style);
    display.setSettings(settings);
    display.setHexForm(hexForm);
    // The display's own waiting byte is not touched.
    if (!hexForm) {
        QString ignored;
        display.appendByte(0xA4, ignored);
    }
    QString why;
    const std::optional<QByteArray> bytes = FindQuery::hexBytes(query, &why);
    const std::optional<QString> text =
            bytes ? FindQuery::shownText(*bytes, display, &why) : std::nullopt;
    QCOMPARE(text.value_or(QString()), shown);
    QCOMPARE(why, error);
    QCOMPARE(display.leadBytePending(), !hexForm);
}

QTEST_APPLESS_MAIN(TestTrafficText)
#include "tst_traffictext.moc"
