// SPDX-License-Identifier: MIT
#include "CodeEditor.h"

#include <QPainter>
#include <QTextBlock>

namespace {

class NumberArea : public QWidget
{
public:
    explicit NumberArea(CodeEditor *editor) : QWidget(editor), m_editor(editor) { }
    QSize sizeHint() const override { return {m_editor->numberAreaWidth(), 0}; }

protected:
    void paintEvent(QPaintEvent *event) override { m_editor->paintNumbers(event); }

private:
    CodeEditor *m_editor;
};

QColor markColour() { return QColor(255, 210, 210); }

} // namespace

CodeEditor::CodeEditor(QWidget *parent) : QPlainTextEdit(parent), m_numbers(new NumberArea(this))
{
    setLineWrapMode(QPlainTextEdit::NoWrap);
    connect(this, &QPlainTextEdit::blockCountChanged, this, &CodeEditor::updateMargin);
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect &rect, int dy) {
        if (dy)
            m_numbers->scroll(0, dy);
        else
            m_numbers->update(0, rect.y(), m_numbers->width(), rect.height());
    });
    // The mark tells where the script was when it failed: an edit makes it a guess.
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (m_marked)
            markLine(0);
    });
    updateMargin();
}

int CodeEditor::numberAreaWidth() const
{
    int digits = 1;
    for (int n = std::max(1, blockCount()); n >= 10; n /= 10)
        ++digits;
    return 8 + fontMetrics().horizontalAdvance(u'9') * std::max(digits, 3);
}

void CodeEditor::updateMargin() { setViewportMargins(numberAreaWidth(), 0, 0, 0); }

void CodeEditor::resizeEvent(QResizeEvent *event)
{
    QPlainTextEdit::resizeEvent(event);
    const QRect area = contentsRect();
    m_numbers->setGeometry(area.left(), area.top(), numberAreaWidth(), area.height());
}

void CodeEditor::markLine(int line)
{
    m_marked = line > 0 && line <= blockCount() ? line : 0;
    updateMark();
    if (m_marked) {
        QTextCursor at(document()->findBlockByNumber(m_marked - 1));
        setTextCursor(at);
        ensureCursorVisible();
    }
    m_numbers->update();
}

void CodeEditor::updateMark()
{
    QList<QTextEdit::ExtraSelection> marks;
    if (m_marked) {
        QTextEdit::ExtraSelection mark;
        mark.format.setBackground(markColour());
        mark.format.setProperty(QTextFormat::FullWidthSelection, true);
        mark.cursor = QTextCursor(document()->findBlockByNumber(m_marked - 1));
        marks.append(mark);
    }
    setExtraSelections(marks);
}

void CodeEditor::paintNumbers(QPaintEvent *event)
{
    QPainter painter(m_numbers);
    painter.fillRect(event->rect(), palette().color(QPalette::Window));
    QTextBlock block = firstVisibleBlock();
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    const int width = m_numbers->width() - 4;
    while (block.isValid() && top <= event->rect().bottom()) {
        const int height = qRound(blockBoundingRect(block).height());
        if (block.isVisible() && top + height >= event->rect().top()) {
            const int number = block.blockNumber() + 1;
            if (number == m_marked) {
                painter.fillRect(0, top, m_numbers->width(), height, markColour());
                painter.setPen(Qt::darkRed);
            } else {
                painter.setPen(palette().color(QPalette::PlaceholderText));
            }
            painter.drawText(0, top, width, height, Qt::AlignRight | Qt::AlignVCenter,
                             QString::number(number));
        }
        block = block.next();
        top += height;
    }
}
