// SPDX-License-Identifier: MIT
// Traditional Chinese text as the line carries it: the Windows code page 950 (Big5), through
// ICU's windows-950-2000 table.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace Cp950 {

// The one character a double-byte pair stands for, or U+FFFD when the pair is no valid Big5:
// either way the pair stays visible as exactly one character.
QChar decodePair(uint8_t lead, uint8_t trail);

// Bytes for text typed to be sent. When a character has no Big5 form nothing is returned and
// `badIndex` (if given) gets the index of the first such character.
std::optional<QByteArray> encode(const QString &text, qsizetype *badIndex = nullptr);

// Text for bytes that came from encode(); bytes that form no character become U+FFFD.
QString decode(const QByteArray &bytes);

} // namespace Cp950
