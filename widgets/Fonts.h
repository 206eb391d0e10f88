// SPDX-License-Identifier: MIT
// The fonts the forms are drawn in. fontconfig knows none of the Windows names the forms were
// designed with, so each is mapped to an installed font that has the same role.
#pragma once

#include <QFont>

namespace Fonts {

// Once at start-up, before any form is made.
void installSubstitutions();

QFont ming(int pixelSize = 12); // 新細明體: the forms' own font
QFont mingFixed(int pixelSize = 12); // 細明體: the traffic display and the tool buttons
QFont terminal(int pixelSize = 12); // Terminal: boxes where control codes show as glyphs

} // namespace Fonts
