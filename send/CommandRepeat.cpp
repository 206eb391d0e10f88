// SPDX-License-Identifier: MIT
#include "CommandRepeat.h"

#include "traffic/Traffic.h"

#include <QSocketNotifier>

#include <algorithm>

#include <sys/timerfd.h>
#include <unistd.h>

CommandRepeat::CommandRepeat(int periodMs, std::function<Outcome()> send, QObject *parent)
    : QObject(parent), m_periodMs(periodMs > 0 ? periodMs : 1), m_send(std::move(send)),
      m_timerFd(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC))
{
    if (m_timerFd < 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(m_timerFd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        uint64_t expirations = 0;
        if (::read(m_timerFd, &expirations, sizeof expirations) == sizeof expirations)
            fire();
    });
}

CommandRepeat::~CommandRepeat()
{
    m_notifier.reset();
    if (m_timerFd >= 0)
        ::close(m_timerFd);
}

void CommandRepeat::start()
{
    if (m_grid || m_timerFd < 0)
        return;
    m_grid.emplace(monotonicMicroseconds(), int64_t(m_periodMs) * 1000);
    fire();
}

void CommandRepeat::stop()
{
    armAt(0);
    if (m_grid)
        m_skipped += m_grid->skipped();
    m_grid.reset();
}

void CommandRepeat::armAt(int64_t dueUs)
{
    // The traffic's clock is CLOCK_MONOTONIC, the timer's too. Zero disarms; a point already
    // passed is one microsecond after the clock's start, which fires at once.
    itimerspec when {};
    if (dueUs != 0) {
        const int64_t at = std::max<int64_t>(dueUs, 1);
        when.it_value.tv_sec = time_t(at / 1000000);
        when.it_value.tv_nsec = long(at % 1000000) * 1000;
    }
    timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME, &when, nullptr);
}

void CommandRepeat::fire()
{
    if (!m_grid)
        return;
    const Outcome outcome = m_send();
    // The send may have stopped the repeat itself (its button, Break handled meanwhile).
    if (!m_grid)
        return;
    if (outcome == Outcome::Stop) {
        stop();
        emit stopped();
        return;
    }
    if (outcome == Outcome::Sent)
        ++m_sends;
    else
        ++m_skipped;
    // After the send: points that passed while it was held up are skipped, not made up.
    m_grid->sent(monotonicMicroseconds());
    armAt(m_grid->dueUs());
}
