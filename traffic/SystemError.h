// SPDX-License-Identifier: MIT
// What a failed system call means, in the words a user of TELVIX reads: the cause in Chinese,
// then the system's own English words, which are what a search or a support question finds
// ("磁碟空間不足 (No space left on device)"). An errno value without a wording of its own is
// the system's words alone.
#pragma once

#include <QString>

namespace SystemError {

QString text(int errnum);
// The cause in Chinese alone, for the messages of a port that cannot be opened: the system's
// English words go to the logging category instead. An errno value without a wording of its
// own gives its symbolic name ("系統錯誤 EPROTO"), never a text in English.
QString words(int errnum);
// Why a name lookup (getaddrinfo) failed, in the same way; `errnum` is errno for EAI_SYSTEM.
QString lookupWords(int status, int errnum = 0);
// Why `path` could not be opened: a pipe that no one reads says so (the system calls it no
// device), any other cause is text(errnum).
QString openText(const QString &path, int errnum);

} // namespace SystemError
