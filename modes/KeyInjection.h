// SPDX-License-Identifier: MIT
// Where R2K mode gets its keyboard injector from. The desktop's own injector is the default;
// tests put a recording one in its place.
#pragma once

#include "modes/KeyEvent.h"

#include <QString>

#include <functional>
#include <memory>

namespace KeyInjection {

struct Opened
{
    std::unique_ptr<KeyInjector> injector; // null when none can be had
    QString problem; // why none can be had, for the user
    QString notice; // what the user should know before typing starts; usually empty
};

using Factory = std::function<Opened()>;

// An empty factory puts the desktop's injector back.
void setFactory(Factory factory);

Opened open();

// The injector of the running desktop session (X11 through XTest).
Opened openDesktop();

} // namespace KeyInjection
