// SPDX-License-Identifier: MIT
#include "ParmrkDecoder.h"

namespace serial {

void ParmrkDecoder::decode(const uint8_t *bytes, size_t count, int64_t timeUs,
                           std::vector<TrafficRecord> &out)
{
    // Not yet: the bytes pass as they came.
    out.push_back({TrafficKind::Received, timeUs,
                   QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(count))});
}

void ParmrkDecoder::finish(int64_t, std::vector<TrafficRecord> &) { }

size_t ParmrkDecoder::pending() const { return m_state; }

void ParmrkDecoder::reset() { m_state = 0; }

} // namespace serial
