// SPDX-License-Identifier: MIT
// Undoes the marking a tty does with PARMRK (and INPCK): a byte received with a parity or
// framing error arrives as FFh 00h and the byte, a break as FFh 00h 00h, and a real FFh as FFh
// FFh. The decoder turns the stream back into the bytes as received, each run flagged as sound
// or flawed. A mark may be split across two reads; the decoder keeps the part it has seen.
#pragma once

#include "traffic/Traffic.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace serial {

class ParmrkDecoder
{
public:
    // The records of one read at `timeUs`, appended to `out`: Received runs and Flawed runs in
    // the order of the line, each a run of one kind (a flawed byte is a record of its own kind;
    // consecutive flawed bytes join one record). Bytes of an unfinished mark wait for the next
    // call.
    void decode(const uint8_t *bytes, size_t count, int64_t timeUs, std::vector<TrafficRecord> &out);
    // The line's end: bytes of an unfinished mark are given out as they came (a lone FFh at the
    // end of the stream is an FFh byte).
    void finish(int64_t timeUs, std::vector<TrafficRecord> &out);
    // Bytes waiting for the rest of a mark.
    size_t pending() const;
    void reset();

private:
    uint8_t m_state = 0; // 0 none, 1 after FFh, 2 after FFh 00h
};

} // namespace serial
