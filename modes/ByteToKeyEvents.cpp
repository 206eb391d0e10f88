// SPDX-License-Identifier: MIT
#include "ByteToKeyEvents.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace {

using namespace VirtualKey;

struct PunctuationKey
{
    uint8_t byte;
    uint8_t scanCode; // the US key that carries the character
    bool shift;
};

constexpr PunctuationKey PunctuationTable[] = {
        {0x21, 0x02, true},  {0x22, 0x28, true},  {0x23, 0x04, true},  {0x24, 0x05, true},
        {0x25, 0x06, true},  {0x26, 0x08, true},  {0x27, 0x28, false}, {0x28, 0x0A, true},
        {0x29, 0x0B, true},  {0x2A, 0x09, true},  {0x2B, 0x0D, true},  {0x2C, 0x33, false},
        {0x2D, 0x0C, false}, {0x2E, 0x34, false}, {0x2F, 0x35, false}, {0x3A, 0x27, true},
        {0x3B, 0x27, false}, {0x3C, 0x33, true},  {0x3D, 0x0D, false}, {0x3E, 0x34, true},
        {0x3F, 0x35, true},  {0x40, 0x03, true},  {0x5B, 0x1A, false}, {0x5C, 0x2B, false},
        {0x5D, 0x1B, false}, {0x5E, 0x07, true},  {0x5F, 0x0C, true},  {0x60, 0x29, false},
        {0x7B, 0x1A, true},  {0x7C, 0x2B, true},  {0x7D, 0x1B, true},  {0x7E, 0x29, true},
};

struct ControlKey
{
    uint8_t virtualKey; // 0: the code gives no event
    uint8_t scanCode;
    uint8_t flags;
};

constexpr uint8_t P = KeyFlags::Press;
constexpr uint8_t R = KeyFlags::Release;

// Indexed by the byte, 00h to 20h.
constexpr ControlKey ControlTable[0x21] = {
        {0, 0, P}, // NUL
        {Enter, 0x54, P}, // SOH
        {CapsLock, 0, P}, // STX
        {Alt, 0, P}, // ETX: Alt held for what follows
        {Alt, 0, R}, // EOT
        {Ctrl, 0, P}, // ENQ: Ctrl held for what follows
        {Ctrl, 0, R}, // ACK
        {Enter, 0, P}, // BEL
        {Backspace, 0, P}, // BS
        {Tab, 0, P}, // HT
        {0, 0, P}, // LF: CR already gave the Enter of a CR LF
        {Tab, 0, P}, // VT
        {Clear, 0, P}, // FF
        {Enter, 0, P}, // CR
        {Insert, 0, P}, // SO
        {Esc, 0, P}, // SI
        {0x7A, 0, P}, // DLE: F11
        {Home, 0, P}, // DC1
        {Print, 0, P}, // DC2
        {Backspace, 0, P}, // DC3
        {0, 0, P}, // DC4
        {0x7B, 0, P}, // NAK: F12
        {0x70, 0, P}, // SYN: F1
        {0x71, 0, P}, // ETB: F2
        {0x72, 0, P}, // CAN: F3
        {0x73, 0, P}, // EM: F4
        {0x74, 0, P}, // SUB: F5
        {0x75, 0, P}, // ESC: F6
        {0x76, 0, P}, // FS: F7
        {0x77, 0, P}, // GS: F8
        {0x78, 0, P}, // RS: F9
        {0x79, 0, P}, // US: F10
        {Space, 0, P}, // space
};

// Set-1 scan codes 00h..58h of the US arrangement; the keypad keys give their navigation keys,
// as the Windows mapping does without Num Lock.
constexpr uint8_t ScanToVirtualKey[0x59] = {
        0,    0x1B, 0x31, 0x32,
        0x33, 0x34, 0x35, 0x36, // 00 -, Esc, 1..6
        0x37, 0x38, 0x39, 0x30,
        0xBD, 0xBB, 0x08, 0x09, // 08 7 8 9 0 - = Backspace Tab
        0x51, 0x57, 0x45, 0x52,
        0x54, 0x59, 0x55, 0x49, // 10 Q W E R T Y U I
        0x4F, 0x50, 0xDB, 0xDD,
        0x0D, 0x11, 0x41, 0x53, // 18 O P [ ] Enter Ctrl A S
        0x44, 0x46, 0x47, 0x48,
        0x4A, 0x4B, 0x4C, 0xBA, // 20 D F G H J K L ;
        0xDE, 0xC0, 0x10, 0xDC,
        0x5A, 0x58, 0x43, 0x56, // 28 ' ` Shift \ Z X C V
        0x42, 0x4E, 0x4D, 0xBC,
        0xBE, 0xBF, 0x10, 0x6A, // 30 B N M , . / Shift keypad*
        0x12, 0x20, 0x14, 0x70,
        0x71, 0x72, 0x73, 0x74, // 38 Alt Space Caps F1..F5
        0x75, 0x76, 0x77, 0x78,
        0x79, 0x90, 0x91, 0x24, // 40 F6..F10 NumLock Scroll Home
        0x26, 0x21, 0x6D, 0x25,
        0x0C, 0x27, 0x6B, 0x23, // 48 Up PgUp keypad- Left Clear Right keypad+ End
        0x28, 0x22, 0x2D, 0x2E,
        0x2C, 0x00, 0xE2, 0x7A, // 50 Down PgDn Ins Del SysRq - <> F11
        0x7B, // 58 F12
};

void press(KeyInjector &injector, uint8_t virtualKey, uint8_t scanCode = 0)
{
    injector.inject({virtualKey, scanCode, KeyFlags::Press});
}

void shifted(KeyInjector &injector, uint8_t virtualKey, uint8_t scanCode = 0)
{
    injector.inject({Shift, 0, KeyFlags::Press});
    press(injector, virtualKey, scanCode);
    injector.inject({Shift, 0, KeyFlags::Release});
}

void digit(uint8_t b, KeyInjector &injector) { press(injector, b); }

void smallLetter(uint8_t b, KeyInjector &injector) { press(injector, uint8_t(b - 0x20)); }

void capitalLetter(uint8_t b, KeyInjector &injector) { shifted(injector, b); }

void punctuation(uint8_t b, KeyInjector &injector)
{
    const auto *key = std::find_if(std::begin(PunctuationTable), std::end(PunctuationTable),
                                   [b](const PunctuationKey &k) { return k.byte == b; });
    if (key == std::end(PunctuationTable))
        return;
    const uint8_t virtualKey = UsLayout::virtualKeyForScanCode(key->scanCode);
    if (key->shift)
        shifted(injector, virtualKey, key->scanCode);
    else
        press(injector, virtualKey, key->scanCode);
}

void control(uint8_t b, KeyInjector &injector)
{
    const ControlKey &key = ControlTable[b];
    if (key.virtualKey != 0)
        injector.inject({key.virtualKey, key.scanCode, key.flags});
}

void nothing(uint8_t, KeyInjector &) { }

struct Rule
{
    uint8_t first;
    uint8_t last;
    void (*translate)(uint8_t, KeyInjector &);
};

// The first rule whose range holds the byte decides.
constexpr Rule Rules[] = {
        {0x30, 0x39, digit},       {0x61, 0x7A, smallLetter}, {0x41, 0x5A, capitalLetter},
        {0x21, 0x2F, punctuation}, {0x3A, 0x40, punctuation}, {0x5B, 0x60, punctuation},
        {0x7B, 0x7E, punctuation}, {0x7F, 0x7F, nothing},     {0x00, 0x20, control},
        {0x80, 0xFF, nothing},
};

} // namespace

void ByteToKeyEvents(uint8_t byte, KeyInjector &injector)
{
    for (const Rule &rule : Rules) {
        if (byte >= rule.first && byte <= rule.last) {
            rule.translate(byte, injector);
            return;
        }
    }
}

void typeBytes(const uint8_t *bytes, size_t count, KeyInjector &injector)
{
    for (size_t i = 0; i < count; ++i) {
        ByteToKeyEvents(bytes[i], injector);
        injector.flush();
    }
}

namespace UsLayout {

uint8_t virtualKeyForScanCode(uint8_t scanCode)
{
    return scanCode < std::size(ScanToVirtualKey) ? ScanToVirtualKey[scanCode] : 0;
}

} // namespace UsLayout
