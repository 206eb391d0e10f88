// SPDX-License-Identifier: MIT
// Box text to line bytes and back: Big5 (code page 950) and the glyphs of the control codes.
//
// Text that can go out comes back as the same text (a raw control character comes back as its
// glyph, which the box shows for it and which goes out as the same byte). Text that cannot go
// out names a character that truly has no Big5 form, and nothing before it was at fault.
//
// Input: a choice byte, then the payload: read as UTF-16 text (choice even) or as line bytes
// whose box text is tried in turn (choice odd), which reaches the Big5 characters far more often
// than random UTF-16 does.
#include "FuzzCheck.h"

#include "traffic/Cp950.h"
#include "traffic/ControlCodes.h"
#include "send/SendText.h"

#include <QString>

#include <cstring>

namespace {

// How the box shows a text: raw control characters as their glyphs.
QString asBoxShowsIt(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        if (c.unicode() < ControlCodes::Count) {
            if (const std::optional<QChar> glyph = ControlCodes::glyphFor(uint8_t(c.unicode())))
                c = *glyph;
        }
    }
    return out;
}

// The text of one character at `i` (a surrogate pair stays whole).
QString characterAt(const QString &text, qsizetype i)
{
    if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
        return text.mid(i, 2);
    return text.mid(i, 1);
}

void checkRoundTrip(const QString &text)
{
    const SendText::Bytes sent = SendText::toBytes(text);
    if (!sent.bytes) {
        FUZZ_CHECK(sent.badIndex >= 0 && sent.badIndex < text.size());
        const QString bad = characterAt(text, sent.badIndex);
        FUZZ_CHECK(!ControlCodes::codeForGlyph(bad[0]));
        FUZZ_CHECK(!Cp950::encode(bad));
        // Everything before the named character could have gone out.
        FUZZ_CHECK(SendText::toBytes(text.left(sent.badIndex)).bytes.has_value());
        FUZZ_CHECK(!SendText::unencodableMessage(text, sent.badIndex).isEmpty());
        return;
    }
    FUZZ_CHECK(sent.badIndex == -1);
    FUZZ_CHECK(sent.bytes->size() <= 2 * text.size());
    const QString back = SendText::fromBytes(*sent.bytes);
    FUZZ_CHECK(back == asBoxShowsIt(text));
    // What the box shows goes out as the very same bytes.
    const SendText::Bytes again = SendText::toBytes(back);
    FUZZ_CHECK(again.bytes && *again.bytes == *sent.bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input in(data, size);
    const uint8_t choice = in.take();
    const char *payload = reinterpret_cast<const char *>(in.rest());
    const qsizetype length = qsizetype(in.restSize());
    if (choice & 1) {
        const QByteArray bytes(payload, length);
        const QString text = SendText::fromBytes(bytes);
        // Every byte of the line is either a character of the text or part of one, and a
        // control code is never left in the box as a raw character that the font cannot show.
        FUZZ_CHECK(text.size() <= bytes.size());
        for (QChar c : text)
            FUZZ_CHECK(c.unicode() == 0 || c.unicode() >= 0x20);
        checkRoundTrip(text);
    } else {
        // Copied first: the payload has no alignment to speak of.
        QString text(length / 2, Qt::Uninitialized);
        std::memcpy(text.data(), payload, size_t(text.size()) * sizeof(QChar));
        checkRoundTrip(text);
    }
    return 0;
}
