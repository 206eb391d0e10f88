// SPDX-License-Identifier: MIT
// The Modbus framer in the core, no window: 8-byte read requests back to back, handed over in
// reads of 4 KiB as a fast line's reader hands them, framed and checked; then the same frames
// described as the display shows them. Frames a second, the median of --runs (default 5).
#include "BenchFigures.h"
#include "traffic/Checksum.h"
#include "traffic/ModbusFrames.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char *argv[])
{
    int runs = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[++i]));
    }
    constexpr int Count = 1000000;
    QByteArray stream;
    stream.reserve(Count * 8);
    for (int i = 0; i < Count; ++i) {
        QByteArray request = QByteArray::fromHex("0103");
        request += char(i >> 8);
        request += char(i);
        request += QByteArray::fromHex("000A");
        stream += Checksum::append(Checksum::Kind::Crc16Modbus, request).bytes;
    }
    std::vector<double> framedPerS, describedPerS;
    for (int run = 0; run < runs; ++run) {
        modbus::Framer framer(modbus::Protocol::Rtu, modbus::silenceUs(115200, 10),
                              modbus::characterUs(115200, 10));
        std::vector<modbus::Frame> frames;
        frames.reserve(Count);
        QElapsedTimer clock;
        clock.start();
        for (qsizetype at = 0; at < stream.size(); at += 4096)
            framer.feed(QByteArrayView(stream).sliced(
                                at, std::min<qsizetype>(4096, stream.size() - at)),
                        at / 100, frames);
        framer.finish(frames);
        const double framing = double(clock.nsecsElapsed()) / 1e9;
        const bool allSound = frames.size() == size_t(Count)
                && std::all_of(frames.begin(), frames.end(),
                               [](const modbus::Frame &f) { return f.framed && f.checkOk; });
        if (!allSound) {
            std::fprintf(stderr, "modbus_bench: %zu frames, not %d sound ones\n", frames.size(),
                         Count);
            return 1;
        }
        modbus::Describer describer(modbus::Protocol::Rtu);
        clock.restart();
        qsizetype characters = 0;
        for (const modbus::Frame &f : frames)
            characters += describer.describe(f).line().size();
        const double describing = double(clock.nsecsElapsed()) / 1e9;
        framedPerS.push_back(Count / framing);
        describedPerS.push_back(Count / describing);
        std::printf("run %d: framed %.0f frames/s, described %.0f frames/s (%lld characters)\n",
                    run + 1, framedPerS.back(), describedPerS.back(), (long long)characters);
    }
    std::printf("framed_per_s=%.0f described_per_s=%.0f (8-byte requests, medians of %d)\n",
                bench::median(framedPerS), bench::median(describedPerS), runs);
    return 0;
}
