// SPDX-License-Identifier: MIT
#include "TrafficView.h"

#include "main/TrafficViewAccessible.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionSlider>

#include <climits>

#ifdef __GLIBC__
#    include <malloc.h>
#endif

namespace {
constexpr int Margin = 3;

// Assistive technology counts in int.
int clampOffset(qsizetype offset) { return int(std::min<qsizetype>(offset, INT_MAX)); }

// A scroll bar that repaints only when what it shows changes. A running line changes the
// range and the value at every pass, while on a display of some thousand lines the slider moves
// by a pixel only now and then; the style's paint of a bar, gradients over its whole length,
// was most of the window's work on such a line.
class SteadyScrollBar : public QScrollBar
{
public:
    using QScrollBar::QScrollBar;

protected:
    void sliderChange(SliderChange change) override
    {
        // A style whose bars show themselves on a change must be told of each one.
        const bool moves = change == SliderRangeChange || change == SliderValueChange
                || change == SliderStepsChange;
        if (!moves || !m_shown || transient()) {
            QScrollBar::sliderChange(change);
            return;
        }
        // The range, the value and the steps change one after the other; whether the bar looks
        // different is known once all of them have.
        if (m_checking)
            return;
        m_checking = true;
        QMetaObject::invokeMethod(
                this,
                [this] {
                    m_checking = false;
                    if (!m_shown || *m_shown != look())
                        update();
                },
                Qt::QueuedConnection);
    }

    void paintEvent(QPaintEvent *event) override
    {
        m_shown = look();
        QScrollBar::paintEvent(event);
    }

private:
    struct Look
    {
        QRect slider;
        bool atMinimum;
        bool atMaximum;
        bool operator==(const Look &) const = default;
    };

    Look look() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider,
                                        this),
                value() == minimum(), value() == maximum()};
    }

    bool transient() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return style()->styleHint(QStyle::SH_ScrollBar_Transient, &option, this) != 0;
    }

    std::optional<Look> m_shown; // as last painted
    bool m_checking = false;
};

// A new range for a bar. The scroll area lays its bars out again after each change of a range,
// and in doing so raises both of them, which repaints them and the window under them: at every
// frame of a running line. That layout matters only when a bar comes or goes with its range,
// so it is left out otherwise; the value is brought into the range first, so that its change
// still scrolls the view.
void setRange(QScrollBar *bar, int maximum)
{
    if (bar->value() > maximum)
        bar->setValue(maximum);
    const bool comesOrGoes = (maximum > 0) != (bar->maximum() > 0);
    const QSignalBlocker quiet(comesOrGoes ? nullptr : bar);
    bar->setRange(0, maximum);
}
} // namespace

TrafficView::TrafficView(QWidget *parent) : QAbstractScrollArea(parent)
{
    static const bool accessible = [] {
        QAccessible::installFactory(&TrafficViewAccessible::factory);
        return true;
    }();
    Q_UNUSED(accessible);
    setAttribute(Qt::WA_InputMethodEnabled);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(false);
    // Every paint fills what it paints, so a scroll can move the pixels already there and
    // paint only the lines it uncovers.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setVerticalScrollBar(new SteadyScrollBar(Qt::Vertical, this));
    setHorizontalScrollBar(new SteadyScrollBar(Qt::Horizontal, this));
    fontChanged();
}

void TrafficView::fontChanged()
{
    const QFontMetrics fm(font());
    m_lineHeight = std::max(1, fm.height());
    m_ascent = fm.ascent();
    m_advances.assign(65536, -1);
    // Widths are measured once per character and font: the display asks for them per byte.
    // Ideographs, Hangul and the private-use area (Big5's user-defined characters) share one
    // width in every CJK font, so one measurement serves them all; asking the font for each
    // of thousands of characters would load fallback glyphs for text that is never on screen.
    const int16_t wide = int16_t(std::clamp(fm.horizontalAdvance(QChar(0x4E00)), 0, 32767));
    m_text.setAdvance([this, fm, wide](char16_t c) {
        int16_t &a = m_advances[c];
        if (a < 0) {
            const bool ideograph = (c >= 0x3400 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7A3)
                    || (c >= 0xE000 && c <= 0xFAFF);
            a = ideograph ? wide : int16_t(std::clamp(fm.horizontalAdvance(QChar(c)), 0, 32767));
        }
        return int(a);
    });
    m_charStep = fm.averageCharWidth() * 2;
    updateScrollBars();
    followCaret();
    viewport()->update();
}

void TrafficView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        fontChanged();
    QAbstractScrollArea::changeEvent(event);
}

// Scroll-bar moves made by the view itself are not the user scrolling away.
class TrafficView::OwnScroll
{
public:
    explicit OwnScroll(TrafficView *view) : m_view(view) { ++m_view->m_ownScroll; }
    ~OwnScroll() { --m_view->m_ownScroll; }
    OwnScroll(const OwnScroll &) = delete;
    OwnScroll &operator=(const OwnScroll &) = delete;

private:
    TrafficView *m_view;
};

QColor TrafficView::flawTextColor() { return QColor(176, 0, 0); }

QColor TrafficView::flawBackgroundColor() { return QColor(255, 214, 214); }

void TrafficView::insertAtCaret(QStringView piece)
{
    static const std::vector<MarkedRange> none;
    insertMarked(piece, none);
}

void TrafficView::insertMarked(QStringView piece, const std::vector<MarkedRange> &marks)
{
    if (piece.isEmpty())
        return;
    const bool a11y = QAccessible::isActive();
    const bool hadSelection = m_text.hasSelection();
    const TextPosition insertedAt = std::max(m_text.caret(), m_text.anchor());
    // Output drops a selection: the lines it covered change too.
    const qsizetype changedLine = std::min(m_text.caret(), m_text.anchor()).line;
    const qsizetype at = a11y ? m_text.offsetOf(insertedAt) : 0;
    if (marks.empty())
        m_text.insertAtCaret(piece);
    else
        m_text.insertAtCaret(piece, marks);
    shiftFound(insertedAt, m_text.caret());
    outputChanged(changedLine);
    if (a11y) {
        QAccessibleTextInsertEvent inserted(this, clampOffset(at), piece.toString());
        QAccessible::updateAccessibility(&inserted);
        if (hadSelection)
            notifySelection(); // output drops the selection
        notifyCaret();
    }
}

void TrafficView::appendLine(QStringView line)
{
    const bool a11y = QAccessible::isActive();
    const qsizetype at = a11y ? m_text.characterCount() : 0;
    const TextPosition insertedAt = m_text.endPosition();
    const qsizetype changedLine = std::min(m_text.caret(), m_text.anchor()).line;
    m_text.appendLine(line);
    shiftFound(insertedAt, m_text.endPosition());
    outputChanged(changedLine);
    if (a11y) {
        QAccessibleTextInsertEvent inserted(this, clampOffset(at), line.toString() + u'\n');
        QAccessible::updateAccessibility(&inserted);
        notifyCaret();
    }
}

void TrafficView::clear()
{
    // The removed text is only built for a listener: after an hour on a fast line it is large.
    const bool a11y = QAccessible::isActive() && !m_text.isEmpty();
    const QString removed = a11y ? m_text.text() : QString();
    m_text.clear();
    dropFound();
    emit cleared();
    m_following = true;
    m_followedLine = -1;
    {
        OwnScroll own(this);
        horizontalScrollBar()->setValue(0);
    }
    outputChanged(0);
    if (a11y) {
        QAccessibleTextRemoveEvent gone(this, 0, removed);
        QAccessible::updateAccessibility(&gone);
        notifyCaret();
    }
#ifdef __GLIBC__
    // A display cleared after an hour on a fast line has just freed tens of megabytes in
    // small lines; glibc keeps such pages for the process unless asked to give them back.
    malloc_trim(0);
#endif
}

void TrafficView::setPlainText(const QString &text)
{
    const bool a11y = QAccessible::isActive();
    const QString old = a11y ? m_text.text() : QString();
    m_text.setText(text);
    dropFound();
    emit cleared();
    m_following = true;
    outputChanged(0);
    if (a11y) {
        QAccessibleTextUpdateEvent updated(this, 0, old, text);
        QAccessible::updateAccessibility(&updated);
        notifyCaret();
    }
}

void TrafficView::setReadOnly(bool readOnly)
{
    if (readOnly == m_readOnly)
        return;
    m_readOnly = readOnly;
    viewport()->setCursor(readOnly ? Qt::ArrowCursor : Qt::IBeamCursor);
    setAttribute(Qt::WA_InputMethodEnabled, !readOnly);
    if (QAccessible::isActive()) {
        QAccessible::State changed;
        changed.readOnly = true;
        changed.editable = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    }
}

void TrafficView::setCaret(TextPosition caret, bool keepAnchor)
{
    const bool hadSelection = m_text.hasSelection();
    m_text.setCaret(caret, keepAnchor);
    restartBlink();
    userChanged();
    if (QAccessible::isActive()) {
        if (hadSelection || m_text.hasSelection())
            notifySelection();
        notifyCaret();
    }
}

void TrafficView::setSelection(TextPosition anchor, TextPosition caret)
{
    m_text.setCaret(anchor);
    m_text.setCaret(caret, true);
    restartBlink();
    viewport()->update();
    if (QAccessible::isActive()) {
        notifySelection();
        notifyCaret();
    }
}

void TrafficView::selectAll() { setSelection({}, m_text.endPosition()); }

void TrafficView::notifySelection() const
{
    const TextPosition from = std::min(m_text.caret(), m_text.anchor());
    const TextPosition to = std::max(m_text.caret(), m_text.anchor());
    QAccessibleTextSelectionEvent selection(const_cast<TrafficView *>(this),
                                            clampOffset(m_text.offsetOf(from)),
                                            clampOffset(m_text.offsetOf(to)));
    QAccessible::updateAccessibility(&selection);
}

void TrafficView::notifyCaret() const
{
    QAccessibleTextCursorEvent moved(const_cast<TrafficView *>(this),
                                     clampOffset(m_text.offsetOf(m_text.caret())));
    QAccessible::updateAccessibility(&moved);
}

bool TrafficView::replaceRange(TextPosition from, TextPosition to, QStringView piece)
{
    if (m_readOnly)
        return false;
    edit(from, to, piece);
    return true;
}

void TrafficView::edit(TextPosition from, TextPosition to, QStringView piece)
{
    from = m_text.clamp(from);
    to = m_text.clamp(to);
    if (to < from)
        std::swap(from, to);
    const bool a11y = QAccessible::isActive();
    const qsizetype at = a11y ? m_text.offsetOf(from) : 0;
    const QString removed = a11y ? m_text.textBetween(from, to) : QString();
    m_text.replaceRange(from, to, piece);
    dropFound();
    userChanged();
    restartBlink();
    emit textChanged();
    if (!a11y)
        return;
    if (removed.isEmpty()) {
        QAccessibleTextInsertEvent inserted(this, clampOffset(at), piece.toString());
        QAccessible::updateAccessibility(&inserted);
    } else if (piece.isEmpty()) {
        QAccessibleTextRemoveEvent gone(this, clampOffset(at), removed);
        QAccessible::updateAccessibility(&gone);
    } else {
        QAccessibleTextUpdateEvent updated(this, clampOffset(at), removed, piece.toString());
        QAccessible::updateAccessibility(&updated);
    }
    notifyCaret();
}

void TrafficView::outputChanged(qsizetype fromLine)
{
    m_changedFrom = std::min(m_changedFrom, fromLine);
    updateScrollBars();
    if (m_following)
        followCaret();
    scheduleRepaint();
    emit textChanged();
}

void TrafficView::userChanged()
{
    updateScrollBars();
    m_following = true;
    followCaret();
    viewport()->update();
}

int TrafficView::visibleLines() const
{
    return std::max(1, (viewport()->height() - 2 * Margin) / m_lineHeight);
}

int TrafficView::textAreaWidth() const { return std::max(1, viewport()->width() - 2 * Margin - 2); }

int64_t TrafficView::horizontalOffset() const
{
    return int64_t(horizontalScrollBar()->value()) * m_hUnit;
}

int TrafficView::viewX(int64_t contentX) const
{
    // Far outside the viewport only the side matters; QRect and QPainter take int.
    constexpr int64_t Far = 1 << 24;
    return int(std::clamp<int64_t>(Margin + contentX - horizontalOffset(), -Far, Far));
}

void TrafficView::setHorizontalOffset(int64_t x)
{
    OwnScroll own(this);
    horizontalScrollBar()->setValue(int(std::clamp<int64_t>(x / m_hUnit, 0, INT_MAX)));
}

void TrafficView::updateScrollBars()
{
    OwnScroll own(this);
    QScrollBar *v = verticalScrollBar();
    v->setPageStep(visibleLines());
    setRange(v, int(std::clamp<qsizetype>(m_text.lineCount() - visibleLines(), 0, INT_MAX)));

    // A scroll bar counts in int; past 2^30 pixels one of its steps stands for several pixels.
    constexpr int64_t MaxBarRange = int64_t(1) << 30;
    QScrollBar *h = horizontalScrollBar();
    const int64_t range =
            std::max<int64_t>(0, m_text.maxWidth() + 2 * Margin + 2 - viewport()->width());
    const int64_t unit = std::max<int64_t>(1, (range + MaxBarRange - 1) / MaxBarRange);
    const int64_t offset = horizontalOffset();
    if (unit != m_hUnit) {
        m_hUnit = unit;
        setRange(h, int(range / unit));
        h->setValue(int(std::min(offset, range) / unit));
    } else {
        setRange(h, int(range / unit));
    }
    h->setPageStep(std::max(1, int(viewport()->width() / unit)));
    h->setSingleStep(std::max(1, int(m_charStep / unit)));
}

bool TrafficView::caretInView() const
{
    const TextPosition c = m_text.caret();
    const QScrollBar *v = verticalScrollBar();
    if (c.line < v->value() || c.line >= v->value() + visibleLines())
        return false;
    const int64_t x = m_text.xOfColumn(c.line, c.column);
    const int64_t offset = horizontalOffset();
    return x >= offset && x <= offset + textAreaWidth();
}

void TrafficView::followCaret()
{
    OwnScroll own(this);
    const TextPosition c = m_text.caret();
    QScrollBar *v = verticalScrollBar();
    if (c.line < v->value())
        v->setValue(int(std::min<qsizetype>(c.line, INT_MAX)));
    else if (c.line >= v->value() + visibleLines())
        v->setValue(int(std::min<qsizetype>(c.line - visibleLines() + 1, INT_MAX)));

    const int64_t width = textAreaWidth();
    const int64_t x = m_text.xOfColumn(c.line, c.column);
    const int64_t offset = horizontalOffset();
    const bool newLine = c.line != m_followedLine;
    m_followedLine = c.line;
    if (x <= width && (newLine || x < offset))
        setHorizontalOffset(0); // the line's start can be seen with the caret: show it
    else if (x < offset)
        setHorizontalOffset(std::max<int64_t>(0, x - width * 2 / 3));
    else if (x > offset + width)
        setHorizontalOffset(x - width / 3); // two thirds of the width to go before the next jump
}

void TrafficView::scrollToPosition(TextPosition p)
{
    p = m_text.clamp(p);
    OwnScroll own(this);
    QScrollBar *v = verticalScrollBar();
    if (p.line < v->value() || p.line >= v->value() + visibleLines())
        v->setValue(int(
                std::min<qsizetype>(std::max<qsizetype>(0, p.line - visibleLines() / 2), INT_MAX)));
    const int64_t x = m_text.xOfColumn(p.line, p.column);
    const int64_t offset = horizontalOffset();
    if (x < offset || x > offset + textAreaWidth())
        setHorizontalOffset(x <= textAreaWidth() ? 0 : x - textAreaWidth() / 3);
    m_following = caretInView();
    viewport()->update();
}

QColor TrafficView::foundBackgroundColor() { return QColor(255, 170, 40); }

void TrafficView::setFoundRange(std::optional<TextRange> range)
{
    if (range)
        range = TextRange {m_text.clamp(range->from), m_text.clamp(range->to)};
    if (range == m_found)
        return;
    m_found = range;
    viewport()->update();
}

void TrafficView::dropFound()
{
    if (!m_found)
        return;
    m_found.reset();
    emit foundRangeDropped();
}

void TrafficView::shiftFound(TextPosition at, TextPosition end)
{
    if (!m_found)
        return;
    const auto shifted = [&](TextPosition p) {
        if (p.line != at.line)
            return TextPosition {p.line + end.line - at.line, p.column};
        return TextPosition {end.line, end.column + p.column - at.column};
    };
    // Output at the very end of the match goes after it; at its start, before it.
    if (m_found->from >= at)
        m_found->from = shifted(m_found->from);
    if (m_found->to > at)
        m_found->to = shifted(m_found->to);
}

void TrafficView::userScrolled(bool horizontal, bool vertical)
{
    // Scrolled away from the caret, the user reads something else; back at the caret or at the
    // end, they want to see what comes.
    if (vertical) {
        const QScrollBar *v = verticalScrollBar();
        m_following = caretInView() || v->value() == v->maximum();
    } else if (horizontal) {
        m_following = caretInView();
    }
}

void TrafficView::scheduleRepaint()
{
    // A stream changes the text every few milliseconds; painting more than once a frame would
    // only slow the reading down, painting less would leave the screen behind. A view that
    // scrolled is painted anyway: the changed lines go along in the same paint, not in a second
    // one a moment later.
    constexpr qint64 FrameMs = 16;
    const qint64 since = m_lastPaint.isValid() ? m_lastPaint.elapsed() : FrameMs;
    if (since >= FrameMs || m_scrolled)
        updateChanged();
    else if (!m_repaint.isActive())
        m_repaint.start(int(FrameMs - since), this);
}

void TrafficView::updateChanged()
{
    if (m_changedFrom == NothingChanged)
        return;
    // Output moves the lines after the first it changed (or adds them): from that line down.
    const qsizetype row = m_changedFrom - verticalScrollBar()->value();
    m_changedFrom = NothingChanged;
    if (row >= visibleLines() + 1)
        return;
    const int top = row <= 0 ? 0 : Margin + int(row) * m_lineHeight;
    viewport()->update(QRect(0, top, viewport()->width(), viewport()->height() - top));
}

void TrafficView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void TrafficView::scrollContentsBy(int dx, int dy)
{
    // Down a line or a few, as a running line scrolls: the lines already painted move, and only
    // those uncovered are painted. The margin above the first line stays where it is.
    m_scrolled = true;
    const int rows = visibleLines();
    if (dx == 0 && dy != 0 && std::abs(dy) < rows) {
        const QRect lines(0, Margin, viewport()->width(), viewport()->height() - Margin);
        viewport()->scroll(0, dy * m_lineHeight, lines);
    } else {
        viewport()->update();
    }
    if (m_ownScroll == 0)
        userScrolled(dx != 0, dy != 0);
}

TextPosition TrafficView::positionAt(const QPoint &pos) const
{
    TextPosition p;
    p.line = verticalScrollBar()->value() + std::max(0, pos.y() - Margin) / m_lineHeight;
    p.line = std::min(p.line, m_text.lineCount() - 1);
    p.column = m_text.columnAtX(p.line, int64_t(pos.x()) - Margin + horizontalOffset());
    return p;
}

QRect TrafficView::characterRect(TextPosition p) const
{
    p = m_text.clamp(p);
    const int64_t x = m_text.xOfColumn(p.line, p.column);
    const TextPosition next = {p.line, std::min(p.column + 1, m_text.lineLength(p.line))};
    const int64_t width = std::max<int64_t>(1, m_text.xOfColumn(next.line, next.column) - x);
    const int y = Margin
            + int(std::clamp<qsizetype>(p.line - verticalScrollBar()->value(), -(1 << 20), 1 << 20))
                    * m_lineHeight;
    return QRect(viewX(x), y, int(std::min<int64_t>(width, 1 << 20)), m_lineHeight);
}

QRect TrafficView::caretRect() const
{
    const TextPosition c = m_text.caret();
    const QRect box = characterRect(c);
    return QRect(box.x(), box.y(), 1, m_lineHeight);
}

void TrafficView::paintEvent(QPaintEvent *event)
{
    // A paint of the caret alone leaves the output's repaint still due.
    m_lastPaint.start();
    m_scrolled = false;
    QPainter p(viewport());
    const QRect area = event->rect();
    p.fillRect(area, palette().brush(QPalette::Base));
    p.setFont(font());
    const int64_t hx = horizontalOffset();
    const int shownFrom = verticalScrollBar()->value();
    // The lines that meet the area to paint, of those on screen.
    const qsizetype first = shownFrom + std::max(0, area.top() - Margin) / m_lineHeight;
    const qsizetype last = std::min<qsizetype>(
            {m_text.lineCount(), shownFrom + visibleLines() + 1,
             shownFrom + std::max(0, area.bottom() - Margin) / m_lineHeight + 1});
    const int64_t right = hx + viewport()->width();
    const TextPosition selFrom = std::min(m_text.caret(), m_text.anchor());
    const TextPosition selTo = std::max(m_text.caret(), m_text.anchor());
    const bool selecting = selFrom != selTo;
    const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    for (qsizetype i = first; i < last; ++i) {
        const int top = Margin + int(i - shownFrom) * m_lineHeight;
        // Only the part of the line inside the viewport is shaped and drawn.
        const qsizetype from = std::max<qsizetype>(0, m_text.columnAtX(i, hx) - 1);
        const qsizetype to = std::min(m_text.lineLength(i), m_text.columnAtX(i, right) + 1);
        const int x0 = viewX(m_text.xOfColumn(i, from));
        if (m_found && i >= m_found->from.line && i <= m_found->to.line) {
            const qsizetype a = i == m_found->from.line ? m_found->from.column : 0;
            const qsizetype b = i == m_found->to.line ? m_found->to.column : m_text.lineLength(i);
            const int xa = viewX(m_text.xOfColumn(i, a));
            const int xb = viewX(m_text.xOfColumn(i, b));
            p.fillRect(QRect(xa, top, std::max(1, xb - xa), m_lineHeight), foundBackgroundColor());
        }
        if (selecting && i >= selFrom.line && i <= selTo.line) {
            const qsizetype a = i == selFrom.line ? selFrom.column : 0;
            const qsizetype b = i == selTo.line ? selTo.column : m_text.lineLength(i);
            const int xa = viewX(m_text.xOfColumn(i, a));
            int xb = viewX(m_text.xOfColumn(i, b));
            if (i != selTo.line)
                xb += m_lineHeight / 3; // shows that the line break is selected too
            p.fillRect(QRect(xa, top, xb - xa, m_lineHeight),
                       palette().brush(group, QPalette::Highlight));
        }
        if (to > from) {
            if (m_text.markedRanges(i).empty()) {
                p.setPen(palette().color(QPalette::Text));
                p.drawText(QPoint(x0, top + m_ascent), m_text.lineText(i, from, to));
            } else {
                paintLine(p, i, from, to, top);
            }
        }
    }
    if (hasFocus() && m_caretShown)
        p.fillRect(caretRect().adjusted(0, 0, 1, 0), palette().color(QPalette::Text));
}

void TrafficView::paintLine(QPainter &p, qsizetype line, qsizetype from, qsizetype to, int top)
{
    // The line in runs, each marked one on its own background; the text between in the usual
    // colour.
    qsizetype at = from;
    auto run = [&](qsizetype end, bool marked) {
        if (end <= at)
            return;
        const int xa = viewX(m_text.xOfColumn(line, at));
        if (marked) {
            const int xb = viewX(m_text.xOfColumn(line, end));
            p.fillRect(QRect(xa, top, xb - xa, m_lineHeight), flawBackgroundColor());
            p.setPen(flawTextColor());
        } else {
            p.setPen(palette().color(QPalette::Text));
        }
        p.drawText(QPoint(xa, top + m_ascent), m_text.lineText(line, at, end));
        at = end;
    };
    for (const MarkedRange &m : m_text.markedRanges(line)) {
        if (m.to <= from)
            continue;
        if (m.from >= to)
            break;
        run(std::min(m.from, to), false);
        run(std::min(m.to, to), true);
    }
    run(to, false);
}

void TrafficView::restartBlink()
{
    m_caretShown = true;
    const int interval = QApplication::cursorFlashTime() / 2;
    if (hasFocus() && interval > 0)
        m_blink.start(interval, this);
    else
        m_blink.stop();
}

void TrafficView::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_repaint.timerId()) {
        m_repaint.stop();
        updateChanged();
        return;
    }
    if (event->timerId() != m_blink.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    m_caretShown = !m_caretShown;
    viewport()->update(caretRect().adjusted(-1, 0, 2, 0));
}

void TrafficView::focusInEvent(QFocusEvent *event)
{
    restartBlink();
    viewport()->update();
    QAbstractScrollArea::focusInEvent(event);
}

void TrafficView::focusOutEvent(QFocusEvent *event)
{
    m_blink.stop();
    viewport()->update();
    QAbstractScrollArea::focusOutEvent(event);
}

void TrafficView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    setCaret(positionAt(event->position().toPoint()),
             event->modifiers().testFlag(Qt::ShiftModifier));
}

void TrafficView::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() & Qt::LeftButton)
        setCaret(positionAt(event->position().toPoint()), true);
}

void TrafficView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // A word of the traffic: the run of non-blanks under the pointer.
    const TextPosition at = positionAt(event->position().toPoint());
    const QString t = m_text.line(at.line);
    qsizetype a = at.column;
    qsizetype b = at.column;
    while (a > 0 && !t[a - 1].isSpace())
        --a;
    while (b < t.size() && !t[b].isSpace())
        ++b;
    setSelection({at.line, a}, {at.line, b});
}

void TrafficView::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::Copy) {
        copy();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        selectAll();
        return;
    }
    const bool extend = event->modifiers().testFlag(Qt::ShiftModifier);
    const bool word = event->modifiers().testFlag(Qt::ControlModifier);
    TextPosition c = m_text.caret();
    const qsizetype lineLength = m_text.lineLength(c.line);
    switch (event->key()) {
    case Qt::Key_Left:
        if (c.column > 0)
            --c.column;
        else if (c.line > 0)
            c = {c.line - 1, m_text.lineLength(c.line - 1)};
        setCaret(c, extend);
        return;
    case Qt::Key_Right:
        if (c.column < lineLength)
            ++c.column;
        else if (c.line + 1 < m_text.lineCount())
            c = {c.line + 1, 0};
        setCaret(c, extend);
        return;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
        const int64_t x = m_text.xOfColumn(c.line, c.column);
        const int page = visibleLines();
        const int step = event->key() == Qt::Key_Up ? -1
                : event->key() == Qt::Key_Down      ? 1
                : event->key() == Qt::Key_PageUp    ? -page
                                                    : page;
        c.line = std::clamp<qsizetype>(c.line + step, 0, m_text.lineCount() - 1);
        c.column = m_text.columnAtX(c.line, x);
        setCaret(c, extend);
        return;
    }
    case Qt::Key_Home:
        setCaret(word ? TextPosition {} : TextPosition {c.line, 0}, extend);
        return;
    case Qt::Key_End:
        if (word)
            c = m_text.endPosition();
        else
            c.column = lineLength;
        setCaret(c, extend);
        return;
    default:
        break;
    }
    if (m_readOnly) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const TextPosition caret = m_text.caret();
    const TextPosition anchor = m_text.anchor();
    if (event == QKeySequence::Paste) {
        paste();
    } else if (event == QKeySequence::Cut) {
        copy();
        edit(caret, anchor, u"");
    } else if (event->key() == Qt::Key_Backspace) {
        edit(m_text.hasSelection() ? anchor : m_text.previousPosition(caret), caret, u"");
    } else if (event->key() == Qt::Key_Delete) {
        edit(caret, m_text.hasSelection() ? anchor : m_text.nextPosition(caret), u"");
    } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        edit(caret, anchor, u"\n");
    } else if (!event->text().isEmpty() && event->text()[0].isPrint()) {
        edit(caret, anchor, event->text());
    } else {
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void TrafficView::inputMethodEvent(QInputMethodEvent *event)
{
    if (!m_readOnly && !event->commitString().isEmpty())
        edit(m_text.caret(), m_text.anchor(), event->commitString());
    event->accept();
}

QVariant TrafficView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    if (query == Qt::ImCursorRectangle)
        return caretRect();
    if (query == Qt::ImEnabled)
        return !m_readOnly;
    return QAbstractScrollArea::inputMethodQuery(query);
}

void TrafficView::copy() const
{
    if (m_text.hasSelection())
        QGuiApplication::clipboard()->setText(m_text.selectedText());
}

void TrafficView::paste()
{
    QString t = QGuiApplication::clipboard()->text();
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(u'\r', u'\n');
    edit(m_text.caret(), m_text.anchor(), t);
}

void TrafficView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    QAction *copyAction = menu.addAction(QStringLiteral("複製"), this, &TrafficView::copy);
    copyAction->setEnabled(m_text.hasSelection());
    menu.addAction(QStringLiteral("全選"), this, &TrafficView::selectAll);
    menu.exec(event->globalPos());
}
