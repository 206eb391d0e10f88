// SPDX-License-Identifier: MIT
// What the fuzz targets share: a check that holds in every build type, and the reading of the
// choices a target takes from the front of its input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// An invariant that does not hold ends the run; libFuzzer keeps the input that broke it.
// Not assert(): the fuzz build is RelWithDebInfo, where NDEBUG would silence it.
#define FUZZ_CHECK(condition)                                                                      \
    ((condition) ? void(0) : ::fuzz::fail(#condition, __FILE__, __LINE__))

namespace fuzz {

[[noreturn]] inline void fail(const char *what, const char *file, int line)
{
    std::fprintf(stderr, "%s:%d: invariant failed: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

// The input as a run of choices followed by the payload.
class Input
{
public:
    Input(const uint8_t *data, size_t size) : m_data(data), m_size(size) { }

    // The next choice; 0 once the input is used up, so a short input still gives a run.
    uint8_t take()
    {
        if (m_size == 0)
            return 0;
        --m_size;
        return *m_data++;
    }

    const uint8_t *rest() const { return m_data; }
    size_t restSize() const { return m_size; }

private:
    const uint8_t *m_data;
    size_t m_size;
};

// Cuts `size` bytes into consecutive pieces, as the line hands them over in reads of any
// length, and calls piece(offset, length, index) for each. Seed 0 gives the whole run as one
// piece; other seeds give lengths of 0 to 7, so empty calls are among them.
template <typename Piece>
void forEachPiece(size_t size, uint8_t seed, Piece piece)
{
    if (seed == 0) {
        piece(size_t(0), size, 0u);
        return;
    }
    uint32_t state = seed;
    size_t offset = 0;
    for (unsigned index = 0; offset < size; ++index) {
        state = state * 1103515245u + 12345u;
        size_t length = (state >> 16) % 8;
        if (length > size - offset)
            length = size - offset;
        piece(offset, length, index);
        offset += length;
    }
}

} // namespace fuzz
