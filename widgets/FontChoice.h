// SPDX-License-Identifier: MIT
// The font dialog for the traffic display and the message box. The forms ask for fonts by their
// Windows names, which fontconfig knows only as substitutions and the dialog does not list; the
// dialog is shown the font that really draws, and OK without a change keeps the font as it was.
#pragma once

#include <QFont>

#include <optional>

class QFontDialog;

namespace FontChoice {

struct Choice
{
    bool accepted = false; // OK, with or without a change
    std::optional<QFont> font; // the new font, when the user changed anything
};

Choice choose(QFontDialog *dialog, const QFont &current);

// Whether two fonts are the same choice in the dialog: family, style, size and decorations.
bool sameChoice(const QFont &a, const QFont &b);

} // namespace FontChoice
