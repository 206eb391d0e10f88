// SPDX-License-Identifier: MIT
// The translation of one received byte into keyboard events, by the digit, letter,
// punctuation and control tables.
#pragma once

#include "modes/KeyEvent.h"

#include <cstddef>
#include <cstdint>

// Hands each event to `injector` the moment it is formed. The events are the logical ones of
// the tables: a character's own key is pressed and never released here (see KeyState).
void ByteToKeyEvents(uint8_t byte, KeyInjector &injector);

// A run of received bytes as R2K mode types it: each byte's events are sent off (flushed)
// before the next byte's are formed, so the desktop sees them in arrival order at once.
void typeBytes(const uint8_t *bytes, size_t count, KeyInjector &injector);

namespace UsLayout {

// Set-1 scan code to the virtual key of that key on a US keyboard; 0 where no key has that
// code. Stands in for the Windows scan-code-to-virtual-key mapping of the active layout.
uint8_t virtualKeyForScanCode(uint8_t scanCode);

} // namespace UsLayout
