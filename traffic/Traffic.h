// SPDX-License-Identifier: MIT
// The one stream every byte that crosses the line passes, in every mode: received and sent,
// each chunk with the time it crossed, and the events of the line itself (a hang-up) in the
// same order. The modes publish into it; the display, and whatever else takes the traffic
// away, are its consumers.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

enum class TrafficKind : uint8_t {
    Received, // bytes from the line
    Sent, // bytes written to the line
    LineGone, // the device hung up or went away; no bytes, or why it cannot be opened again
    // The events of the line panel and the self-test; their bytes are what LineEvents.h says.
    Flawed, // received bytes that came with a parity or framing error, the values as received
    ModemLines, // the handshake lines changed
    BreakSent, // a break was sent
    LineErrors, // the driver's error counters grew
    Report, // a report of the program's own (the cable self-test's table), UTF-8 text
    LineBack, // the device that went away is back and open again; the path it came back as
    // What the directions of a conversation between two others are called from here on (the
    // monitor's two lines, the pass-through's two ends): SideNames, published at its start and
    // emptied at its end, so that the capture and a live log name each line by it.
    Sides,
    // The line parameters a program set on its side of the pass-through, as they reached the
    // real port: UTF-8 text, "19200 8N1".
    Params,
};

struct TrafficRecord
{
    TrafficKind kind = TrafficKind::Received;
    // When the bytes crossed: CLOCK_MONOTONIC in microseconds; for received bytes the moment
    // the reader took them from the driver, for sent bytes the moment the driver took the first.
    int64_t timeUs = 0;
    QByteArray bytes;
    // Which of two lines read at once (the monitor's) it came from or concerns: 0 the mode's
    // one line, or the first; 1 the second.
    uint8_t side = 0;
};

// The names of a conversation's directions: what is received on the first line, on the second,
// and what is sent. Empty in the modes that talk to one device.
struct SideNames
{
    QString received;
    QString receivedSecond;
    QString sent;

    bool isEmpty() const { return received.isEmpty() && receivedSecond.isEmpty() && sent.isEmpty(); }
    // The name of the direction of `record`'s bytes (or of its line, for an event), or empty.
    const QString &nameOf(const TrafficRecord &record) const;

    TrafficRecord record(int64_t timeUs) const;
    // Those a Sides record carries.
    static SideNames of(const TrafficRecord &record);
};

// The clock of TrafficRecord::timeUs.
int64_t monotonicMicroseconds();

// The wall-clock time, in microseconds since 1970, of a traffic time. The two clocks are tied
// once, at the first call, so that the times of one run keep their distances however the
// system clock is set meanwhile.
int64_t wallMicroseconds(int64_t timeUs);

class TrafficConsumer
{
public:
    virtual ~TrafficConsumer();
    // Every record, in the order it was published.
    virtual void take(const TrafficRecord &record) = 0;
    // The records of one pass of a mode's loop are in: a consumer that joins its output (the
    // display inserts once per pass) hands it on now.
    virtual void passEnd() { }
};

class TrafficStream
{
public:
    // What a consumer is to the stream. A keeper (the capture, a live log) must have every byte
    // that crossed the line; a viewer (a display, R2K's typist) shows or acts on the traffic
    // while the mode runs and may be spared what was read but not yet worked off when it ends.
    enum class Role { Viewer, Keeper };

    // Consumers get the records in the order they subscribed. Not while publishing.
    void subscribe(TrafficConsumer *consumer, Role role = Role::Viewer);
    void unsubscribe(TrafficConsumer *consumer);

    void publish(const TrafficRecord &record);
    // To the keepers alone: what a mode that is ending had read and not yet published.
    void publishToKeepers(const TrafficRecord &record);
    void passEnd();

private:
    struct Subscriber
    {
        TrafficConsumer *consumer;
        Role role;
    };
    std::vector<Subscriber> m_consumers;
};

// Sent bytes gathered into one record until flushed: a send of a megabyte at full speed would
// otherwise make a million records of one byte. The record carries the time of its first byte.
class SentBytes
{
public:
    explicit SentBytes(TrafficStream &stream) : m_stream(stream) { }
    ~SentBytes() { flush(); }
    SentBytes(const SentBytes &) = delete;
    SentBytes &operator=(const SentBytes &) = delete;

    void add(uint8_t byte, int64_t timeUs);
    void flush();

    static constexpr qsizetype MaxChunk = 4096;

private:
    TrafficStream &m_stream;
    TrafficRecord m_pending {TrafficKind::Sent, 0, {}};
};
