// SPDX-License-Identifier: MIT
// Everything that crossed the line in the current (or last) mode, with its direction and time,
// kept apart from the display: Clear, the ASCII/HEX switch and About empty the display, not the
// capture. It is what the log is saved from.
//
// Kept compactly, so that a day of a busy line fits in memory: the bytes as they are, and
// before each chunk a header of two short numbers, its length with its kind and the time since
// the chunk before in units of 100 us. A chunk of 11 bytes every millisecond (11,520 B/s in
// reads of a millisecond) costs 13 bytes; a day of it 1.2 GB.
//
// A slow line read byte by byte costs three bytes a byte, and nothing bounds how long a mode
// runs: past a limit of memory, each block that fills is moved to a file of its own that has
// no name (it vanishes with the capture, or with the program however it ends) and read back
// from there when the capture is saved. Where no such file can be made or written, the blocks
// stay in memory: the capture never drops a byte to keep its limit.
#pragma once

#include "traffic/Traffic.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TrafficCapture : public TrafficConsumer
{
public:
    static constexpr int64_t DefaultMemoryLimit = int64_t(512) << 20;

    // Blocks beyond `memoryLimit` bytes go to a file without a name in `spillFolder` (the
    // system's temporary folder when empty).
    explicit TrafficCapture(int64_t memoryLimit = DefaultMemoryLimit, QString spillFolder = {});
    ~TrafficCapture() override;
    TrafficCapture(const TrafficCapture &) = delete;
    TrafficCapture &operator=(const TrafficCapture &) = delete;

    void take(const TrafficRecord &record) override;

    // Forgets everything: a new mode starts.
    void clear();
    bool isEmpty() const { return m_records == 0; }

    int64_t receivedBytes() const { return m_received[0] + m_received[1]; }
    // Received on the first or the second of two lines read at once.
    int64_t receivedBytes(int side) const { return m_received[side ? 1 : 0]; }
    // The names of the directions the last Sides record gave: empty unless the mode watches a
    // conversation.
    const SideNames &sides() const { return m_sides; }
    int64_t sentBytes() const { return m_sent; }
    int64_t records() const { return m_records; }
    // What the capture holds in memory, its blocks whole; what it holds in all, in memory and
    // in its file; and what of that is in the file.
    int64_t memoryBytes() const;
    int64_t storedBytes() const;
    int64_t spilledBytes() const { return int64_t(m_spilled) * int64_t(BlockSize); }

    // Every record in the order it came, its time to 100 us. False when part of the file could
    // not be read back; the records before it have been visited.
    bool forEach(const std::function<void(const TrafficRecord &)> &visit) const;

    // The unit the times are kept in.
    static constexpr int64_t TimeUnitUs = 100;

    static constexpr size_t BlockSize = 1 << 20;

private:
    void append(const uint8_t *bytes, size_t count);
    void appendNumber(uint64_t value);
    // A new last block, the full one before it moved to the file when memory is at its limit.
    void newBlock();
    bool spill(size_t index);
    void closeSpillFile();

    int64_t m_memoryLimit;
    QString m_spillFolder;
    int m_spillFd = -1;
    bool m_spillFailed = false; // no file could be made: keep the rest in memory
    size_t m_spilled = 0; // blocks in the file
    // Null for a block that is in the file, at its index times BlockSize.
    std::vector<std::unique_ptr<uint8_t[]>> m_blocks;
    size_t m_used = 0; // in the last block
    int64_t m_lastUnits = 0; // time of the last record, in TimeUnitUs
    int64_t m_received[2] = {0, 0};
    SideNames m_sides;
    int64_t m_sent = 0;
    int64_t m_records = 0;
};
