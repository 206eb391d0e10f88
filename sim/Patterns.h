// SPDX-License-Identifier: MIT
// What the stream and scanner devices send. Every pattern is an endless byte sequence handed
// out in pieces of any size, so pacing never cuts a line in a way the pattern notices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace sim {

enum class Pattern { Text, Nmea, Counter, Random };

// "text", "nmea", "counter", "random"; nothing for any other word.
std::optional<Pattern> patternNamed(const std::string &name);

class PatternSource
{
public:
    virtual ~PatternSource() = default;
    // Appends the next `count` bytes of the sequence.
    virtual void append(std::string &out, size_t count) = 0;
};

std::unique_ptr<PatternSource> makePatternSource(Pattern pattern, uint64_t seed);

// The XOR of the characters between '$' and '*', as NMEA 0183 checks a sentence.
uint8_t nmeaChecksum(const std::string &body);

// The `index`-th barcode a scanner reads: an EAN-13 number with a valid check digit, then CR.
std::string barcodeLine(uint64_t index);

// The check digit that completes 12 EAN digits.
char eanCheckDigit(const std::string &twelveDigits);

} // namespace sim
