// SPDX-License-Identifier: MIT
// A signal lamp: a round light and its name beside it, as on a breakout box. It is a label so
// that its text and accessible name stay where screen readers and tests look for them; it only
// draws differently, since a framed, filled label reads as a button one could press.
#pragma once

#include <QColor>
#include <QLabel>

class Lamp : public QLabel
{
    Q_OBJECT

public:
    enum class State { Off, On, Unknown, Absent };

    explicit Lamp(const QString &name, QWidget *parent = nullptr);

    void setState(State state);
    State state() const { return m_state; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int diameter() const;

    State m_state = State::Absent;
};
