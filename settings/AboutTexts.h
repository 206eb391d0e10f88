// SPDX-License-Identifier: MIT
// The fixed texts of the help menu, one entry a line.
#pragma once

#include <QStringList>

namespace AboutTexts {

inline constexpr const char *Author = "林志明";
inline constexpr const char *Contact = "telvix@example.org";

QStringList aboutLines(); // seventeen lines
QStringList versionLines(); // six lines

} // namespace AboutTexts
