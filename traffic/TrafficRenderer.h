// SPDX-License-Identifier: MIT
// The traffic as the display shows it: the formatter's text for each byte, and around it what
// the user asked to see of time and framing: the arrival time at the start of every line, a
// line break after an idle gap, and the HEX + text style's lines of a hex dump. One renderer
// keeps the state that spans records (is the next byte the first of a line, when did the last
// byte come, the dump's partial line); the display and the text a log is saved as both go
// through it, so they read the same.
#pragma once

#include "traffic/DisplayFormatter.h"
#include "traffic/ModbusFrames.h"
#include "traffic/Traffic.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

struct RenderOptions
{
    bool lineTimestamps = false; // "[HH:MM:SS.mmm] " before the first byte of every line
    int idleGapMs = 0; // a line break before a byte that came this long after the last; 0 off
    bool blockTimestamps = false; // terminal mode: the time in each block's label
    // Not None: the reading modes show a frame a line (modbus::Describer) instead of the bytes.
    modbus::Protocol protocol = modbus::Protocol::None;
    friend bool operator==(const RenderOptions &, const RenderOptions &) = default;
};

class TrafficRenderer
{
public:
    explicit TrafficRenderer(DisplayFormatter &formatter) : m_formatter(formatter) { }

    void setOptions(const RenderOptions &options) { m_options = options; }
    const RenderOptions &options() const { return m_options; }
    DisplayFormatter &formatter() { return m_formatter; }

    // The output starts afresh (the display was emptied, or shows other text): the next byte
    // begins a line, and a dump begins at offset 0.
    void restart();

    // What the bytes of one record that arrived at `timeUs` show as, appended to `out`. A dump
    // counts the offsets of each direction on its own: the device's reply starts at 0000 however
    // much the host sent before it.
    void appendBytes(const QByteArray &bytes, int64_t timeUs, QString &out,
                     TrafficKind direction = TrafficKind::Received);
    // Text of the program's own among the output (a terminal label); lines it begins get their
    // time like any other.
    void appendText(QStringView text, int64_t timeUs, QString &out);
    // A line of the program's own between the traffic (the device came back): on a line of
    // its own, whatever the output was in the middle of.
    void appendNote(QStringView line, int64_t timeUs, QString &out);
    // What the end of the output still owes: the text column of a dump's last, partial line.
    void finish(QString &out);

    // "[HH:MM:SS.mmm] ", the local time of a traffic time.
    static QString timestamp(int64_t timeUs);

    // Bytes on a line of the HEX + text style.
    static constexpr int DumpWidth = 16;
    // Hex digits of a dump line's offset, more once the offset needs them: with eight, a line
    // with its time stamp was wider than the window's display.
    static constexpr int OffsetDigits = 4;

private:
    bool dumping() const;
    void startLine(int64_t timeUs, QString &out);
    void appendDumpByte(uint8_t b, int64_t timeUs, QString &out);
    void completeDumpLine(QString &out);

    DisplayFormatter &m_formatter;
    RenderOptions m_options;
    bool m_lineStart = true;
    int64_t m_lastByteUs = -1;
    int64_t m_dumpOffsets[2] = {0, 0}; // received, sent
    bool m_dumpSent = false; // the direction of the dump's partial line
    QByteArray m_dumpLine;
    QString m_piece; // reused for each record's formatted text
};

// The lines the device's going and coming leave among the traffic, in the display and in the
// text saved as shown: "— 裝置已移除 12:00:03 —" when it goes, "— 裝置重新連接 12:00:09 —" when it
// is open again. While it is away the port tells again why it cannot open it yet; that is the
// status bar's news, not the text's.
class DeviceNotes
{
public:
    // The line `record` leaves, or nothing.
    std::optional<QString> noteOf(const TrafficRecord &record);

private:
    bool m_away[2] = {false, false}; // per line, where two are heard at once
};
