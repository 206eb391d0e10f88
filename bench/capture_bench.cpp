// SPDX-License-Identifier: MIT
// What the session capture costs in memory: 64 MiB received (and, for the terminal's case, a
// sent chunk after every received one) in chunks of the sizes a reader really gets, from one
// byte (a slow line read byte by byte) to 64 KiB (a fast line). Each line gives the bytes the
// capture holds per byte captured, as it counts them and as the heap grew (malloc's own count),
// and what a day at 11,520 B/s would keep at that chunk size, in memory and in the file. Then the records are
// read back and compared with what went in. The last cases keep a limit of 16 MiB in memory,
// as the default 512 MiB would after a long day, and move the rest to the capture's file.
//
//   capture_bench [MiB]    (default 64)
#include "traffic/TrafficCapture.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>

namespace {

size_t heapInUse()
{
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

struct Case
{
    const char *name;
    qsizetype chunk;
    bool withReplies; // a one-byte sent record after each received chunk
    int64_t memoryLimit = TrafficCapture::DefaultMemoryLimit;
};

const Case Cases[] = {
        {"chunk_1", 1, false},
        {"chunk_11", 11, false}, // 11,520 B/s read every millisecond
        {"chunk_64", 64, false},
        {"chunk_4096", 4096, false},
        {"chunk_65536", 65536, false},
        {"terminal_11_plus_1", 11, true},
        {"chunk_1_spilling", 1, false, 16 << 20},
        {"chunk_11_spilling", 11, false, 16 << 20},
};

} // namespace

int main(int argc, char *argv[])
{
    const qsizetype total = qsizetype(argc > 1 ? std::atoi(argv[1]) : 64) << 20;
    QByteArray data(total, Qt::Uninitialized);
    QRandomGenerator rng(16);
    for (char &c : data)
        c = char(rng.bounded(256));

    int failures = 0;
    for (const Case &c : Cases) {
        const size_t heapBefore = heapInUse();
        auto capture = std::make_unique<TrafficCapture>(c.memoryLimit);
        int64_t timeUs = 0;
        TrafficRecord record;
        const TrafficRecord reply {TrafficKind::Sent, 0, QByteArray(1, 'y')};
        for (qsizetype at = 0; at < total; at += c.chunk) {
            // The time steps as the chunk would take at 11,520 B/s, so that the time field has
            // the width it has on such a line.
            timeUs += c.chunk * 1000000 / 11520;
            record.timeUs = timeUs;
            record.bytes = data.mid(at, c.chunk);
            capture->take(record);
            if (c.withReplies) {
                TrafficRecord sent = reply;
                sent.timeUs = timeUs + 50;
                capture->take(sent);
            }
        }
        const size_t heapAfter = heapInUse();
        const int64_t captured = capture->receivedBytes() + capture->sentBytes();

        // Read back: the received bytes in order, the times to 100 us.
        qsizetype at = 0;
        bool same = true;
        QElapsedTimer readTime;
        readTime.start();
        const bool complete = capture->forEach([&](const TrafficRecord &r) {
            if (r.kind != TrafficKind::Received)
                return;
            same = same && r.bytes == QByteArrayView(data).sliced(at, r.bytes.size());
            at += r.bytes.size();
        });
        same = same && complete && at == total;
        const double readSeconds = double(readTime.nsecsElapsed()) / 1e9;
        failures += !same;

        const double perByte = double(capture->memoryBytes()) / double(captured);
        const double usedPerByte = double(capture->storedBytes()) / double(captured);
        const double heapPerByte = double(heapAfter - heapBefore) / double(captured);
        const double dayBytes = 11520.0 * 86400.0 * (c.withReplies ? 12.0 / 11.0 : 1.0);
        const double dayKept = usedPerByte * dayBytes;
        std::printf("case=%s captured=%lld records=%lld memory_bytes_per_byte=%.3f "
                    "used_bytes_per_byte=%.3f heap_bytes_per_byte=%.3f day_at_11520_memory_gb=%.2f "
                    "day_at_11520_file_gb=%.2f spilled_mib=%.0f read_back=%s read_back_s=%.2f\n",
                    c.name, (long long)captured, (long long)capture->records(), perByte,
                    usedPerByte, heapPerByte,
                    std::min(dayKept, double(c.memoryLimit)) / 1e9,
                    std::max(dayKept - double(c.memoryLimit), 0.0) / 1e9,
                    double(capture->spilledBytes()) / double(1 << 20), same ? "same" : "DIFFERENT",
                    readSeconds);
    }
    return failures;
}
