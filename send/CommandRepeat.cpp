// SPDX-License-Identifier: MIT
#include "CommandRepeat.h"

#include "traffic/Traffic.h"

CommandRepeat::CommandRepeat(int periodMs, std::function<Outcome()> send, QObject *parent)
    : QObject(parent), m_periodMs(periodMs > 0 ? periodMs : 1), m_send(std::move(send))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CommandRepeat::fire);
}

void CommandRepeat::start()
{
    if (m_grid)
        return;
    m_grid.emplace(monotonicMicroseconds(), int64_t(m_periodMs) * 1000);
    fire();
}

void CommandRepeat::stop()
{
    m_timer.stop();
    if (m_grid)
        m_skipped += m_grid->skipped();
    m_grid.reset();
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
    const int64_t now = monotonicMicroseconds();
    m_grid->sent(now);
    const int64_t waitUs = m_grid->dueUs() - now;
    m_timer.start(int((std::max<int64_t>(waitUs, 0) + 999) / 1000));
}
