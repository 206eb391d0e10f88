// SPDX-License-Identifier: MIT
// The formats a capture is saved in and a live log is written in.
//
// The time-stamped log (.log) has one line per chunk of one direction, four fields separated by
// one tab, and is meant to stay as it is, for scripts:
//
//   2026-12-09T14:03:07.123+08:00<TAB>RX<TAB>48 69 0D 0A<TAB>Hi<CR><LF>
//
//   1. the local time the chunk crossed the line, ISO 8601 with milliseconds and the offset,
//      written ±HH:MM for every zone, UTC too (+00:00), so that one pattern reads them all;
//   2. RX (received), TX (sent) or EV (an event of the line: HANGUP);
//   3. the bytes in upper-case hex, one blank between two; for EV the event's name;
//   4. the bytes as text: printable ASCII as it is, 00h-1Fh by their names (<CR>), DEL as
//      <DEL>, a Big5 pair as its character, any other byte as <XX> with its hex value; for EV
//      a description.
//
// A chunk received is what one read gave. Sent bytes in a row are one chunk too, with the time
// of their first byte: a paced send (terminal mode's, a send with a delay) publishes each byte
// as it goes out, and a line a byte would bury what was said (see Lines).
//
// CSV (.csv) has the same four columns under a header line, each field quoted as RFC 4180 says.
// Raw (.bin) is the received bytes alone, exactly as they came.
#pragma once

#include "traffic/Traffic.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace LogFormat {

// "2026-12-09T14:03:07.123+08:00" for a traffic time.
QString isoTime(int64_t timeUs);

// The text column of a chunk of bytes.
QString textOf(const QByteArray &bytes);
QString hexOf(const QByteArray &bytes);

// One line of the log, with its line feed; appended as UTF-8, as a live log writes it.
QString logLine(const TrafficRecord &record);
void appendLogLine(const TrafficRecord &record, QByteArray &out);

inline constexpr const char *CsvHeader = "time,direction,hex,text\n";
QString csvLine(const TrafficRecord &record);
void appendCsvLine(const TrafficRecord &record, QByteArray &out);

// The lines of a stream of records, as the log or as CSV, sent bytes in a row joined: a line
// of sent bytes takes the sent records that follow it with nothing between, for SentLineUs
// from its first byte and up to SentBytes::MaxChunk bytes. A save and a live log write the
// same lines of the same records.
class Lines
{
public:
    explicit Lines(bool csv) : m_csv(csv) { }

    // Appends the lines `record` ends or makes; sent bytes wait, since more may join them.
    void add(const TrafficRecord &record, QByteArray &out);
    // Appends the sent bytes that wait.
    void finish(QByteArray &out);
    // The time of the first of the sent bytes that wait, or nothing when none wait.
    std::optional<int64_t> waitingSince() const;

    static constexpr int64_t SentLineUs = 200000;

private:
    void append(const TrafficRecord &record, QByteArray &out) const;

    bool m_csv;
    TrafficRecord m_sent {TrafficKind::Sent, 0, {}};
};

// A line of the log read back: the kind, the wall-clock time in milliseconds since 1970 and
// the bytes. Nothing for a line that is no log line.
struct Parsed
{
    TrafficKind kind = TrafficKind::Received;
    int64_t wallMs = 0;
    QByteArray bytes;
    QString event; // for EV lines: HANGUP, LINES, BREAK, ERRORS, REPORT
    QString text; // the event in words
};
std::optional<Parsed> parseLogLine(QStringView line);

} // namespace LogFormat
