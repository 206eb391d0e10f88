// SPDX-License-Identifier: MIT
// The records of the line's own events in the traffic stream, made and read in one place: the
// panel and the port make them, the capture keeps their bytes, the display and the logs word them.
//   ModemLines  bytes[0] the lines now, bytes[1] the lines that changed (serial::ModemLine bits)
//   BreakSent   its duration in ms, 2 bytes little-endian
//   LineErrors  the five counters since the mode started, 4 bytes each little-endian, in the
//               order of serial::ErrorCounts
//   Report      UTF-8 text
//   Params      UTF-8 text: the parameters in force, "19200 8N1"
//   Sides       SideNames: three UTF-8 names, each ended by a line feed but the last
//   LineGone    none at the hang-up; while the port waits for the device, UTF-8 text: why it
//               cannot open it again, each time that changes (empty: it is absent again)
#pragma once

#include "traffic/LineState.h"
#include "traffic/Traffic.h"

#include <QString>

#include <optional>

namespace LineEvents {

TrafficRecord modemLines(int64_t timeUs, uint8_t lines, uint8_t changed);
TrafficRecord breakSent(int64_t timeUs, int durationMs);
TrafficRecord lineErrors(int64_t timeUs, const serial::ErrorCounts &counts);
TrafficRecord report(int64_t timeUs, const QString &text);

struct ModemChange
{
    uint8_t lines = 0;
    uint8_t changed = 0;
};
// Nothing when the record is not of that kind or its bytes are short.
std::optional<ModemChange> modemChangeOf(const TrafficRecord &record);
std::optional<int> breakDurationOf(const TrafficRecord &record);
std::optional<serial::ErrorCounts> errorCountsOf(const TrafficRecord &record);

// Whether the record is one of the line's events (not bytes that crossed the line).
bool isEvent(TrafficKind kind);

// The event in words, for the logs and the display: "CTS↑ DSR↓ (CTS=1 DSR=0 DCD=0 RI=0)",
// "送出 Break 250 ms", "錯誤計數 …"; the text of a report. Empty for bytes.
QString describe(const TrafficRecord &record);

// "CTS", "DSR", "DCD", "RI", "DTR", "RTS".
const char *lineName(serial::ModemLine line);

} // namespace LineEvents
