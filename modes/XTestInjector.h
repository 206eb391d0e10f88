// SPDX-License-Identifier: MIT
// Keyboard events into an X11 session (and its XWayland windows) through the XTest extension,
// which needs no privileges. Native Wayland windows never see these events.
#pragma once

#include "modes/KeyInjection.h"

#include <array>

struct _XDisplay;

class XTestInjector : public KeyInjector
{
public:
    // Connects to the display the session names; tells why when that cannot be done.
    static KeyInjection::Opened open();

    ~XTestInjector() override;
    XTestInjector(const XTestInjector &) = delete;
    XTestInjector &operator=(const XTestInjector &) = delete;

    void inject(const KeyEvent &event) override;
    void flush() override;

private:
    explicit XTestInjector(_XDisplay *display) : m_display(display) { }

    _XDisplay *m_display;
    // Virtual key to the keycode of the running server, 0 where its keymap has no such key.
    // Looked up once at the start: keysym lookups per event would be wasted on a fixed map.
    std::array<unsigned char, 256> m_keycodes {};
};
