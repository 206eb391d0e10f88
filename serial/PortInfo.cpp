// SPDX-License-Identifier: MIT
#include "PortInfo.h"

#include <algorithm>
#include <climits>
#include <tuple>

namespace serial {

std::string PortInfo::description() const
{
    if (kind == PortKind::Virtual)
        return "虛擬裝置 (" + (product.empty() ? std::string("telvix-sim") : product) + ")";
    std::string text = manufacturer;
    // Many adapters repeat the maker at the start of the product string ("FTDI" "FTDI USB...").
    if (!product.empty()) {
        if (text.empty() || product.compare(0, text.size(), text) == 0)
            text = product;
        else
            text += " " + product;
    }
    if (!text.empty()) {
        if (!serialNumber.empty())
            text += " (序號 " + serialNumber + ")";
        return text;
    }
    if (kind == PortKind::Uart)
        return "內建串列埠 (UART)";
    if (!driver.empty())
        return driver;
    return "串列埠";
}

bool sameDevice(const PortInfo &then, const PortInfo &now)
{
    const auto usb = [](const PortInfo &p) {
        return std::tie(p.vendorId, p.productId, p.serialNumber);
    };
    if (!then.serialNumber.empty() || !now.serialNumber.empty())
        return usb(then) == usb(now);
    return usb(then) == usb(now) && then.devicePath == now.devicePath
            && then.byIdName == now.byIdName && then.kind == now.kind;
}

PortKind kindOfName(const std::string &name, int &number)
{
    size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9')
        --digits;

    number = -1;
    if (digits < name.size()) {
        long long value = 0;
        for (size_t i = digits; i < name.size(); ++i) {
            value = value * 10 + (name[i] - '0');
            if (value > INT_MAX) {
                value = INT_MAX; // absurd numbers still sort last, not wrap around
                break;
            }
        }
        number = int(value);
    }
    if (number < 0)
        return PortKind::Other;

    const std::string stem = name.substr(0, digits);
    if (stem == "ttyS")
        return PortKind::Uart;
    if (stem == "ttyUSB")
        return PortKind::UsbSerial;
    if (stem == "ttyACM")
        return PortKind::UsbAcm;
    return PortKind::Other;
}

void sortComOrder(std::vector<PortInfo> &ports)
{
    std::stable_sort(ports.begin(), ports.end(), [](const PortInfo &a, const PortInfo &b) {
        return std::tie(a.kind, a.number, a.name) < std::tie(b.kind, b.number, b.name);
    });
}

const PortInfo *portForComText(const std::vector<PortInfo> &ports, const std::string &comText)
{
    if (comText.empty() || comText.size() > 2 || comText[0] < '1' || comText[0] > '9')
        return nullptr;
    size_t index = size_t(comText[0] - '0');
    if (comText.size() == 2) {
        if (comText[1] < '0' || comText[1] > '9')
            return nullptr;
        index = index * 10 + size_t(comText[1] - '0');
    }
    if (index > ports.size())
        return nullptr;
    return &ports[index - 1];
}

} // namespace serial
