// SPDX-License-Identifier: MIT
#include "Traffic.h"

#include <QList>

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

const QString &SideNames::nameOf(const TrafficRecord &record) const
{
    if (record.kind == TrafficKind::Sent)
        return sent;
    return record.side ? receivedSecond : received;
}

TrafficRecord SideNames::record(int64_t timeUs) const
{
    // A name holds no line break: the three are kept apart by them.
    const auto one = [](QString name) { return name.replace(u'\n', u' ').toUtf8(); };
    return {TrafficKind::Sides, timeUs,
            one(received) + '\n' + one(receivedSecond) + '\n' + one(sent)};
}

SideNames SideNames::of(const TrafficRecord &record)
{
    const QList<QByteArray> names = record.bytes.split('\n');
    SideNames n;
    if (names.size() == 3) {
        n.received = QString::fromUtf8(names[0]);
        n.receivedSecond = QString::fromUtf8(names[1]);
        n.sent = QString::fromUtf8(names[2]);
    }
    return n;
}

TrafficConsumer::~TrafficConsumer() = default;

void TrafficStream::subscribe(TrafficConsumer *consumer, Role role)
{
    if (std::none_of(m_consumers.begin(), m_consumers.end(),
                     [consumer](const Subscriber &s) { return s.consumer == consumer; }))
        m_consumers.push_back({consumer, role});
}

void TrafficStream::unsubscribe(TrafficConsumer *consumer)
{
    std::erase_if(m_consumers, [consumer](const Subscriber &s) { return s.consumer == consumer; });
}

void TrafficStream::publish(const TrafficRecord &record)
{
    for (const Subscriber &s : m_consumers)
        s.consumer->take(record);
}

void TrafficStream::publishToKeepers(const TrafficRecord &record)
{
    for (const Subscriber &s : m_consumers) {
        if (s.role == Role::Keeper)
            s.consumer->take(record);
    }
}

void TrafficStream::passEnd()
{
    for (const Subscriber &s : m_consumers)
        s.consumer->passEnd();
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
