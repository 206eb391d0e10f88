// SPDX-License-Identifier: MIT
#include "PacedSender.h"

#include <QCoreApplication>

PacedSender::PacedSender(SerialPort &port, int32_t delayMs, Events events)
    : m_port(port), m_events(events), m_delayMs(delayMs < 0 ? 0 : delayMs), m_waitHook([this] {
          dispatchEvents();
          return !stopRequested();
      }),
      // The pacer's pause keeps the window live; a terminal send sleeps its pause instead.
      m_pacer(
              events == Events::BetweenBytes ? m_delayMs : 0, [this] { dispatchEvents(); },
              [this](std::chrono::milliseconds maxWait) {
                  if (m_beforeDispatch)
                      m_beforeDispatch();
                  m_eventWait(maxWait);
              },
              [this] { return stopRequested(); }),
      m_sentAt(SendPacing::Clock::now())
{ }

void PacedSender::dispatchEvents()
{
    if (m_beforeDispatch)
        m_beforeDispatch();
    QCoreApplication::processEvents();
}

bool PacedSender::write(uint8_t byte)
{
    if (!m_port.writeByte(byte, m_waitHook))
        return false;
    m_sentAt = SendPacing::Clock::now();
    return true;
}

int64_t PacedSender::sentAtUs() const
{
    // libstdc++'s steady_clock is CLOCK_MONOTONIC, the traffic's clock.
    return std::chrono::duration_cast<std::chrono::microseconds>(m_sentAt.time_since_epoch())
            .count();
}

void PacedSender::gap()
{
    // The pause is meant as a gap on the wire, so a real port first lets the byte leave the
    // UART, and the pause counts from then; without a pause there is nothing to wait for.
    if (m_delayMs > 0) {
        m_port.drainOutput();
        if (!m_port.isPseudoTerminal())
            m_sentAt = SendPacing::Clock::now();
    }
    if (m_events == Events::BetweenBytes) {
        m_pacer.afterByte(m_sentAt);
        return;
    }
    if (m_delayMs > 0)
        SendPacing::sleepUntil(m_sentAt + std::chrono::milliseconds(m_delayMs));
}
