// SPDX-License-Identifier: MIT
#include "TrafficView.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {
constexpr int Margin = 3;
}

TrafficView::TrafficView(QWidget *parent) : QAbstractScrollArea(parent)
{
    setAttribute(Qt::WA_InputMethodEnabled);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(false);
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
    horizontalScrollBar()->setSingleStep(fm.averageCharWidth() * 2);
    contentChanged(false);
}

void TrafficView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        fontChanged();
    QAbstractScrollArea::changeEvent(event);
}

void TrafficView::insertAtCaret(QStringView piece)
{
    if (piece.isEmpty())
        return;
    m_text.insertAtCaret(piece);
    contentChanged(true);
}

void TrafficView::appendLine(QStringView text)
{
    m_text.appendLine(text);
    contentChanged(true);
}

void TrafficView::clear()
{
    m_text.clear();
    horizontalScrollBar()->setValue(0);
    contentChanged(true);
#ifdef __GLIBC__
    // A display cleared after an hour on a fast line has just freed tens of megabytes in
    // small lines; glibc keeps such pages for the process unless asked to give them back.
    malloc_trim(0);
#endif
}

void TrafficView::setPlainText(const QString &text)
{
    m_text.setText(text);
    contentChanged(true);
}

void TrafficView::setReadOnly(bool readOnly)
{
    m_readOnly = readOnly;
    viewport()->setCursor(readOnly ? Qt::ArrowCursor : Qt::IBeamCursor);
    setAttribute(Qt::WA_InputMethodEnabled, !readOnly);
}

void TrafficView::setCaret(TextPosition caret, bool keepAnchor)
{
    m_text.setCaret(caret, keepAnchor);
    restartBlink();
    ensureCaretVisible();
    viewport()->update();
}

void TrafficView::selectAll()
{
    m_text.selectAll();
    viewport()->update();
}

void TrafficView::contentChanged(bool textEdited)
{
    updateScrollBars();
    ensureCaretVisible();
    scheduleRepaint();
    if (textEdited)
        emit textChanged();
}

int TrafficView::visibleLines() const
{
    return std::max(1, (viewport()->height() - 2 * Margin) / m_lineHeight);
}

void TrafficView::updateScrollBars()
{
    QScrollBar *v = verticalScrollBar();
    v->setPageStep(visibleLines());
    v->setRange(0, int(std::max<qsizetype>(0, m_text.lineCount() - visibleLines())));
    QScrollBar *h = horizontalScrollBar();
    h->setPageStep(viewport()->width());
    h->setRange(0, std::max(0, m_text.maxWidth() + 2 * Margin + 2 - viewport()->width()));
}

void TrafficView::ensureCaretVisible()
{
    const TextPosition c = m_text.caret();
    QScrollBar *v = verticalScrollBar();
    if (c.line < v->value())
        v->setValue(int(c.line));
    else if (c.line >= v->value() + visibleLines())
        v->setValue(int(c.line - visibleLines() + 1));
    QScrollBar *h = horizontalScrollBar();
    const int x = m_text.xOfColumn(c.line, c.column);
    const int width = viewport()->width() - 2 * Margin - 2;
    if (x < h->value())
        h->setValue(std::max(0, x - width / 4));
    else if (x > h->value() + width)
        h->setValue(x - width * 3 / 4);
}

void TrafficView::scheduleRepaint()
{
    // A stream changes the text every few milliseconds; painting more than once a frame would
    // only slow the reading down, painting less would leave the screen behind.
    constexpr qint64 FrameMs = 16;
    const qint64 since = m_lastPaint.isValid() ? m_lastPaint.elapsed() : FrameMs;
    if (since >= FrameMs)
        viewport()->update();
    else if (!m_repaint.isActive())
        m_repaint.start(int(FrameMs - since), this);
}

void TrafficView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void TrafficView::scrollContentsBy(int, int) { viewport()->update(); }

TextPosition TrafficView::positionAt(const QPoint &pos) const
{
    TextPosition p;
    p.line = verticalScrollBar()->value() + std::max(0, pos.y() - Margin) / m_lineHeight;
    p.line = std::min(p.line, m_text.lineCount() - 1);
    p.column = m_text.columnAtX(p.line, pos.x() - Margin + horizontalScrollBar()->value());
    return p;
}

QRect TrafficView::caretRect() const
{
    const TextPosition c = m_text.caret();
    const int x = Margin + m_text.xOfColumn(c.line, c.column) - horizontalScrollBar()->value();
    const int y = Margin + int(c.line - verticalScrollBar()->value()) * m_lineHeight;
    return QRect(x, y, 1, m_lineHeight);
}

void TrafficView::paintEvent(QPaintEvent *)
{
    m_lastPaint.start();
    m_repaint.stop();
    QPainter p(viewport());
    p.fillRect(viewport()->rect(), palette().brush(QPalette::Base));
    p.setFont(font());
    const int hx = horizontalScrollBar()->value();
    const int first = verticalScrollBar()->value();
    const qsizetype last = std::min<qsizetype>(m_text.lineCount(), first + visibleLines() + 1);
    const int right = hx + viewport()->width();
    const TextPosition selFrom = std::min(m_text.caret(), m_text.anchor());
    const TextPosition selTo = std::max(m_text.caret(), m_text.anchor());
    const bool selecting = selFrom != selTo;
    const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    for (qsizetype i = first; i < last; ++i) {
        const int top = Margin + int(i - first) * m_lineHeight;
        // Only the part of the line inside the viewport is shaped and drawn.
        const qsizetype from = std::max<qsizetype>(0, m_text.columnAtX(i, hx) - 1);
        const qsizetype to = std::min(m_text.line(i).size(), m_text.columnAtX(i, right) + 1);
        const int x0 = Margin + m_text.xOfColumn(i, from) - hx;
        if (selecting && i >= selFrom.line && i <= selTo.line) {
            const qsizetype a = i == selFrom.line ? selFrom.column : 0;
            const qsizetype b = i == selTo.line ? selTo.column : m_text.line(i).size();
            const int xa = Margin + m_text.xOfColumn(i, a) - hx;
            int xb = Margin + m_text.xOfColumn(i, b) - hx;
            if (i != selTo.line)
                xb += m_lineHeight / 3; // shows that the line break is selected too
            p.fillRect(QRect(xa, top, xb - xa, m_lineHeight),
                       palette().brush(group, QPalette::Highlight));
        }
        if (to > from) {
            p.setPen(palette().color(QPalette::Text));
            p.drawText(QPoint(x0, top + m_ascent), m_text.line(i).mid(from, to - from));
        }
    }
    if (hasFocus() && m_caretShown)
        p.fillRect(caretRect().adjusted(0, 0, 1, 0), palette().color(QPalette::Text));
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
        viewport()->update();
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
    const QString &t = m_text.line(at.line);
    qsizetype a = at.column;
    qsizetype b = at.column;
    while (a > 0 && !t[a - 1].isSpace())
        --a;
    while (b < t.size() && !t[b].isSpace())
        ++b;
    m_text.setCaret({at.line, a});
    setCaret({at.line, b}, true);
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
    const qsizetype lineLength = m_text.line(c.line).size();
    switch (event->key()) {
    case Qt::Key_Left:
        if (c.column > 0)
            --c.column;
        else if (c.line > 0)
            c = {c.line - 1, m_text.line(c.line - 1).size()};
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
        const int x = m_text.xOfColumn(c.line, c.column);
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
            c = {m_text.lineCount() - 1, m_text.line(m_text.lineCount() - 1).size()};
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
    if (event == QKeySequence::Paste) {
        paste();
    } else if (event == QKeySequence::Cut) {
        copy();
        m_text.replaceSelection(u"");
        contentChanged(true);
    } else if (event->key() == Qt::Key_Backspace) {
        m_text.deleteBackward();
        contentChanged(true);
    } else if (event->key() == Qt::Key_Delete) {
        m_text.deleteForward();
        contentChanged(true);
    } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        m_text.replaceSelection(u"\n");
        contentChanged(true);
    } else if (!event->text().isEmpty() && event->text()[0].isPrint()) {
        m_text.replaceSelection(event->text());
        contentChanged(true);
    } else {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    restartBlink();
}

void TrafficView::inputMethodEvent(QInputMethodEvent *event)
{
    if (!m_readOnly && !event->commitString().isEmpty()) {
        m_text.replaceSelection(event->commitString());
        contentChanged(true);
    }
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
    m_text.replaceSelection(t);
    contentChanged(true);
}

void TrafficView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    QAction *copyAction = menu.addAction(QStringLiteral("複製"), this, &TrafficView::copy);
    copyAction->setEnabled(m_text.hasSelection());
    menu.addAction(QStringLiteral("全選"), this, &TrafficView::selectAll);
    menu.exec(event->globalPos());
}
