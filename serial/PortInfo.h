// SPDX-License-Identifier: MIT
// One serial port present on this machine, and how COM numbers name them.
#pragma once

#include <string>
#include <vector>

namespace serial {

// The order in which kinds of port take COM numbers: onboard UARTs first, then USB adapters,
// then USB modems (CDC ACM), then everything else (ttyAMA, rfcomm, ...), and last the ports
// that telvix-sim publishes, so that a real device never loses its number to a simulator.
enum class PortKind { Uart = 0, UsbSerial = 1, UsbAcm = 2, Other = 3, Virtual = 4 };

struct PortInfo
{
    std::string name; // kernel name, e.g. "ttyUSB0"
    std::string devicePath; // e.g. "/dev/ttyUSB0"
    PortKind kind = PortKind::Other;
    int number = 0; // trailing number of the kernel name, for ordering
    std::string manufacturer; // USB attributes, empty otherwise
    std::string product;
    std::string serialNumber;
    std::string vendorId; // USB idVendor and idProduct, e.g. "0403" "6001"
    std::string productId;
    std::string byIdName; // file name under /dev/serial/by-id, when present
    std::string driver; // e.g. "ftdi_sio", "serial8250", when known

    // One line for the port list: what a technician recognises the adapter by.
    std::string description() const;
};

// Whether `now` is the device that `then` was. An adapter with a serial number is that number
// with its vendor and product, wherever the kernel puts it; one without is nothing more than
// where it is: the same path with the same by-id name, vendor and product, since two adapters
// of one kind without a number look alike in everything else.
bool sameDevice(const PortInfo &then, const PortInfo &now);

// Splits "ttyUSB12" into its kind and 12. Names without a trailing number get -1.
PortKind kindOfName(const std::string &name, int &number);

// Puts ports into COM order: by kind, then by number, then by name.
void sortComOrder(std::vector<PortInfo> &ports);

// The port that COM text names: "1" is the first port of the list, "12" the twelfth.
// Only one or two decimal digits without a leading zero name a port; any other text
// (empty, "ab", "0", "01") names none and gives nullptr.
const PortInfo *portForComText(const std::vector<PortInfo> &ports, const std::string &comText);

} // namespace serial
