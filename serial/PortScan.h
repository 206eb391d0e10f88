// SPDX-License-Identifier: MIT
// Finds the serial ports present by reading sysfs directly: no udev daemon, no privileges.
#pragma once

#include "PortInfo.h"

#include <string>
#include <vector>

namespace serial {

struct ScanRoots
{
    std::string sysClassTty = "/sys/class/tty"; // entries with a `device` link are ports
    std::string devDir = "/dev"; // device nodes live here
    std::string byIdDir = "/dev/serial/by-id"; // udev's stable names, when present
};

// The ports present, in COM order (see PortInfo.h). Fresh on every call.
std::vector<PortInfo> scanPorts(const ScanRoots &roots = {});

} // namespace serial
