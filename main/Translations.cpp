// SPDX-License-Identifier: MIT
#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace Translations {

bool install()
{
    const QLocale taiwan(QLocale::Chinese, QLocale::TraditionalChineseScript, QLocale::Taiwan);
    // Dates and sizes in the file dialog read as the rest of the program does.
    QLocale::setDefault(taiwan);
    auto *qt = new QTranslator(QCoreApplication::instance());
    if (!qt->load(taiwan, QStringLiteral("qtbase"), QStringLiteral("_"),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qt;
        return false;
    }
    QCoreApplication::installTranslator(qt);
    return true;
}

} // namespace Translations
