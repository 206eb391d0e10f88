// SPDX-License-Identifier: MIT
// The find bar under the traffic display: a text, or bytes in hexadecimal, found forward or
// backward from the match shown, case-sensitive or not, the search going on past the end from
// the start. Typing searches as it goes, from where the last match began.
//
// The search runs on the window thread between the reads of the line: a slice of the display
// at a time, continued on the next turn of the event loop, so a display of tens of megabytes
// searched for what is not there never holds the bytes back that arrive meanwhile.
//
// Hidden at start; shown, it makes the window taller by its row, so the display keeps its size.
#pragma once

#include "traffic/TrafficText.h"

#include <QFrame>
#include <QList>
#include <QTimer>

#include <optional>

class DisplayFormatter;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QShortcut;
class QToolButton;
class TrafficView;

class FindBar : public QFrame
{
    Q_OBJECT

public:
    // `shownBy` fills the display: bytes are searched as the text it shows them as.
    FindBar(TrafficView *view, const DisplayFormatter &shownBy, QWidget *parent = nullptr);

    // Ctrl+F opens the bar and puts the focus in its text; F3 and Shift+F3 find the next and
    // the previous match.
    void addShortcutsTo(QWidget *window);
    // Keys another part of the window has taken for itself: the find bar's shortcuts on them are
    // off until they are given back (an empty list gives all back).
    void yieldKeys(const QList<QKeySequence> &taken);

    void open();
    void close();
    void findNext();
    void findPrevious();

    QString statusText() const;
    bool searching() const { return m_search.has_value(); }

    // Characters one turn of the event loop reads at the most: a few milliseconds.
    static constexpr qsizetype SliceCharacters = 1 << 18;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void setShown(bool shown);
    // The text to look for, or nothing and the reason in the status.
    std::optional<QString> needle();
    void start(TextPosition from, bool backward);
    void searchAsTyped();
    void step();
    void setStatus(const QString &text);
    TextPosition viewTop() const;

    TrafficView *m_view;
    const DisplayFormatter &m_shownBy;
    QLineEdit *m_edit;
    QCheckBox *m_hex;
    QCheckBox *m_matchCase;
    QPushButton *m_previous;
    QPushButton *m_next;
    QToolButton *m_close;
    QLabel *m_status;
    QList<QShortcut *> m_shortcuts; // find, next, previous, on the window
    std::optional<TextSearch> m_search;
    QTimer m_slice;
    TextPosition m_origin; // where typing searches from
    bool m_backward = false;
};
