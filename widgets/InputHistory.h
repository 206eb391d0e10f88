// SPDX-License-Identifier: MIT
// The messages sent from an input box in this run, recalled with Up and Down as a shell does:
// Up on the box's first line goes one message back, Down on its last line one forward, and
// Down past the newest brings back what was being typed before the first Up. A recalled
// message that is edited keeps its edits while the user moves on, until a message is sent.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

class QKeyEvent;
class QPlainTextEdit;

class InputHistory
{
public:
    static constexpr qsizetype Capacity = 100;

    // A message that went out. The oldest is forgotten beyond the capacity; an empty message
    // and one that repeats the newest add nothing, so Up is never a step to the same text.
    // Recalling starts again from the newest.
    void add(const QString &message);

    // Up or Down (no modifier, so Shift still selects) at the edge line of `box` recalls a
    // message into it, caret at its end; true when the key was taken for that.
    bool handleKey(QPlainTextEdit *box, const QKeyEvent *event);

private:
    QStringList m_messages; // oldest first
    qsizetype m_recalled = -1; // the message in the box; -1: the user's own text
    QHash<qsizetype, QString> m_edited; // by m_recalled: the texts the user left in the box
};
