// SPDX-License-Identifier: MIT
// Telling a device that went away when it comes back: a USB adapter pulled and plugged in
// again mid-test. The same device is the one with the same USB serial number (wherever the
// kernel puts it now), else the same /dev/serial/by-id name, else (a pseudo-terminal, a udev
// link, a network port) the same path. A device with another serial number is another device,
// even at the same path, and is not taken.
#pragma once

#include "serial/PortScan.h"

#include <string>

namespace serial {

struct DeviceIdentity
{
    std::string path; // as the port was opened
    std::string serialNumber; // the adapter's, when it has one
    std::string byIdName; // its name under /dev/serial/by-id, when it has one
    bool network = false;
};

// Who the device at `path` is now, as the scan of `roots` sees it.
DeviceIdentity identify(const std::string &path, const ScanRoots &roots);

// The path to open the same device at, while it is present; empty while it is not. A network
// port is always worth a try: only connecting tells.
std::string findReturned(const DeviceIdentity &identity, const ScanRoots &roots);

// How long a port whose device is away waits before it looks again. Looking for a local
// device costs nothing, so an absent one is looked for every quarter second; an attempt to
// open it that failed (a server that refuses, or answers other line parameters) costs the far
// side a connection, and each failure in a row after the first doubles the wait, up to 5 s.
inline constexpr int ReturnLookMs = 250;
inline constexpr int ReturnRetryMaxMs = 5000;
int returnDelayMs(int failedAttempts);

} // namespace serial
