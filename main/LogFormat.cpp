// SPDX-License-Identifier: MIT
#include "LogFormat.h"

#include "main/Cp950.h"
#include "send/ControlCodes.h"

#include <QDateTime>

namespace LogFormat {

namespace {

const char16_t HexDigits[] = u"0123456789ABCDEF";

void appendHexByte(uint8_t b, QString &out)
{
    out += QChar(HexDigits[b >> 4]);
    out += QChar(HexDigits[b & 0xF]);
}

const char *directionOf(TrafficKind kind)
{
    switch (kind) {
    case TrafficKind::Received:
        return "RX";
    case TrafficKind::Sent:
        return "TX";
    case TrafficKind::LineGone:
        break;
    }
    return "EV";
}

QString csvField(const QString &text)
{
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

} // namespace

QString isoTime(int64_t timeUs)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(wallMicroseconds(timeUs) / 1000);
    // With its offset written out, so that a line means one moment wherever it is read.
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString hexOf(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size() * 3);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            out += u' ';
        appendHexByte(uint8_t(bytes[i]), out);
    }
    return out;
}

QString textOf(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = uint8_t(bytes[i]);
        if (b < ControlCodes::Count) {
            out += u'<' + QLatin1String(ControlCodes::entry(b).name) + u'>';
        } else if (b < 0x7F) {
            out += QChar(char16_t(b));
        } else if (b == 0x7F) {
            out += QStringLiteral("<DEL>");
        } else {
            // A pair within the chunk is a character; a pair cut by the end of the chunk, or no
            // valid pair, is its bytes.
            const QChar pair = i + 1 < bytes.size() ? Cp950::decodePair(b, uint8_t(bytes[i + 1]))
                                                    : QChar(QChar::ReplacementCharacter);
            if (pair != QChar(QChar::ReplacementCharacter)) {
                out += pair;
                ++i;
            } else {
                out += u'<';
                appendHexByte(b, out);
                out += u'>';
            }
        }
    }
    return out;
}

namespace {

struct Fields
{
    QString time, direction, hex, text;
};

Fields fieldsOf(const TrafficRecord &record)
{
    Fields f {isoTime(record.timeUs), QString::fromLatin1(directionOf(record.kind)), {}, {}};
    if (record.kind == TrafficKind::LineGone) {
        f.hex = QStringLiteral("HANGUP");
        f.text = QStringLiteral("線路中斷 (裝置已移除或對方掛斷)");
    } else {
        f.hex = hexOf(record.bytes);
        f.text = textOf(record.bytes);
    }
    return f;
}

} // namespace

QString logLine(const TrafficRecord &record)
{
    const Fields f = fieldsOf(record);
    return f.time + u'\t' + f.direction + u'\t' + f.hex + u'\t' + f.text + u'\n';
}

QString csvLine(const TrafficRecord &record)
{
    const Fields f = fieldsOf(record);
    return f.time + u',' + f.direction + u',' + f.hex + u',' + csvField(f.text) + u'\n';
}

std::optional<Parsed> parseLogLine(QStringView line)
{
    if (line.endsWith(u'\n'))
        line.chop(1);
    const QList<QStringView> fields = line.split(u'\t');
    if (fields.size() != 4)
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(fields[0].toString(), Qt::ISODateWithMs);
    if (!time.isValid())
        return std::nullopt;
    Parsed p;
    p.wallMs = time.toMSecsSinceEpoch();
    if (fields[1] == u"RX") {
        p.kind = TrafficKind::Received;
    } else if (fields[1] == u"TX") {
        p.kind = TrafficKind::Sent;
    } else if (fields[1] == u"EV") {
        p.kind = TrafficKind::LineGone;
        p.event = fields[2].toString();
        return p;
    } else {
        return std::nullopt;
    }
    for (QStringView pair : fields[2].split(u' ', Qt::SkipEmptyParts)) {
        bool ok = false;
        const uint value = pair.toUInt(&ok, 16);
        if (!ok || pair.size() != 2)
            return std::nullopt;
        p.bytes.append(char(value));
    }
    return p;
}

} // namespace LogFormat
