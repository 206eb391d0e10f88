// SPDX-License-Identifier: MIT
// Between the key tables and the desktop: turns each logical key press into the press and
// release a real keyboard gives, and keeps the modifiers that are meant to stay down.
//
// The tables press a character's key and never release it. On Windows that is harmless; on
// X11 a key pressed and never released stays down and auto-repeats, typing the character over
// and over. So every key is released right after its press, except Shift, Ctrl and Alt: Shift
// is bracketed by the tables themselves, and Ctrl and Alt stay down on purpose from 05h/03h
// until 06h/04h. Whatever modifier is still down when the mode ends is released then, so Break
// never leaves the desktop with Ctrl stuck.
#pragma once

#include "modes/KeyEvent.h"

#include <vector>

class KeyState : public KeyInjector
{
public:
    explicit KeyState(KeyInjector &target) : m_target(target) { }
    ~KeyState() override { releaseAll(); }
    KeyState(const KeyState &) = delete;
    KeyState &operator=(const KeyState &) = delete;

    void inject(const KeyEvent &event) override;
    void flush() override { m_target.flush(); }

    // Releases every modifier still down, the last pressed first, and flushes.
    void releaseAll();

    bool isHeld(uint8_t virtualKey) const;

private:
    KeyInjector &m_target;
    std::vector<KeyEvent> m_held; // the presses of modifiers not yet released, in order
};
