// SPDX-License-Identifier: MIT
// What a script has received and not yet taken: the line's bytes arrive from the host's thread,
// the script's waits (expect, read, readline) take them on its own. Every wait ends when what it
// waits for is there, when its time is up, or at once when the script is stopped.
//
// A script that never reads does not hold the line's bytes without bound: past `bound` bytes the
// oldest go (they are in the capture and the log anyway) and dropped() counts them.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <condition_variable>
#include <functional>
#include <mutex>

class ScriptInbox
{
public:
    static constexpr qsizetype DefaultBound = qsizetype(64) << 20;
    explicit ScriptInbox(qsizetype bound = DefaultBound) : m_bound(bound) { }

    void deliver(QByteArrayView bytes);
    // Every wait from now on returns Stopped.
    void stop();

    enum class Wait { Ready, TimedOut, Stopped };

    // Up to and including the first `pattern` in what was received since the last take.
    Wait expect(QByteArrayView pattern, int timeoutMs, QByteArray &taken);
    // Exactly `count` bytes.
    Wait read(qsizetype count, int timeoutMs, QByteArray &taken);
    // Up to a line feed, which is taken and not given, nor a CR before it.
    Wait readLine(int timeoutMs, QByteArray &taken);

    // The general wait: `match(bytes, from)` is asked each time bytes came, `from` being where the
    // bytes it has not seen begin; it answers how many bytes to take, or -1 to wait on.
    using Match = std::function<qsizetype(const QByteArray &bytes, qsizetype from)>;
    Wait waitFor(const Match &match, int timeoutMs, QByteArray &taken);
    // Waits for nothing but the time or the stop: a script's sleep.
    Wait sleep(int ms);

    qsizetype dropped() const;

private:
    const qsizetype m_bound;
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    QByteArray m_bytes;
    qsizetype m_dropped = 0;
    uint64_t m_drops = 0; // how often bytes were dropped: a waiter's `from` is void then
    bool m_stopped = false;
};
