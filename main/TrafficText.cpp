// SPDX-License-Identifier: MIT
#include "TrafficText.h"

#include <algorithm>

TrafficText::TrafficText() : m_lines(1), m_advance([](char16_t) { return 1; }) { }

void TrafficText::setAdvance(Advance advance)
{
    m_advance = std::move(advance);
    for (Line &l : m_lines) {
        l.marks.assign(1, 0);
        remeasure(l, 0);
    }
    widthsChanged();
}

int64_t TrafficText::maxWidth() const
{
    if (m_maxWidthStale) {
        m_maxWidth = 0;
        for (const Line &l : m_lines)
            m_maxWidth = std::max(m_maxWidth, l.width);
        m_maxWidthStale = false;
    }
    return m_maxWidth;
}

void TrafficText::widthsChanged()
{
    m_maxWidthStale = true;
    ++m_revision;
}

int64_t TrafficText::advanceOf(QStringView s) const
{
    int64_t w = 0;
    for (QChar c : s)
        w += m_advance(c.unicode());
    return w;
}

void TrafficText::remeasure(Line &line, qsizetype from) const
{
    // Everything before `from` is unchanged, so the marks up to its stride still hold.
    const size_t keep = size_t(from / MarkStride) + 1;
    if (line.marks.size() > keep)
        line.marks.resize(keep);
    if (line.marks.empty())
        line.marks.push_back(0);
    qsizetype i = qsizetype(line.marks.size() - 1) * MarkStride;
    int64_t w = line.marks.back();
    const qsizetype n = line.text.size();
    const char16_t *data = reinterpret_cast<const char16_t *>(line.text.constData());
    while (i < n) {
        const qsizetype strideEnd = std::min(n, (i / MarkStride + 1) * MarkStride);
        for (; i < strideEnd; ++i)
            w += m_advance(data[i]);
        if (i % MarkStride == 0 && i < n)
            line.marks.push_back(w);
    }
    if (n > 0 && n % MarkStride == 0 && line.marks.size() == size_t(n / MarkStride))
        line.marks.push_back(w);
    line.width = w;
    if (!m_maxWidthStale)
        m_maxWidth = std::max(m_maxWidth, w);
}

QString TrafficText::text() const
{
    qsizetype total = 0;
    for (const Line &l : m_lines)
        total += l.text.size() + 1;
    QString out;
    out.reserve(total);
    for (size_t i = 0; i < m_lines.size(); ++i) {
        if (i)
            out += u'\n';
        out += m_lines[i].text;
    }
    return out;
}

void TrafficText::clear()
{
    m_lines.assign(1, Line {});
    m_lines[0].marks.push_back(0);
    m_caret = m_anchor = {};
    m_maxWidth = 0;
    m_maxWidthStale = false;
    m_characters = 0;
    m_lineStarts = {};
    m_lineStartsValid = 0;
    ++m_revision;
}

void TrafficText::setText(const QString &text)
{
    clear();
    insertAt(m_caret, text);
    m_anchor = m_caret;
}

TextPosition TrafficText::clamp(TextPosition p) const
{
    p.line = std::clamp<qsizetype>(p.line, 0, lineCount() - 1);
    p.column = std::clamp<qsizetype>(p.column, 0, line(p.line).size());
    return p;
}

void TrafficText::setCaret(TextPosition caret, bool keepAnchor)
{
    m_caret = clamp(caret);
    if (!keepAnchor)
        m_anchor = m_caret;
    ++m_revision;
}

void TrafficText::selectAll()
{
    m_anchor = {};
    m_caret = {lineCount() - 1, line(lineCount() - 1).size()};
    ++m_revision;
}

qsizetype TrafficText::selectedTextLength(TextPosition from, TextPosition to) const
{
    // Characters between the two positions, line breaks not counted.
    if (from.line == to.line)
        return to.column - from.column;
    qsizetype n = line(from.line).size() - from.column + to.column;
    for (qsizetype i = from.line + 1; i < to.line; ++i)
        n += line(i).size();
    return n;
}

QString TrafficText::textBetween(TextPosition from, TextPosition to) const
{
    from = clamp(from);
    to = clamp(to);
    if (to < from)
        std::swap(from, to);
    if (from.line == to.line)
        return line(from.line).mid(from.column, to.column - from.column);
    QString out;
    out.reserve(selectedTextLength(from, to) + (to.line - from.line));
    out += QStringView(line(from.line)).mid(from.column);
    for (qsizetype i = from.line + 1; i < to.line; ++i) {
        out += u'\n';
        out += line(i);
    }
    out += u'\n';
    out += QStringView(line(to.line)).left(to.column);
    return out;
}

QString TrafficText::selectedText() const { return textBetween(m_caret, m_anchor); }

namespace {

// The marks of a line cut at `column`: those behind it, and those from it on (moved to start at
// 0). A mark the column falls inside is cut in two, so that text inserted there is unmarked.
std::vector<MarkedRange> splitMarks(std::vector<MarkedRange> &marks, qsizetype column)
{
    std::vector<MarkedRange> after;
    if (marks.empty())
        return after;
    size_t keep = 0;
    for (const MarkedRange &m : marks) {
        if (m.to <= column)
            marks[keep++] = m;
        else if (m.from >= column)
            after.push_back({m.from - column, m.to - column});
        else {
            after.push_back({0, m.to - column});
            marks[keep++] = {m.from, column};
        }
    }
    marks.resize(keep);
    return after;
}

// Appends marks moved by `shift`, joining one that touches the last.
void appendMarks(std::vector<MarkedRange> &marks, const std::vector<MarkedRange> &added,
                 qsizetype shift)
{
    for (const MarkedRange &m : added) {
        if (m.to <= m.from)
            continue;
        if (!marks.empty() && marks.back().to == m.from + shift)
            marks.back().to = m.to + shift;
        else
            marks.push_back({m.from + shift, m.to + shift});
    }
}

// The marks of the piece that fall on its part [from, to), relative to `from`.
std::vector<MarkedRange> marksOfPart(const std::vector<MarkedRange> *marks, qsizetype from,
                                     qsizetype to)
{
    std::vector<MarkedRange> out;
    if (!marks)
        return out;
    for (const MarkedRange &m : *marks) {
        const qsizetype a = std::max(m.from, from);
        const qsizetype b = std::min(m.to, to);
        if (a < b)
            out.push_back({a - from, b - from});
    }
    return out;
}

} // namespace

void TrafficText::insertAt(TextPosition &at, QStringView piece,
                           const std::vector<MarkedRange> *marks)
{
    if (marks && marks->empty())
        marks = nullptr;
    linesMovedAfter(at.line);
    m_characters += piece.size() - piece.count(u'\n');
    qsizetype start = 0;
    qsizetype nl = piece.indexOf(u'\n');
    Line *l = &m_lines[size_t(at.line)];
    // Only lines that hold marks, or get some, do any work for them.
    std::vector<MarkedRange> tailMarks = splitMarks(l->marked, at.column);
    if (nl < 0) {
        l->text.insert(at.column, piece.toString());
        remeasure(*l, at.column);
        if (marks)
            appendMarks(l->marked, *marks, at.column);
        appendMarks(l->marked, tailMarks, at.column + piece.size());
        at.column += piece.size();
        ++m_revision;
        return;
    }
    // The rest of the line after the insertion point ends up behind the piece's last part.
    QString tail = l->text.mid(at.column);
    l->text.truncate(at.column);
    std::vector<Line> added;
    while (nl >= 0) {
        const qsizetype base = l->text.size();
        l->text.append(piece.mid(start, nl - start));
        remeasure(*l, std::min(at.column, l->text.size()));
        if (marks)
            appendMarks(l->marked, marksOfPart(marks, start, nl), base);
        at.column = 0;
        added.emplace_back();
        l = &added.back();
        l->marks.push_back(0);
        start = nl + 1;
        nl = piece.indexOf(u'\n', start);
    }
    l->text = piece.mid(start).toString();
    const qsizetype lastColumn = l->text.size();
    l->text.append(tail);
    remeasure(*l, 0);
    if (marks)
        appendMarks(l->marked, marksOfPart(marks, start, piece.size()), 0);
    appendMarks(l->marked, tailMarks, lastColumn);
    const qsizetype count = qsizetype(added.size());
    m_lines.insert(m_lines.begin() + at.line + 1, std::make_move_iterator(added.begin()),
                   std::make_move_iterator(added.end()));
    at.line += count;
    at.column = lastColumn;
    ++m_revision;
}

void TrafficText::removeRange(TextPosition from, TextPosition to)
{
    if (from > to)
        std::swap(from, to);
    linesMovedAfter(from.line);
    m_characters -= qsizetype(selectedTextLength(from, to));
    Line &first = m_lines[size_t(from.line)];
    Line &last = m_lines[size_t(to.line)];
    std::vector<MarkedRange> lastMarks;
    if (!first.marked.empty() || !last.marked.empty()) {
        // What stays of the marks: before `from` on the first line, after `to` on the last.
        lastMarks = splitMarks(last.marked, to.column);
        splitMarks(first.marked, from.column);
    }
    if (from.line == to.line) {
        first.text.remove(from.column, to.column - from.column);
    } else {
        first.text.truncate(from.column);
        first.text.append(last.text.mid(to.column));
    }
    appendMarks(first.marked, lastMarks, from.column);
    if (from.line != to.line)
        m_lines.erase(m_lines.begin() + from.line + 1, m_lines.begin() + to.line + 1);
    remeasure(m_lines[size_t(from.line)], from.column);
    m_caret = m_anchor = from;
    widthsChanged();
}

const MarkedRange *TrafficText::markAt(TextPosition p) const
{
    p = clamp(p);
    for (const MarkedRange &m : m_lines[size_t(p.line)].marked)
        if (m.from <= p.column && p.column < m.to)
            return &m;
    return nullptr;
}

void TrafficText::insertAtCaret(QStringView piece)
{
    // The selected text stays: the piece goes in where the selection ends.
    TextPosition at = std::max(m_caret, m_anchor);
    insertAt(at, piece);
    m_caret = m_anchor = at;
}

void TrafficText::insertAtCaret(QStringView piece, const std::vector<MarkedRange> &marks)
{
    TextPosition at = std::max(m_caret, m_anchor);
    insertAt(at, piece, &marks);
    m_caret = m_anchor = at;
}

void TrafficText::replaceSelection(QStringView piece) { replaceRange(m_caret, m_anchor, piece); }

void TrafficText::replaceRange(TextPosition from, TextPosition to, QStringView piece)
{
    from = clamp(from);
    to = clamp(to);
    if (to < from)
        std::swap(from, to);
    if (from != to)
        removeRange(from, to);
    insertAt(from, piece);
    m_caret = m_anchor = from;
}

TextPosition TrafficText::previousPosition(TextPosition p) const
{
    p = clamp(p);
    if (p.column == 0)
        return p.line > 0 ? TextPosition {p.line - 1, line(p.line - 1).size()} : p;
    const QString &t = line(p.line);
    --p.column;
    if (p.column > 0 && t[p.column].isLowSurrogate() && t[p.column - 1].isHighSurrogate())
        --p.column;
    return p;
}

TextPosition TrafficText::nextPosition(TextPosition p) const
{
    p = clamp(p);
    const QString &t = line(p.line);
    if (p.column == t.size())
        return p.line + 1 < lineCount() ? TextPosition {p.line + 1, 0} : p;
    p.column += t[p.column].isHighSurrogate() && p.column + 1 < t.size()
                    && t[p.column + 1].isLowSurrogate()
            ? 2
            : 1;
    return p;
}

void TrafficText::deleteBackward()
{
    if (hasSelection())
        removeRange(m_caret, m_anchor);
    else
        removeRange(previousPosition(m_caret), m_caret);
}

void TrafficText::deleteForward()
{
    if (hasSelection())
        removeRange(m_caret, m_anchor);
    else
        removeRange(m_caret, nextPosition(m_caret));
}

void TrafficText::linesMovedAfter(qsizetype lineIndex) const
{
    m_lineStartsValid = std::min(m_lineStartsValid, size_t(lineIndex) + 1);
}

void TrafficText::updateLineStarts() const
{
    const size_t n = m_lines.size();
    if (m_lineStartsValid >= n && m_lineStarts.size() == n)
        return;
    m_lineStarts.resize(n);
    if (m_lineStartsValid == 0) {
        m_lineStarts[0] = 0;
        m_lineStartsValid = 1;
    }
    for (size_t i = m_lineStartsValid; i < n; ++i)
        m_lineStarts[i] = m_lineStarts[i - 1] + m_lines[i - 1].text.size() + 1;
    m_lineStartsValid = n;
}

qsizetype TrafficText::offsetOf(TextPosition p) const
{
    p = clamp(p);
    updateLineStarts();
    return m_lineStarts[size_t(p.line)] + p.column;
}

TextPosition TrafficText::positionOf(qsizetype offset) const
{
    offset = std::clamp<qsizetype>(offset, 0, characterCount());
    updateLineStarts();
    const auto it = std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), offset);
    const qsizetype lineIndex = qsizetype(it - m_lineStarts.begin()) - 1;
    return {lineIndex, std::min(offset - m_lineStarts[size_t(lineIndex)], line(lineIndex).size())};
}

void TrafficText::appendLine(QStringView text)
{
    TextPosition end {lineCount() - 1, line(lineCount() - 1).size()};
    insertAt(end, text);
    insertAt(end, u"\n");
    m_caret = m_anchor = end;
}

int64_t TrafficText::xOfColumn(qsizetype lineIndex, qsizetype column) const
{
    const Line &l = m_lines[size_t(lineIndex)];
    column = std::clamp<qsizetype>(column, 0, l.text.size());
    const size_t k = std::min(size_t(column / MarkStride), l.marks.size() - 1);
    return l.marks[k]
            + advanceOf(QStringView(l.text).mid(qsizetype(k) * MarkStride,
                                                column - qsizetype(k) * MarkStride));
}

qsizetype TrafficText::columnAtX(qsizetype lineIndex, int64_t x) const
{
    const Line &l = m_lines[size_t(lineIndex)];
    if (x <= 0)
        return 0;
    const auto it = std::upper_bound(l.marks.begin(), l.marks.end(), x);
    const size_t k = size_t(std::max<std::ptrdiff_t>(0, (it - l.marks.begin()) - 1));
    int64_t w = l.marks[k];
    for (qsizetype i = qsizetype(k) * MarkStride; i < l.text.size(); ++i) {
        const int a = m_advance(l.text[i].unicode());
        if (w + a / 2 >= x)
            return i;
        w += a;
    }
    return l.text.size();
}
