// SPDX-License-Identifier: MIT
// telvix-sim's Modbus RTU slave. The replies are libmodbus's own, so that a Modbus decoder
// tried against it meets frames that were made elsewhere than in TELVIX.
#pragma once

#include "Devices.h"

#include <chrono>
#include <memory>
#include <string>

namespace sim {

// How long a request may stay unfinished before its bytes are thrown away: libmodbus's own
// byte timeout, what a libmodbus slave on a real line would wait for the rest.
inline constexpr auto kModbusFrameGap = std::chrono::milliseconds(500);
inline constexpr int kModbusTableSize = 100;

// Empty, with `error` set, when the system refuses what the slave needs (a socket pair).
std::unique_ptr<Device> makeModbusDevice(const SimOptions &options, std::string &error);

} // namespace sim
