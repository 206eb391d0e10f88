// SPDX-License-Identifier: MIT
#include "ControlCodes.h"

#include <array>

namespace ControlCodes {

namespace {

constexpr Entry Table[Count] = {
        {0x00, "NULL", 0},        {0x01, "SOH", u'\u263A'}, {0x02, "STX", u'\u263B'},
        {0x03, "ETX", u'\u2665'}, {0x04, "EOT", u'\u2666'}, {0x05, "ENQ", u'\u2663'},
        {0x06, "ACK", u'\u2660'}, {0x07, "BEL", u'\u2022'}, {0x08, "BS", u'\u25D8'},
        {0x09, "HT", u'\u25CB'},  {0x0A, "LF", u'\u25D9'},  {0x0B, "VT", u'\u2642'},
        {0x0C, "FF", u'\u2640'},  {0x0D, "CR", u'\u266A'},  {0x0E, "SO", u'\u266B'},
        {0x0F, "SI", u'\u263C'},  {0x10, "DLE", u'\u25BA'}, {0x11, "DC1", u'\u25C4'},
        {0x12, "DC2", u'\u2195'}, {0x13, "DC3", u'\u203C'}, {0x14, "DC4", u'\u00B6'},
        {0x15, "NAK", u'\u00A7'}, {0x16, "SYN", u'\u25AC'}, {0x17, "ETB", u'\u21A8'},
        {0x18, "CAN", u'\u2191'}, {0x19, "EM", u'\u2193'},  {0x1A, "SUB", u'\u2192'},
        {0x1B, "ESC", u'\u2190'}, {0x1C, "FS", u'\u221F'},  {0x1D, "GS", u'\u2194'},
        {0x1E, "RS", u'\u25B2'},  {0x1F, "US", u'\u25BC'},
};

static_assert([] {
    for (int i = 0; i < Count; ++i) {
        if (Table[i].code != i)
            return false;
    }
    return true;
}());

} // namespace

const Entry &entry(uint8_t code) { return Table[code < Count ? code : 0]; }

QString caption(uint8_t code)
{
    const QString hex = QStringLiteral("%1").arg(unsigned(code), 2, 16, QLatin1Char('0')).toUpper();
    return hex + QStringLiteral("h - ") + QLatin1String(entry(code).name);
}

std::optional<QChar> glyphFor(uint8_t code)
{
    if (code == 0 || code >= Count)
        return std::nullopt;
    return QChar(Table[code].glyph);
}

std::optional<uint8_t> codeForGlyph(QChar c)
{
    // Box texts are converted a character at a time; a scan of 31 entries is cheap enough
    // and keeps the table the only place the pairs are written down.
    for (int i = 1; i < Count; ++i) {
        if (Table[i].glyph == c.unicode())
            return uint8_t(i);
    }
    return std::nullopt;
}

} // namespace ControlCodes
