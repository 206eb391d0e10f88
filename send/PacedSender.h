// SPDX-License-Identifier: MIT
// The one way every transmission puts its bytes on the line: each byte its own one-byte write,
// returning when the driver has taken it, followed by the user's pause. File and string sends
// keep the window live in between (see SendPacing); a terminal send runs to its end first, as a
// send does, and lets events through only while the line holds a byte back, so that the window
// never hangs on a stalled line.
#pragma once

#include "send/SendPacing.h"
#include "serial/SerialPort.h"

#include <cstdint>
#include <functional>

class PacedSender
{
public:
    enum class Events {
        BetweenBytes, // after every byte, and during the pause
        WhileStalled, // only while a write waits for the driver
    };

    PacedSender(SerialPort &port, int32_t delayMs, Events events = Events::BetweenBytes);
    PacedSender(const PacedSender &) = delete;
    PacedSender &operator=(const PacedSender &) = delete;

    // Break: ends a pause early, and gives up a byte that a stalled line will not take.
    void setStop(std::function<bool()> stop) { m_stop = std::move(stop); }
    // Runs just before events are dispatched, e.g. to show progress only when it can be seen.
    void setBeforeDispatch(std::function<void()> hook) { m_beforeDispatch = std::move(hook); }
    // The pause of the next gap (a terminal send reads its box for every byte).
    void setDelay(int32_t delayMs) { m_delayMs = delayMs < 0 ? 0 : delayMs; }

    // One one-byte write. It returns when the driver has taken the byte (and, before a pause
    // on a real port, when the byte has left the wire). False when the byte did not go out:
    // the device is gone, or stop() turned true while waiting.
    bool write(uint8_t byte);
    // When the driver took the last byte, on the traffic's clock. Read it before gap().
    int64_t sentAtUs() const;

    // What follows each byte: with BetweenBytes events get their turn, then the pause, counted
    // from the moment the byte went out.
    void gap();

    // Lets pending events run now (with the before-dispatch hook).
    void dispatchEvents();

private:
    bool stopRequested() const { return m_stop && m_stop(); }

    SerialPort &m_port;
    Events m_events;
    int32_t m_delayMs;
    std::function<bool()> m_stop;
    std::function<void()> m_beforeDispatch;
    serial::WaitHook m_waitHook;
    SendPacing::EventLoopWait m_eventWait;
    SendPacing::Pacer m_pacer;
    SendPacing::Clock::time_point m_sentAt;
};
