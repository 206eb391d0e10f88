// SPDX-License-Identifier: MIT
// What a line has besides its bytes: the handshake lines, the driver's error counters, flow
// control and the state the outputs take at opening. Plain values, shared by the port, the line
// panel, the capture and the self-test.
#pragma once

#include <cstdint>

namespace serial {

// One bit per handshake line, as the line panel and the traffic records carry them.
enum ModemLine : uint8_t {
    Cts = 0x01,
    Dsr = 0x02,
    Dcd = 0x04,
    Ri = 0x08,
    Dtr = 0x10, // outputs
    Rts = 0x20,
};
inline constexpr uint8_t InputLines = Cts | Dsr | Dcd | Ri;
inline constexpr uint8_t OutputLines = Dtr | Rts;
inline constexpr uint8_t AllLines = InputLines | OutputLines;

// The driver's counters of line conditions (TIOCGICOUNT), since it was opened or since a base.
struct ErrorCounts
{
    uint32_t frame = 0;
    uint32_t parity = 0;
    uint32_t overrun = 0; // the UART's own buffer
    uint32_t bufferOverrun = 0; // the tty's buffer
    uint32_t breaks = 0;
    friend bool operator==(const ErrorCounts &, const ErrorCounts &) = default;

    // What grew since `base`; a counter that went back (a driver reset) counts from zero.
    ErrorCounts since(const ErrorCounts &base) const
    {
        const auto d = [](uint32_t now, uint32_t then) { return now >= then ? now - then : now; };
        return {d(frame, base.frame), d(parity, base.parity), d(overrun, base.overrun),
                d(bufferOverrun, base.bufferOverrun), d(breaks, base.breaks)};
    }
    uint64_t total() const { return uint64_t(frame) + parity + overrun + bufferOverrun + breaks; }
};

// How often each input line changed, as the UART's interrupts counted it (TIOCGICOUNT); RI is
// counted at the end of a ring only.
struct LineInterrupts
{
    uint32_t cts = 0;
    uint32_t dsr = 0;
    uint32_t dcd = 0;
    uint32_t ri = 0;
    uint32_t of(ModemLine line) const
    {
        return line == Cts ? cts : line == Dsr ? dsr : line == Dcd ? dcd : line == Ri ? ri : 0;
    }
};

// The parity bit of each character.
enum class Parity : uint8_t { None, Odd, Even, Mark, Space };
inline constexpr int ParityCount = 5;

enum class FlowControl : uint8_t {
    Keep, // what the driver reports (the default: the line as it was)
    None,
    RtsCts,
    XonXoff,
};

// RS-485 direction control, as the kernel's struct serial_rs485 carries it: the driver raises
// or lowers RTS around each send to turn the adapter's transmitter on and off.
struct Rs485Config
{
    // Off leaves the driver's own setting alone: a board's device tree may have set it.
    bool enabled = false;
    bool rtsOnSend = true; // RTS's level while sending; the common wiring drives on RTS high
    bool rtsAfterSend = false; // and after the last bit has left
    uint32_t delayBeforeSendMs = 0; // from RTS set to the first bit
    uint32_t delayAfterSendMs = 0; // from the last bit to RTS changed back
    friend bool operator==(const Rs485Config &, const Rs485Config &) = default;
};
// The port dialog's bound for each delay. The struct takes any 32-bit count, but Linux's serial
// core holds each delay to 100 ms; a longer one reads back as that and is told as a difference.
inline constexpr uint32_t Rs485MaxDelayMs = 1000;

// DTR and RTS right after opening.
enum class OpenLineState : uint8_t { Unchanged, On, Off };

} // namespace serial
