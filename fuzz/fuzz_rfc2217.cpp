// SPDX-License-Identifier: MIT
// The Telnet COM-PORT-OPTION decoder under any bytes from a server, cut into reads anywhere:
// however the stream is cut, the same line bytes, answers and replies come out; the line bytes,
// escaped again as they travel, decode to themselves with nothing else. The same input as a
// device path goes through the network-address parser.
//
// Input: cut seed, then the bytes.
#include "FuzzCheck.h"

#include "serial/NetworkAddress.h"
#include "serial/Rfc2217.h"

#include <string>

namespace {

struct Decoded
{
    rfc2217::Bytes data;
    std::vector<rfc2217::Answer> answers;
    rfc2217::Bytes reply;
};

Decoded decode(const uint8_t *bytes, size_t size, uint8_t cutSeed)
{
    rfc2217::Decoder decoder;
    Decoded d;
    size_t at = 0;
    unsigned step = cutSeed;
    while (at < size) {
        step = step * 1103515245u + 12345u;
        const size_t n = cutSeed == 0 ? size - at : std::min(size - at, size_t(step >> 28) + 1);
        decoder.feed(bytes + at, n, d.data, d.answers, d.reply);
        at += n;
    }
    FUZZ_CHECK(d.data.size() <= size);
    return d;
}

bool same(const Decoded &a, const Decoded &b)
{
    if (a.data != b.data || a.reply != b.reply || a.answers.size() != b.answers.size())
        return false;
    for (size_t i = 0; i < a.answers.size(); ++i) {
        if (a.answers[i].command != b.answers[i].command
            || a.answers[i].value != b.answers[i].value)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const Decoded whole = decode(data + 1, size - 1, 0);
    const Decoded cut = decode(data + 1, size - 1, data[0]);
    FUZZ_CHECK(same(whole, cut));

    rfc2217::Bytes wire;
    rfc2217::appendData(whole.data.data(), whole.data.size(), wire);
    const Decoded again = decode(wire.data(), wire.size(), data[0]);
    FUZZ_CHECK(again.data == whole.data);
    FUZZ_CHECK(again.answers.empty() && again.reply.empty());

    const std::string path(reinterpret_cast<const char *>(data + 1), size - 1);
    std::string problem;
    if (const auto address = serial::parseNetworkAddress(path, problem)) {
        FUZZ_CHECK(serial::isNetworkPath(path));
        FUZZ_CHECK(!address->host.empty() && address->port != 0);
    } else {
        FUZZ_CHECK(!problem.empty());
    }
    return 0;
}
