// SPDX-License-Identifier: MIT
#include "SendText.h"

#include "send/SendTexts.h"
#include "traffic/ControlCodes.h"
#include "traffic/Cp950.h"
#include "traffic/HexInput.h"

#include <QList>

namespace SendText {

Bytes toBytes(const QString &text)
{
    QByteArray out;
    out.reserve(text.size() * 2);
    // Runs between glyphs go to the encoder whole; a glyph would otherwise be sent as its
    // Big5 form where it has one (the arrows, the section sign...).
    qsizetype runStart = 0;
    const auto flushRun = [&](qsizetype end) -> bool {
        if (end <= runStart)
            return true;
        qsizetype bad = -1;
        const std::optional<QByteArray> encoded =
                Cp950::encode(text.mid(runStart, end - runStart), &bad);
        if (!encoded) {
            runStart += bad;
            return false;
        }
        out += *encoded;
        return true;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const std::optional<uint8_t> code = ControlCodes::codeForGlyph(text[i]);
        if (!code)
            continue;
        if (!flushRun(i))
            return {std::nullopt, runStart};
        out += char(*code);
        runStart = i + 1;
    }
    if (!flushRun(text.size()))
        return {std::nullopt, runStart};
    return {out, -1};
}

QString fromBytes(const QByteArray &bytes)
{
    QString out;
    qsizetype runStart = 0;
    const auto flushRun = [&](qsizetype end) {
        if (end > runStart)
            out += Cp950::decode(bytes.mid(runStart, end - runStart));
    };
    // No Big5 pair has a byte below 40h, so a control byte always stands on its own.
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const std::optional<QChar> glyph = ControlCodes::glyphFor(uint8_t(bytes[i]));
        if (!glyph)
            continue;
        flushRun(i);
        out += *glyph;
        runStart = i + 1;
    }
    flushRun(bytes.size());
    return out;
}

QString unencodableMessage(const QString &text, qsizetype badIndex)
{
    qsizetype length = 1;
    if (badIndex + 1 < text.size() && text[badIndex].isHighSurrogate()
        && text[badIndex + 1].isLowSurrogate())
        length = 2;
    const QString character = text.mid(badIndex, length);
    const QString codePoint = QStringLiteral("%1")
                                      .arg(character.toUcs4().value(0), 4, 16, QLatin1Char('0'))
                                      .toUpper();
    return QStringLiteral("字元 '%1' (U+%2) 無法轉成 Big5 碼,所以沒有傳送任何資料")
            .arg(character, codePoint);
}

Composed compose(const QString &text, bool hex)
{
    if (hex) {
        HexInput::Parsed parsed = HexInput::parse(text);
        if (!parsed.ok())
            return {std::nullopt, SendTexts::badHex(parsed.error)};
        return {std::move(parsed.bytes), QString()};
    }
    QString lines = text;
    lines.replace(u'\n', QStringLiteral("\r\n"));
    Bytes converted = toBytes(lines);
    if (!converted.bytes)
        return {std::nullopt, unencodableMessage(lines, converted.badIndex)};
    return {std::move(converted.bytes), QString()};
}

} // namespace SendText
