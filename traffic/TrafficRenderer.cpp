// SPDX-License-Identifier: MIT
#include "TrafficRenderer.h"

#include "traffic/Traffic.h"

#include <QDateTime>

namespace {

const char16_t HexDigits[] = u"0123456789ABCDEF";

void appendHex(uint64_t value, int digits, QString &out)
{
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out += QChar(HexDigits[(value >> shift) & 0xF]);
}

} // namespace

QString TrafficRenderer::timestamp(int64_t timeUs)
{
    // The clock face changes once a second; working it out costs more than the rest of a line.
    // Rendering happens on the window's thread alone.
    static int64_t cachedSecond = -1;
    static QString cachedFace;
    const int64_t wallMs = wallMicroseconds(timeUs) / 1000;
    const int64_t second = wallMs / 1000;
    if (second != cachedSecond) {
        cachedSecond = second;
        cachedFace =
                QDateTime::fromMSecsSinceEpoch(second * 1000).toString(QStringLiteral("HH:mm:ss"));
    }
    QString out;
    out.reserve(15);
    out += u'[';
    out += cachedFace;
    out += u'.';
    const int ms = int(wallMs % 1000);
    out += QChar(u'0' + ms / 100);
    out += QChar(u'0' + ms / 10 % 10);
    out += QChar(u'0' + ms % 10);
    out += QStringLiteral("] ");
    return out;
}

void TrafficRenderer::restart()
{
    m_lineStart = true;
    m_dumpOffsets[0] = m_dumpOffsets[1] = 0;
    m_dumpLine.clear();
}

bool TrafficRenderer::dumping() const
{
    return m_formatter.hexForm() && m_formatter.settings().hexStyle == HexStyle::HexText;
}

void TrafficRenderer::startLine(int64_t timeUs, QString &out)
{
    if (m_options.lineTimestamps)
        out += timestamp(timeUs);
    m_lineStart = false;
}

void TrafficRenderer::appendBytes(const QByteArray &bytes, int64_t timeUs, QString &out,
                                  TrafficKind direction)
{
    if (bytes.isEmpty())
        return;
    const bool gap = m_options.idleGapMs > 0 && m_lastByteUs >= 0
            && timeUs - m_lastByteUs >= int64_t(m_options.idleGapMs) * 1000;
    m_lastByteUs = timeUs;
    if (dumping()) {
        // A line of the dump holds one direction: its offset counts that direction alone.
        const bool sent = direction == TrafficKind::Sent;
        if (gap || sent != m_dumpSent)
            completeDumpLine(out);
        m_dumpSent = sent;
        for (char c : bytes)
            appendDumpByte(uint8_t(c), timeUs, out);
        return;
    }
    if (gap && !m_lineStart) {
        out += QChar(DisplayFormatter::LineBreak);
        m_lineStart = true;
    }
    if (!m_options.lineTimestamps) {
        const qsizetype before = out.size();
        m_formatter.append(bytes, out);
        if (out.size() > before)
            m_lineStart = out.endsWith(QChar(DisplayFormatter::LineBreak));
        return;
    }
    // Every line that begins in this record begins with the record's time.
    m_piece.resize(0); // keeps its buffer: clear() would give it back every record
    m_formatter.append(bytes, m_piece);
    appendText(m_piece, timeUs, out);
}

void TrafficRenderer::appendText(QStringView text, int64_t timeUs, QString &out)
{
    if (text.isEmpty())
        return;
    if (!m_dumpLine.isEmpty())
        completeDumpLine(out);
    qsizetype from = 0;
    while (from < text.size()) {
        if (m_lineStart && text[from] != DisplayFormatter::LineBreak)
            startLine(timeUs, out);
        const qsizetype nl = text.indexOf(QChar(DisplayFormatter::LineBreak), from);
        const qsizetype end = nl < 0 ? text.size() : nl + 1;
        out += text.mid(from, end - from);
        m_lineStart = nl >= 0;
        from = end;
    }
}

void TrafficRenderer::appendNote(QStringView line, int64_t timeUs, QString &out)
{
    if (!m_dumpLine.isEmpty())
        completeDumpLine(out);
    if (!m_lineStart)
        out += QChar(DisplayFormatter::LineBreak);
    m_lineStart = true;
    appendText(line, timeUs, out);
    out += QChar(DisplayFormatter::LineBreak);
    m_lineStart = true;
}

void TrafficRenderer::appendDumpByte(uint8_t b, int64_t timeUs, QString &out)
{
    int64_t &offset = m_dumpOffsets[m_dumpSent ? 1 : 0];
    if (m_dumpLine.isEmpty()) {
        if (!m_lineStart)
            out += QChar(DisplayFormatter::LineBreak);
        startLine(timeUs, out);
        int digits = OffsetDigits;
        while (digits < 16 && (uint64_t(offset) >> (4 * digits)) != 0)
            ++digits;
        appendHex(uint64_t(offset), digits, out);
        out += QStringLiteral("  ");
    } else if (m_dumpLine.size() == DumpWidth / 2) {
        out += u' ';
    }
    appendHex(b, 2, out);
    out += u' ';
    m_dumpLine.append(char(b));
    ++offset;
    if (m_dumpLine.size() == DumpWidth)
        completeDumpLine(out);
}

void TrafficRenderer::completeDumpLine(QString &out)
{
    if (m_dumpLine.isEmpty())
        return;
    // A short last line is padded, so that its text column stands under the others.
    for (qsizetype i = m_dumpLine.size(); i < DumpWidth; ++i)
        out += QStringLiteral("   ");
    if (m_dumpLine.size() <= DumpWidth / 2)
        out += u' ';
    out += QStringLiteral(" |");
    for (char c : m_dumpLine) {
        const auto b = uint8_t(c);
        out += b >= 0x20 && b < 0x7F ? QChar(char16_t(b)) : QChar(u'.');
    }
    out += u'|';
    out += QChar(DisplayFormatter::LineBreak);
    m_dumpLine.clear();
    m_lineStart = true;
}

void TrafficRenderer::finish(QString &out) { completeDumpLine(out); }

std::optional<QString> DeviceNotes::noteOf(const TrafficRecord &record)
{
    const char16_t *words = nullptr;
    bool &away = m_away[record.side ? 1 : 0];
    if (record.kind == TrafficKind::LineGone && !away) {
        away = true;
        words = u"裝置已移除";
    } else if (record.kind == TrafficKind::LineBack) {
        away = false;
        words = u"裝置重新連接";
    } else {
        return std::nullopt;
    }
    const QString at = QDateTime::fromMSecsSinceEpoch(wallMicroseconds(record.timeUs) / 1000)
                               .toString(QStringLiteral("HH:mm:ss"));
    return QStringLiteral("— %1 %2 —").arg(QStringView(words), at);
}
