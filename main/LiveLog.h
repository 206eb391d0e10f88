// SPDX-License-Identifier: MIT
// The traffic written to a file as it happens: the time-stamped log, as CSV, or the received
// bytes raw.
// What arrives is gathered and written out at least every 200 ms and when the log stops, so a
// day-long log costs no memory. A file that cannot take more (disk full, an I/O error, the
// file or its folder gone) stops the log, once, with a message that says why; the traffic goes
// on without it.
#pragma once

#include "main/Traffic.h"

#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <sys/types.h>

class LiveLog : public QObject, public TrafficConsumer
{
    Q_OBJECT

public:
    enum class Format { Log, Csv, Raw };

    // Opens (creates or truncates) `path`; nothing and `error` set when it cannot be opened.
    static std::unique_ptr<LiveLog> start(const QString &path, Format format, QString *error);
    ~LiveLog() override;

    void take(const TrafficRecord &record) override;

    // Writes what is gathered and closes the file; the message of a write that failed, if one
    // did (then the log is stopped as when it fails on its own, without the signal).
    QString stop();
    bool isRunning() const { return m_file.isOpen(); }

    const QString &path() const { return m_path; }
    // Bytes in the file, with those gathered for the next write.
    qint64 size() const { return m_written + m_pending.size(); }

    static constexpr int FlushIntervalMs = 200;
    static constexpr qsizetype WriteSize = 256 * 1024;

signals:
    // The log stopped on its own; the message says why.
    void failed(const QString &message);

private:
    LiveLog(const QString &path, Format format);
    void flush();
    // The message when the file could not take what is gathered, which closes it.
    QString write();
    QString fail(const QString &reason);

    QString m_path;
    Format m_format;
    QFile m_file;
    QByteArray m_pending;
    qint64 m_written = 0;
    QTimer m_timer;
    // The file as it was opened: the path naming another file, or none, means it is gone.
    dev_t m_device = 0;
    ino_t m_inode = 0;
};
