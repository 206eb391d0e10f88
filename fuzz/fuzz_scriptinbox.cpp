// SPDX-License-Identifier: MIT
// What a script's waits take from the line, under any traffic: the bytes come in reads of any
// length, and the script expects a pattern, reads a count or a line, in any order. Each wait
// takes exactly what a plain model of the received bytes says (a pattern's first match after
// what was taken before, a count when enough is there, a line when its LF is there), or
// nothing; and a script that lets more than the bound wait loses the oldest bytes, counted.
//
// Input: cut seed, pattern length, the pattern, then rounds of (operation, bytes of the read).
#include "FuzzCheck.h"

#include "script/ScriptInbox.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input in(data, size);
    const uint8_t seed = in.take();
    const size_t patternLength = 1 + in.take() % 6;
    std::string pattern;
    for (size_t i = 0; i < patternLength; ++i)
        pattern += char('a' + in.take() % 3); // few letters, so matches and part-matches abound
    constexpr qsizetype Bound = 64;
    ScriptInbox inbox(Bound);
    std::string model;
    qsizetype dropped = 0;
    const std::string rest(reinterpret_cast<const char *>(in.rest()), in.restSize());
    fuzz::forEachPiece(rest.size(), seed, [&](size_t offset, size_t length, unsigned) {
        // The first byte of a piece says what the script does once the piece is in; the rest
        // are letters of the same alphabet, and line feeds.
        std::string piece;
        for (size_t i = 1; i < length; ++i) {
            const uint8_t b = uint8_t(rest[offset + i]);
            piece += b % 7 == 0 ? '\n' : char('a' + b % 3);
        }
        inbox.deliver(QByteArrayView(piece.data(), qsizetype(piece.size())));
        model += piece;
        if (qsizetype(model.size()) > Bound) {
            dropped += qsizetype(model.size()) - Bound;
            model.erase(0, model.size() - Bound);
        }
        const uint8_t op = length > 0 ? uint8_t(rest[offset]) : 0;
        QByteArray taken;
        size_t expected = std::string::npos;
        ScriptInbox::Wait w = ScriptInbox::Wait::TimedOut;
        switch (op % 3) {
        case 0: {
            w = inbox.expect(QByteArrayView(pattern.data(), qsizetype(pattern.size())), 0, taken);
            const size_t at = model.find(pattern);
            if (at != std::string::npos)
                expected = at + pattern.size();
            break;
        }
        case 1: {
            const size_t count = op / 3 % 9;
            w = inbox.read(qsizetype(count), 0, taken);
            if (model.size() >= count)
                expected = count;
            break;
        }
        default: {
            w = inbox.readLine(0, taken);
            const size_t at = model.find('\n');
            if (at != std::string::npos)
                expected = at + 1;
            break;
        }
        }
        FUZZ_CHECK((w == ScriptInbox::Wait::Ready) == (expected != std::string::npos));
        if (w == ScriptInbox::Wait::Ready) {
            std::string given = model.substr(0, expected);
            if (op % 3 == 2) {
                given.pop_back();
                if (!given.empty() && given.back() == '\r')
                    given.pop_back();
            }
            FUZZ_CHECK(taken == QByteArray::fromStdString(given));
            model.erase(0, expected);
        }
        FUZZ_CHECK(inbox.dropped() == dropped);
    });
    return 0;
}
