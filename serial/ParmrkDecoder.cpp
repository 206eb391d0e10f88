// SPDX-License-Identifier: MIT
#include "ParmrkDecoder.h"

#include <cstring>

namespace serial {

namespace {

constexpr uint8_t Escape = 0xFF;

// Appends to the run being built, starting a new record when the kind changes: one record per
// run keeps the display's work per record, not per byte.
void append(std::vector<TrafficRecord> &out, size_t firstOfCall, TrafficKind kind, int64_t timeUs,
            const uint8_t *bytes, size_t count)
{
    if (count == 0)
        return;
    if (out.size() == firstOfCall || out.back().kind != kind)
        out.push_back({kind, timeUs, {}});
    out.back().bytes.append(reinterpret_cast<const char *>(bytes), qsizetype(count));
}

} // namespace

void ParmrkDecoder::decode(const uint8_t *bytes, size_t count, int64_t timeUs,
                           std::vector<TrafficRecord> &out)
{
    if (count == 0)
        return;
    if (m_state == 0 && !std::memchr(bytes, Escape, count)) {
        out.push_back({TrafficKind::Received, timeUs,
                       QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(count))});
        return;
    }
    const size_t first = out.size();
    size_t i = 0;
    while (i < count) {
        if (m_state == 0) {
            // Sound bytes up to the next escape go in as one block.
            const void *hit = std::memchr(bytes + i, Escape, count - i);
            const size_t end = hit ? size_t(static_cast<const uint8_t *>(hit) - bytes) : count;
            append(out, first, TrafficKind::Received, timeUs, bytes + i, end - i);
            i = end;
            if (hit) {
                m_state = 1;
                ++i;
            }
            continue;
        }
        const uint8_t b = bytes[i++];
        if (m_state == 2) {
            append(out, first, TrafficKind::Flawed, timeUs, &b, 1);
            m_state = 0;
        } else if (b == 0x00) {
            m_state = 2;
        } else {
            // A doubled FFh is one real FFh. Anything else after FFh cannot come from the tty;
            // both bytes pass rather than losing one.
            const uint8_t pair[2] = {Escape, b};
            append(out, first, TrafficKind::Received, timeUs, pair, b == Escape ? 1 : 2);
            m_state = 0;
        }
    }
}

void ParmrkDecoder::finish(int64_t timeUs, std::vector<TrafficRecord> &out)
{
    static const uint8_t waiting[2] = {Escape, 0x00};
    if (m_state != 0)
        append(out, out.size(), TrafficKind::Received, timeUs, waiting, m_state);
    m_state = 0;
}

size_t ParmrkDecoder::pending() const { return m_state; }

void ParmrkDecoder::reset() { m_state = 0; }

} // namespace serial
