// SPDX-License-Identifier: MIT
#include "LiveLog.h"

#include "main/LogFormat.h"

#include <sys/stat.h>

std::unique_ptr<LiveLog> LiveLog::start(const QString &path, Format format, QString *error)
{
    std::unique_ptr<LiveLog> log(new LiveLog(path, format));
    // Unbuffered: the log gathers its own writes, and an error shows at the write that met it.
    if (!log->m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        if (error)
            *error = QStringLiteral("無法開啟記錄檔 %1 : %2").arg(path, log->m_file.errorString());
        return nullptr;
    }
    struct stat st
    { };
    if (fstat(log->m_file.handle(), &st) == 0) {
        log->m_device = st.st_dev;
        log->m_inode = st.st_ino;
    }
    if (format == Format::Csv)
        log->m_pending = LogFormat::CsvHeader;
    log->m_timer.start(FlushIntervalMs);
    return log;
}

LiveLog::LiveLog(const QString &path, Format format) : m_path(path), m_format(format), m_file(path)
{
    connect(&m_timer, &QTimer::timeout, this, &LiveLog::flush);
}

LiveLog::~LiveLog()
{
    if (isRunning())
        stop();
}

void LiveLog::take(const TrafficRecord &record)
{
    if (!isRunning())
        return;
    if (m_format == Format::Raw) {
        if (record.kind == TrafficKind::Received || record.kind == TrafficKind::Flawed)
            m_pending += record.bytes;
    } else {
        if (m_format == Format::Csv)
            LogFormat::appendCsvLine(record, m_pending);
        else
            LogFormat::appendLogLine(record, m_pending);
    }
    // A fast line makes megabytes of log between two timer ticks: written in pieces of a size
    // the cache holds, the buffer is reused instead of grown. A failure is told once the
    // traffic has been published, since whoever hears it may unsubscribe the log.
    if (m_pending.size() >= WriteSize) {
        const QString reason = write();
        if (!reason.isEmpty())
            QMetaObject::invokeMethod(this, [this, reason] { emit failed(reason); },
                                      Qt::QueuedConnection);
    }
}

void LiveLog::flush()
{
    const QString reason = write();
    if (!reason.isEmpty())
        emit failed(reason);
}

QString LiveLog::write()
{
    if (!isRunning())
        return {};
    // A folder removed under the log leaves the file writable but reachable by no one: that is
    // no log any more.
    struct stat st
    { };
    const QByteArray name = QFile::encodeName(m_path);
    if (stat(name.constData(), &st) != 0 || st.st_dev != m_device || st.st_ino != m_inode)
        return fail(QStringLiteral("記錄檔已不存在 (檔案或資料夾被移除)"));
    if (m_pending.isEmpty())
        return {};
    const qint64 n = m_file.write(m_pending);
    if (n != m_pending.size())
        return fail(m_file.errorString());
    m_written += n;
    m_pending.resize(0); // keeps its capacity
    return {};
}

QString LiveLog::stop()
{
    const QString reason = write();
    m_timer.stop();
    m_file.close();
    return reason;
}

QString LiveLog::fail(const QString &reason)
{
    m_timer.stop();
    m_file.close();
    m_pending.clear();
    return QStringLiteral("記錄已停止 : 無法寫入 %1\n%2").arg(m_path, reason);
}
