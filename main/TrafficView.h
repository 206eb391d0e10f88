// SPDX-License-Identifier: MIT
// The traffic display. A plain text box that stays fast however much arrives: it keeps its
// text as lines (TrafficText), lays out nothing but what is on screen, and repaints at most once
// per event dispatch, so a megabyte on one line costs what a megabyte of short lines does.
//
// While output arrives the view follows the caret calmly: sideways only when the caret would
// leave the visible area, then by enough not to move again at once, and back to the left edge
// when a new line starts that fits. A user who scrolls away is left where they are until they
// scroll back to the caret or to the end, as in a terminal.
//
// Screen readers see it as an editable multi-line text box (TrafficViewAccessible); the events
// they need are built only while an assistive technology listens.
#pragma once

#include "session/ModeHost.h"
#include "traffic/TrafficText.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QColor>
#include <QElapsedTimer>

#include <limits>
#include <optional>
#include <vector>

class QPainter;

class TrafficView : public QAbstractScrollArea, public DisplaySink
{
    Q_OBJECT

public:
    explicit TrafficView(QWidget *parent = nullptr);

    // The one way output reaches the display: after whatever is selected, caret behind it.
    void insertAtCaret(QStringView piece) override;
    // Marked characters are painted in the flaw colours and told as invalid to assistive
    // technology.
    void insertMarked(QStringView piece, const std::vector<MarkedRange> &marks) override;
    // The colours of marked characters, the same whether the display is read-only or not.
    static QColor flawTextColor();
    static QColor flawBackgroundColor();
    // Adds a line and a line break at the end; the caret stands on the empty line below.
    void appendLine(QStringView text) override;

    void clear() override;
    void setPlainText(const QString &text);
    QString toPlainText() const { return m_text.text(); }
    bool isEmpty() const { return m_text.isEmpty(); }
    QString selectedText() const { return m_text.selectedText(); }

    bool isReadOnly() const { return m_readOnly; }
    void setReadOnly(bool readOnly);

    TextPosition caret() const { return m_text.caret(); }
    void setCaret(TextPosition caret, bool keepAnchor = false);
    // Selects from `anchor` to `caret` in one step, without moving the view.
    void setSelection(TextPosition anchor, TextPosition caret);
    void selectAll();
    const TrafficText &text() const { return m_text; }

    // An edit as the user makes it (refused while read-only): the range becomes `piece`.
    bool replaceRange(TextPosition from, TextPosition to, QStringView piece);

    // Pixels the content is scrolled to the left; 64-bit, as lines can be wider than int.
    int64_t horizontalOffset() const;
    // Whether arriving output keeps the caret in view.
    bool isFollowing() const { return m_following; }
    // The box of the character at `p` in viewport coordinates (a caret-wide box at a line end).
    QRect characterRect(TextPosition p) const;
    // The position nearest to a point of the viewport.
    TextPosition positionAt(const QPoint &viewportPos) const;
    // Scrolls so that `p` is in view, without moving the caret.
    void scrollToPosition(TextPosition p);

    // What the find bar found, painted apart from the selection: selecting it would send the
    // output after it. Output inserted before it moves it along with its text; an edit, Clear
    // or other text drops it.
    void setFoundRange(std::optional<TextRange> range);
    std::optional<TextRange> foundRange() const { return m_found; }
    static QColor foundBackgroundColor();

signals:
    void textChanged();
    // Emptied, or given other text to hold: what is shown next begins afresh.
    void cleared();
    // The found range is gone with the text it stood on.
    void foundRangeDropped();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void changeEvent(QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    class OwnScroll;

    void fontChanged();
    // After output from `fromLine` on: the caret is followed only while the user has not
    // scrolled away.
    void outputChanged(qsizetype fromLine);
    // After the user's own edit or caret move: the caret comes into view.
    void userChanged();
    void updateScrollBars();
    void followCaret();
    void setHorizontalOffset(int64_t x);
    void userScrolled(bool horizontal, bool vertical);
    bool caretInView() const;
    QRect caretRect() const;
    int visibleLines() const;
    int textAreaWidth() const;
    int viewX(int64_t contentX) const;
    void copy() const;
    void paste();
    void restartBlink();
    void scheduleRepaint();
    void updateChanged(); // the lines output changed since the last repaint, and those below
    void paintLine(QPainter &p, qsizetype line, qsizetype from, qsizetype to, int top);
    // Edits through here tell assistive technology what changed.
    void edit(TextPosition from, TextPosition to, QStringView piece);
    void notifySelection() const;
    void notifyCaret() const;
    // Output went in at `at` and ends at `end`: the found range behind it moves with its text.
    void shiftFound(TextPosition at, TextPosition end);
    void dropFound();

    TrafficText m_text;
    bool m_readOnly = false;
    bool m_caretShown = true;
    bool m_following = true;
    static constexpr qsizetype NothingChanged = std::numeric_limits<qsizetype>::max();
    qsizetype m_changedFrom = NothingChanged; // the first line output changed, not yet repainted
    bool m_scrolled = false; // since the last paint
    int m_ownScroll = 0; // > 0 while this class moves the scroll bars itself
    qsizetype m_followedLine = -1; // the caret's line when the view last followed it
    int64_t m_hUnit = 1; // pixels per step of the horizontal bar, > 1 only past 2^30 pixels
    QBasicTimer m_blink;
    QBasicTimer m_repaint; // a repaint held back until the next frame is due
    QElapsedTimer m_lastPaint;
    int m_lineHeight = 1;
    int m_ascent = 1;
    int m_charStep = 1; // one click of the horizontal bar's arrows
    std::vector<int16_t> m_advances; // per UTF-16 unit, -1 until measured
    std::optional<TextRange> m_found;
};
