// SPDX-License-Identifier: MIT
// What the find bar's text stands for. Typed as text it is searched as it is; typed as bytes
// ("0D 0A", "0d0a", "0Dh 0Ah") it is searched as the text those bytes show as in the display's
// form, since the display keeps the text it shows and not the bytes: "41 0D" is "41 0D" in the
// HEX form and "A<CR>" in the ASCII form, a Big5 pair its one character there.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <optional>

class DisplayFormatter;

namespace FindQuery {

// The bytes named by pairs of hexadecimal digits, in groups apart by blanks or commas, each
// group perhaps with 0x before or h after it. Nothing, and why in `error`, for anything else.
std::optional<QByteArray> hexBytes(QStringView text, QString *error);

// The text `bytes` show as on a display that `shownBy` fills, without the line breaks the
// search runs over. Nothing, and why, when the ASCII form would still wait for a pair's second
// byte at their end.
std::optional<QString> shownText(const QByteArray &bytes, const DisplayFormatter &shownBy,
                                 QString *error);

} // namespace FindQuery
