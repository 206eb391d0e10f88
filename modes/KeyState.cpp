// SPDX-License-Identifier: MIT
#include "KeyState.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr uint8_t ModifierKeys[] = {VirtualKey::Shift, VirtualKey::Ctrl, VirtualKey::Alt};

bool isModifier(uint8_t virtualKey)
{
    return std::find(std::begin(ModifierKeys), std::end(ModifierKeys), virtualKey)
            != std::end(ModifierKeys);
}

} // namespace

bool KeyState::isHeld(uint8_t virtualKey) const
{
    return std::any_of(m_held.begin(), m_held.end(),
                       [virtualKey](const KeyEvent &e) { return e.virtualKey == virtualKey; });
}

void KeyState::inject(const KeyEvent &event)
{
    if (event.isRelease()) {
        // Only what we hold is released: a release of a key we never pressed would lift a key
        // the user holds on the real keyboard.
        const auto held = std::find_if(m_held.begin(), m_held.end(), [&](const KeyEvent &e) {
            return e.virtualKey == event.virtualKey;
        });
        if (held == m_held.end())
            return;
        m_target.inject({held->virtualKey, held->scanCode, KeyFlags::Release});
        m_held.erase(held);
        return;
    }
    if (!isModifier(event.virtualKey)) {
        m_target.inject(event);
        m_target.inject({event.virtualKey, event.scanCode, KeyFlags::Release});
        return;
    }
    // A second 03h while Alt is down changes nothing: the key is down already.
    if (isHeld(event.virtualKey))
        return;
    m_target.inject(event);
    m_held.push_back(event);
}

void KeyState::releaseAll()
{
    if (m_held.empty())
        return;
    for (auto it = m_held.rbegin(); it != m_held.rend(); ++it)
        m_target.inject({it->virtualKey, it->scanCode, KeyFlags::Release});
    m_held.clear();
    m_target.flush();
}
