// SPDX-License-Identifier: MIT
// The Modbus framer under any bytes, cut into reads anywhere and with any silences between
// them: every byte comes out once, in order, in a frame or as bytes; nothing is held once the
// traffic ends; a frame said to be sound has a check that holds; frames come in time order and
// every one can be described.
//
// Input: protocol, speed, cut seed, gap seed, then the bytes.
#include "FuzzCheck.h"

#include "traffic/Checksum.h"
#include "traffic/ModbusFrames.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input in(data, size);
    const modbus::Protocol protocol =
            in.take() & 1 ? modbus::Protocol::Ascii : modbus::Protocol::Rtu;
    static constexpr int Speeds[] = {1200, 9600, 19200, 115200};
    const int baud = Speeds[in.take() % 4];
    const uint8_t cutSeed = in.take();
    uint32_t gaps = in.take();
    const QByteArray stream(reinterpret_cast<const char *>(in.rest()), qsizetype(in.restSize()));

    modbus::Framer framer(protocol, modbus::silenceUs(baud, 10), modbus::characterUs(baud, 10));
    std::vector<modbus::Frame> frames;
    int64_t time = 0;
    fuzz::forEachPiece(size_t(stream.size()), cutSeed, [&](size_t offset, size_t length, unsigned) {
        gaps = gaps * 1103515245u + 12345u;
        time += (gaps >> 16) % 8000; // up to 8 ms: silences at every speed, and none
        framer.feed(QByteArrayView(stream).sliced(qsizetype(offset), qsizetype(length)), time,
                    frames);
        if ((gaps >> 8) % 4 == 0)
            framer.flush(time + (gaps >> 20) % 4000, frames);
    });
    framer.finish(frames);
    FUZZ_CHECK(!framer.dueUs());

    QByteArray joined;
    int64_t last = 0;
    modbus::Describer describer(protocol);
    for (const modbus::Frame &f : frames) {
        FUZZ_CHECK(!f.bytes.isEmpty());
        FUZZ_CHECK(f.timeUs >= last);
        last = f.timeUs;
        joined += f.bytes;
        if (f.framed && f.checkOk) {
            const modbus::Decoded d = modbus::decode(f, protocol);
            FUZZ_CHECK(d.readable && d.check == d.expectedCheck);
            if (protocol == modbus::Protocol::Rtu)
                FUZZ_CHECK(f.bytes.size() >= 4 && f.bytes.size() <= 256);
        }
        FUZZ_CHECK(!describer.describe(f).line().isEmpty());
    }
    FUZZ_CHECK(joined == stream);
    return 0;
}
