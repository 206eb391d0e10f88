// SPDX-License-Identifier: MIT
// The text of the traffic display, kept as lines so that a line growing by a megabyte costs
// no more per byte than a short one: appending touches only the end of one line, and the width
// of any prefix is found from marks every MarkStride characters instead of measuring again.
// Widths go past 32 bits: three hours of one unbroken HEX line at a large font are past 2^31
// pixels.
//
// Nothing received is ever dropped, so the bytes a line costs decide how long a session can run.
// A line holds one byte per character while all of it is Latin-1, which received ASCII, HEX and
// the names of control codes always are. The first character beyond that turns the line into
// a variable-width form: one byte for ASCII, two for the blocks Big5 text and the other
// alphabets use, three for the rest, so that a Chinese line keeps its ASCII at a byte a
// character where UTF-16 would take two. Finished lines are packed end to end into
// shared blocks, without growth room or a heap block of their own; only the line still growing
// keeps room to grow. Width and byte marks, and marked ranges, live apart, held only by the
// lines that need them.
#pragma once

#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
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

// Characters [from, to) of the text; `to` stands on the line of the last character.
struct TextRange
{
    TextPosition from;
    TextPosition to;
    friend bool operator==(const TextRange &, const TextRange &) = default;
};

class TrafficText;

// A search through the display a slice at a time, so that a display of tens of megabytes never
// holds the window thread (and with it the reading of the line) for long: run() reads at most
// the characters it is given and the search goes on from there the next time.
//
// The line breaks are the display's, not the traffic's: the formatter puts them after a byte,
// so a match runs over them as if the lines were one and never holds one. A search for the HEX
// form's "0D 0A" finds it across the CR rule's break after 0D, and one for "<CR><LF>" finds the
// ASCII form's "<CR>", break, "<LF>". The store keeps the text shown, not the bytes: searching
// for bytes means searching for the text they show as (FindQuery).
//
// Nothing is copied but the slice being read; positions are those of the store. Text that
// changes behind the point the search has reached may be read twice or not at all; a match is
// checked against the text before it is reported, so what is found is there.
class TextSearch
{
public:
    struct Options
    {
        bool backward = false;
        bool caseSensitive = false;
        // Past the end (or the start) on from the other end, up to where the search began.
        bool wrap = false;
    };
    enum class State { Running, Found, NotFound };

    // Forward: the first match that starts at or after `from`. Backward: the last one that ends
    // at or before it.
    TextSearch(QStringView needle, TextPosition from, Options options);
    State run(const TrafficText &text, qsizetype budget);
    State state() const { return m_state; }
    TextRange match() const { return m_match; }
    // The match lies past the end (before the start) the search began towards.
    bool wrapped() const { return m_wrapped; }

private:
    char16_t fold(char16_t c) const;
    // One character of the walk; true when it completes a match that the text still holds.
    bool feed(const TrafficText &text, char16_t c, TextPosition at);
    // Whether a match can still begin before the start once the search has wrapped.
    bool pastTheStart(TextPosition next) const;
    bool holds(const TrafficText &text, TextRange range) const;

    QString m_needle; // reversed for a backward search, folded when case does not matter
    std::vector<qsizetype> m_fail; // the needle's longest proper prefix-suffixes
    std::vector<TextPosition> m_seen; // the positions of the last characters read, a ring
    size_t m_seenNext = 0;
    qsizetype m_matched = 0;
    TextPosition m_from;
    TextPosition m_at; // forward: the next character; backward: the one after it
    Options m_options;
    State m_state = State::Running;
    bool m_wrapped = false;
    TextRange m_match;
};

class TrafficText
{
public:
    // Pixel advance of one UTF-16 unit in the display font.
    using Advance = std::function<int(char16_t)>;
    static constexpr qsizetype MarkStride = 1024;

    TrafficText();
    ~TrafficText();
    TrafficText(const TrafficText &) = delete;
    TrafficText &operator=(const TrafficText &) = delete;

    void setAdvance(Advance advance); // recomputes every width

    qsizetype lineCount() const { return qsizetype(m_lines.size()); }
    // Characters (UTF-16 units) of a line.
    qsizetype lineLength(qsizetype i) const { return m_lines[size_t(i)].length(); }
    // A line as text, made when asked for; drawing asks for lineText() of what it draws.
    QString line(qsizetype i) const { return lineText(i, 0, lineLength(i)); }
    // Columns [from, to) of a line, clamped into it.
    QString lineText(qsizetype i, qsizetype from, qsizetype to) const;
    // The character at a column of a line; 0 past its end.
    char16_t charAt(qsizetype i, qsizetype column) const;
    // True while the line is held one byte per character.
    bool isLatin1Line(qsizetype i) const { return !m_lines[size_t(i)].wide; }
    int64_t lineWidth(qsizetype i) const { return m_lines[size_t(i)].width(); }
    int64_t maxWidth() const;
    bool isEmpty() const { return m_lines.size() == 1 && m_lines[0].length() == 0; }
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
    TextPosition endPosition() const { return {lineCount() - 1, lineLength(lineCount() - 1)}; }

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
    const std::vector<MarkedRange> &markedRanges(qsizetype i) const;
    // The mark holding the character at `p`, if any.
    const MarkedRange *markAt(TextPosition p) const;

    // The heap the text holds: its lines' bytes, their records and marks, room to spare included.
    int64_t memoryBytes() const;
    // The part of it mapped apart from the heap (huge pages), which heap statistics miss.
    int64_t mappedBytes() const;

    // Grows with every change; the view uses it to know when to repaint.
    uint64_t revision() const { return m_revision; }

    // The whole of a TextSearch at once, for text that is known to be small.
    std::optional<TextRange> find(QStringView needle, TextPosition from,
                                  TextSearch::Options options) const;

private:
    friend class TextSearch;

    // What only some lines need: lines of MarkStride characters and more, and marked lines.
    struct Extra
    {
        std::vector<int64_t> widthMarks; // [k]: width of columns [0, (k + 1) * MarkStride)
        std::vector<qsizetype> byteMarks; // wide lines: byte offset of column (k + 1) * MarkStride
        std::vector<MarkedRange> marked; // empty on the lines without marks
    };
    struct Line
    {
        Line() = default;
        Line(Line &&other) noexcept;
        Line &operator=(Line &&other) noexcept;
        ~Line();

        qsizetype length() const { return qsizetype(m_length); }
        void setLength(qsizetype n) { m_length = uint64_t(n); }
        qsizetype bytes() const { return qsizetype(m_bytesLow | (uint64_t(m_bytesHigh) << 24)); }
        void setBytes(qsizetype n)
        {
            m_bytesLow = uint64_t(n) & 0xFFFFFF;
            m_bytesHigh = uint64_t(n) >> 24;
        }
        int64_t width() const { return int64_t(m_width); }
        void setWidth(int64_t w)
        {
            m_width = uint64_t(std::min<int64_t>(w, (int64_t(1) << 44) - 1));
        }

        uint8_t *data = nullptr; // in a shared block, or a heap block of its own when owned
        std::unique_ptr<Extra> extra;

    private:
        // 32 bytes a line in all: the records of a long session outweigh its short lines. A line
        // may hold 2^40 characters in 2^42 bytes, 2^44 pixels wide.
        uint64_t m_length : 40 = 0; // characters
        uint64_t m_bytesLow : 24 = 0;
        uint64_t m_width : 44 = 0;
        uint64_t m_bytesHigh : 18 = 0;

    public:
        uint64_t wide : 1 = 0; // the variable-width form, not one byte per character
        uint64_t owned : 1 = 0; // data is a heap block of the line's own
    };

    int advance(char16_t c) const { return c < 256 ? m_latin1Advance[c] : m_advance(c); }
    // The width of Latin-1 characters, held as bytes or as UTF-16.
    template<typename Char>
    int64_t latin1Width(const Char *s, qsizetype n) const;
    qsizetype byteOffset(const Line &line, qsizetype column) const;
    char16_t charAt(const Line &line, qsizetype column) const;
    void decode(const Line &line, qsizetype from, qsizetype to, char16_t *out) const;
    QString lineText(const Line &line, qsizetype from, qsizetype to) const;
    // Rebuilds marks and width from column `from` on; when the line only grew at its end,
    // `widthAt` and `byteAt` (the width and byte offset of `from`) spare the walk back to the
    // mark before it.
    void remeasure(Line &line, qsizetype from, int64_t widthAt = -1, qsizetype byteAt = 0) const;
    // Columns [from, to) of the line become the piece.
    void replaceInLine(Line &line, qsizetype from, qsizetype to, QStringView piece);
    void makeWide(Line &line);
    void reserveBytes(Line &line, qsizetype bytes);
    // The line is done growing: it goes into a shared block without room to spare.
    void finishLine(Line &line);
    Line makeLine(QStringView text);
    uint8_t *packedBytes(qsizetype bytes);
    std::vector<MarkedRange> &marksOf(Line &line);
    void insertAt(TextPosition &at, QStringView piece,
                  const std::vector<MarkedRange> *marks = nullptr);
    void removeRange(TextPosition from, TextPosition to);
    qsizetype selectedTextLength(TextPosition from, TextPosition to) const;
    void widthsChanged();
    // Every line after `line` may have moved.
    void linesMovedAfter(qsizetype line) const;
    void updateLineStarts() const;

    // A deque: its records are never copied to grow, nor kept with room for twice as many.
    std::deque<Line> m_lines;
    // A shared block: from the heap, or a huge page mapped apart.
    class Block
    {
    public:
        explicit Block(qsizetype size);
        Block(Block &&other) noexcept
            : m_data(std::exchange(other.m_data, nullptr)), m_size(other.m_size),
              m_mapped(std::exchange(other.m_mapped, false))
        { }
        Block &operator=(Block &&) = delete;
        ~Block();
        uint8_t *data() const { return m_data; }
        qsizetype size() const { return m_size; }
        bool mapped() const { return m_mapped; }

    private:
        uint8_t *m_data = nullptr;
        qsizetype m_size = 0;
        bool m_mapped = false;
    };
    std::vector<Block> m_blocks; // the shared blocks of finished lines
    uint8_t *m_blockFree = nullptr;
    qsizetype m_blockLeft = 0;
    qsizetype m_nextBlockSize = 0;
    qsizetype m_blockBytes = 0; // in all shared blocks
    TextPosition m_caret;
    TextPosition m_anchor;
    Advance m_advance;
    int m_latin1Advance[256];
    // The advance every printable ASCII character has in a monospaced font; -1 in another.
    int m_asciiAdvance = -1;
    mutable int64_t m_maxWidth = 0;
    mutable bool m_maxWidthStale = false;
    uint64_t m_revision = 0;
    qsizetype m_characters = 0; // in all lines, separators not counted
    mutable std::vector<qsizetype> m_lineStarts; // offset of each line's first character
    mutable size_t m_lineStartsValid = 0; // entries before this one are right
};
