// SPDX-License-Identifier: MIT
#include "Traffic.h"

#include <algorithm>
#include <ctime>

int64_t monotonicMicroseconds()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int64_t wallMicroseconds(int64_t timeUs)
{
    static const int64_t offset = [] {
        timespec wall {};
        clock_gettime(CLOCK_REALTIME, &wall);
        return int64_t(wall.tv_sec) * 1000000 + wall.tv_nsec / 1000 - monotonicMicroseconds();
    }();
    return timeUs + offset;
}

TrafficConsumer::~TrafficConsumer() = default;

void TrafficStream::subscribe(TrafficConsumer *consumer)
{
    if (std::find(m_consumers.begin(), m_consumers.end(), consumer) == m_consumers.end())
        m_consumers.push_back(consumer);
}

void TrafficStream::unsubscribe(TrafficConsumer *consumer)
{
    m_consumers.erase(std::remove(m_consumers.begin(), m_consumers.end(), consumer),
                      m_consumers.end());
}

void TrafficStream::publish(const TrafficRecord &record)
{
    for (TrafficConsumer *c : m_consumers)
        c->take(record);
}

void TrafficStream::passEnd()
{
    for (TrafficConsumer *c : m_consumers)
        c->passEnd();
}

void SentBytes::add(uint8_t byte, int64_t timeUs)
{
    if (m_pending.bytes.isEmpty())
        m_pending.timeUs = timeUs;
    m_pending.bytes.append(char(byte));
    if (m_pending.bytes.size() >= MaxChunk)
        flush();
}

void SentBytes::flush()
{
    if (m_pending.bytes.isEmpty())
        return;
    m_stream.publish(m_pending);
    m_pending.bytes.clear();
}
