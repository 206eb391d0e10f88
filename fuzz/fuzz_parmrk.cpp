// SPDX-License-Identifier: MIT
// The PARMRK decoder under any bytes, cut into reads anywhere: however the stream is cut, the
// same bytes of the same kinds come out; no record is empty, and the records of one read
// alternate in kind; what is decoded, marked again as the tty marks it, decodes to itself.
//
// Input: cut seed, then the bytes.
#include "FuzzCheck.h"

#include "serial/ParmrkDecoder.h"

#include <vector>

namespace {

struct Decoded
{
    QByteArray bytes;
    std::vector<bool> flawed;
};

Decoded decode(const QByteArray &stream, uint8_t cutSeed)
{
    serial::ParmrkDecoder decoder;
    std::vector<TrafficRecord> out;
    const auto *data = reinterpret_cast<const uint8_t *>(stream.constData());
    size_t at = 0;
    int64_t time = 0;
    unsigned step = cutSeed;
    while (at < size_t(stream.size())) {
        step = step * 1103515245u + 12345u;
        const size_t n = cutSeed == 0
                ? size_t(stream.size()) - at
                : std::min(size_t(stream.size()) - at, size_t(step >> 28) + 1);
        const size_t before = out.size();
        decoder.decode(data + at, n, ++time, out);
        for (size_t i = before; i < out.size(); ++i) {
            FUZZ_CHECK(!out[i].bytes.isEmpty());
            FUZZ_CHECK(out[i].timeUs == time);
            FUZZ_CHECK(i == before || out[i].kind != out[i - 1].kind);
        }
        at += n;
    }
    decoder.finish(++time, out);
    FUZZ_CHECK(decoder.pending() == 0);
    Decoded d;
    for (const TrafficRecord &r : out) {
        FUZZ_CHECK(r.kind == TrafficKind::Received || r.kind == TrafficKind::Flawed);
        d.bytes += r.bytes;
        d.flawed.insert(d.flawed.end(), size_t(r.bytes.size()), r.kind == TrafficKind::Flawed);
    }
    return d;
}

QByteArray mark(const Decoded &d)
{
    QByteArray out;
    for (qsizetype i = 0; i < d.bytes.size(); ++i) {
        if (d.flawed[size_t(i)])
            out.append("\xFF\x00", 2);
        else if (uint8_t(d.bytes[i]) == 0xFF)
            out.append(char(0xFF));
        out.append(d.bytes[i]);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray stream(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const Decoded whole = decode(stream, 0);
    const Decoded cut = decode(stream, data[0]);
    FUZZ_CHECK(whole.bytes == cut.bytes && whole.flawed == cut.flawed);
    const Decoded again = decode(mark(whole), data[0]);
    FUZZ_CHECK(again.bytes == whole.bytes && again.flawed == whole.flawed);
    return 0;
}
