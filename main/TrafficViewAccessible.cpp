// SPDX-License-Identifier: MIT
#include "TrafficViewAccessible.h"

#include "main/TrafficView.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <climits>
#include <vector>

namespace {

int clampCount(qsizetype n) { return int(std::min<qsizetype>(n, INT_MAX)); }

// Where characters, words and sentences begin and end in `text`, as Qt's boundary finder sees
// them, with 0 and the end; a run of blanks and line breaks is one item, not one per blank.
// (Qt's own textAtOffset() never returns at some offsets, e.g. at the end of a text.)
std::vector<int> itemBoundaries(const QString &text, QAccessible::TextBoundaryType type)
{
    const QTextBoundaryFinder::BoundaryType kind = type == QAccessible::WordBoundary
            ? QTextBoundaryFinder::Word
            : type == QAccessible::SentenceBoundary ? QTextBoundaryFinder::Sentence
                                                    : QTextBoundaryFinder::Grapheme;
    QTextBoundaryFinder finder(kind, text);
    std::vector<int> out {0};
    for (qsizetype p = finder.toNextBoundary(); p > 0; p = finder.toNextBoundary()) {
        const bool insideBlanks = p < text.size() && text[p - 1].isSpace() && text[p].isSpace();
        if (kind != QTextBoundaryFinder::Word || !insideBlanks)
            out.push_back(int(p));
    }
    if (out.back() != text.size())
        out.push_back(int(text.size()));
    return out;
}

} // namespace

TrafficViewAccessible::TrafficViewAccessible(TrafficView *view)
    : QAccessibleWidget(view, QAccessible::EditableText)
{ }

QAccessibleInterface *TrafficViewAccessible::factory(const QString &className, QObject *object)
{
    if (className == QLatin1String("TrafficView") && object && object->isWidgetType())
        return new TrafficViewAccessible(static_cast<TrafficView *>(object));
    return nullptr;
}

TrafficView *TrafficViewAccessible::view() const { return static_cast<TrafficView *>(widget()); }

TextPosition TrafficViewAccessible::position(int offset) const
{
    return view()->text().positionOf(offset);
}

void *TrafficViewAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    if (type == QAccessible::EditableTextInterface)
        return static_cast<QAccessibleEditableTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State TrafficViewAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.multiLine = true;
    s.selectableText = true;
    s.readOnly = view()->isReadOnly();
    s.editable = !view()->isReadOnly();
    return s;
}

void TrafficViewAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = 0;
    const TrafficText &t = view()->text();
    if (selectionIndex != 0 || !t.hasSelection())
        return;
    *startOffset = clampCount(t.offsetOf(std::min(t.caret(), t.anchor())));
    *endOffset = clampCount(t.offsetOf(std::max(t.caret(), t.anchor())));
}

int TrafficViewAccessible::selectionCount() const { return view()->text().hasSelection() ? 1 : 0; }

void TrafficViewAccessible::addSelection(int startOffset, int endOffset)
{
    // The display has one selection, as a text box has; a second one replaces it.
    setSelection(0, startOffset, endOffset);
}

void TrafficViewAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0 && view()->text().hasSelection())
        view()->setSelection(view()->caret(), view()->caret());
}

void TrafficViewAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex == 0)
        view()->setSelection(position(startOffset), position(endOffset));
}

int TrafficViewAccessible::cursorPosition() const
{
    return clampCount(view()->text().offsetOf(view()->caret()));
}

void TrafficViewAccessible::setCursorPosition(int position)
{
    view()->setCaret(this->position(position));
}

QString TrafficViewAccessible::text(int startOffset, int endOffset) const
{
    if (endOffset < 0)
        endOffset = characterCount();
    if (startOffset < 0 || endOffset <= startOffset)
        return {};
    return view()->text().textBetween(position(startOffset), position(endOffset));
}

int TrafficViewAccessible::characterCount() const
{
    return clampCount(view()->text().characterCount());
}

QString TrafficViewAccessible::lineBoundary(Side side, int offset, int *startOffset,
                                            int *endOffset) const
{
    // A line with the line break that ends it, as Qt's text boxes give it.
    const TrafficText &t = view()->text();
    qsizetype line = t.positionOf(offset).line;
    if (side == Side::Before)
        --line;
    else if (side == Side::After)
        ++line;
    if (line < 0 || line >= t.lineCount())
        return {};
    const bool last = line == t.lineCount() - 1;
    const qsizetype start = t.offsetOf({line, 0});
    *startOffset = clampCount(start);
    *endOffset = clampCount(start + t.lineLength(line) + (last ? 0 : 1));
    return last ? t.line(line) : t.line(line) + u'\n';
}

QString TrafficViewAccessible::windowBoundary(Side side, int offset,
                                              QAccessible::TextBoundaryType type, int *startOffset,
                                              int *endOffset) const
{
    // Items are looked for in a window around the offset: a screen reader asks for one word at
    // a time, and a line of traffic can be megabytes long.
    const int count = characterCount();
    const int from = std::max(0, offset - BoundaryWindow);
    const int to = int(std::min<qint64>(count, qint64(offset) + BoundaryWindow));
    const QString window = text(from, to);
    const std::vector<int> bounds = itemBoundaries(window, type);
    const int at = offset - from;
    // The item that holds the offset; at the very end of the text, the last item.
    size_t i = size_t(std::upper_bound(bounds.begin(), bounds.end(), at) - bounds.begin()) - 1;
    if (i + 1 >= bounds.size())
        i = bounds.size() >= 2 ? bounds.size() - 2 : 0;
    const bool atEnd = offset == count;
    if (atEnd && side == Side::At && type == QAccessible::CharBoundary)
        return {}; // no character stands at the end
    size_t item = i;
    if (side == Side::Before)
        item = atEnd ? i : i - 1;
    else if (side == Side::After)
        item = i + 1;
    if ((side == Side::Before && !atEnd && i == 0) || item + 1 >= bounds.size())
        return {};
    *startOffset = from + bounds[item];
    *endOffset = from + bounds[item + 1];
    return window.mid(bounds[item], bounds[item + 1] - bounds[item]);
}

QString TrafficViewAccessible::item(Side side, int offset,
                                    QAccessible::TextBoundaryType boundaryType, int *startOffset,
                                    int *endOffset) const
{
    *startOffset = *endOffset = -1;
    const int count = characterCount();
    if (offset == -1)
        offset = count;
    if (offset < 0 || offset > count || count == 0)
        return {};
    switch (boundaryType) {
    case QAccessible::LineBoundary:
    case QAccessible::ParagraphBoundary:
        return lineBoundary(side, offset, startOffset, endOffset);
    case QAccessible::NoBoundary:
        // The whole text is the one item: nothing stands before or after it.
        if (side != Side::At)
            return {};
        *startOffset = 0;
        *endOffset = count;
        return text(0, count);
    default:
        return windowBoundary(side, offset, boundaryType, startOffset, endOffset);
    }
}

QString TrafficViewAccessible::textBeforeOffset(int offset,
                                                QAccessible::TextBoundaryType boundaryType,
                                                int *startOffset, int *endOffset) const
{
    return item(Side::Before, offset, boundaryType, startOffset, endOffset);
}

QString TrafficViewAccessible::textAfterOffset(int offset,
                                               QAccessible::TextBoundaryType boundaryType,
                                               int *startOffset, int *endOffset) const
{
    return item(Side::After, offset, boundaryType, startOffset, endOffset);
}

QString TrafficViewAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                            int *startOffset, int *endOffset) const
{
    return item(Side::At, offset, boundaryType, startOffset, endOffset);
}

QRect TrafficViewAccessible::characterRect(int offset) const
{
    const QRect box = view()->characterRect(position(offset));
    return QRect(view()->viewport()->mapToGlobal(box.topLeft()), box.size());
}

int TrafficViewAccessible::offsetAtPoint(const QPoint &point) const
{
    const QPoint local = view()->viewport()->mapFromGlobal(point);
    if (!view()->viewport()->rect().contains(local))
        return -1;
    return clampCount(view()->text().offsetOf(view()->positionAt(local)));
}

void TrafficViewAccessible::scrollToSubstring(int startIndex, int)
{
    view()->scrollToPosition(position(startIndex));
}

QString TrafficViewAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    // One font and colour for the whole text, but for the marked characters: those came with a
    // parity or framing error.
    const TrafficText &t = view()->text();
    const TextPosition p = position(offset);
    const std::vector<MarkedRange> &marks = t.markedRanges(p.line);
    if (marks.empty()) {
        *startOffset = clampCount(t.offsetOf({p.line, 0}));
        *endOffset = clampCount(p.line + 1 < t.lineCount() ? t.offsetOf({p.line + 1, 0})
                                                           : t.characterCount());
        return {};
    }
    qsizetype from = 0;
    qsizetype to = t.lineLength(p.line);
    for (const MarkedRange &m : marks) {
        if (m.to <= p.column) {
            from = m.to;
        } else if (m.from <= p.column) {
            *startOffset = clampCount(t.offsetOf({p.line, m.from}));
            *endOffset = clampCount(t.offsetOf({p.line, m.to}));
            const auto rgb = [](const QColor &c) {
                return QStringLiteral("rgb(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue());
            };
            return QStringLiteral("invalid:true;telvix-flaw:parity-or-framing;color:%1;"
                                  "background-color:%2;")
                    .arg(rgb(TrafficView::flawTextColor()),
                         rgb(TrafficView::flawBackgroundColor()));
        } else {
            to = m.from;
            break;
        }
    }
    // The unmarked run around the offset; the line break belongs to the last one.
    *startOffset = clampCount(t.offsetOf({p.line, from}));
    const bool lastRun = to == t.lineLength(p.line) && p.line + 1 < t.lineCount();
    *endOffset = clampCount(t.offsetOf({p.line, to}) + (lastRun ? 1 : 0));
    return {};
}

void TrafficViewAccessible::deleteText(int startOffset, int endOffset)
{
    view()->replaceRange(position(startOffset), position(endOffset), u"");
}

void TrafficViewAccessible::insertText(int offset, const QString &text)
{
    replaceText(offset, offset, text);
}

void TrafficViewAccessible::replaceText(int startOffset, int endOffset, const QString &text)
{
    // The display's lines are joined by '\n' alone.
    QString piece = text;
    piece.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    piece.replace(u'\r', u'\n');
    view()->replaceRange(position(startOffset), position(endOffset), piece);
}
