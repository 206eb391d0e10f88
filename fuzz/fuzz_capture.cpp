// SPDX-License-Identifier: MIT
// The capture, the log line and the hex dump under any traffic: chunks of any bytes and length,
// of either direction, at times that jump forward or back by any amount.
//
// The capture gives every chunk back in order with its bytes exact and its time to the unit it
// keeps; every log line is one line of four fields and reads back to its chunk; any text fed to
// the log reader is taken or refused without harm; the hex dump's lines read back to the bytes,
// sixteen to a line, at consecutive offsets, with their text columns under one another.
//
// Input: cut seed, direction mask, time seed, then the bytes.
#include "FuzzCheck.h"

#include "traffic/DisplayFormatter.h"
#include "traffic/LogFormat.h"
#include "traffic/TrafficCapture.h"
#include "traffic/TrafficRenderer.h"

#include <QList>
#include <QString>

#include <cstdlib>

namespace {

// Walks the dump's lines against the bytes they show.
void checkDump(const QString &dump, const QByteArray &bytes)
{
    const QStringList lines = dump.split(QChar(DisplayFormatter::LineBreak), Qt::SkipEmptyParts);
    FUZZ_CHECK(lines.size() == (bytes.size() + TrafficRenderer::DumpWidth - 1) / TrafficRenderer::DumpWidth);
    QByteArray back;
    qsizetype bar = -1;
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString &line = lines[n];
        bool ok = false;
        // The offset has its digits and more once it passes them; the columns follow it.
        const qsizetype digits = line.indexOf(u' ');
        FUZZ_CHECK(digits >= TrafficRenderer::OffsetDigits);
        FUZZ_CHECK(line.left(digits).toLongLong(&ok, 16) == n * TrafficRenderer::DumpWidth && ok);
        const qsizetype open = line.indexOf(u'|');
        FUZZ_CHECK(bar < 0 || open - digits == bar);
        bar = open - digits;
        FUZZ_CHECK(line.endsWith(u'|'));
        const QList<QStringView> hex =
                QStringView(line).mid(digits, open - digits).split(u' ', Qt::SkipEmptyParts);
        FUZZ_CHECK(line.size() - open - 2 == hex.size());
        for (qsizetype i = 0; i < hex.size(); ++i) {
            FUZZ_CHECK(hex[i].size() == 2);
            const auto b = char(hex[i].toUInt(&ok, 16));
            FUZZ_CHECK(ok);
            back += b;
            const QChar shown = line[open + 1 + i];
            FUZZ_CHECK(shown == (uint8_t(b) >= 0x20 && uint8_t(b) < 0x7F ? QChar(char16_t(uint8_t(b)))
                                                                         : QChar(u'.')));
        }
    }
    FUZZ_CHECK(back == bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input in(data, size);
    const uint8_t cutSeed = in.take();
    const uint8_t directions = in.take();
    uint32_t timeState = in.take();
    const uint8_t *payload = in.rest();

    QList<TrafficRecord> records;
    int64_t t = int64_t(1) << 40;
    fuzz::forEachPiece(in.restSize(), cutSeed, [&](size_t offset, size_t length, unsigned index) {
        // Mostly small steps forward, now and then a long silence or a step back.
        timeState = timeState * 1103515245u + 12345u;
        const int64_t step = int64_t((timeState >> 8) % 4000);
        t += (timeState & 0x30) == 0x30 ? step * 1000000 : (timeState & 0x3) == 0 ? -step : step;
        static const TrafficKind Kinds[4] = {TrafficKind::Received, TrafficKind::Sent,
                                             TrafficKind::Flawed, TrafficKind::Received};
        const TrafficKind kind = Kinds[(directions >> (index % 4 * 2)) & 3];
        records.append({kind, t, QByteArray(reinterpret_cast<const char *>(payload + offset),
                                            qsizetype(length))});
    });

    TrafficCapture capture;
    for (const TrafficRecord &r : records)
        capture.take(r);
    qsizetype at = 0;
    int64_t received = 0;
    capture.forEach([&](const TrafficRecord &r) {
        FUZZ_CHECK(at < records.size());
        const TrafficRecord &sent = records[at++];
        FUZZ_CHECK(r.kind == sent.kind);
        FUZZ_CHECK(r.bytes == sent.bytes);
        FUZZ_CHECK(std::abs(r.timeUs - sent.timeUs) < TrafficCapture::TimeUnitUs);
        if (r.kind == TrafficKind::Received || r.kind == TrafficKind::Flawed)
            received += r.bytes.size();
    });
    FUZZ_CHECK(at == records.size());
    FUZZ_CHECK(capture.receivedBytes() == received);

    QByteArray allBytes;
    for (const TrafficRecord &r : records) {
        allBytes += r.bytes;
        const QString line = LogFormat::logLine(r);
        FUZZ_CHECK(line.endsWith(u'\n') && line.count(u'\n') == 1 && line.count(u'\t') == 3);
        const std::optional<LogFormat::Parsed> back = LogFormat::parseLogLine(line);
        FUZZ_CHECK(back);
        FUZZ_CHECK(back->kind == r.kind && back->bytes == r.bytes);
        FUZZ_CHECK(std::abs(back->wallMs - wallMicroseconds(r.timeUs) / 1000) <= 1);
    }
    // Whatever a file holds: a log line, or no line at all, never harm.
    for (const QByteArray &raw : QByteArray(reinterpret_cast<const char *>(payload),
                                            qsizetype(in.restSize()))
                                         .split('\n'))
        (void)LogFormat::parseLogLine(QString::fromUtf8(raw));

    DisplayFormatter formatter;
    formatter.setHexForm(true);
    formatter.setSettings({LineBreakRule::CR, std::nullopt, HexStyle::HexText});
    TrafficRenderer renderer(formatter);
    QString dump;
    for (const TrafficRecord &r : records)
        renderer.appendBytes(r.bytes, 0, dump);
    renderer.finish(dump);
    checkDump(dump, allBytes);
    return 0;
}
