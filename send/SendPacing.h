// SPDX-License-Identifier: MIT
// The gap after each byte of a transmission, and when the window gets its turn meanwhile.
//
// Each byte's pause is its own: it ends at an absolute deadline counted from the moment that
// byte went out, so time spent writing or handling events never adds up over a long send.
// While a pause is long the event loop runs (the window stays live, Break is seen); its last
// stretch is slept to the deadline, since event-loop timers keep only whole milliseconds and
// may be late by one.
#pragma once

#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>

namespace SendPacing {

using Clock = std::chrono::steady_clock;

// Without a pause events still get their turn this often, rather than after every byte, so
// a fast line is not held back by the event loop; Break is still seen within milliseconds.
inline constexpr std::chrono::milliseconds DispatchInterval {4};
// The end of a pause that is slept rather than spent in the event loop.
inline constexpr std::chrono::microseconds FinalStretch {2000};
// The very end of a pause is watched on the clock: waking from a sleep takes the kernel tens
// of microseconds, which would add up to several percent of a 1 ms gap.
inline constexpr std::chrono::microseconds SpinStretch {150};

// Sleeps until `deadline` of the monotonic clock; a signal does not shorten the sleep.
void sleepUntil(Clock::time_point deadline);

class Pacer
{
public:
    // Lets pending events run once.
    using Dispatch = std::function<void()>;
    // Lets events run, waiting at most `maxWait` for one; returns once some were handled.
    using WaitForEvents = std::function<void(std::chrono::milliseconds maxWait)>;
    // True when the transmission is to stop: the rest of the pause is then skipped.
    using Stop = std::function<bool()>;

    // A negative delay is no pause (callers refuse it before anything is sent).
    Pacer(int32_t delayMs, Dispatch dispatch, WaitForEvents wait, Stop stop = {});
    ~Pacer();
    Pacer(const Pacer &) = delete;
    Pacer &operator=(const Pacer &) = delete;

    int32_t delayMs() const { return m_delayMs; }

    // What follows a byte that went out at `sentAt`: with a pause, events run after every
    // byte and the pause ends `delay` after `sentAt`; without one, events run only when
    // DispatchInterval has passed since they last did.
    void afterByte(Clock::time_point sentAt);

private:
    int32_t m_delayMs;
    Dispatch m_dispatch;
    WaitForEvents m_wait;
    Stop m_stop;
    Clock::time_point m_lastDispatch;
    int m_savedTimerSlack = -1;
};

// WaitForEvents on the thread's own event loop: a precise single-shot timer bounds the wait.
class EventLoopWait
{
public:
    EventLoopWait();
    void operator()(std::chrono::milliseconds maxWait);

private:
    QTimer m_timer;
};

} // namespace SendPacing
