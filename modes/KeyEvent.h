// SPDX-License-Identifier: MIT
// One synthetic keyboard event and whatever puts such events into the desktop's input stream.
// The three values are those of the Windows keyboard interface the key tables are written in,
// so the tables read the same on every platform and only the injector knows the desktop.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>

namespace KeyFlags {
inline constexpr uint8_t Press = 0;
inline constexpr uint8_t Release = 2;
} // namespace KeyFlags

// Windows virtual-key codes the tables name.
namespace VirtualKey {
inline constexpr uint8_t Backspace = 0x08;
inline constexpr uint8_t Tab = 0x09;
inline constexpr uint8_t Clear = 0x0C;
inline constexpr uint8_t Enter = 0x0D;
inline constexpr uint8_t Shift = 0x10;
inline constexpr uint8_t Ctrl = 0x11;
inline constexpr uint8_t Alt = 0x12;
inline constexpr uint8_t CapsLock = 0x14;
inline constexpr uint8_t Esc = 0x1B;
inline constexpr uint8_t Space = 0x20;
inline constexpr uint8_t Home = 0x24;
inline constexpr uint8_t Print = 0x2A;
inline constexpr uint8_t Insert = 0x2D;
inline constexpr uint8_t F1 = 0x70;
} // namespace VirtualKey

struct KeyEvent
{
    uint8_t virtualKey = 0;
    uint8_t scanCode = 0; // set-1 scan code, 0 when none is given
    uint8_t flags = KeyFlags::Press;

    bool isRelease() const { return flags == KeyFlags::Release; }
    friend bool operator==(const KeyEvent &, const KeyEvent &) = default;
};

class KeyInjector
{
public:
    using LostHandler = std::function<void(const QString &why)>;

    virtual ~KeyInjector() = default;
    // Delivered to the focused window in the order of the calls.
    virtual void inject(const KeyEvent &event) = 0;
    // The events so far are on their way; called once the events of a byte are all given.
    virtual void flush() { }

    // Told once when the desktop takes the way to the keyboard away while the mode runs;
    // what is injected after that goes nowhere.
    void onLost(LostHandler handler) { m_lost = std::move(handler); }

protected:
    void reportLost(const QString &why)
    {
        if (m_lost)
            m_lost(why);
    }

private:
    LostHandler m_lost;
};
