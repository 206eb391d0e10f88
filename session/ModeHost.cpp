// SPDX-License-Identifier: MIT
#include "ModeHost.h"

#include "serial/PortScan.h"
#include "serial/SerialPort.h"

#include <cstring>

std::unique_ptr<SerialPort> ModeHost::openListeningPort(const PortSettings::PortChoice &choice)
{
    std::string path = choice.devicePath.toStdString();
    if (path.empty()) {
        const std::vector<serial::PortInfo> ports = serial::scanPorts();
        const serial::PortInfo *port =
                serial::portForComText(ports, choice.numberText.toStdString());
        if (!port) {
            message(choice.name() + QStringLiteral(" 埠,無法開啟\n")
                    + PortSettings::noSuchPortText(ports.size()));
            return nullptr;
        }
        path = port->devicePath;
    }
    SerialPort::Opened opened = SerialPort::open(
            path, {choice.baudRate, choice.parity, choice.dataBits, choice.stopBits, choice.flow});
    if (!opened.port)
        message(choice.name() + QStringLiteral(" 埠,無法開啟\n")
                + QString::fromStdString(opened.reason.empty() ? std::strerror(opened.error)
                                                               : opened.reason));
    return std::move(opened.port);
}
