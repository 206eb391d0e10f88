// SPDX-License-Identifier: MIT
#include "LogFormat.h"

#include "traffic/ControlCodes.h"
#include "traffic/Cp950.h"
#include "traffic/LineEvents.h"

#include <QDateTime>

#include <algorithm>
#include <cstdlib>

namespace LogFormat {

namespace {

const char HexDigits[] = "0123456789ABCDEF";

const char *directionOf(TrafficKind kind)
{
    switch (kind) {
    case TrafficKind::Received:
        return "RX";
    case TrafficKind::Sent:
        return "TX";
    case TrafficKind::Flawed:
        return "RX!"; // came with a parity or framing error
    case TrafficKind::LineGone:
    case TrafficKind::ModemLines:
    case TrafficKind::BreakSent:
    case TrafficKind::LineErrors:
    case TrafficKind::Report:
    case TrafficKind::LineBack:
    case TrafficKind::Sides:
    case TrafficKind::Params:
        break;
    }
    return "EV";
}

// The third field of an event line: what a program reading the log tells them apart by.
const char *eventCodeOf(TrafficKind kind)
{
    switch (kind) {
    case TrafficKind::ModemLines:
        return "LINES";
    case TrafficKind::BreakSent:
        return "BREAK";
    case TrafficKind::LineErrors:
        return "ERRORS";
    case TrafficKind::Report:
        return "REPORT";
    case TrafficKind::LineBack:
        return "RECONNECT";
    case TrafficKind::Sides:
        return "SIDES";
    case TrafficKind::Params:
        return "PARAMS";
    default:
        return "HANGUP";
    }
}

// The lines are made as UTF-8 directly: a live log of a fast line writes several bytes of log
// for each byte received, and a detour through QString would cost more than the display does.

char *putUtf8(char16_t c, char *p)
{
    if (c < 0x80) {
        *p++ = char(c);
    } else if (c < 0x800) {
        *p++ = char(0xC0 | (c >> 6));
        *p++ = char(0x80 | (c & 0x3F));
    } else {
        *p++ = char(0xE0 | (c >> 12));
        *p++ = char(0x80 | ((c >> 6) & 0x3F));
        *p++ = char(0x80 | (c & 0x3F));
    }
    return p;
}

void appendHex(const QByteArray &bytes, QByteArray &out)
{
    if (bytes.isEmpty())
        return;
    const qsizetype at = out.size();
    out.resize(at + bytes.size() * 3 - 1);
    char *p = out.data() + at;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = uint8_t(bytes[i]);
        if (i > 0)
            *p++ = ' ';
        *p++ = HexDigits[b >> 4];
        *p++ = HexDigits[b & 0xF];
    }
}

// `quote` doubles the quotation marks, for a CSV field.
void appendText(const QByteArray &bytes, QByteArray &out, bool quote)
{
    // Written through a pointer into room for the longest form of every byte ("<NULL>"), then
    // cut to what was written: a call per character would cost more than the rest of the line.
    constexpr qsizetype Widest = 6;
    const qsizetype at = out.size();
    out.resize(at + bytes.size() * Widest);
    char *const start = out.data() + at;
    char *p = start;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = uint8_t(bytes[i]);
        if (b >= 0x20 && b < 0x7F) {
            *p++ = char(b);
            if (quote && b == '"')
                *p++ = '"';
        } else if (b < ControlCodes::Count) {
            *p++ = '<';
            for (const char *name = ControlCodes::entry(b).name; *name; ++name)
                *p++ = *name;
            *p++ = '>';
        } else if (b == 0x7F) {
            for (char c : {'<', 'D', 'E', 'L', '>'})
                *p++ = c;
        } else {
            // A pair within the chunk is a character; a pair cut by the end of the chunk, or no
            // valid pair, is its bytes.
            const QChar pair = i + 1 < bytes.size() ? Cp950::decodePair(b, uint8_t(bytes[i + 1]))
                                                    : QChar(QChar::ReplacementCharacter);
            if (pair != QChar(QChar::ReplacementCharacter)) {
                p = putUtf8(pair.unicode(), p); // three bytes at most for the two
                ++i;
            } else {
                *p++ = '<';
                *p++ = HexDigits[b >> 4];
                *p++ = HexDigits[b & 0xF];
                *p++ = '>';
            }
        }
    }
    out.resize(at + (p - start));
}

void appendTime(int64_t timeUs, QByteArray &out)
{
    // The date, the clock to the second and the offset change once a second (a change of the
    // offset falls on a whole second too): made by Qt once a second, the milliseconds here.
    struct Second
    {
        int64_t second = INT64_MIN;
        QByteArray head; // up to the seconds
        QByteArray tail; // the offset
    };
    thread_local Second cached;
    const int64_t wallMs = wallMicroseconds(timeUs) / 1000;
    const int64_t second = wallMs >= 0 ? wallMs / 1000 : (wallMs - 999) / 1000;
    if (second != cached.second) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(second * 1000);
        // With its offset written out, so that a line means one moment wherever it is read;
        // by hand, since Qt writes UTC as "Z" and a script would need a second pattern.
        const int offset = local.offsetFromUtc();
        const QByteArray whole =
                local.toOffsetFromUtc(offset).toString(Qt::ISODateWithMs).toLatin1();
        const int minutes = std::abs(offset) / 60;
        cached.second = second;
        cached.head = whole.left(whole.indexOf('.'));
        cached.tail = QByteArray(offset < 0 ? "-" : "+") + char('0' + minutes / 600)
                + char('0' + minutes / 60 % 10) + ':' + char('0' + minutes % 60 / 10)
                + char('0' + minutes % 10);
    }
    const int ms = int(wallMs - second * 1000);
    out += cached.head;
    out += '.';
    out += char('0' + ms / 100);
    out += char('0' + ms / 10 % 10);
    out += char('0' + ms % 10);
    out += cached.tail;
}

// The fields, joined by `separator`; the text quoted as CSV wants it when `csv`. The fifth,
// the direction's name, where the record has one (`side`), and always in the CSV, whose
// header names five columns.
void appendFields(const TrafficRecord &record, QStringView eventText, const QString *side,
                  char separator, bool csv, QByteArray &out)
{
    const bool event = LineEvents::isEvent(record.kind);
    appendTime(record.timeUs, out);
    out += separator;
    out += directionOf(record.kind);
    out += separator;
    if (event)
        out += eventCodeOf(record.kind);
    else
        appendHex(record.bytes, out);
    out += separator;
    if (csv)
        out += '"';
    if (event) {
        QByteArray text = eventText.toUtf8();
        if (csv)
            text.replace('"', "\"\"");
        out += text;
    } else {
        appendText(record.bytes, out, csv);
    }
    if (csv)
        out += '"';
    if (csv || (side && !side->isEmpty())) {
        out += separator;
        if (csv)
            out += '"';
        if (side) {
            QByteArray name = side->toUtf8();
            name.replace('\t', ' ');
            if (csv)
                name.replace('"', "\"\"");
            out += name;
        }
        if (csv)
            out += '"';
    }
    out += '\n';
}

void appendLine(const TrafficRecord &record, const SideNames &sides, char separator, bool csv,
                QByteArray &out)
{
    // The names' own line names no direction.
    const QString *side =
            sides.isEmpty() || record.kind == TrafficKind::Sides ? nullptr : &sides.nameOf(record);
    if (!LineEvents::isEvent(record.kind)) {
        appendFields(record, {}, side, separator, csv, out);
        return;
    }
    // A report of several lines is a line of the log each: every line of a log reads alone.
    const QString text = LineEvents::describe(record);
    for (QStringView line : QStringView(text).split(u'\n', Qt::SkipEmptyParts))
        appendFields(record, line.toString().replace(u'\t', u' '), side, separator, csv, out);
}

const SideNames NoSides;

} // namespace

QString isoTime(int64_t timeUs)
{
    QByteArray out;
    appendTime(timeUs, out);
    return QString::fromLatin1(out);
}

QString hexOf(const QByteArray &bytes)
{
    QByteArray out;
    appendHex(bytes, out);
    return QString::fromLatin1(out);
}

QString textOf(const QByteArray &bytes)
{
    QByteArray out;
    appendText(bytes, out, false);
    return QString::fromUtf8(out);
}

void appendLogLine(const TrafficRecord &record, QByteArray &out)
{
    appendLine(record, NoSides, '\t', false, out);
}

void appendCsvLine(const TrafficRecord &record, QByteArray &out)
{
    appendLine(record, NoSides, ',', true, out);
}

QString logLine(const TrafficRecord &record)
{
    QByteArray out;
    appendLogLine(record, out);
    return QString::fromUtf8(out);
}

QString csvLine(const TrafficRecord &record)
{
    QByteArray out;
    appendCsvLine(record, out);
    return QString::fromUtf8(out);
}

QByteArray csvStart() { return QByteArray(CsvBom) + CsvHeader; }

void appendCsvField(QStringView text, QByteArray &out)
{
    QByteArray bytes = text.toUtf8();
    bytes.replace('"', "\"\"");
    out += '"';
    out += bytes;
    out += '"';
}

Lines::Lines(bool csv, int joinGapMs)
    : m_csv(csv), m_joinGapUs(int64_t(std::clamp(joinGapMs, 0, MaxJoinGapMs)) * 1000)
{ }

bool Lines::joins(const TrafficRecord &record) const
{
    if (record.kind != m_waiting.kind || record.side != m_waiting.side
        || m_waiting.bytes.size() + record.bytes.size() > SentBytes::MaxChunk)
        return false;
    if (record.kind == TrafficKind::Sent)
        return record.timeUs - m_waiting.timeUs <= SentLineUs;
    return record.timeUs - m_lastUs < m_joinGapUs;
}

void Lines::add(const TrafficRecord &record, QByteArray &out)
{
    if (!m_waiting.bytes.isEmpty()) {
        if (joins(record)) {
            m_waiting.bytes += record.bytes;
            m_lastUs = record.timeUs;
            return;
        }
        finish(out);
    }
    if (record.kind == TrafficKind::Sides) {
        // Its own line names the directions; the lines after it carry their names.
        m_sides = SideNames::of(record);
        if (m_sides.isEmpty()) {
            append(record, out);
            return;
        }
    }
    const bool received =
            record.kind == TrafficKind::Received || record.kind == TrafficKind::Flawed;
    if (!record.bytes.isEmpty()
        && (record.kind == TrafficKind::Sent || (received && m_joinGapUs > 0))) {
        m_waiting = record;
        m_lastUs = record.timeUs;
    } else {
        append(record, out);
    }
}

void Lines::finish(QByteArray &out)
{
    if (m_waiting.bytes.isEmpty())
        return;
    append(m_waiting, out);
    m_waiting.bytes.clear();
}

std::optional<int64_t> Lines::closesAt() const
{
    if (m_waiting.bytes.isEmpty())
        return std::nullopt;
    return m_waiting.kind == TrafficKind::Sent ? m_waiting.timeUs + SentLineUs
                                               : m_lastUs + m_joinGapUs;
}

void Lines::append(const TrafficRecord &record, QByteArray &out) const
{
    appendLine(record, m_sides, m_csv ? ',' : '\t', m_csv, out);
}

namespace {

QStringView withoutBom(QStringView line)
{
    if (line.startsWith(QChar(QChar::ByteOrderMark)))
        line = line.mid(1);
    if (line.endsWith(u'\n'))
        line.chop(1);
    if (line.endsWith(u'\r'))
        line.chop(1);
    return line;
}

// The four fields of a line, whichever form it was written in.
std::optional<Parsed> parseFields(QStringView timeField, QStringView direction, QStringView third,
                                  QStringView fourth)
{
    const QDateTime time = QDateTime::fromString(timeField.toString(), Qt::ISODateWithMs);
    if (!time.isValid())
        return std::nullopt;
    Parsed p;
    p.wallMs = time.toMSecsSinceEpoch();
    if (direction == u"RX") {
        p.kind = TrafficKind::Received;
    } else if (direction == u"RX!") {
        p.kind = TrafficKind::Flawed;
    } else if (direction == u"TX") {
        p.kind = TrafficKind::Sent;
    } else if (direction == u"EV") {
        static const std::pair<QStringView, TrafficKind> codes[] = {
                {u"SIDES", TrafficKind::Sides},
                {u"PARAMS", TrafficKind::Params},
                {u"LINES", TrafficKind::ModemLines},
                {u"BREAK", TrafficKind::BreakSent},
                {u"ERRORS", TrafficKind::LineErrors},
                {u"REPORT", TrafficKind::Report},
                {u"RECONNECT", TrafficKind::LineBack}};
        p.kind = TrafficKind::LineGone;
        for (const auto &[code, kind] : codes)
            if (third == code)
                p.kind = kind;
        p.event = third.toString();
        p.text = fourth.toString();
        return p;
    } else {
        return std::nullopt;
    }
    for (QStringView pair : third.split(u' ', Qt::SkipEmptyParts)) {
        bool ok = false;
        const uint value = pair.toUInt(&ok, 16);
        if (!ok || pair.size() != 2)
            return std::nullopt;
        p.bytes.append(char(value));
    }
    return p;
}

} // namespace

std::optional<Parsed> parseLogLine(QStringView line)
{
    // Four fields; five where the line names its direction.
    const QList<QStringView> fields = withoutBom(line).split(u'\t');
    if (fields.size() != 4 && fields.size() != 5)
        return std::nullopt;
    std::optional<Parsed> p = parseFields(fields[0], fields[1], fields[2], fields[3]);
    if (p && fields.size() == 5)
        p->side = fields[4].toString();
    return p;
}

std::optional<Parsed> parseCsvLine(QStringView line)
{
    line = withoutBom(line);
    // The time, the direction and the hex hold no comma and no quote; the text and the name
    // of the direction are quoted.
    const qsizetype first = line.indexOf(u',');
    const qsizetype second = first < 0 ? -1 : line.indexOf(u',', first + 1);
    const qsizetype third = second < 0 ? -1 : line.indexOf(u',', second + 1);
    if (third < 0)
        return std::nullopt;
    // A quoted field from `at`: its text, and where the line goes on after it.
    const auto quoted = [&line](qsizetype at, qsizetype &end) -> std::optional<QString> {
        if (at >= line.size() || line[at] != u'"')
            return std::nullopt;
        QString text;
        for (qsizetype i = at + 1; i < line.size(); ++i) {
            if (line[i] != u'"') {
                text += line[i];
            } else if (i + 1 < line.size() && line[i + 1] == u'"') {
                text += u'"';
                ++i;
            } else {
                end = i + 1;
                return text;
            }
        }
        return std::nullopt;
    };
    qsizetype end = 0;
    const std::optional<QString> text = quoted(third + 1, end);
    if (!text)
        return std::nullopt;
    std::optional<QString> side;
    if (end < line.size()) {
        if (line[end] != u',' || !(side = quoted(end + 1, end)) || end != line.size())
            return std::nullopt;
    }
    std::optional<Parsed> p = parseFields(line.left(first), line.mid(first + 1, second - first - 1),
                                          line.mid(second + 1, third - second - 1), *text);
    if (p && side)
        p->side = *side;
    return p;
}

} // namespace LogFormat
