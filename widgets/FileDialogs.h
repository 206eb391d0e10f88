// SPDX-License-Identifier: MIT
// Qt's own file dialog, Chinese throughout. Qt's Traditional Chinese translation leaves a file's
// kind in English ("Folder", "txt File") and the dialog writes dates in the system's locale,
// which is C on most machines even when the rest of the program speaks Chinese; the columns are
// then too narrow for what they hold.
#pragma once

#include <QString>
#include <QStringList>

class QFileDialog;
class QWidget;

namespace FileDialogs {

// Call once the dialog is set to Qt's own widgets (DontUseNativeDialog).
void localise(QFileDialog *dialog);

// A file of the program's own kind to open or to save.
struct Question
{
    QString title;
    QString objectName;
    QString filter; // the kind's, "名稱 (*.ext)"
    QString suffix; // given to a saved name typed without it
    bool save = false;
};

// Asks in Qt's own dialog, Chinese throughout, starting in `folder`, which then holds where the
// user confirmed; the path picked, or empty when the user cancelled. To open, every file can
// also be shown.
QString ask(QWidget *parent, const Question &question, QString &folder);

} // namespace FileDialogs
