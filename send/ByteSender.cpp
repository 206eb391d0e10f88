// SPDX-License-Identifier: MIT
#include "ByteSender.h"

#include <QCoreApplication>

ByteSender::ByteSender(int fd, int32_t delayMs)
    : m_fd(fd),
      // The pause is meant as a gap on the wire, so a real port first lets the byte leave the
      // UART. Without a pause there is nothing to wait for, and a pseudo-terminal would wait
      // for its reader instead. Decided once: the check costs a system call.
      m_drain(delayMs > 0 && !serial::isPseudoTerminal(fd)), m_waitHook([this] {
          dispatchEvents();
          return !stopRequested();
      }),
      m_pacer(
              delayMs, [this] { dispatchEvents(); },
              [this](std::chrono::milliseconds maxWait) {
                  if (m_beforeDispatch)
                      m_beforeDispatch();
                  m_eventWait(maxWait);
              },
              [this] { return stopRequested(); }),
      m_sentAt(SendPacing::Clock::now())
{ }

void ByteSender::dispatchEvents()
{
    if (m_beforeDispatch)
        m_beforeDispatch();
    QCoreApplication::processEvents();
}

bool ByteSender::write(uint8_t byte)
{
    if (!serial::writeByte(m_fd, byte, m_waitHook))
        return false;
    if (m_drain)
        serial::drainOutput(m_fd);
    m_sentAt = SendPacing::Clock::now();
    return true;
}
