// SPDX-License-Identifier: MIT
// Where R2K mode gets its keyboard injector from. The desktop's own injector is the default:
// the desktop portal on a Wayland session, XTest on X11. Tests put a recording one in its place.
#pragma once

#include "modes/KeyEvent.h"

#include <QString>

#include <functional>
#include <memory>

namespace KeyInjection {

struct Opened
{
    std::unique_ptr<KeyInjector> injector; // null when none can be had
    QString problem; // why none can be had, for the user; empty when the user called it off
    QString notice; // what the user should know before typing starts; usually empty
    QString route; // the line of the mode's notice that says which way the keys go
};

// What the user sees while the desktop asks for consent, which may take as long as the user
// takes. `begin` hands over how to call the wait off; `end` comes once it is over either way.
class ConsentWait
{
public:
    virtual ~ConsentWait() = default;
    virtual void begin(std::function<void()> cancel) = 0;
    virtual void end() = 0;
};

using Factory = std::function<Opened()>;

// An empty factory puts the desktop's injector back.
void setFactory(Factory factory);

Opened open(ConsentWait *wait = nullptr);

// The injector of the running desktop session.
Opened openDesktop(ConsentWait *wait = nullptr);

// A Wayland session, where XTest reaches only XWayland windows.
bool isWaylandSession();

} // namespace KeyInjection
