// SPDX-License-Identifier: MIT
// The display formatter under any byte sequence, every break rule, every HEX style and both
// forms, fed in reads of any length with the Big5 pair state carried from one read to the next,
// and the form switched between reads as the ASCII/HEX command does in the middle of a session.
//
// Each read's text is walked against its bytes: every byte must be found in the text or be the
// lead byte that waits for its partner; nothing may be left over. The HEX-only form is exactly
// three characters a byte plus the breaks.
//
// Input: rule, user break (flag, byte), HEX style, cut seed, form mask, then the bytes.
#include "FuzzCheck.h"

#include "traffic/Cp950.h"
#include "traffic/DisplayFormatter.h"

#include <QString>

namespace {

DisplaySettings fuzzedSettings;

bool expectBreak(uint8_t b, bool hex)
{
    const DisplaySettings &s = fuzzedSettings;
    switch (s.lineBreakRule) {
    case LineBreakRule::CR:
        return b == 0x0D;
    case LineBreakRule::LF:
        return b == 0x0A;
    case LineBreakRule::UserDefineCRLF:
        // In the ASCII form a byte of 80h and above belongs to a pair and breaks no line.
        return s.userBreakByte && b == *s.userBreakByte && (hex || b < 0x80);
    case LineBreakRule::NoCR:
        return false;
    }
    return false;
}

QString hexOf(uint8_t b) { return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper(); }

// What a byte stands for inside the brackets of the HEX styles.
QString characterOf(uint8_t b)
{
    if (b < 0x20)
        return DisplayFormatter::ControlCodeNames(b);
    if (b == 0x7F)
        return QString(QChar(0x2302));
    if (b >= 0x80)
        return QStringLiteral(".");
    return QString(QChar(char16_t(b)));
}

// The one character a pair may show as, asked of the converter itself rather than the
// formatter's table: the character when the two bytes make exactly one, U+FFFD otherwise.
QChar characterOfPair(uint8_t lead, uint8_t trail)
{
    QByteArray pair;
    pair += char(lead);
    pair += char(trail);
    const QString s = Cp950::decode(pair);
    if (s.size() == 1 && s[0] != QChar(0x1A) && s[0] != QChar(0xFFFD))
        return s[0];
    return QChar(0xFFFD);
}

// Walks `text` along `bytes`; `pending` is the lead byte waiting when the read began (0: none)
// and is left at the one waiting when it ends.
void walk(const uint8_t *bytes, size_t count, bool hex, const QString &text, uint8_t &pending)
{
    qsizetype at = 0;
    const auto expect = [&](const QString &piece) {
        FUZZ_CHECK(text.mid(at, piece.size()) == piece);
        at += piece.size();
    };
    const auto expectLineBreak = [&](uint8_t b) {
        if (expectBreak(b, hex))
            expect(QString(QChar(DisplayFormatter::LineBreak)));
    };
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (hex) {
            switch (fuzzedSettings.hexStyle) {
            case HexStyle::HEXOnly:
            case HexStyle::HexText: // its dump lines are laid out around the formatter
                expect(hexOf(b) + u' ');
                break;
            case HexStyle::HexAnsi:
                expect(hexOf(b) + u'(' + characterOf(b) + u')' + u' ');
                break;
            case HexStyle::AnsiHex:
                expect(characterOf(b) + u'(' + hexOf(b) + u')' + u' ');
                break;
            }
            expectLineBreak(b);
        } else if (pending != 0) {
            expect(QString(characterOfPair(pending, b)));
            pending = 0;
        } else if (b >= 0x80) {
            pending = b;
        } else {
            expect(characterOf(b));
            expectLineBreak(b);
        }
    }
    FUZZ_CHECK(at == text.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input in(data, size);
    fuzzedSettings.lineBreakRule = LineBreakRule(in.take() % 4);
    const bool hasUserByte = in.take() & 1;
    const uint8_t userByte = in.take();
    fuzzedSettings.userBreakByte = hasUserByte ? std::optional<uint8_t>(userByte) : std::nullopt;
    fuzzedSettings.hexStyle = HexStyle(in.take() % 4);
    const uint8_t cutSeed = in.take();
    const uint8_t formMask = in.take();

    DisplayFormatter formatter;
    formatter.setSettings(fuzzedSettings);
    uint8_t pending = 0;
    size_t hexBytes = 0, hexBreaks = 0, hexLength = 0;
    const uint8_t *payload = in.rest();
    fuzz::forEachPiece(in.restSize(), cutSeed, [&](size_t offset, size_t length, unsigned index) {
        const bool hex = (formMask >> (index % 8)) & 1;
        formatter.setHexForm(hex);
        QString text;
        formatter.append(payload + offset, length, text);
        walk(payload + offset, length, hex, text, pending);
        // The form of a read never disturbs a pair that waits across it.
        FUZZ_CHECK(formatter.leadBytePending() == (pending != 0));
        FUZZ_CHECK(formatter.pendingLeadBytes().size() == (pending != 0 ? 1 : 0));
        if (pending != 0)
            FUZZ_CHECK(uint8_t(formatter.pendingLeadBytes()[0]) == pending);
        if (hex) {
            hexBytes += length;
            hexLength += size_t(text.size());
            hexBreaks += size_t(text.count(DisplayFormatter::LineBreak));
        }
    });
    if (fuzzedSettings.hexStyle == HexStyle::HEXOnly || fuzzedSettings.hexStyle == HexStyle::HexText)
        FUZZ_CHECK(hexLength == 3 * hexBytes + hexBreaks);
    return 0;
}
