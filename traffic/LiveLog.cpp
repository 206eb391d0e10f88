// SPDX-License-Identifier: MIT
#include "LiveLog.h"

#include "traffic/LogFormat.h"
#include "traffic/Logging.h"
#include "traffic/SystemError.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// What a record held for the file costs: its bytes and its share of the queue.
qint64 costOf(const TrafficRecord &record)
{
    return record.bytes.size() + qint64(sizeof(TrafficRecord));
}

// A file that took nothing for this long while records wait for it does not keep up.
constexpr int64_t StallUs = 2000000;

} // namespace

// What the window and the log's thread share; the thread keeps it alive for as long as it
// runs, which may be past the LiveLog when a file never answers.
struct LiveLog::Shared
{
    ~Shared()
    {
        if (fd >= 0)
            ::close(fd);
        if (wake >= 0)
            ::close(wake);
    }

    void run();
    void wakeUp() const { eventfd_write(wake, 1); }
    // False when the file could not take `out` (then `reason` says why) or the log was given
    // up meanwhile.
    bool write(QByteArray &out, QString &reason);
    bool isAbandoned()
    {
        const std::lock_guard lock(mutex);
        return abandoned;
    }

    Format format = Format::Log;
    int joinGapMs = LogFormat::Lines::DefaultJoinGapMs;
    QByteArray name; // the path, encoded
    int fd = -1;
    int wake = -1; // an eventfd: records wait, the log stops, or it is given up
    // The file as it was opened: the path naming another file, or none, means it is gone.
    dev_t device = 0;
    ino_t inode = 0;

    std::mutex mutex;
    std::condition_variable ended;
    std::vector<TrafficRecord> queue;
    qint64 queued = 0; // the cost of the queue since the thread took it last
    bool woken = false;
    bool stopping = false; // write what is gathered and end
    bool abandoned = false; // end now, written or not
    bool done = false;
    QString reason; // why the file could not take more
    LiveLog *owner = nullptr; // told of a failure while it listens

    std::atomic<qint64> size {0};
    std::atomic<qint64> held {0}; // the cost of what was taken and not yet made into lines
    // When the thread last got on: made lines of a batch, or the file took some of them.
    std::atomic<int64_t> progressUs {monotonicMicroseconds()};
    bool stalled(int64_t forUs = StallUs) const
    {
        return monotonicMicroseconds() - progressUs.load() > forUs;
    }
    std::atomic<bool> failed {false};
};

bool LiveLog::Shared::write(QByteArray &out, QString &why)
{
    qsizetype at = 0;
    while (at < out.size()) {
        const ssize_t n = ::write(fd, out.constData() + at, size_t(out.size() - at));
        if (n > 0) {
            at += n;
            progressUs = monotonicMicroseconds();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            // A pipe, a socket or a device that is full: wait for room, or to be given up.
            pollfd fds[2] = {{fd, POLLOUT, 0}, {wake, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 && errno != EINTR) {
                why = SystemError::text(errno);
                return false;
            }
            if (fds[1].revents & POLLIN) {
                eventfd_t value;
                eventfd_read(wake, &value);
                if (isAbandoned())
                    return false;
            }
            continue;
        }
        why = SystemError::text(n < 0 ? errno : EIO);
        return false;
    }
    out.resize(0); // keeps its capacity
    return true;
}

void LiveLog::Shared::run()
{
    // A pipe whose reader went away is an error of this log, not the end of the program.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

    using Clock = std::chrono::steady_clock;
    constexpr auto Interval = std::chrono::milliseconds(FlushIntervalMs);
    // Records are published a while after they crossed (a send's delay after the byte went
    // out, a frame after the read): the line that waits is written once no more can join it
    // and what could have is surely in.
    constexpr int64_t PublishedWithinUs = 2 * LogFormat::Lines::SentLineUs;
    LogFormat::Lines lines(format == Format::Csv, joinGapMs);
    QByteArray out;
    if (format == Format::Csv)
        out = LogFormat::csvStart();
    qint64 written = 0;
    std::vector<TrafficRecord> batch;
    size = out.size();
    auto nextFlush = Clock::now() + Interval;
    QString why;
    for (;;) {
        const auto wait =
                std::chrono::duration_cast<std::chrono::milliseconds>(nextFlush - Clock::now());
        pollfd bell {wake, POLLIN, 0};
        if (poll(&bell, 1, int(std::max<int64_t>(wait.count(), 0))) > 0) {
            eventfd_t value;
            eventfd_read(wake, &value);
        }
        bool stop = false;
        {
            const std::lock_guard lock(mutex);
            if (abandoned)
                break;
            batch.swap(queue);
            queued = 0;
            woken = false;
            stop = stopping;
        }
        bool ok = true;
        qint64 cost = 0;
        for (const TrafficRecord &r : batch) {
            cost += costOf(r);
            if (format != Format::Raw)
                lines.add(r, out);
            else if (r.kind == TrafficKind::Received || r.kind == TrafficKind::Flawed)
                out += r.bytes;
            // A fast line makes megabytes of log between two flushes: written in pieces of
            // a size the cache holds, the buffer is reused instead of grown.
            if (out.size() >= WriteSize) {
                const qsizetype n = out.size();
                if (isAbandoned() || !write(out, why)) {
                    ok = false;
                    break;
                }
                written += n;
            }
        }
        batch.clear();
        held -= cost;
        progressUs = monotonicMicroseconds();
        if (ok && (stop || Clock::now() >= nextFlush)) {
            const std::optional<int64_t> closes = lines.closesAt();
            if (stop || (closes && monotonicMicroseconds() - *closes > PublishedWithinUs))
                lines.finish(out);
            // A folder removed under the log leaves the file writable but reachable by no
            // one: that is no log any more.
            struct stat st
            { };
            if (::stat(name.constData(), &st) != 0 || st.st_dev != device || st.st_ino != inode) {
                why = QStringLiteral("記錄檔已不存在 (檔案或資料夾被移除)");
                ok = false;
            } else {
                const qsizetype n = out.size();
                if ((ok = write(out, why)))
                    written += n;
            }
            nextFlush = Clock::now() + Interval;
        }
        size = written + out.size();
        if (!ok || stop)
            break;
    }
    ::close(fd);
    fd = -1;
    const std::lock_guard lock(mutex);
    done = true;
    if (!why.isEmpty()) {
        qCDebug(lcTraffic) << "live log" << name << "stopped by its writer after" << written
                           << "bytes:" << why;
        reason = why;
        failed = true;
        if (owner)
            QMetaObject::invokeMethod(owner, &LiveLog::writerFailed, Qt::QueuedConnection);
    }
    ended.notify_all();
}

std::unique_ptr<LiveLog> LiveLog::start(const QString &path, Format format, QString *error,
                                        int joinGapMs)
{
    auto shared = std::make_shared<Shared>();
    shared->format = format;
    shared->joinGapMs = joinGapMs;
    shared->name = QFile::encodeName(path);
    // Not blocking, ever: a pipe no one reads fails here at once instead of holding the window,
    // and a full one is waited for by the log's thread alone.
    shared->fd = ::open(shared->name.constData(),
                        O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (shared->fd < 0) {
        if (error)
            *error = QStringLiteral("無法開啟記錄檔 %1 : %2")
                             .arg(path, SystemError::openText(path, errno));
        return nullptr;
    }
    struct stat st
    { };
    if (fstat(shared->fd, &st) == 0) {
        shared->device = st.st_dev;
        shared->inode = st.st_ino;
    }
    shared->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (shared->wake < 0) {
        if (error)
            *error = QStringLiteral("無法開啟記錄檔 %1 : %2").arg(path, SystemError::text(errno));
        return nullptr;
    }
    std::unique_ptr<LiveLog> log(new LiveLog(path, shared));
    shared->owner = log.get();
    log->m_thread = std::thread([shared] { shared->run(); });
    return log;
}

LiveLog::LiveLog(const QString &path, std::shared_ptr<Shared> shared)
    : m_path(path), m_shared(std::move(shared))
{
    // No record may come after the one that passed the limit: the stall is watched for too.
    m_watch.setInterval(int(StallUs / 4000));
    connect(&m_watch, &QTimer::timeout, this, [this] {
        if (m_running && !m_shared->failed && m_shared->held > HeldLimit && m_shared->stalled())
            fallBehind();
    });
    m_watch.start();
}

LiveLog::~LiveLog()
{
    if (m_running) {
        stop();
        return;
    }
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->owner = nullptr;
    }
    if (m_thread.joinable())
        m_thread.detach();
}

qint64 LiveLog::size() const { return m_shared->size; }

void LiveLog::take(const TrafficRecord &record)
{
    if (!m_running || m_shared->failed)
        return;
    const qint64 cost = costOf(record);
    // A burst (the backlog of a dialog, published at once) may pass the limit while the file
    // takes it at its own pace; only a file that gets nowhere, or a backlog past all reason,
    // ends the log.
    const qint64 held = m_shared->held += cost;
    if (held > HardLimit || (held > HeldLimit && m_shared->stalled())) {
        fallBehind();
        return;
    }
    bool wake = false;
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->queue.push_back(record);
        m_shared->queued += cost;
        wake = !m_shared->woken && m_shared->queued >= WriteSize;
        m_shared->woken = m_shared->woken || wake;
    }
    if (wake)
        m_shared->wakeUp();
}

void LiveLog::fallBehind()
{
    // A failure is told once the traffic has been published, since whoever hears it may
    // unsubscribe the log.
    giveUp(QStringLiteral("檔案跟不上收發的資料 : 超過 %1 MB 的記錄等著寫入").arg(HeldLimit >> 20));
}

void LiveLog::giveUp(const QString &reason)
{
    qCDebug(lcTraffic) << "live log" << m_path << "given up with" << m_shared->held.load()
                       << "bytes of records waiting, none written for"
                       << (monotonicMicroseconds() - m_shared->progressUs.load()) / 1000
                       << "ms:" << reason;
    m_watch.stop();
    m_running = false;
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->abandoned = true;
        m_shared->owner = nullptr;
        m_shared->queue.clear();
    }
    m_shared->wakeUp();
    // The thread may be inside a write that never returns; it ends on its own when it does.
    m_thread.detach();
    QMetaObject::invokeMethod(
            this, [this, reason] { emit failed(message(reason)); }, Qt::QueuedConnection);
}

void LiveLog::writerFailed()
{
    if (!m_running)
        return;
    m_running = false;
    m_watch.stop();
    QString reason;
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->owner = nullptr;
        reason = m_shared->reason;
    }
    m_thread.join(); // it has told its failure as it ended
    emit failed(message(reason));
}

QString LiveLog::stop()
{
    if (!m_running)
        return {};
    m_running = false;
    m_watch.stop();
    std::unique_lock lock(m_shared->mutex);
    m_shared->stopping = true;
    m_shared->owner = nullptr;
    m_shared->wakeUp();
    const bool ended = m_shared->ended.wait_for(lock, std::chrono::milliseconds(StopWaitMs),
                                                [this] { return m_shared->done; });
    // Got on within the last half of the wait: it takes the rest, only slowly.
    if (!ended && !m_shared->stalled(int64_t(StopWaitMs) * 500)) {
        // A file that takes the rest, only slowly (a backlog, a slow stick): the thread
        // finishes it on its own while the window goes on; finishAll() waits for it at the end.
        lock.unlock();
        const std::lock_guard finishing(finishingMutex());
        finishingLogs().push_back(m_shared);
        m_thread.detach();
        qCDebug(lcTraffic) << "live log" << m_path << "stopped, its thread writes the rest";
        return {};
    }
    if (!ended) {
        m_shared->abandoned = true;
        m_shared->queue.clear();
        m_shared->wakeUp();
    }
    const QString reason = m_shared->reason;
    lock.unlock();
    if (!ended) {
        m_thread.detach();
        qCDebug(lcTraffic) << "live log" << m_path << "stopped, the rest not written: the file"
                           << "took nothing for" << StopWaitMs << "ms";
        return message(QStringLiteral("檔案在 %1 秒內沒有收下其餘的記錄, 它們沒有寫入")
                               .arg(StopWaitMs / 1000.0));
    }
    m_thread.join();
    if (reason.isEmpty())
        qCDebug(lcTraffic) << "live log" << m_path << "stopped, all of it written";
    else
        qCDebug(lcTraffic) << "live log" << m_path << "stopped earlier by its writer:" << reason;
    return reason.isEmpty() ? QString() : message(reason);
}

std::mutex &LiveLog::finishingMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::vector<std::weak_ptr<LiveLog::Shared>> &LiveLog::finishingLogs()
{
    static std::vector<std::weak_ptr<Shared>> logs;
    return logs;
}

void LiveLog::finishAll(int timeoutMs)
{
    const int64_t until = monotonicMicroseconds() + int64_t(timeoutMs) * 1000;
    std::vector<std::weak_ptr<Shared>> logs;
    {
        const std::lock_guard lock(finishingMutex());
        logs.swap(finishingLogs());
    }
    for (const std::weak_ptr<Shared> &weak : logs) {
        const std::shared_ptr<Shared> shared = weak.lock();
        if (!shared)
            continue;
        std::unique_lock lock(shared->mutex);
        while (!shared->done) {
            if (shared->stalled() || monotonicMicroseconds() > until) {
                qCDebug(lcTraffic)
                        << "live log" << shared->name << "left unfinished at the end:"
                        << (shared->stalled() ? "its file takes nothing" : "no time left");
                shared->abandoned = true;
                shared->queue.clear();
                shared->wakeUp();
                break;
            }
            shared->ended.wait_for(lock, std::chrono::milliseconds(100));
        }
    }
}

QString LiveLog::message(const QString &reason) const
{
    return QStringLiteral("記錄已停止 : 無法寫入 %1\n%2").arg(m_path, reason);
}
