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

int TrafficText::maxWidth() const
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

int TrafficText::advanceOf(QStringView s) const
{
    int w = 0;
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
    int w = line.marks.back();
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

QString TrafficText::selectedText() const
{
    const TextPosition from = std::min(m_caret, m_anchor);
    const TextPosition to = std::max(m_caret, m_anchor);
    if (from.line == to.line)
        return line(from.line).mid(from.column, to.column - from.column);
    QString out = line(from.line).mid(from.column);
    for (qsizetype i = from.line + 1; i < to.line; ++i)
        out += u'\n' + line(i);
    out += u'\n' + line(to.line).left(to.column);
    return out;
}

void TrafficText::insertAt(TextPosition &at, QStringView piece)
{
    m_characters += piece.size() - piece.count(u'\n');
    qsizetype start = 0;
    qsizetype nl = piece.indexOf(u'\n');
    Line *l = &m_lines[size_t(at.line)];
    if (nl < 0) {
        l->text.insert(at.column, piece.toString());
        remeasure(*l, at.column);
        at.column += piece.size();
        ++m_revision;
        return;
    }
    // The rest of the line after the insertion point ends up behind the piece's last part.
    QString tail = l->text.mid(at.column);
    l->text.truncate(at.column);
    std::vector<Line> added;
    while (nl >= 0) {
        l->text.append(piece.mid(start, nl - start));
        remeasure(*l, std::min(at.column, l->text.size()));
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
    m_characters -= qsizetype(selectedTextLength(from, to));
    Line &first = m_lines[size_t(from.line)];
    if (from.line == to.line) {
        first.text.remove(from.column, to.column - from.column);
    } else {
        first.text.truncate(from.column);
        first.text.append(m_lines[size_t(to.line)].text.mid(to.column));
        m_lines.erase(m_lines.begin() + from.line + 1, m_lines.begin() + to.line + 1);
    }
    remeasure(first, from.column);
    m_caret = m_anchor = from;
    widthsChanged();
}

void TrafficText::insertAtCaret(QStringView piece)
{
    // The selected text stays: the piece goes in where the selection ends.
    TextPosition at = std::max(m_caret, m_anchor);
    insertAt(at, piece);
    m_caret = m_anchor = at;
}

void TrafficText::replaceSelection(QStringView piece)
{
    if (hasSelection())
        removeRange(m_caret, m_anchor);
    insertAt(m_caret, piece);
    m_anchor = m_caret;
}

void TrafficText::deleteBackward()
{
    if (hasSelection()) {
        removeRange(m_caret, m_anchor);
        return;
    }
    TextPosition from = m_caret;
    if (from.column > 0) {
        from.column -= 1;
        const QString &t = line(from.line);
        if (from.column > 0 && t[from.column].isLowSurrogate()
            && t[from.column - 1].isHighSurrogate())
            from.column -= 1;
    } else if (from.line > 0) {
        from = {from.line - 1, line(from.line - 1).size()};
    } else {
        return;
    }
    removeRange(from, m_caret);
}

void TrafficText::deleteForward()
{
    if (hasSelection()) {
        removeRange(m_caret, m_anchor);
        return;
    }
    TextPosition to = m_caret;
    const QString &t = line(to.line);
    if (to.column < t.size()) {
        to.column += t[to.column].isHighSurrogate() && to.column + 1 < t.size() ? 2 : 1;
    } else if (to.line + 1 < lineCount()) {
        to = {to.line + 1, 0};
    } else {
        return;
    }
    removeRange(m_caret, to);
}

void TrafficText::appendLine(QStringView text)
{
    TextPosition end {lineCount() - 1, line(lineCount() - 1).size()};
    insertAt(end, text);
    insertAt(end, u"\n");
    m_caret = m_anchor = end;
}

int TrafficText::xOfColumn(qsizetype lineIndex, qsizetype column) const
{
    const Line &l = m_lines[size_t(lineIndex)];
    column = std::clamp<qsizetype>(column, 0, l.text.size());
    const size_t k = std::min(size_t(column / MarkStride), l.marks.size() - 1);
    return l.marks[k]
            + advanceOf(QStringView(l.text).mid(qsizetype(k) * MarkStride,
                                                column - qsizetype(k) * MarkStride));
}

qsizetype TrafficText::columnAtX(qsizetype lineIndex, int x) const
{
    const Line &l = m_lines[size_t(lineIndex)];
    if (x <= 0)
        return 0;
    const auto it = std::upper_bound(l.marks.begin(), l.marks.end(), x);
    const size_t k = size_t(std::max<std::ptrdiff_t>(0, (it - l.marks.begin()) - 1));
    int w = l.marks[k];
    for (qsizetype i = qsizetype(k) * MarkStride; i < l.text.size(); ++i) {
        const int a = m_advance(l.text[i].unicode());
        if (w + a / 2 >= x)
            return i;
        w += a;
    }
    return l.text.size();
}
