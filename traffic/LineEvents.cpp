// SPDX-License-Identifier: MIT
#include "LineEvents.h"

#include <QStringList>

#include <algorithm>

namespace LineEvents {

namespace {

void putLittleEndian(QByteArray &out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

uint32_t littleEndianAt(const QByteArray &in, qsizetype at, int bytes)
{
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= uint32_t(uint8_t(in[at + i])) << (8 * i);
    return value;
}

constexpr serial::ModemLine PanelOrder[] = {serial::Dtr, serial::Rts, serial::Cts,
                                            serial::Dsr, serial::Dcd, serial::Ri};

} // namespace

const char *lineName(serial::ModemLine line)
{
    switch (line) {
    case serial::Cts:
        return "CTS";
    case serial::Dsr:
        return "DSR";
    case serial::Dcd:
        return "DCD";
    case serial::Ri:
        return "RI";
    case serial::Dtr:
        return "DTR";
    case serial::Rts:
        return "RTS";
    }
    return "?";
}

TrafficRecord modemLines(int64_t timeUs, uint8_t lines, uint8_t changed)
{
    QByteArray bytes;
    bytes.append(char(lines));
    bytes.append(char(changed));
    return {TrafficKind::ModemLines, timeUs, bytes};
}

TrafficRecord breakSent(int64_t timeUs, int durationMs)
{
    QByteArray bytes;
    putLittleEndian(bytes, uint32_t(std::clamp(durationMs, 0, 0xFFFF)), 2);
    return {TrafficKind::BreakSent, timeUs, bytes};
}

TrafficRecord lineErrors(int64_t timeUs, const serial::ErrorCounts &counts)
{
    QByteArray bytes;
    for (uint32_t v : {counts.frame, counts.parity, counts.overrun, counts.bufferOverrun,
                       counts.breaks})
        putLittleEndian(bytes, v, 4);
    return {TrafficKind::LineErrors, timeUs, bytes};
}

TrafficRecord report(int64_t timeUs, const QString &text)
{
    return {TrafficKind::Report, timeUs, text.toUtf8()};
}

std::optional<ModemChange> modemChangeOf(const TrafficRecord &record)
{
    if (record.kind != TrafficKind::ModemLines || record.bytes.size() < 2)
        return std::nullopt;
    return ModemChange {uint8_t(record.bytes[0]), uint8_t(record.bytes[1])};
}

std::optional<int> breakDurationOf(const TrafficRecord &record)
{
    if (record.kind != TrafficKind::BreakSent || record.bytes.size() < 2)
        return std::nullopt;
    return int(littleEndianAt(record.bytes, 0, 2));
}

std::optional<serial::ErrorCounts> errorCountsOf(const TrafficRecord &record)
{
    if (record.kind != TrafficKind::LineErrors || record.bytes.size() < 20)
        return std::nullopt;
    serial::ErrorCounts c;
    c.frame = littleEndianAt(record.bytes, 0, 4);
    c.parity = littleEndianAt(record.bytes, 4, 4);
    c.overrun = littleEndianAt(record.bytes, 8, 4);
    c.bufferOverrun = littleEndianAt(record.bytes, 12, 4);
    c.breaks = littleEndianAt(record.bytes, 16, 4);
    return c;
}

bool isEvent(TrafficKind kind)
{
    switch (kind) {
    case TrafficKind::Received:
    case TrafficKind::Sent:
    case TrafficKind::Flawed:
        return false;
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
    return true;
}

QString describe(const TrafficRecord &record)
{
    switch (record.kind) {
    case TrafficKind::ModemLines:
        if (const auto change = modemChangeOf(record)) {
            // What moved first, then the whole state, so a log line reads alone.
            QStringList moved;
            QStringList state;
            for (serial::ModemLine line : PanelOrder) {
                const bool on = (change->lines & line) != 0;
                if (change->changed & line)
                    moved << QString::fromLatin1(lineName(line)) + QChar(on ? u'↑' : u'↓');
                state << QStringLiteral("%1=%2").arg(QLatin1String(lineName(line))).arg(on ? 1 : 0);
            }
            const QString all = state.join(u' ');
            return moved.isEmpty() ? QStringLiteral("線路狀態 %1").arg(all)
                                   : QStringLiteral("%1 (%2)").arg(moved.join(u' '), all);
        }
        break;
    case TrafficKind::BreakSent:
        if (const auto ms = breakDurationOf(record))
            return QStringLiteral("送出 Break %1 ms").arg(*ms);
        break;
    case TrafficKind::LineErrors:
        if (const auto c = errorCountsOf(record))
            return QStringLiteral("錯誤計數 訊框=%1 同位=%2 溢位=%3 緩衝區溢位=%4 Break=%5")
                    .arg(c->frame)
                    .arg(c->parity)
                    .arg(c->overrun)
                    .arg(c->bufferOverrun)
                    .arg(c->breaks);
        break;
    case TrafficKind::Report:
        return QString::fromUtf8(record.bytes);
    case TrafficKind::LineGone:
        // With bytes: why the device that went away cannot be opened again yet.
        if (!record.bytes.isEmpty())
            return QStringLiteral("線路中斷,等待重新連接 (%1)")
                    .arg(QString::fromUtf8(record.bytes));
        return QStringLiteral("線路中斷 (裝置已移除或對方掛斷)");
    case TrafficKind::LineBack:
        return QStringLiteral("裝置重新連接 %1").arg(QString::fromUtf8(record.bytes));
    case TrafficKind::Params:
        return QStringLiteral("程式設定參數 %1").arg(QString::fromUtf8(record.bytes));
    case TrafficKind::Sides: {
        const SideNames names = SideNames::of(record);
        if (names.isEmpty())
            return QStringLiteral("方向名稱結束");
        QStringList named;
        for (const QString &n : {names.received, names.receivedSecond, names.sent})
            if (!n.isEmpty())
                named << n;
        return QStringLiteral("方向 : %1").arg(named.join(QStringLiteral(" / ")));
    }
    case TrafficKind::Received:
    case TrafficKind::Sent:
    case TrafficKind::Flawed:
        break;
    }
    return {};
}

} // namespace LineEvents
