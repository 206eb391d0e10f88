// SPDX-License-Identifier: MIT
// The loop every reading mode runs inside its start command, on the one user-interface thread.
//
// The port's reader takes the bytes off the line as they arrive (see SerialPort); each pass of
// this loop publishes what the reader took, in arrival order, into the traffic stream, for a
// few milliseconds at most, then lets the event loop dispatch what is pending. A pass that found
// nothing waits for the next event instead of spinning; the reader having bytes is such an
// event. So the window stays live, Break and the other commands run between two passes, and a
// modal dialog opened meanwhile holds back only the display: what arrives meanwhile waits in the
// reader's queue and is shown in order once the dialog closes.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

class SerialPort;
class TrafficStream;

namespace ReadLoop {

// How long one pass may go on publishing before events get their turn: a backlog of a minute
// behind a dialog is worked off while the window stays usable.
inline constexpr int PassBudgetMs = 4;

// A line at its own rate hands over a read every millisecond or two, and a pass costs the
// window about the same whatever it holds (render, insert, lay out, repaint, tell assistive
// technology): the passes follow the screen instead, at most one a frame of `frameMs` (asked
// before each wait, so that a hidden window can ask for fewer). The reader goes on reading and
// stamping every chunk meanwhile; a backlog (a burst faster than the display) is worked off
// pass after pass without a wait, as before. No frameMs, or 0: each read is shown at once.
using FrameMs = std::function<int()>;

// What a pass must carry for each millisecond since the last to count as a burst, which is not
// paced: well above what the fastest UART (12 Mbaud, 1,200 bytes a millisecond) delivers.
inline constexpr long long BurstBytesPerMs = 2048;

// Reads `port` until ModeState::BreakRequested is set. A device that is gone (hang-up,
// unplugged adapter) is published as a LineGone record; no message is given, and the mode
// waits like any idle line, for Break or for the same device to come back (a LineBack record,
// after which its bytes come as before). At Break, what was read and not yet published goes to
// the stream's keepers alone (the capture, a live log).
void run(SerialPort &port, TrafficStream &traffic, const FrameMs &frameMs = {});

// Several ports at once (the monitor's two lines), their records merged by their times: a
// record waits up to ReorderWindowUs for an earlier one another reader may still hand over.
inline constexpr int64_t ReorderWindowUs = 5000;
void run(std::span<SerialPort *const> ports, TrafficStream &traffic, const FrameMs &frameMs = {});

} // namespace ReadLoop
