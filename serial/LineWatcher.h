// SPDX-License-Identifier: MIT
// Follows the input lines and the error counters of an open port while the line panel shows
// them: every change becomes a record with its time. TIOCMIWAIT where the driver has it, so a
// short pulse is seen at its moment; else (and for the counters, which no call waits for)
// reading both 20 times a second. A driver that refuses a call is said once (unknown()).
#pragma once

#include "serial/LineControl.h"
#include "traffic/Traffic.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace serial {

class LineWatcher
{
public:
    // `publish` is called on the watcher's threads, one call at a time, with ModemLines and
    // LineErrors records (LineEvents.h); the counters it reports count from start().
    using Publish = std::function<void(TrafficRecord)>;

    LineWatcher(LineControl &control, Publish publish);
    ~LineWatcher(); // stops
    LineWatcher(const LineWatcher &) = delete;
    LineWatcher &operator=(const LineWatcher &) = delete;

    // The first ModemLines record (changed = 0) goes out at once with the lines as they are.
    void start();
    // Returns once no thread of the watcher runs any more.
    void stop();
    bool isRunning() const;

    // The last lines read, and which of them the driver cannot tell (all six when TIOCMGET is
    // refused): the panel shows those lamps as unknown.
    uint8_t lines() const { return m_lines.load(); }
    bool linesKnown() const { return m_linesKnown.load(); }
    bool countsKnown() const { return m_countsKnown.load(); }
    // Counters since start().
    ErrorCounts counts() const;
    // Whether TIOCMIWAIT serves the lines (false: polled).
    bool waitsForChanges() const { return m_waits.load(); }

    // Reads the lines at once, as after the program set an output, so that the change is
    // recorded now and once. False when the lines are not known.
    bool readNow();

    static constexpr int PollMs = 50;

private:
    void pollMain();
    void waitMain();
    // Publishes the lines when they differ from the last known (true); either thread calls it.
    bool noteLines(uint8_t lines);
    void noteCounts(const ErrorCounts &now);
    // Lines whose level is as last known although they changed meanwhile: a pulse between two
    // reads, recorded with both its edges.
    bool notePulses(uint8_t known, uint8_t lines, const LineInterrupts &before,
                    const LineInterrupts &after);
    // Whether a failed call may be tried again at the next poll.
    static bool transient(int error);

    LineControl &m_control;
    const Publish m_publish;
    const int m_stopFd;
    std::mutex m_startStop;
    std::thread m_poller;
    std::thread m_waiter;
    std::atomic<bool> m_running {false};
    std::atomic<bool> m_stopping {false};
    std::atomic<bool> m_waiterDone {true};

    mutable std::mutex m_mutex; // the last known lines and counters, and the order of records
    ErrorCounts m_base;
    ErrorCounts m_counts;

    std::atomic<uint8_t> m_lines {0};
    std::atomic<bool> m_linesKnown {false};
    std::atomic<bool> m_countsKnown {false};
    std::atomic<bool> m_waits {false};
};

} // namespace serial
