// SPDX-License-Identifier: MIT
// Qt's own file dialog, Chinese throughout. Qt's Traditional Chinese translation leaves a file's
// kind in English ("Folder", "txt File") and the dialog writes dates in the system's locale,
// which is C on most machines even when the rest of the program speaks Chinese; the columns are
// then too narrow for what they hold.
#pragma once

class QFileDialog;

namespace FileDialogs {

// Call once the dialog is set to Qt's own widgets (DontUseNativeDialog).
void localise(QFileDialog *dialog);

} // namespace FileDialogs
