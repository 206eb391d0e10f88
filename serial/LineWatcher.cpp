// SPDX-License-Identifier: MIT
#include "LineWatcher.h"

#include "traffic/LineEvents.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace serial {

namespace {

// Interrupts the thread blocked in TIOCMIWAIT. Without SA_RESTART, so that the ioctl returns
// EINTR instead of being restarted; the handler itself has nothing to do.
int wakeSignal()
{
    static const int signalNumber = [] {
        const int number = SIGRTMIN + 4;
        struct sigaction action
        { };
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        sigaction(number, &action, nullptr);
        return number;
    }();
    return signalNumber;
}

void sleepMs(int ms)
{
    timespec t {0, long(ms) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) { }
}

} // namespace

LineWatcher::LineWatcher(LineControl &control, Publish publish)
    : m_control(control), m_publish(std::move(publish)),
      m_stopFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{ }

LineWatcher::~LineWatcher()
{
    stop();
    if (m_stopFd >= 0)
        ::close(m_stopFd);
}

bool LineWatcher::transient(int error) { return error == EINTR || error == EAGAIN; }

void LineWatcher::start()
{
    const std::lock_guard startStop(m_startStop);
    if (m_running.load())
        return;
    m_stopping.store(false);
    uint8_t lines = 0;
    const bool linesKnown = m_control.modemLines(lines);
    ErrorCounts base;
    const bool countsKnown = m_control.errorCounts(base);
    {
        const std::lock_guard lock(m_mutex);
        m_base = base;
        m_counts = {};
        m_lines.store(linesKnown ? lines : 0);
        m_linesKnown.store(linesKnown);
        m_countsKnown.store(countsKnown);
        if (linesKnown)
            m_publish(LineEvents::modemLines(monotonicMicroseconds(), lines, 0));
    }
    m_running.store(true);
    m_poller = std::thread(&LineWatcher::pollMain, this);
    // Without TIOCMGET there is nothing to read when a wait returns.
    m_waits.store(linesKnown);
    if (linesKnown) {
        wakeSignal();
        m_waiterDone.store(false);
        m_waiter = std::thread(&LineWatcher::waitMain, this);
    }
}

void LineWatcher::stop()
{
    const std::lock_guard startStop(m_startStop);
    if (!m_running.load())
        return;
    m_stopping.store(true);
    const uint64_t one = 1;
    while (::write(m_stopFd, &one, sizeof one) < 0 && errno == EINTR) { }
    if (m_waiter.joinable()) {
        // The signal may come just before the waiter enters the ioctl and be lost; it is sent
        // again until the thread has seen the stop flag.
        const pthread_t waiter = m_waiter.native_handle();
        while (!m_waiterDone.load()) {
            pthread_kill(waiter, wakeSignal());
            sleepMs(2);
        }
        m_waiter.join();
    }
    if (m_poller.joinable())
        m_poller.join();
    uint64_t count = 0;
    while (::read(m_stopFd, &count, sizeof count) < 0 && errno == EINTR) { }
    m_running.store(false);
}

bool LineWatcher::isRunning() const { return m_running.load(); }

ErrorCounts LineWatcher::counts() const
{
    const std::lock_guard lock(m_mutex);
    return m_counts;
}

bool LineWatcher::noteLines(uint8_t lines)
{
    const std::lock_guard lock(m_mutex);
    const uint8_t changed = lines ^ m_lines.load();
    if (!changed)
        return false;
    m_lines.store(lines);
    m_publish(LineEvents::modemLines(monotonicMicroseconds(), lines, changed));
    return true;
}

bool LineWatcher::notePulses(uint8_t known, uint8_t lines, const LineInterrupts &before,
                             const LineInterrupts &after)
{
    uint8_t pulsed = 0;
    for (ModemLine line : {Cts, Dsr, Dcd, Ri})
        if ((lines & line) == (known & line) && after.of(line) != before.of(line))
            pulsed |= line;
    if (!pulsed)
        return false;
    // Both edges, so that the capture and the log show the pulse as it was on the line.
    noteLines(lines ^ pulsed);
    noteLines(lines);
    return true;
}

bool LineWatcher::readNow()
{
    uint8_t lines = 0;
    if (!m_running.load() || !m_linesKnown.load() || !m_control.modemLines(lines))
        return false;
    noteLines(lines);
    return true;
}

void LineWatcher::noteCounts(const ErrorCounts &now)
{
    const std::lock_guard lock(m_mutex);
    const ErrorCounts since = now.since(m_base);
    if (since == m_counts)
        return;
    m_counts = since;
    m_publish(LineEvents::lineErrors(monotonicMicroseconds(), since));
}

void LineWatcher::pollMain()
{
    for (;;) {
        pollfd p {m_stopFd, POLLIN, 0};
        const int r = poll(&p, 1, PollMs);
        if (m_stopping.load() || (r > 0 && (p.revents & POLLIN)))
            return;
        if (m_linesKnown.load()) {
            uint8_t lines = 0;
            if (m_control.modemLines(lines))
                noteLines(lines);
            else if (!transient(errno))
                m_linesKnown.store(false); // refused or gone: not asked again
        }
        if (m_countsKnown.load()) {
            ErrorCounts counts;
            if (m_control.errorCounts(counts))
                noteCounts(counts);
            else if (!transient(errno))
                m_countsKnown.store(false);
        }
    }
}

void LineWatcher::waitMain()
{
    // A pulse over before the lines are read after the wait shows no change in them; the
    // interrupt counts still moved, and tell which line it was.
    LineInterrupts before;
    bool counted = m_control.lineInterrupts(before);
    while (!m_stopping.load()) {
        if (m_control.waitForChange(InputLines)) {
            uint8_t lines = 0;
            LineInterrupts after;
            const bool read = m_control.modemLines(lines);
            counted = counted && m_control.lineInterrupts(after);
            const uint8_t known = m_lines.load();
            bool noted = read && noteLines(lines);
            if (read && counted)
                noted = notePulses(known, lines, before, after) || noted;
            if (counted)
                before = after;
            if (!noted)
                sleepMs(1); // a driver whose wait returns at once must not make this spin
            continue;
        }
        const int error = errno;
        if (error == EINTR)
            continue;
        // ENOTTY, EINVAL or ENOIOCTLCMD: the driver cannot wait and the poller serves the
        // lines alone; EIO and the like: the device is gone, and waiting again would spin.
        m_waits.store(false);
        break;
    }
    m_waiterDone.store(true);
}

} // namespace serial
