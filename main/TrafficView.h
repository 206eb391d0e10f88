// SPDX-License-Identifier: MIT
// The traffic display. A plain text box that stays fast however much arrives: it keeps its
// text as lines (TrafficText), lays out nothing but what is on screen, and repaints at most once
// per event dispatch, so a megabyte on one line costs what a megabyte of short lines does.
#pragma once

#include "main/TrafficText.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QElapsedTimer>

#include <vector>

class TrafficView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit TrafficView(QWidget *parent = nullptr);

    // The one way output reaches the display: after whatever is selected, caret behind it.
    void insertAtCaret(QStringView piece);
    // Adds a line and a line break at the end; the caret stands on the empty line below.
    void appendLine(QStringView text);

    void clear();
    void setPlainText(const QString &text);
    QString toPlainText() const { return m_text.text(); }
    bool isEmpty() const { return m_text.isEmpty(); }
    QString selectedText() const { return m_text.selectedText(); }

    bool isReadOnly() const { return m_readOnly; }
    void setReadOnly(bool readOnly);

    TextPosition caret() const { return m_text.caret(); }
    void setCaret(TextPosition caret, bool keepAnchor = false);
    void selectAll();
    const TrafficText &text() const { return m_text; }

signals:
    void textChanged();

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
    void fontChanged();
    void contentChanged(bool textEdited);
    void updateScrollBars();
    void ensureCaretVisible();
    TextPosition positionAt(const QPoint &viewportPos) const;
    QRect caretRect() const;
    int visibleLines() const;
    void copy() const;
    void paste();
    void restartBlink();
    void scheduleRepaint();

    TrafficText m_text;
    bool m_readOnly = false;
    bool m_caretShown = true;
    QBasicTimer m_blink;
    QBasicTimer m_repaint; // a repaint held back until the next frame is due
    QElapsedTimer m_lastPaint;
    int m_lineHeight = 1;
    int m_ascent = 1;
    std::vector<int16_t> m_advances; // per UTF-16 unit, -1 until measured
};
