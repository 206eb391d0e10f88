// SPDX-License-Identifier: MIT
#include "SendPacing.h"

#include <QCoreApplication>

#include <cerrno>
#include <ctime>
#include <sys/prctl.h>

namespace SendPacing {

void sleepUntil(Clock::time_point deadline)
{
    // libstdc++'s steady_clock is CLOCK_MONOTONIC, so its time points are that clock's readings.
    const auto since = deadline.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    timespec ts {};
    ts.tv_sec = time_t(seconds.count());
    ts.tv_nsec =
            long(std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) { }
}

namespace {

// Sleeps to just before `deadline`, then watches the clock for the rest.
void waitPreciselyUntil(Clock::time_point deadline)
{
    if (deadline - Clock::now() > SpinStretch)
        sleepUntil(deadline - SpinStretch);
    while (Clock::now() < deadline) { }
}

} // namespace

Pacer::Pacer(int32_t delayMs, Dispatch dispatch, WaitForEvents wait, Stop stop)
    : m_delayMs(delayMs < 0 ? 0 : delayMs), m_dispatch(std::move(dispatch)),
      m_wait(std::move(wait)), m_stop(std::move(stop)), m_lastDispatch(Clock::now())
{
    if (m_delayMs > 0) {
        // A normal thread's sleeps may end up to 50 us late (the kernel's timer slack), for
        // the sake of batching wake-ups; a paced send needs them on time. Given back after.
        m_savedTimerSlack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
        prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    }
}

Pacer::~Pacer()
{
    if (m_savedTimerSlack > 0)
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(m_savedTimerSlack), 0, 0, 0);
}

void Pacer::afterByte(Clock::time_point sentAt)
{
    if (m_delayMs == 0) {
        const Clock::time_point now = Clock::now();
        if (now - m_lastDispatch >= DispatchInterval) {
            m_dispatch();
            m_lastDispatch = Clock::now();
        }
        return;
    }
    m_dispatch();
    m_lastDispatch = Clock::now();
    const Clock::time_point deadline = sentAt + std::chrono::milliseconds(m_delayMs);
    for (;;) {
        if (m_stop && m_stop())
            return;
        const Clock::duration left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            return;
        if (left <= FinalStretch) {
            waitPreciselyUntil(deadline);
            return;
        }
        const auto wait = std::chrono::floor<std::chrono::milliseconds>(left - FinalStretch);
        m_wait(std::max(wait, std::chrono::milliseconds(1)));
    }
}

EventLoopWait::EventLoopWait()
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
}

void EventLoopWait::operator()(std::chrono::milliseconds maxWait)
{
    // The timer only has to wake the loop; it needs no receiver of its own.
    m_timer.start(maxWait);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    m_timer.stop();
}

} // namespace SendPacing
