// SPDX-License-Identifier: MIT
// The formats a capture is saved in and a live log is written in.
//
// The time-stamped log (.log) has one line per chunk of one direction, four fields (five while
// a conversation is watched) separated by one tab, and is meant to stay as it is, for scripts:
//
//   2026-12-09T14:03:07.123+08:00<TAB>RX<TAB>48 69 0D 0A<TAB>Hi<CR><LF>
//
//   1. the local time the chunk crossed the line, ISO 8601 with milliseconds and the offset,
//      written ±HH:MM for every zone, UTC too (+00:00), so that one pattern reads them all;
//   2. RX (received), TX (sent) or EV (an event of the line: HANGUP);
//   3. the bytes in upper-case hex, one blank between two; for EV the event's name;
//   4. the bytes as text: printable ASCII as it is, 00h-1Fh by their names (<CR>), DEL as
//      <DEL>, a Big5 pair as its character, any other byte as <XX> with its hex value; for EV
//      a description;
//   5. only while a mode watches a conversation between two others (the monitor's two lines,
//      the pass-through's two ends): the name of the line's direction ("A → B"), as an EV
//      SIDES line before them gives the names; for EV, the line the event happened on.
//
// A chunk is the reads of one direction that came less than a gap apart (10 ms unless the
// user sets it; 0 makes each read a chunk), with the time of their first byte: a line a read
// would make fourteen thousand lines of sixteen thousand bytes of a slow line. Sent bytes in a
// row are one chunk too: a paced send (terminal mode's, a send with a delay) publishes each
// byte as it goes out, and a line a byte would bury what was said (see Lines).
//
// CSV (.csv) has the same five columns under a header line, the fifth empty outside such a
// mode, the text and the name quoted as RFC 4180 says, after the UTF-8 byte order mark: without
// it Excel reads the file in the system's code page, Big5 in Taiwan, and the text column comes
// out garbled. Logs of four fields (and CSV of four columns) written before still read back.
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

inline constexpr const char *CsvBom = "\xEF\xBB\xBF";
inline constexpr const char *CsvHeader = "time,direction,hex,text,side\n";
// What a CSV file begins with: the byte order mark and the header.
QByteArray csvStart();
QString csvLine(const TrafficRecord &record);
// A field of any CSV this program writes: quoted, its quotation marks doubled, UTF-8.
void appendCsvField(QStringView text, QByteArray &out);
void appendCsvLine(const TrafficRecord &record, QByteArray &out);

// The lines of a stream of records, as the log or as CSV, records of one direction in a row
// joined, up to SentBytes::MaxChunk bytes a line. A line of received bytes (or of flawed ones)
// takes the next record of its kind that came less than `joinGapMs` after the one before it;
// 0 joins none. A line of sent bytes takes the sent records that follow it for SentLineUs from
// its first byte. Anything else between ends the line. A save and a live log write the same
// lines of the same records.
class Lines
{
public:
    static constexpr int DefaultJoinGapMs = 10;
    static constexpr int MaxJoinGapMs = 1000;
    static constexpr int64_t SentLineUs = 200000;

    explicit Lines(bool csv, int joinGapMs = DefaultJoinGapMs);

    // Appends the lines `record` ends or makes; a line of bytes waits, since more may join it.
    void add(const TrafficRecord &record, QByteArray &out);
    // Appends the line that waits.
    void finish(QByteArray &out);
    // The time after which no record can join the line that waits, or nothing when none waits.
    std::optional<int64_t> closesAt() const;

private:
    bool joins(const TrafficRecord &record) const;
    void append(const TrafficRecord &record, QByteArray &out) const;

    bool m_csv;
    int64_t m_joinGapUs;
    TrafficRecord m_waiting {TrafficKind::Sent, 0, {}};
    int64_t m_lastUs = 0; // the time of the last record the waiting line took
    SideNames m_sides; // from the last Sides record
};

// A line of the log or of the CSV read back: the kind, the wall-clock time in milliseconds
// since 1970 and the bytes. Nothing for a line that is none, the CSV's header among them. The
// byte order mark a file begins with is passed over, so a file's first line reads as any other.
struct Parsed
{
    TrafficKind kind = TrafficKind::Received;
    int64_t wallMs = 0;
    QByteArray bytes;
    // for EV lines: HANGUP, LINES, BREAK, ERRORS, REPORT, RECONNECT, SIDES, PARAMS
    QString event;
    QString text; // the event in words
    QString side; // the direction's name, where the line has one
};
std::optional<Parsed> parseLogLine(QStringView line);
std::optional<Parsed> parseCsvLine(QStringView line);

} // namespace LogFormat
