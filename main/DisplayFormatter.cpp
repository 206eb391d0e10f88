// SPDX-License-Identifier: MIT
#include "DisplayFormatter.h"

#include "main/Cp950.h"
#include "main/ModeState.h"

namespace DisplayFormatter {

namespace {

const char *const Names[32] = {
        "<NULL>", "<SOH>", "<STX>", "<ETX>", "<EOT>", "<ENQ>", "<ACK>", "<BEL>",
        "<BS>",   "<HT>",  "<LF>",  "<VT>",  "<FF>",  "<CR>",  "<SO>",  "<SI>",
        "<DLE>",  "<DC1>", "<DC2>", "<DC3>", "<DC4>", "<NAK>", "<SYN>", "<ETB>",
        "<CAN>",  "<EM>",  "<SUB>", "<ESC>", "<FS>",  "<GS>",  "<RS>",  "<US>",
};

// DEL has no visible form of its own; the PC character set shows it as a house.
constexpr char16_t DelGlyph = 0x2302;
// A byte of 80h or above shown alone in the bracketed HEX styles: a lone byte is no character.
constexpr char16_t LoneHighByte = u'.';

const char16_t HexDigits[] = u"0123456789ABCDEF";

void appendHex(uint8_t b, QString &out)
{
    out += QChar(HexDigits[b >> 4]);
    out += QChar(HexDigits[b & 0x0F]);
}

// What a byte stands for on its own, inside the brackets of the HEX styles.
void appendCharacterOf(uint8_t b, QString &out)
{
    if (b < 0x20)
        out += QLatin1String(Names[b]);
    else if (b == 0x7F)
        out += QChar(DelGlyph);
    else if (b >= 0x80)
        out += QChar(LoneHighByte);
    else
        out += QChar(char16_t(b));
}

void appendHexForm(uint8_t b, const DisplaySettings &s, QString &out)
{
    switch (s.hexStyle) {
    case HexStyle::HEXOnly:
        appendHex(b, out);
        break;
    case HexStyle::HexAnsi:
        appendHex(b, out);
        out += u'(';
        appendCharacterOf(b, out);
        out += u')';
        break;
    case HexStyle::AnsiHex:
        appendCharacterOf(b, out);
        out += u'(';
        appendHex(b, out);
        out += u')';
        break;
    }
    out += u' ';
    if (breaksLine(b, s))
        out += QChar(LineBreak);
}

} // namespace

QString ControlCodeNames(uint8_t code)
{
    return code < 32 ? QString::fromLatin1(Names[code]) : QString();
}

bool breaksLine(uint8_t b, const DisplaySettings &s)
{
    switch (s.lineBreakRule) {
    case LineBreakRule::LF:
        return b == 0x0A;
    case LineBreakRule::CR:
        return b == 0x0D;
    case LineBreakRule::UserDefineCRLF:
        return s.userBreakByte && b == *s.userBreakByte;
    case LineBreakRule::NoCR:
        break;
    }
    return false;
}

void appendByte(uint8_t b, bool hex, const DisplaySettings &s, QString &out)
{
    if (hex) {
        appendHexForm(b, s, out);
        return;
    }
    if (LeadBytePending == 0 && b < 0x20) {
        out += QLatin1String(Names[b]);
        if (breaksLine(b, s))
            out += QChar(LineBreak);
        return;
    }
    if (LeadBytePending == 0 && b < 0x80) {
        out += b == 0x7F ? QChar(DelGlyph) : QChar(char16_t(b));
        // Only the user rule can name a printable byte; LF and CR are no printable bytes.
        if (s.lineBreakRule == LineBreakRule::UserDefineCRLF && breaksLine(b, s))
            out += QChar(LineBreak);
        return;
    }
    // A byte of 80h or above opens a pair; whatever comes next closes it, uninspected.
    PendingLeadBytes.append(char(b));
    if (LeadBytePending == 0) {
        LeadBytePending = 1;
        return;
    }
    LeadBytePending = 0;
    out += Cp950::decodePair(uint8_t(PendingLeadBytes[0]), uint8_t(PendingLeadBytes[1]));
    PendingLeadBytes.clear();
}

void reset()
{
    LeadBytePending = 0;
    PendingLeadBytes.clear();
}

namespace {
SettingsSource settingsSource = nullptr;
}

void setSettingsSource(SettingsSource source) { settingsSource = source; }

DisplaySettings currentSettings() { return settingsSource ? settingsSource() : DisplaySettings {}; }

void appendShown(const uint8_t *bytes, size_t count, QString &out)
{
    const DisplaySettings settings = currentSettings();
    const bool hex = ModeState::HexDisplayMode == 1;
    for (size_t i = 0; i < count; ++i)
        appendByte(bytes[i], hex, settings, out);
}

} // namespace DisplayFormatter
