// SPDX-License-Identifier: MIT
// A transmission's bytes onto an open port: each byte its own one-byte write, followed by the
// user's gap, with the window kept live in between (see SendPacing).
#pragma once

#include "send/SendPacing.h"
#include "serial/SerialLine.h"

#include <cstdint>
#include <functional>

class ByteSender
{
public:
    ByteSender(int fd, int32_t delayMs);
    ByteSender(const ByteSender &) = delete;
    ByteSender &operator=(const ByteSender &) = delete;

    // Break: ends a pause early, and gives up a byte that a stalled line will not take.
    void setStop(std::function<bool()> stop) { m_stop = std::move(stop); }
    // Runs just before events are dispatched, e.g. to show progress only when it can be seen.
    void setBeforeDispatch(std::function<void()> hook) { m_beforeDispatch = std::move(hook); }

    // One one-byte write. It returns when the driver has taken the byte (and, before a pause
    // on a real port, when the byte has left the wire); events run while the line holds it
    // back. False when the byte did not go out: the device is gone, or stop() turned true
    // while waiting.
    bool write(uint8_t byte);

    // What follows each byte: events get their turn, then the pause, counted from the moment
    // the last byte went out.
    void gap() { m_pacer.afterByte(m_sentAt); }

    // Lets pending events run now (with the before-dispatch hook).
    void dispatchEvents();

private:
    bool stopRequested() const { return m_stop && m_stop(); }

    int m_fd;
    bool m_drain;
    std::function<bool()> m_stop;
    std::function<void()> m_beforeDispatch;
    serial::WaitHook m_waitHook;
    SendPacing::EventLoopWait m_eventWait;
    SendPacing::Pacer m_pacer;
    SendPacing::Clock::time_point m_sentAt;
};
