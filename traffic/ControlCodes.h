// SPDX-License-Identifier: MIT
// The 32 control codes 00h-1Fh: their names, and the IBM PC/AT glyphs with which they stand in
// the text boxes that compose bytes for the line. One table serves both directions, so a code
// put into a box always comes back as the same byte.
#pragma once

#include <QChar>
#include <QString>

#include <cstdint>
#include <optional>

namespace ControlCodes {

inline constexpr int Count = 32;

struct Entry
{
    uint8_t code;
    const char *name; // "NULL", "SOH", ...
    char16_t glyph; // how the Terminal font draws the code; 0 for 00h, which has none
};

const Entry &entry(uint8_t code); // code < Count

// "01h - SOH": how the picker names a code.
QString caption(uint8_t code);

// The glyph that stands for 01h-1Fh in a box; nothing for 00h and for codes above 1Fh.
std::optional<QChar> glyphFor(uint8_t code);

// The code a glyph stands for; nothing for any other character.
std::optional<uint8_t> codeForGlyph(QChar c);

} // namespace ControlCodes
