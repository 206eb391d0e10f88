// SPDX-License-Identifier: MIT
#include "PortScan.h"

#include <filesystem>
#include <fstream>
#include <map>

namespace fs = std::filesystem;

namespace serial {

namespace {

// A sysfs attribute without its trailing newline; empty when missing or unreadable.
std::string readAttribute(const fs::path &file)
{
    std::ifstream in(file);
    if (!in)
        return {};
    std::string value;
    std::getline(in, value);
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ' || value.back() == '\t'))
        value.pop_back();
    return value;
}

bool entryExists(const fs::path &p)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(p, ec));
}

// The 8250 driver registers ttyS0..N whether or not a UART answers; `type` 0 means none does.
bool uartPresent(const fs::path &ttyDir)
{
    const std::string type = readAttribute(ttyDir / "type");
    if (type.empty())
        return false;
    for (char c : type) {
        if (c < '0' || c > '9')
            return false;
    }
    return type.find_first_not_of('0') != std::string::npos;
}

// Since Linux 6.5 a UART's tty hangs below the serial core's own "ctrl" and "port" devices;
// the driver that names the hardware is on the first ancestor outside that bus.
std::string driverName(const fs::path &deviceLink)
{
    std::error_code ec;
    fs::path dir = fs::canonical(deviceLink, ec);
    if (ec)
        return {};
    for (int level = 0; level <= 4 && !dir.empty(); ++level) {
        std::error_code linkError;
        const fs::path driver = fs::read_symlink(dir / "driver", linkError);
        if (linkError)
            return {};
        if (driver.parent_path().parent_path().filename() != "serial-base")
            return driver.filename().string();
        if (dir == dir.parent_path())
            return {};
        dir = dir.parent_path();
    }
    return {};
}

// The USB device carrying a tty sits a few levels above it (port, interface, device).
void readUsbAttributes(const fs::path &deviceLink, PortInfo &port)
{
    std::error_code ec;
    fs::path dir = fs::canonical(deviceLink, ec);
    if (ec)
        return;
    for (int level = 0; level <= 4 && !dir.empty(); ++level) {
        if (entryExists(dir / "idVendor")) {
            port.manufacturer = readAttribute(dir / "manufacturer");
            port.product = readAttribute(dir / "product");
            port.serialNumber = readAttribute(dir / "serial");
            port.vendorId = readAttribute(dir / "idVendor");
            port.productId = readAttribute(dir / "idProduct");
            return;
        }
        if (dir == dir.parent_path())
            return;
        dir = dir.parent_path();
    }
}

// udev's by-id links, keyed by the port name they point at. Several links for one port
// give the alphabetically first, so the list reads the same on every scan.
std::map<std::string, std::string> byIdNames(const std::string &byIdDir)
{
    std::map<std::string, std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(byIdDir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code linkError;
        const fs::path target = fs::read_symlink(it->path(), linkError);
        if (linkError)
            continue;
        const std::string port = target.filename().string();
        const std::string link = it->path().filename().string();
        auto found = names.find(port);
        if (found == names.end())
            names.emplace(port, link);
        else if (link < found->second)
            found->second = link;
    }
    return names;
}

} // namespace

std::vector<PortInfo> scanPorts(const ScanRoots &roots)
{
    std::vector<PortInfo> ports;
    const auto byId = byIdNames(roots.byIdDir);

    std::error_code ec;
    for (fs::directory_iterator it(roots.sysClassTty, ec), end; !ec && it != end;
         it.increment(ec)) {
        const fs::path ttyDir = it->path();
        const std::string name = ttyDir.filename().string();
        // Virtual terminals, the console and ptmx have no device behind them.
        if (!entryExists(ttyDir / "device"))
            continue;

        PortInfo port;
        port.name = name;
        port.devicePath = roots.devDir + "/" + name;
        port.kind = kindOfName(name, port.number);
        if (port.kind == PortKind::Uart && !uartPresent(ttyDir))
            continue;

        port.driver = driverName(ttyDir / "device");
        readUsbAttributes(ttyDir / "device", port);

        if (auto found = byId.find(name); found != byId.end())
            port.byIdName = found->second;

        ports.push_back(std::move(port));
    }
    for (PortInfo &port : scanVirtualPorts(roots.virtualDir))
        ports.push_back(std::move(port));
    sortComOrder(ports);
    return ports;
}

} // namespace serial
