// SPDX-License-Identifier: MIT
// Program-wide state shared by every mode. Plain variables on purpose: the mode loops and the
// handlers that run nested inside their event dispatch talk to each other only through these
// flags, all on the one user-interface thread, so they need neither an owner nor locks.
#pragma once

#include <cstdint>
#include <poll.h>
#include <sys/types.h>

class QSocketNotifier;

namespace ModeState {

// Flags hold 0 or 1.
inline uint8_t BreakRequested = 0;
inline uint8_t ReceiveModeActive = 0;
inline uint8_t HexDisplayMode = 0;
inline uint8_t PortReady = 0;
inline uint8_t SendActive = 0;
inline uint8_t TRModeActive = 0;
inline uint8_t R2KModeActive = 0;
inline uint8_t ReadRestartRequested = 0;
inline uint8_t RemotePrefixWritten = 0;

// The open port's descriptor; -1 while no mode holds a port (0 would be standard input).
inline int PortHandle = -1;
// Wakes the mode loop's event wait when the port has bytes (or has hung up): the Linux
// counterpart of a read-completion event. Only read modes have one; null otherwise.
inline QSocketNotifier *ReadDoneEvent = nullptr;
// The record the loop polls with time-out 0 to ask whether a byte is waiting, as the
// overlapped request record was polled for its completion.
inline pollfd ReadRequest {-1, 0, 0};
// The last byte taken from the line and how many bytes the last read delivered.
inline uint8_t ReceivedByte = 0;
inline ssize_t BytesTransferred = 0;

// Everything back to its start value, as at program start. Tests call this between cases.
void reset();

} // namespace ModeState
