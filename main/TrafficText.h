// SPDX-License-Identifier: MIT
// The text of the traffic display, kept as lines so that a line growing by a megabyte costs
// no more per byte than a short one: appending touches only the end of one line, and the width
// of any prefix is found from marks every MarkStride characters instead of measuring again.
// Widths are 64-bit: three hours of one unbroken HEX line at a large font are past 2^31 pixels.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

// Characters set apart from the rest (received with a flaw): [from, to) in UTF-16 units, of a
// piece being inserted or of one line.
struct MarkedRange
{
    qsizetype from = 0;
    qsizetype to = 0;
    friend bool operator==(const MarkedRange &, const MarkedRange &) = default;
};

struct TextPosition
{
    qsizetype line = 0;
    qsizetype column = 0;
    friend bool operator==(const TextPosition &, const TextPosition &) = default;
    friend auto operator<=>(const TextPosition &, const TextPosition &) = default;
};

class TrafficText
{
public:
    // Pixel advance of one UTF-16 unit in the display font.
    using Advance = std::function<int(char16_t)>;
    static constexpr qsizetype MarkStride = 1024;

    TrafficText();

    void setAdvance(Advance advance); // recomputes every width

    qsizetype lineCount() const { return qsizetype(m_lines.size()); }
    const QString &line(qsizetype i) const { return m_lines[size_t(i)].text; }
    int64_t lineWidth(qsizetype i) const { return m_lines[size_t(i)].width; }
    int64_t maxWidth() const;
    bool isEmpty() const { return m_lines.size() == 1 && m_lines[0].text.isEmpty(); }
    // Characters of text() without building it: the lines and their separators.
    qsizetype characterCount() const { return m_characters + lineCount() - 1; }

    // Lines joined by '\n'.
    QString text() const;
    void setText(const QString &text); // caret at the end
    void clear();

    // The caret and the other end of the selection; equal when nothing is selected.
    TextPosition caret() const { return m_caret; }
    TextPosition anchor() const { return m_anchor; }
    bool hasSelection() const { return m_caret != m_anchor; }
    QString selectedText() const;
    void setCaret(TextPosition caret, bool keepAnchor = false);
    void selectAll();

    // The display's one way in: the selected text stays, the piece follows it, the caret ends
    // after the piece and nothing stays selected. '\n' in the piece breaks the line.
    void insertAtCaret(QStringView piece);
    // The same, with ranges of the piece marked (sorted, not overlapping; a range may span
    // line breaks, which are never marked themselves).
    void insertAtCaret(QStringView piece, const std::vector<MarkedRange> &marks);
    // Typing: the piece replaces the selection.
    void replaceSelection(QStringView piece);
    // The text between two positions (in either order) becomes the piece; the caret ends after
    // it and nothing stays selected.
    void replaceRange(TextPosition from, TextPosition to, QStringView piece);
    void deleteBackward();
    void deleteForward();
    // Appends the line and a line break at the end; the caret goes to the empty line below.
    void appendLine(QStringView text);

    // The positions one character before and after `p`, a surrogate pair counting as one and a
    // line break as one; `p` itself at the start or the end of the text.
    TextPosition previousPosition(TextPosition p) const;
    TextPosition nextPosition(TextPosition p) const;
    TextPosition endPosition() const { return {lineCount() - 1, line(lineCount() - 1).size()}; }

    // The text between two positions, lines joined by '\n'.
    QString textBetween(TextPosition from, TextPosition to) const;

    // Positions as offsets into text(), as assistive technology counts them. Both are found
    // from an index of line starts that is only built when asked for and only brought up to
    // date from the first line that changed, so the receive path pays nothing for it.
    qsizetype offsetOf(TextPosition p) const;
    TextPosition positionOf(qsizetype offset) const; // clamped into the text

    // Pixel position of a column, and the column nearest to a pixel position, in one line.
    int64_t xOfColumn(qsizetype line, qsizetype column) const;
    qsizetype columnAtX(qsizetype line, int64_t x) const;

    // Clamps a position into the text.
    TextPosition clamp(TextPosition p) const;

    // The marked ranges of a line, by column, sorted and apart. Text inserted into a mark is
    // not marked; removing marked text removes its mark.
    const std::vector<MarkedRange> &markedRanges(qsizetype i) const
    {
        return m_lines[size_t(i)].marked;
    }
    // The mark holding the character at `p`, if any.
    const MarkedRange *markAt(TextPosition p) const;

    // Grows with every change; the view uses it to know when to repaint.
    uint64_t revision() const { return m_revision; }

private:
    struct Line
    {
        QString text;
        std::vector<int64_t> marks; // marks[k]: width of text[0, k * MarkStride)
        int64_t width = 0;
        std::vector<MarkedRange> marked; // empty on the lines without marks
    };

    int64_t advanceOf(QStringView s) const;
    // Rebuilds marks and width from column `from` on.
    void remeasure(Line &line, qsizetype from) const;
    void insertAt(TextPosition &at, QStringView piece,
                  const std::vector<MarkedRange> *marks = nullptr);
    void removeRange(TextPosition from, TextPosition to);
    qsizetype selectedTextLength(TextPosition from, TextPosition to) const;
    void widthsChanged();
    // Every line after `line` may have moved.
    void linesMovedAfter(qsizetype line) const;
    void updateLineStarts() const;

    std::vector<Line> m_lines;
    TextPosition m_caret;
    TextPosition m_anchor;
    Advance m_advance;
    mutable int64_t m_maxWidth = 0;
    mutable bool m_maxWidthStale = false;
    uint64_t m_revision = 0;
    qsizetype m_characters = 0; // in all lines, separators not counted
    mutable std::vector<qsizetype> m_lineStarts; // offset of each line's first character
    mutable size_t m_lineStartsValid = 0; // entries before this one are right
};
