// SPDX-License-Identifier: MIT
#include "Logging.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <unistd.h>

// Debug lines off by default: Qt prints every level of a category that no rule mentions.
Q_LOGGING_CATEGORY(lcSerial, "telvix.serial", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTraffic, "telvix.traffic", QtInfoMsg)
Q_LOGGING_CATEGORY(lcModes, "telvix.modes", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPortal, "telvix.portal", QtInfoMsg)

namespace Logging {

namespace {

// The first use of a category reads Qt's logging configuration, which sets errno as it looks
// for files.
struct ErrnoKept
{
    const int error = errno;
    ~ErrnoKept() { errno = error; }
};

} // namespace

void failedCall(Category category, const char *call, const QString &target)
{
    const ErrnoKept kept;
    if (!category().isDebugEnabled())
        return;
    const char *name = strerrorname_np(kept.error);
    qCDebug(category, "%s failed on %s: %s (errno %d, %s)", call, qPrintable(target),
            name ? name : "?", kept.error, std::strerror(kept.error));
}

void failedCall(Category category, const char *call, int fd)
{
    const ErrnoKept kept;
    if (!category().isDebugEnabled())
        return;
    char path[4096];
    const ssize_t n =
            ::readlink(qPrintable(QStringLiteral("/proc/self/fd/%1").arg(fd)), path, sizeof path);
    errno = kept.error;
    failedCall(category, call,
               n <= 0 ? QStringLiteral("fd %1").arg(fd)
                      : QStringLiteral("%1 (fd %2)")
                                .arg(QFile::decodeName(QByteArray(path, qsizetype(n))))
                                .arg(fd));
}

} // namespace Logging
