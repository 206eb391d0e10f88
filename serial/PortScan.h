// SPDX-License-Identifier: MIT
// Finds the serial ports present by reading sysfs directly: no udev daemon, no privileges.
#pragma once

#include "PortInfo.h"
#include "VirtualPorts.h"

#include <string>
#include <vector>

namespace serial {

struct ScanRoots
{
    std::string sysClassTty = "/sys/class/tty"; // entries with a `device` link are ports
    std::string devDir = "/dev"; // device nodes live here
    std::string byIdDir = "/dev/serial/by-id"; // udev's stable names, when present
    std::string virtualDir = defaultVirtualPortDir(); // telvix-sim's ports; empty: none
};

// The ports present, in COM order (see PortInfo.h), the simulators' after the hardware.
// Fresh on every call; it removes what simulators that have gone left in virtualDir.
std::vector<PortInfo> scanPorts(const ScanRoots &roots = {});

} // namespace serial
