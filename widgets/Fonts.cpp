// SPDX-License-Identifier: MIT
#include "Fonts.h"

#include <QStringList>

namespace Fonts {

void installSubstitutions()
{
    const QStringList uming {QStringLiteral("AR PL UMing TW"), QStringLiteral("AR PL UMing TW MBE"),
                             QStringLiteral("Noto Serif CJK TC")};
    const QStringList mono {QStringLiteral("Noto Sans Mono CJK TC"),
                            QStringLiteral("AR PL UMing TW")};
    // DejaVu Sans Mono is the one installed font with every IBM PC glyph of 01h-1Fh and the
    // house sign; CJK fallback comes from fontconfig.
    const QStringList terminal {QStringLiteral("DejaVu Sans Mono"),
                                QStringLiteral("Noto Sans Mono CJK TC")};
    QFont::insertSubstitutions(QStringLiteral("新細明體"), uming);
    QFont::insertSubstitutions(QStringLiteral("PMingLiU"), uming);
    QFont::insertSubstitutions(QStringLiteral("細明體"), mono);
    QFont::insertSubstitutions(QStringLiteral("MingLiU"), mono);
    QFont::insertSubstitutions(QStringLiteral("Terminal"), terminal);
}

static QFont make(const char *family, int pixelSize)
{
    QFont f(QString::fromUtf8(family));
    f.setPixelSize(pixelSize);
    return f;
}

QFont ming(int pixelSize) { return make("新細明體", pixelSize); }

QFont mingFixed(int pixelSize) { return make("細明體", pixelSize); }

QFont terminal(int pixelSize) { return make("Terminal", pixelSize); }

} // namespace Fonts
