// SPDX-License-Identifier: MIT
// The traffic written to a file as it happens: the time-stamped log, as CSV, or the received
// bytes raw.
// The records are handed to a thread of the log's own, which makes the lines and writes them
// at least every 200 ms and when the log stops, so a day-long log costs no memory and the
// window never waits for the file: a pipe no one reads, a full pipe, a hung network file
// system. A file that cannot take more (disk full, an I/O error, the file or its folder gone,
// more than HeldLimit bytes waiting for it while it takes none, or more than HardLimit at all)
// stops the log, once, with a message that says why; the traffic goes on without it.
#pragma once

#include "traffic/LogFormat.h"
#include "traffic/Traffic.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class LiveLog : public QObject, public TrafficConsumer
{
    Q_OBJECT

public:
    enum class Format { Log, Csv, Raw };

    // Opens (creates or truncates) `path`; nothing and `error` set when it cannot be opened.
    // A pipe is opened without waiting for a reader: one that has none is an error at once.
    // The log and the CSV join reads less than `joinGapMs` apart into a line (LogFormat::Lines).
    static std::unique_ptr<LiveLog> start(const QString &path, Format format, QString *error,
                                          int joinGapMs = LogFormat::Lines::DefaultJoinGapMs);
    ~LiveLog() override;

    // Hands the record on; never waits for the file.
    void take(const TrafficRecord &record) override;

    // Writes what is gathered and closes the file; the message of a write that failed, if one
    // did (then the log is stopped as when it fails on its own, without the signal). Waits
    // StopWaitMs at most. A file that still takes what is left is written to the end by the
    // thread meanwhile; one that takes nothing is given up: the rest is not written, the
    // message says so, and the thread closes the file whenever the system lets it go.
    QString stop();
    bool isRunning() const { return m_running; }

    const QString &path() const { return m_path; }
    // Bytes in the file, with those made for the next write.
    qint64 size() const;

    static constexpr int FlushIntervalMs = 200;
    static constexpr qsizetype WriteSize = 256 * 1024;
    // Bytes taken and not yet written past which the file is said not to keep up.
    static constexpr qint64 HeldLimit = qint64(64) << 20;
    static constexpr qint64 HardLimit = qint64(1) << 30;
    static constexpr int StopWaitMs = 500;

    // At the program's end: waits up to `timeoutMs` for stopped logs whose files still take the
    // rest, giving up on one that takes nothing.
    static void finishAll(int timeoutMs);

signals:
    // The log stopped on its own; the message says why.
    void failed(const QString &message);

private:
    struct Shared;
    LiveLog(const QString &path, std::shared_ptr<Shared> shared);
    void writerFailed();
    void fallBehind();
    void giveUp(const QString &reason);
    static std::mutex &finishingMutex();
    static std::vector<std::weak_ptr<Shared>> &finishingLogs();
    QString message(const QString &reason) const;

    QString m_path;
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    bool m_running = true;
    QTimer m_watch; // for a file that stalls after the last record
};
