// SPDX-License-Identifier: MIT
// Between the text of a box that composes bytes for the line and those bytes. Chinese text is
// held as Big5 (code page 950) on the line; a control code sits in the box as its glyph and
// goes out as its single byte.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace SendText {

struct Bytes
{
    std::optional<QByteArray> bytes; // nothing when a character has no Big5 form
    qsizetype badIndex = -1; // then: where the first such character stands in the text
};

Bytes toBytes(const QString &text);

// The box text for bytes: 01h-1Fh as their glyphs, the rest decoded as Big5.
QString fromBytes(const QByteArray &bytes);

// The message for a text that cannot go out, naming the character.
QString unencodableMessage(const QString &text, qsizetype badIndex);

// What a send box puts on the line: its text, line breaks as CR LF, or with `hex` the bytes
// its hex digits name (HexInput). Nothing, and the message naming the offending character,
// when it cannot go out.
struct Composed
{
    std::optional<QByteArray> bytes;
    QString problem;
};
Composed compose(const QString &text, bool hex);

} // namespace SendText
