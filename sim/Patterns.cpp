// SPDX-License-Identifier: MIT
#include "Patterns.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {

// A sequence made of whole units (a line, a sentence) produced one at a time.
class UnitSource : public PatternSource
{
public:
    void append(std::string &out, size_t count) override
    {
        while (count > 0) {
            if (m_pos == m_unit.size()) {
                m_unit = nextUnit();
                m_pos = 0;
            }
            const size_t take = std::min(count, m_unit.size() - m_pos);
            out.append(m_unit, m_pos, take);
            m_pos += take;
            count -= take;
        }
    }

protected:
    virtual std::string nextUnit() = 0;

private:
    std::string m_unit;
    size_t m_pos = 0;
};

class TextSource : public UnitSource
{
    std::string nextUnit() override
    {
        char line[80];
        std::snprintf(line, sizeof line, "%06u The quick brown fox jumps over the lazy dog.\r\n",
                      unsigned(m_line++ % 1000000));
        return line;
    }
    uint64_t m_line = 0;
};

// One GGA and one RMC sentence per simulated second, as a GPS receiver sends at 1 Hz.
class NmeaSource : public UnitSource
{
    std::string nextUnit() override
    {
        const uint64_t second = m_sentence / 2;
        const bool gga = m_sentence % 2 == 0;
        ++m_sentence;
        const unsigned daySecond = unsigned((8 * 3600 + second) % 86400);
        char time[16];
        std::snprintf(time, sizeof time, "%02u%02u%02u.00", daySecond / 3600, daySecond / 60 % 60,
                      daySecond % 60);
        char lat[16];
        std::snprintf(lat, sizeof lat, "2501.%04u", unsigned(6400 + second % 100));
        const std::string body = gga ? std::string("GPGGA,") + time + "," + lat
                        + ",N,12133.9800,E,1,08,0.9,12.0,M,16.0,M,,"
                                     : std::string("GPRMC,") + time + ",A," + lat
                        + ",N,12133.9800,E,0.00,0.00,010124,,,A";
        char tail[8];
        std::snprintf(tail, sizeof tail, "*%02X\r\n", unsigned(nmeaChecksum(body)));
        return "$" + body + tail;
    }
    uint64_t m_sentence = 0;
};

class CounterSource : public PatternSource
{
public:
    void append(std::string &out, size_t count) override
    {
        for (size_t i = 0; i < count; ++i)
            out += char(m_next++);
    }

private:
    uint8_t m_next = 0;
};

// xorshift64*: cheap, reproducible from its seed, and every byte value appears.
class RandomSource : public PatternSource
{
public:
    explicit RandomSource(uint64_t seed) : m_state(seed ? seed : 0x9e3779b97f4a7c15ull) { }
    void append(std::string &out, size_t count) override
    {
        for (size_t i = 0; i < count; ++i) {
            m_state ^= m_state >> 12;
            m_state ^= m_state << 25;
            m_state ^= m_state >> 27;
            out += char((m_state * 0x2545f4914f6cdd1dull) >> 56);
        }
    }

private:
    uint64_t m_state;
};

} // namespace

std::optional<Pattern> patternNamed(const std::string &name)
{
    if (name == "text")
        return Pattern::Text;
    if (name == "nmea")
        return Pattern::Nmea;
    if (name == "counter")
        return Pattern::Counter;
    if (name == "random")
        return Pattern::Random;
    return std::nullopt;
}

std::unique_ptr<PatternSource> makePatternSource(Pattern pattern, uint64_t seed)
{
    switch (pattern) {
    case Pattern::Text:
        return std::make_unique<TextSource>();
    case Pattern::Nmea:
        return std::make_unique<NmeaSource>();
    case Pattern::Counter:
        return std::make_unique<CounterSource>();
    case Pattern::Random:
        return std::make_unique<RandomSource>(seed);
    }
    return nullptr;
}

uint8_t nmeaChecksum(const std::string &body)
{
    uint8_t sum = 0;
    for (char c : body)
        sum ^= uint8_t(c);
    return sum;
}

char eanCheckDigit(const std::string &twelveDigits)
{
    int sum = 0;
    for (size_t i = 0; i < twelveDigits.size(); ++i)
        sum += (twelveDigits[i] - '0') * (i % 2 == 0 ? 1 : 3);
    return char('0' + (10 - sum % 10) % 10);
}

std::string barcodeLine(uint64_t index)
{
    char digits[16];
    // 471: the GS1 prefix of Taiwan, so the numbers look like the goods on a local shelf.
    std::snprintf(digits, sizeof digits, "471%09llu",
                  static_cast<unsigned long long>(index % 1000000000ull));
    const std::string twelve = digits;
    return twelve + eanCheckDigit(twelve) + "\r";
}

} // namespace sim
