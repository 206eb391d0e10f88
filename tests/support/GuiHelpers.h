// SPDX-License-Identifier: MIT
// What the window tests share: fresh forms per test, recorded message boxes, answered dialogs.
#pragma once

#include "main/MessageBoxes.h"

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
};

// Every form, mode flag and port setting back to what a fresh start has.
void freshStart();
void tearDownForms();

// Runs `answer` on the next modal dialog as soon as it is up (from inside its exec()).
void answerNextModal(std::function<void(QWidget *)> answer, int timeoutMs = 5000);

// Spins the event loop until `done` holds or the time runs out; true when it held.
bool waitUntil(const std::function<bool()> &done, int timeoutMs = 5000);

// Whether a control named in the mode table (menu, menu item or button) is enabled.
bool controlEnabled(const QString &objectName);
