// SPDX-License-Identifier: MIT
#include "Devices.h"

#include "AtModem.h"
#include "GapStats.h"
#include "ModbusDevice.h"
#include "Sha256.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {

class EchoDevice : public Device
{
public:
    explicit EchoDevice(const SimOptions &o)
        : m_alter(o.alter), m_alterEvery(o.alterEvery), m_drop(o.drop)
    { }

    void connected(Clock::time_point) override { m_count = 0; }

    void received(const uint8_t *data, size_t size, Clock::time_point, std::string &out) override
    {
        if (m_alter.empty() && m_drop.empty() && m_alterEvery == 0) {
            m_count += size;
            out.append(reinterpret_cast<const char *>(data), size);
            return;
        }
        for (size_t i = 0; i < size; ++i) {
            const uint64_t n = ++m_count;
            if (std::find(m_drop.begin(), m_drop.end(), n) != m_drop.end())
                continue;
            const bool altered = (m_alterEvery != 0 && n % m_alterEvery == 0)
                    || std::find(m_alter.begin(), m_alter.end(), n) != m_alter.end();
            out += char(altered ? data[i] ^ 0x01 : data[i]);
        }
    }

private:
    std::vector<uint64_t> m_alter;
    uint64_t m_alterEvery;
    std::vector<uint64_t> m_drop;
    uint64_t m_count = 0;
};

class AtDevice : public Device
{
public:
    void disconnected() override { m_modem.reset(); }
    void received(const uint8_t *data, size_t size, Clock::time_point, std::string &out) override
    {
        out += m_modem.feed(data, size);
    }

private:
    AtModem m_modem;
};

// Paces against absolute deadlines from the moment the port opened: byte n is due at
// start + n / rate, so rounding in one wake-up never adds up to drift.
class StreamDevice : public Device
{
public:
    explicit StreamDevice(const SimOptions &o)
        : m_source(makePatternSource(o.pattern, o.seed)), m_rate(o.rate), m_count(o.count)
    { }

    void connected(Clock::time_point now) override
    {
        m_start = now;
        m_paced = 0;
    }

    std::optional<Clock::time_point> produce(Clock::time_point now, std::string &out) override
    {
        const uint64_t remaining = m_count ? *m_count - m_sent : UINT64_MAX;
        if (remaining == 0 || out.size() >= kOutboxLimit)
            return std::nullopt; // the pseudo-terminal taking bytes wakes the loop
        const uint64_t room = std::min<uint64_t>(kOutboxLimit - out.size(), remaining);
        if (m_rate == 0) {
            emit(out, room);
            return std::nullopt;
        }

        const double elapsed = std::chrono::duration<double>(now - m_start).count();
        uint64_t due = uint64_t(elapsed * double(m_rate));
        // A reader that stalled for long gets the rate from now on, not a burst making up
        // for the time it was away.
        const uint64_t slack = std::max<uint64_t>(m_rate / 4, chunk());
        if (due > m_paced + slack) {
            m_start = now - secondsFor(m_paced);
            due = m_paced;
        }
        const uint64_t take = std::min(due - std::min(due, m_paced), room);
        emit(out, take);
        m_paced += take;
        if (m_count && m_sent == *m_count)
            return std::nullopt;
        return m_start + secondsFor(m_paced + chunk());
    }

    bool finished() const override { return m_count && m_sent == *m_count; }

    // What the port took, not what was made: bytes thrown away at a close are not counted, so
    // a receiver can check that it got exactly these.
    void sent(const uint8_t *data, size_t size) override
    {
        m_delivered += size;
        m_hash.update(data, size);
    }

    std::string report() const override
    {
        return "stream: bytes=" + std::to_string(m_delivered) + " sha256=" + m_hash.hexDigest();
    }

private:
    void emit(std::string &out, uint64_t n)
    {
        m_source->append(out, size_t(n));
        m_sent += n;
    }
    // Wake about a thousand times a second at most, whatever the rate.
    uint64_t chunk() const { return std::max<uint64_t>(1, m_rate / 1000); }
    Clock::duration secondsFor(uint64_t bytes) const
    {
        return std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(double(bytes) / double(m_rate)));
    }

    std::unique_ptr<PatternSource> m_source;
    uint64_t m_rate;
    std::optional<uint64_t> m_count;
    uint64_t m_sent = 0; // over every connection, for --count
    uint64_t m_paced = 0; // since m_start
    Clock::time_point m_start;
    uint64_t m_delivered = 0;
    Sha256 m_hash;
};

class ScannerDevice : public Device
{
public:
    explicit ScannerDevice(const SimOptions &o)
        : m_period(std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(o.periodSeconds)))
    { }

    void connected(Clock::time_point now) override { m_next = now + m_period; }

    std::optional<Clock::time_point> produce(Clock::time_point now, std::string &out) override
    {
        if (now >= m_next) {
            out += barcodeLine(m_index++);
            m_next += m_period;
            if (m_next <= now) // the machine slept: carry on from now, not in a burst
                m_next = now + m_period;
        }
        return m_next;
    }

private:
    Clock::duration m_period;
    Clock::time_point m_next;
    uint64_t m_index = 1;
};

class SinkDevice : public Device
{
public:
    void disconnected() override { m_gaps.restart(); }

    void received(const uint8_t *data, size_t size, Clock::time_point at, std::string &) override
    {
        m_bytes += size;
        m_hash.update(data, size);
        m_gaps.arrived(size, at);
    }

    std::string report() const override
    {
        const GapSummary g = m_gaps.summary();
        char gaps[160];
        std::snprintf(gaps, sizeof gaps,
                      " gap_count=%llu gap_median_ms=%.3f gap_p99_ms=%.3f gap_max_ms=%.3f",
                      static_cast<unsigned long long>(g.count), g.medianMs, g.p99Ms, g.maxMs);
        return "sink: bytes=" + std::to_string(m_bytes) + " sha256=" + m_hash.hexDigest() + gaps;
    }

    std::string closedNote() const override
    {
        return std::to_string(m_bytes) + " bytes received so far";
    }

private:
    uint64_t m_bytes = 0;
    Sha256 m_hash;
    GapStats m_gaps;
};

} // namespace

std::unique_ptr<Device> makeDevice(const SimOptions &options, std::string *error)
{
    switch (options.behaviour) {
    case Behaviour::Echo:
        return std::make_unique<EchoDevice>(options);
    case Behaviour::At:
        return std::make_unique<AtDevice>();
    case Behaviour::Stream:
        return std::make_unique<StreamDevice>(options);
    case Behaviour::Scanner:
        return std::make_unique<ScannerDevice>(options);
    case Behaviour::Sink:
        return std::make_unique<SinkDevice>();
    case Behaviour::Modbus: {
        std::string why;
        auto device = makeModbusDevice(options, why);
        if (!device && error)
            *error = why;
        return device;
    }
    }
    return nullptr;
}

} // namespace sim
