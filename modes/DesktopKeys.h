// SPDX-License-Identifier: MIT
// How a key of the tables is named to a desktop that is not Windows: by an X keysym, or by the
// Linux evdev code of the key.
//
// A table row that carries a scan code means "whatever this key types in the active layout"
// (the punctuation rows), and the set-1 scan codes of the main key block are the evdev codes,
// so such a key goes by its code. Every other row names the key by what it is (a virtual key):
// that goes by its keysym, so a letter types that letter on any layout, as on Windows.
#pragma once

#include "modes/KeyEvent.h"

#include <cstdint>
#include <span>

namespace DesktopKeys {

struct KeysymOfKey
{
    uint8_t virtualKey;
    // The keysym of the key on a US keyboard, unshifted (letters, digits and the OEM keys are
    // found by it and the tables add Shift), and what stands in where a keymap lacks the first;
    // 0 when nothing does.
    uint32_t keysyms[2];
};

// Every virtual key the tables can give, with its keysyms.
std::span<const KeysymOfKey> keysymTable();

// The keysym of a virtual key, 0 where the tables never give it.
uint32_t keysymFor(uint8_t virtualKey);

struct DesktopKey
{
    enum class Kind { None, Keycode, Keysym };
    Kind kind = Kind::None;
    uint32_t code = 0;
    friend bool operator==(const DesktopKey &, const DesktopKey &) = default;
};

// The evdev keycode of the event's scan code where the row carries one that names this very
// key on a US keyboard, else the keysym of its virtual key; None where neither is known.
DesktopKey desktopKeyFor(const KeyEvent &event);

} // namespace DesktopKeys
