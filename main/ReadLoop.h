// SPDX-License-Identifier: MIT
// The loop every reading mode runs inside its start command, on the one user-interface thread.
//
// Each pass takes every byte the line has already delivered (for a few milliseconds at most)
// and hands them on in arrival order, then lets the event loop dispatch what is pending. A
// pass that found nothing waits for the next event instead of spinning; bytes arriving are such
// an event, through ModeState::ReadDoneEvent. So the window stays live, Break and the other
// commands run between two bytes within a frame, and the line is read as fast as it delivers:
// a tty holds only a few kilobytes, and what the program does not read in time the kernel drops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace ReadLoop {

// Gets the bytes of one read, in order; never an empty run.
using ByteSink = std::function<void(const uint8_t *bytes, size_t count)>;

// Called once per pass after the bytes of that pass, before events are dispatched, so that a
// consumer that joins its output can flush it (the display inserts once per pass).
using PassEnd = std::function<void()>;

// How long one pass may go on reading before events get their turn.
inline constexpr int PassBudgetMs = 4;

// Reads ModeState::PortHandle until ModeState::BreakRequested is set. A device that is gone
// (hang-up, unplugged adapter) is no longer watched: nothing more is shown, no message is
// given, and the mode waits for Break like any idle line.
void run(const ByteSink &sink, const PassEnd &passEnd = {});

} // namespace ReadLoop
