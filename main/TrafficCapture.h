// SPDX-License-Identifier: MIT
// Everything that crossed the line in the current (or last) mode, with its direction and time,
// kept apart from the display: Clear, the ASCII/HEX switch and About empty the display, not the
// capture. It is what the log is saved from.
//
// Kept compactly, so that a day of a busy line fits in memory: the bytes as they are, and
// before each chunk a header of two short numbers, its length with its kind and the time since
// the chunk before in units of 100 us. A chunk of 11 bytes every millisecond (11,520 B/s in
// reads of a millisecond) costs 13 bytes; a day of it 1.2 GB.
#pragma once

#include "main/Traffic.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TrafficCapture : public TrafficConsumer
{
public:
    TrafficCapture();
    ~TrafficCapture() override;

    void take(const TrafficRecord &record) override;

    // Forgets everything: a new mode starts.
    void clear();
    bool isEmpty() const { return m_records == 0; }

    int64_t receivedBytes() const { return m_received; }
    int64_t sentBytes() const { return m_sent; }
    int64_t records() const { return m_records; }
    // What the capture holds in memory, its blocks whole, and what of it is used.
    int64_t memoryBytes() const;
    int64_t storedBytes() const;

    // Every record in the order it came, its time to 100 us.
    void forEach(const std::function<void(const TrafficRecord &)> &visit) const;

    // The unit the times are kept in.
    static constexpr int64_t TimeUnitUs = 100;

private:
    void append(const uint8_t *bytes, size_t count);
    void appendNumber(uint64_t value);

    static constexpr size_t BlockSize = 1 << 20;
    std::vector<std::unique_ptr<uint8_t[]>> m_blocks;
    size_t m_used = 0; // in the last block
    int64_t m_lastUnits = 0; // time of the last record, in TimeUnitUs
    int64_t m_received = 0;
    int64_t m_sent = 0;
    int64_t m_records = 0;
};
