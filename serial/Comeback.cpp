// SPDX-License-Identifier: MIT
#include "Comeback.h"

#include "serial/NetworkAddress.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace serial {

namespace {

std::string realPath(const std::string &path)
{
    const std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr),
                                                           &std::free);
    return real ? std::string(real.get()) : std::string();
}

} // namespace

DeviceIdentity identify(const std::string &path, const ScanRoots &roots)
{
    DeviceIdentity identity;
    identity.path = path;
    if (isNetworkPath(path)) {
        identity.network = true;
        return identity;
    }
    const std::string real = realPath(path);
    for (const PortInfo &port : scanPorts(roots)) {
        const bool same = port.devicePath == path
                || (!real.empty() && realPath(port.devicePath) == real)
                || (!port.byIdName.empty() && path == roots.byIdDir + '/' + port.byIdName);
        if (same) {
            identity.serialNumber = port.serialNumber;
            identity.byIdName = port.byIdName;
            break;
        }
    }
    return identity;
}

std::string findReturned(const DeviceIdentity &identity, const ScanRoots &roots)
{
    if (identity.network)
        return identity.path;
    if (!identity.serialNumber.empty() || !identity.byIdName.empty()) {
        for (const PortInfo &port : scanPorts(roots)) {
            const bool same = !identity.serialNumber.empty()
                    ? port.serialNumber == identity.serialNumber
                    : port.byIdName == identity.byIdName;
            if (same)
                return port.devicePath;
        }
        return {};
    }
    return access(identity.path.c_str(), F_OK) == 0 ? identity.path : std::string();
}

int returnDelayMs(int failedAttempts)
{
    int delay = ReturnLookMs;
    for (int i = 1; i < failedAttempts && delay < ReturnRetryMaxMs; ++i)
        delay *= 2;
    return std::min(delay, ReturnRetryMaxMs);
}

} // namespace serial
