// SPDX-License-Identifier: MIT
#include "InputHistory.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTextCursor>

void InputHistory::add(const QString &message)
{
    m_recalled = -1;
    m_edited.clear();
    if (message.isEmpty() || (!m_messages.isEmpty() && m_messages.constLast() == message))
        return;
    m_messages.append(message);
    if (m_messages.size() > Capacity)
        m_messages.removeFirst();
}

bool InputHistory::handleKey(QPlainTextEdit *box, const QKeyEvent *event)
{
    const bool up = event->key() == Qt::Key_Up;
    if ((!up && event->key() != Qt::Key_Down)
        || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    // A line the caret can still move to (wrapped lines too) is the box's own business.
    QTextCursor probe = box->textCursor();
    if (probe.movePosition(up ? QTextCursor::Up : QTextCursor::Down))
        return false;

    qsizetype next;
    if (up) {
        if (m_recalled == 0 || m_messages.isEmpty())
            return false;
        next = m_recalled < 0 ? m_messages.size() - 1 : m_recalled - 1;
    } else {
        if (m_recalled < 0)
            return false;
        next = m_recalled + 1 < m_messages.size() ? m_recalled + 1 : -1;
    }
    const QString left = box->toPlainText();
    if (m_recalled < 0 || left != m_messages.at(m_recalled))
        m_edited.insert(m_recalled, left);
    else
        m_edited.remove(m_recalled);
    m_recalled = next;
    box->setPlainText(m_edited.value(next, next < 0 ? QString() : m_messages.at(next)));
    box->moveCursor(QTextCursor::End);
    return true;
}
