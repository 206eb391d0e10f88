// SPDX-License-Identifier: MIT
// Every message box and beep of the program passes through here, so that tests can answer
// them without a modal loop and read what the user would have read.
#pragma once

#include <QString>

#include <functional>
#include <memory>

class QMessageBox;
class QWidget;

namespace MessageBoxes {

enum class Kind { Plain, Error, Beep, Question };

struct Shown
{
    Kind kind;
    QString title;
    QString text;
};

// With a hook set nothing is shown: the hook gets what would have been, and a question gets
// the answer `answer` gives (否 without one).
using Hook = std::function<void(const Shown &)>;
using Answer = std::function<bool(const Shown &)>;
void setHook(Hook hook, Answer answer = {});

// The caption of every box, as a user expects the program's name there.
QString applicationTitle();

// A plain box with an OK button.
void message(QWidget *parent, const QString &text);

// A box that asks, with 是 and 否 (Esc is 否): true for 是.
bool question(QWidget *parent, const QString &text);

// The box for an error that ends a handler: stop icon, the program's name as caption and the
// text with a full stop appended where it has none.
void errorBox(QWidget *parent, const QString &text);
QString withFullStop(const QString &text);

// The box message() or errorBox() shows, built but not shown: the pictures of the manual are
// drawn from it.
std::unique_ptr<QMessageBox> build(Kind kind, QWidget *parent, const QString &text);

// The desktop's bell. It sounds before each port failure box; the window is not frozen to
// imitate a long tone.
void beep();

} // namespace MessageBoxes
