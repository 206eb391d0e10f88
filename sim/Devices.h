// SPDX-License-Identifier: MIT
// The devices telvix-sim can play. Each one only turns what arrives and the passing of time
// into bytes to send; the run loop owns the line, so a device never sees a closed port.
#pragma once

#include "Options.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace sim {

using Clock = std::chrono::steady_clock;

class Device
{
public:
    virtual ~Device() = default;

    // A program has opened the port.
    virtual void connected(Clock::time_point) { }
    // The last program has closed it; what was not yet sent has been thrown away.
    virtual void disconnected() { }
    // Bytes from the program, read at `at`. Answers go to the end of `out`.
    virtual void received(const uint8_t *, size_t, Clock::time_point, std::string &) { }
    // While the port is open: appends what is due by `now` to `out`, which still holds what
    // the pseudo-terminal has not taken. Returns when it next wants to be asked.
    virtual std::optional<Clock::time_point> produce(Clock::time_point, std::string &)
    {
        return std::nullopt;
    }
    // The pseudo-terminal has taken these bytes from the front of `out`.
    virtual void sent(const uint8_t *, size_t) { }
    // Nothing more will be sent; the simulator ends once the port is closed.
    virtual bool finished() const { return false; }
    // Printed when the simulator stops, even with --quiet. Empty: nothing to say.
    virtual std::string report() const { return {}; }
    // A line for the log when the port closes (not with --quiet).
    virtual std::string closedNote() const { return {}; }
};

// Bytes a device keeps waiting for the pseudo-terminal before it makes more.
inline constexpr size_t kOutboxLimit = 4096;

// Empty, with `error` set when it is given, when the device cannot be set up.
std::unique_ptr<Device> makeDevice(const SimOptions &options, std::string *error = nullptr);

} // namespace sim
