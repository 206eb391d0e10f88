// SPDX-License-Identifier: MIT
// The small modal box for a wait on something outside the program (a network server, the
// desktop's consent): the window is not taken for hung meanwhile, and the user can give up.
#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QString>

#include <functional>
#include <memory>

class QDialog;

class WaitBox
{
public:
    struct Look
    {
        QString objectName; // of the box, as tests and the manual's pictures find it
        QString text;
        QString buttonText;
        QString buttonObjectName;
    };

    // `callOff` runs when the user presses the button, Esc or the close box. The box comes up
    // after `showAfterMs` (0: at once), so that a wait that ends in a moment flashes nothing.
    WaitBox(Look look, std::function<void()> callOff, int showAfterMs);
    ~WaitBox();
    WaitBox(const WaitBox &) = delete;
    WaitBox &operator=(const WaitBox &) = delete;

    // One turn of events for a caller that polls. The user's input is taken only once the box
    // is up and modal: before, a click would reach the window and start something else.
    void processEvents();

    bool isShown() const { return m_box != nullptr; }

private:
    void show();

    Look m_look;
    std::function<void()> m_callOff;
    int m_showAfterMs;
    QElapsedTimer m_clock;
    std::unique_ptr<QDialog> m_box;
};
