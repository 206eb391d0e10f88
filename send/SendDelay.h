// SPDX-License-Identifier: MIT
// The pause after each byte, as the user types it into a delay box: every sending mode reads its
// box through here. Where a mode tells the user about a bad text, and when, is the mode's.
#pragma once

#include <QString>

#include <cstdint>

namespace SendDelay {

enum class Problem {
    None,
    NotANumber, // no whole number: the error box's "'%s' is not a valid integer value"
    Negative, // a number below zero, which no pause can honour
};

struct Parsed
{
    int32_t ms = 0;
    Problem problem = Problem::None;
    bool ok() const { return problem == Problem::None; }
};

Parsed parse(const QString &text);

} // namespace SendDelay
