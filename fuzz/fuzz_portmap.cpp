// SPDX-License-Identifier: MIT
// From the text of the port dialog to the device it names: kernel names of any shape sorted
// into COM order, a COM text of any shape looked up in that order, and the name that the
// status bar and the messages then show.
//
// Input: lines. The first is the COM text, the second the device path row, the rest are kernel
// names of ports present.
#include "FuzzCheck.h"

#include "serial/PortInfo.h"
#include "serial/PortSettings.h"

#include <QString>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

namespace {

std::vector<std::string> linesOf(const uint8_t *data, size_t size)
{
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n')
            lines.emplace_back();
        else
            lines.back() += char(data[i]);
    }
    return lines;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The number a text of one or two digits without a leading zero stands for; 0 for any other.
size_t comNumber(const std::string &text)
{
    if (text.empty() || text.size() > 2 || !isDigit(text[0]) || text[0] == '0')
        return 0;
    if (text.size() == 2 && !isDigit(text[1]))
        return 0;
    return size_t(std::stoi(text));
}

void checkKind(const std::string &name, serial::PortKind kind, int number)
{
    size_t digits = name.size();
    while (digits > 0 && isDigit(name[digits - 1]))
        --digits;
    FUZZ_CHECK((number == -1) == (digits == name.size()));
    FUZZ_CHECK(number >= -1);
    if (number >= 0 && name.size() - digits <= 9)
        FUZZ_CHECK(number == std::stoi(name.substr(digits)));
    const std::string stem = name.substr(0, digits);
    switch (kind) {
    case serial::PortKind::Uart:
        FUZZ_CHECK(stem == "ttyS" && number >= 0);
        break;
    case serial::PortKind::UsbSerial:
        FUZZ_CHECK(stem == "ttyUSB" && number >= 0);
        break;
    case serial::PortKind::UsbAcm:
        FUZZ_CHECK(stem == "ttyACM" && number >= 0);
        break;
    case serial::PortKind::Other:
        FUZZ_CHECK(number < 0 || (stem != "ttyS" && stem != "ttyUSB" && stem != "ttyACM"));
        break;
    case serial::PortKind::Virtual:
        FUZZ_CHECK(false); // only the scan of the simulators' folder names virtual ports
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> lines = linesOf(data, size);
    const std::string comText = lines[0];
    const std::string devicePath = lines.size() > 1 ? lines[1] : std::string();

    std::vector<serial::PortInfo> ports;
    for (size_t i = 2; i < lines.size(); ++i) {
        serial::PortInfo port;
        port.name = lines[i];
        port.devicePath = "/dev/" + port.name;
        port.kind = serial::kindOfName(port.name, port.number);
        checkKind(port.name, port.kind, port.number);
        // One in three is a USB adapter that tells its maker, as sysfs would.
        if (i % 3 == 0)
            port.manufacturer = port.product = port.name;
        FUZZ_CHECK(!port.description().empty());
        ports.push_back(port);
    }

    std::vector<serial::PortInfo> sorted = ports;
    serial::sortComOrder(sorted);
    FUZZ_CHECK(sorted.size() == ports.size());
    for (size_t i = 1; i < sorted.size(); ++i) {
        const serial::PortInfo &a = sorted[i - 1], &b = sorted[i];
        FUZZ_CHECK(int(a.kind) <= int(b.kind));
        if (a.kind == b.kind)
            FUZZ_CHECK(a.number < b.number || (a.number == b.number && a.name <= b.name));
    }
    // Nothing is lost or made up by the sort.
    std::vector<std::string> before, after;
    for (const serial::PortInfo &p : ports)
        before.push_back(p.name);
    for (const serial::PortInfo &p : sorted)
        after.push_back(p.name);
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    FUZZ_CHECK(before == after);

    const serial::PortInfo *named = serial::portForComText(sorted, comText);
    const size_t n = comNumber(comText);
    if (n >= 1 && n <= sorted.size())
        FUZZ_CHECK(named == &sorted[n - 1]);
    else
        FUZZ_CHECK(named == nullptr);

    // The dialog's texts taken over: a device path names the port, else the COM number does.
    PortSettings::reset();
    PortSettings::DialogValues values;
    values.portText = QString::fromStdString(comText);
    values.devicePath = QString::fromStdString(devicePath);
    values.baudText = QStringLiteral("9600");
    FUZZ_CHECK(!PortSettings::apply(values));
    if (values.devicePath.isEmpty())
        FUZZ_CHECK(PortSettings::PortNameText == QStringLiteral("COM") + values.portText);
    else
        FUZZ_CHECK(PortSettings::PortNameText == values.devicePath);
    FUZZ_CHECK(PortSettings::summaryText().startsWith(PortSettings::PortNameText + u' '));
    return 0;
}
