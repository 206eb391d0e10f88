// SPDX-License-Identifier: MIT
// A pair of arrow buttons that steps a number in the text box beside it. The box stays free
// text; only the arrows keep the value within their range.
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

class UpDown : public QWidget
{
    Q_OBJECT

public:
    explicit UpDown(QWidget *parent = nullptr);

    void setAssociate(QLineEdit *box);
    void setRange(int min, int max);
    int minimum() const { return m_min; }
    int maximum() const { return m_max; }
    int position() const { return m_position; }
    void setPosition(int position);

public slots:
    void stepUp() { step(1); }
    void stepDown() { step(-1); }

private:
    void step(int delta);

    QLineEdit *m_box = nullptr;
    QToolButton *m_up;
    QToolButton *m_down;
    int m_min = 0;
    int m_max = 100;
    int m_position = 0;
};
