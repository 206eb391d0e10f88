// SPDX-License-Identifier: MIT
// What the window tests share: fresh forms per test, recorded message boxes, answered dialogs.
#pragma once

#include "widgets/MessageBoxes.h"

#include <QList>
#include <QString>

#include <functional>

class QWidget;

// Records every box and beep instead of showing it, for as long as it lives.
class MessageRecorder
{
public:
    MessageRecorder();
    ~MessageRecorder();
    QList<MessageBoxes::Shown> shown;
    QStringList texts(MessageBoxes::Kind kind) const;
    QString lastText() const;
    void clear() { shown.clear(); }
    // What a question is answered: 是 when true.
    bool answerYes = false;
    // Runs as each box is recorded, while the command that showed it still waits for it.
    std::function<void(const MessageBoxes::Shown &)> onShown;
};

// Every form, mode flag, port setting and the formatter back to what a fresh start has.
void freshStart();
void tearDownForms();

// Runs `answer` on the next modal dialog as soon as it is up (from inside its exec()).
void answerNextModal(std::function<void(QWidget *)> answer, int timeoutMs = 5000);

// Spins the event loop until `done` holds or the time runs out; true when it held.
bool waitUntil(const std::function<bool()> &done, int timeoutMs = 5000);

// Steps a test takes while a mode's loop runs: each action runs once, each wait is polled
// from the loop's own event dispatch until it holds. A wait that times out records the failure
// and asks the mode to stop, so no test hangs on a broken mode.
class ModeScript
{
public:
    ModeScript &then(std::function<void()> action);
    ModeScript &waitFor(std::function<bool()> condition, const QString &what, int timeoutMs = 5000);
    // Starts polling; call before the command that runs the mode.
    void start();
    bool finished() const { return m_next >= m_steps.size(); }
    QString failure() const { return m_failure; }

private:
    struct Step
    {
        std::function<void()> action;
        std::function<bool()> condition;
        QString what;
        int timeoutMs;
    };
    void poll();
    QList<Step> m_steps;
    qsizetype m_next = 0;
    qint64 m_stepStarted = -1;
    QString m_failure;
};

// Whether a control named in the mode table (menu, menu item or button) is enabled.
bool controlEnabled(const QString &objectName);
