// SPDX-License-Identifier: MIT
#include "DisplayFormatter.h"

#include "traffic/ControlCodes.h"
#include "traffic/Cp950.h"

#include <array>

namespace {

// The names of the control-code table, as the display writes them; made once, since the
// display asks for them per byte.
const std::array<QString, ControlCodes::Count> &names()
{
    static const std::array<QString, ControlCodes::Count> table = [] {
        std::array<QString, ControlCodes::Count> t;
        for (int code = 0; code < ControlCodes::Count; ++code)
            t[size_t(code)] = u'<' + QLatin1String(ControlCodes::entry(uint8_t(code)).name) + u'>';
        return t;
    }();
    return table;
}

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
        out += names()[b];
    else if (b == 0x7F)
        out += QChar(DelGlyph);
    else if (b >= 0x80)
        out += QChar(LoneHighByte);
    else
        out += QChar(char16_t(b));
}

} // namespace

void DisplayFormatter::appendHexForm(uint8_t b, QString &out) const
{
    const DisplaySettings &s = m_settings;
    switch (s.hexStyle) {
    case HexStyle::HEXOnly:
    case HexStyle::HexText:
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

QString DisplayFormatter::ControlCodeNames(uint8_t code)
{
    return code < ControlCodes::Count ? names()[code] : QString();
}

bool DisplayFormatter::breaksLine(uint8_t b, const DisplaySettings &s)
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

void DisplayFormatter::appendByte(uint8_t b, QString &out)
{
    if (m_hex) {
        appendHexForm(b, out);
        return;
    }
    const bool pending = leadBytePending();
    if (!pending && b < 0x20) {
        out += names()[b];
        if (breaksLine(b, m_settings))
            out += QChar(LineBreak);
        return;
    }
    if (!pending && b < 0x80) {
        out += b == 0x7F ? QChar(DelGlyph) : QChar(char16_t(b));
        // Only the user rule can name a printable byte; LF and CR are no printable bytes.
        if (m_settings.lineBreakRule == LineBreakRule::UserDefineCRLF && breaksLine(b, m_settings))
            out += QChar(LineBreak);
        return;
    }
    // A byte of 80h or above opens a pair; whatever comes next closes it, uninspected.
    if (!pending) {
        m_pendingLead.append(char(b));
        return;
    }
    out += Cp950::decodePair(uint8_t(m_pendingLead[0]), b);
    // Keeps its byte of room: clear() would give the buffer back, and every pair of Chinese
    // text would allocate one anew.
    m_pendingLead.truncate(0);
}

void DisplayFormatter::appendHexOnly(const uint8_t *bytes, size_t count, QString &out) const
{
    // The commonest HEX style writes three characters a byte, and a line break after the
    // rule's byte; appending them one QChar at a time cost more than the rest of the display.
    int breakByte = -1;
    switch (m_settings.lineBreakRule) {
    case LineBreakRule::LF:
        breakByte = 0x0A;
        break;
    case LineBreakRule::CR:
        breakByte = 0x0D;
        break;
    case LineBreakRule::UserDefineCRLF:
        if (m_settings.userBreakByte)
            breakByte = *m_settings.userBreakByte;
        break;
    case LineBreakRule::NoCR:
        break;
    }
    const qsizetype start = out.size();
    out.resize(start + qsizetype(count) * 4); // room for a break after every byte
    char16_t *const begin = reinterpret_cast<char16_t *>(out.data()) + start;
    char16_t *p = begin;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        p[0] = HexDigits[b >> 4];
        p[1] = HexDigits[b & 0x0F];
        p[2] = u' ';
        p += 3;
        if (b == breakByte)
            *p++ = LineBreak;
    }
    out.truncate(start + (p - begin));
}

void DisplayFormatter::append(const uint8_t *bytes, size_t count, QString &out)
{
    if (m_hex && m_settings.hexStyle == HexStyle::HEXOnly) {
        appendHexOnly(bytes, count, out);
        return;
    }
    for (size_t i = 0; i < count; ++i)
        appendByte(bytes[i], out);
}

void DisplayFormatter::append(const QByteArray &bytes, QString &out)
{
    append(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()), out);
}
