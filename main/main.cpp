// SPDX-License-Identifier: MIT
#include "main/Fonts.h"
#include "main/Forms.h"
#include "main/MessageBoxes.h"
#include "main/Telvixmain1.h"

#include <QApplication>

#include <exception>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TELVIX"));
    QApplication::setApplicationVersion(QStringLiteral("3.6"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/telvix.svg")));
    Fonts::installSubstitutions();
    QApplication::setFont(Fonts::ming());
    int code = 0;
    try {
        Forms::createAll();
        Form1->show();
        code = app.exec();
    } catch (const std::exception &e) {
        MessageBoxes::errorBox(nullptr, QString::fromLocal8Bit(e.what()));
    }
    Forms::destroyAll();
    return code;
}
