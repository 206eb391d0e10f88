// SPDX-License-Identifier: MIT
// A plain-text editor for a script: its line numbers in a margin at the left, and one line that
// can be marked (where an error was raised) until the text is edited again.
#pragma once

#include <QPlainTextEdit>

class CodeEditor : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit CodeEditor(QWidget *parent = nullptr);

    // Marks line `line` (from 1) and shows it; 0 takes the mark away.
    void markLine(int line);
    int markedLine() const { return m_marked; }

    int numberAreaWidth() const;
    void paintNumbers(QPaintEvent *event);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateMargin();
    void updateMark();

    QWidget *m_numbers;
    int m_marked = 0;
};
