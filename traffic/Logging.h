// SPDX-License-Identifier: MIT
// TELVIX's debug output, one category per subsystem: what a maintainer needs to know happened
// and the user is not told in words, such as the call that failed and its errno. All of it is
// quiet unless asked for, e.g. QT_LOGGING_RULES="telvix.*.debug=true".
#pragma once

#include <QLoggingCategory>
#include <QString>

// telvix.serial: the call and errno of a failing open, configuration or ioctl; why a line was
// lost, and each attempt to open it again.
Q_DECLARE_LOGGING_CATEGORY(lcSerial)
// telvix.traffic: why a live log stopped.
Q_DECLARE_LOGGING_CATEGORY(lcTraffic)
// telvix.modes: which way R2K mode's key events go, and why.
Q_DECLARE_LOGGING_CATEGORY(lcModes)
// telvix.portal: the desktop portal's answers.
Q_DECLARE_LOGGING_CATEGORY(lcPortal)

namespace Logging {

// A category as Q_DECLARE_LOGGING_CATEGORY declares it.
using Category = const QLoggingCategory &(*)();

// `call` on `target` failed with the errno there is now. errno is left as it was: the caller
// reads it next.
void failedCall(Category category, const char *call, const QString &target);
// The same for a call on a descriptor, named by the file it has open.
void failedCall(Category category, const char *call, int fd);

} // namespace Logging
