// SPDX-License-Identifier: MIT
// Whether memory runs short while the display keeps every byte: the machine's free memory
// below a tenth of all, or TELVIX itself past a limit the user sets. Nothing is ever dropped
// for it; the window says it once, so that the user can start a log and clear the display.
#pragma once

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>

struct MemoryReading
{
    int64_t totalKb = 0; // the machine's memory
    int64_t availableKb = 0; // what it can still give without swapping
    int64_t ownKb = 0; // resident memory of this process
};

namespace MemoryProbe {
// From the text of /proc/meminfo: MemTotal and MemAvailable, or nothing when either is
// missing (kernels before 3.14 have no MemAvailable).
std::optional<MemoryReading> parseMeminfo(QByteArrayView text);
// From the text of /proc/self/statm: the resident set, its second field, in pages.
std::optional<int64_t> parseStatmResidentKb(QByteArrayView text, int64_t pageKb);
// Reads both files; what cannot be read stays 0, which is never a shortage.
MemoryReading read();
} // namespace MemoryProbe

class MemoryWatch
{
public:
    enum class Shortage { None, MachineLow, OverLimit };

    // Below this share of the machine's memory free, memory is short; it is plenty again only
    // above the second share, so that a reading hovering at the edge is said only once.
    static constexpr int LowPercent = 10;
    static constexpr int PlentyPercent = 15;

    // 0 turns the user's limit off.
    void setLimitMb(int64_t mb);
    int64_t limitMb() const { return m_limitMb; }

    // Takes a reading; returns the shortage when one has just begun (to be said now), else
    // nothing. A shortage is over once the reading is back on the safe side of its edge.
    std::optional<Shortage> update(const MemoryReading &reading);
    Shortage current() const { return m_current; }

    // The status bar's short text and the longer explanation for the tool tip.
    QString text(const MemoryReading &reading) const;
    static QString advice();

private:
    Shortage judge(const MemoryReading &reading) const;

    int64_t m_limitMb = 0;
    Shortage m_current = Shortage::None;
};
