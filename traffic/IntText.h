// SPDX-License-Identifier: MIT
// Whole numbers typed by the user (baud rate, delays) and the message when one is not.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace IntText {

// Decimal with an optional sign, as typed: "09600" is 9600, "+5" is 5. Blanks, other
// characters, an empty text and values outside 32 bits are no whole number.
std::optional<int32_t> toInt32(const QString &text);

// "'abc' is not a valid integer value" for the error box.
QString notAnIntegerMessage(const QString &text);

} // namespace IntText
