// SPDX-License-Identifier: MIT
#include "MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace MessageBoxes {

namespace {
Hook &hook()
{
    static Hook h;
    return h;
}
} // namespace

void setHook(Hook h) { hook() = std::move(h); }

QString applicationTitle() { return QStringLiteral("TELVIX"); }

QString withFullStop(const QString &text) { return text.endsWith(u'.') ? text : text + u'.'; }

void message(QWidget *parent, const QString &text)
{
    if (hook()) {
        hook()({Kind::Plain, applicationTitle(), text});
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok, parent);
    box.exec();
}

void errorBox(QWidget *parent, const QString &text)
{
    const QString shown = withFullStop(text);
    if (hook()) {
        hook()({Kind::Error, applicationTitle(), shown});
        return;
    }
    QMessageBox box(QMessageBox::Critical, applicationTitle(), shown, QMessageBox::Ok, parent);
    box.exec();
}

void beep()
{
    if (hook()) {
        hook()({Kind::Beep, QString(), QString()});
        return;
    }
    QApplication::beep();
}

} // namespace MessageBoxes
