// SPDX-License-Identifier: MIT
#include "DesktopKeys.h"

#include "modes/ByteToKeyEvents.h"

#include <algorithm>
#include <iterator>

namespace DesktopKeys {

namespace {

// X keysym values (X11/keysym.h), written out so that the tables need no X headers.
constexpr KeysymOfKey KeysymTable[] = {
        {0x08, {0xff08}}, // BackSpace
        {0x09, {0xff09}}, // Tab
        // Clear is the unlit keypad 5; many keymaps have only its KP_Begin.
        {0x0C, {0xff0b, 0xff9d}}, // Clear, KP_Begin
        {0x0D, {0xff0d}}, // Return
        {0x10, {0xffe1}}, // Shift_L
        {0x11, {0xffe3}}, // Control_L
        {0x12, {0xffe9, 0xffe7}}, // Alt_L, Meta_L
        {0x14, {0xffe5}}, // Caps_Lock
        {0x1B, {0xff1b}}, // Escape
        {0x20, {0x0020}}, // space
        {0x24, {0xff50}}, // Home
        {0x2A, {0xff61}}, // Print
        {0x2D, {0xff63}}, // Insert
        {0x30, {'0'}},
        {0x31, {'1'}},
        {0x32, {'2'}},
        {0x33, {'3'}},
        {0x34, {'4'}},
        {0x35, {'5'}},
        {0x36, {'6'}},
        {0x37, {'7'}},
        {0x38, {'8'}},
        {0x39, {'9'}},
        {0x41, {'a'}},
        {0x42, {'b'}},
        {0x43, {'c'}},
        {0x44, {'d'}},
        {0x45, {'e'}},
        {0x46, {'f'}},
        {0x47, {'g'}},
        {0x48, {'h'}},
        {0x49, {'i'}},
        {0x4A, {'j'}},
        {0x4B, {'k'}},
        {0x4C, {'l'}},
        {0x4D, {'m'}},
        {0x4E, {'n'}},
        {0x4F, {'o'}},
        {0x50, {'p'}},
        {0x51, {'q'}},
        {0x52, {'r'}},
        {0x53, {'s'}},
        {0x54, {'t'}},
        {0x55, {'u'}},
        {0x56, {'v'}},
        {0x57, {'w'}},
        {0x58, {'x'}},
        {0x59, {'y'}},
        {0x5A, {'z'}},
        {0x70, {0xffbe}}, // F1; F2 to F12 follow it
        {0x71, {0xffbf}},
        {0x72, {0xffc0}},
        {0x73, {0xffc1}},
        {0x74, {0xffc2}},
        {0x75, {0xffc3}},
        {0x76, {0xffc4}},
        {0x77, {0xffc5}},
        {0x78, {0xffc6}},
        {0x79, {0xffc7}},
        {0x7A, {0xffc8}},
        {0x7B, {0xffc9}},
        {0xBA, {';'}},
        {0xBB, {'='}},
        {0xBC, {','}},
        {0xBD, {'-'}},
        {0xBE, {'.'}},
        {0xBF, {'/'}},
        {0xC0, {'`'}},
        {0xDB, {'['}},
        {0xDC, {'\\'}},
        {0xDD, {']'}},
        {0xDE, {'\''}},
};

// Set-1 scan codes from here on are not main-block keys (keypad and the keys beyond it), and
// their evdev codes part ways with them from 54h.
constexpr uint8_t LastMainBlockScanCode = 0x53;

} // namespace

std::span<const KeysymOfKey> keysymTable() { return KeysymTable; }

uint32_t keysymFor(uint8_t virtualKey)
{
    const auto *key =
            std::find_if(std::begin(KeysymTable), std::end(KeysymTable),
                         [virtualKey](const KeysymOfKey &k) { return k.virtualKey == virtualKey; });
    return key == std::end(KeysymTable) ? 0 : key->keysyms[0];
}

DesktopKey desktopKeyFor(const KeyEvent &event)
{
    // 01h's Enter carries the scan code of SysRq: a code that names another key than the
    // event's own is no name for it.
    if (event.scanCode != 0 && event.scanCode <= LastMainBlockScanCode
        && UsLayout::virtualKeyForScanCode(event.scanCode) == event.virtualKey) {
        return {DesktopKey::Kind::Keycode, event.scanCode};
    }
    if (const uint32_t keysym = keysymFor(event.virtualKey))
        return {DesktopKey::Kind::Keysym, keysym};
    return {};
}

} // namespace DesktopKeys
