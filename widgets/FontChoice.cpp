// SPDX-License-Identifier: MIT
#include "FontChoice.h"

#include <QFontDialog>
#include <QFontInfo>

namespace FontChoice {

bool sameChoice(const QFont &a, const QFont &b)
{
    return a.family() == b.family() && a.styleName() == b.styleName()
            && qFuzzyCompare(a.pointSizeF(), b.pointSizeF()) && a.weight() == b.weight()
            && a.italic() == b.italic() && a.underline() == b.underline()
            && a.strikeOut() == b.strikeOut();
}

Choice choose(QFontDialog *dialog, const QFont &current)
{
    // The dialog lists families and point sizes; given a substituted name it would fall back
    // to its first family, so it gets what fontconfig resolved the font to.
    const QFontInfo drawn(current);
    QFont shown(drawn.family());
    shown.setPointSizeF(drawn.pointSizeF());
    shown.setWeight(QFont::Weight(drawn.weight()));
    shown.setItalic(drawn.italic());
    shown.setUnderline(current.underline());
    shown.setStrikeOut(current.strikeOut());
    dialog->setCurrentFont(shown);
    const QFont offered = dialog->currentFont();
    Choice choice;
    choice.accepted = dialog->exec() == QDialog::Accepted;
    if (choice.accepted && !sameChoice(dialog->selectedFont(), offered))
        choice.font = dialog->selectedFont();
    return choice;
}

} // namespace FontChoice
