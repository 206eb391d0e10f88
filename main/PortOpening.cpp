// SPDX-License-Identifier: MIT
// Opening the port at a mode's start, and the messages when that fails.
#include "Telvixmain1.h"

#include "main/LinePanel.h"
#include "main/MessageBoxes.h"
#include "main/ModeState.h"
#include "serial/PermissionHint.h"
#include "serial/PortDirectory.h"
#include "serial/PortSettings.h"
#include "serial/SerialPort.h"
#include "serial/UserGroups.h"

#include <cerrno>

namespace {

// The device the settings name: a typed device path wins over the COM number.
std::string devicePathForSettings()
{
    if (!PortSettings::DevicePathText.isEmpty())
        return PortSettings::DevicePathText.toStdString();
    const std::vector<serial::PortInfo> ports = serial::scanPorts(serial::CurrentScanRoots);
    const serial::PortInfo *port =
            serial::portForComText(ports, PortSettings::PortNumberText.toStdString());
    return port ? port->devicePath : std::string();
}

QString permissionAdvice(const std::string &path)
{
    return PermissionHint::text(serial::hintFacts(serial::groupFactsFor(path)));
}

} // namespace

void TForm1::portFailed(const QString &suffix, const QString &detail)
{
    MessageBoxes::beep();
    QString text = PortSettings::PortNameText + suffix;
    if (!detail.isEmpty())
        text += u'\n' + detail;
    MessageBoxes::message(this, text);
    ModeState::PortReady = 0;
}

std::unique_ptr<SerialPort> TForm1::Initial_RS232_Register()
{
    const std::string path = devicePathForSettings();
    const serial::LineParams params {PortSettings::BaudRate, PortSettings::Parity,
                                     PortSettings::DataBits, PortSettings::StopBits,
                                     PortSettings::Flow, m_linePanel->markErrors()};
    SerialPort::Opened opened = path.empty()
            ? SerialPort::Opened {nullptr, SerialPort::Failure::Open, ENOENT}
            : SerialPort::open(path, params);
    switch (opened.failure) {
    case SerialPort::Failure::None:
        ModeState::PortReady = 1;
        return std::move(opened.port);
    case SerialPort::Failure::Open:
        portFailed(QStringLiteral(" 埠,無法開啟"),
                   opened.error == EACCES ? permissionAdvice(path) : QString());
        break;
    case SerialPort::Failure::ReadConfig:
        portFailed(QStringLiteral(" 埠,目前不供存取權"));
        break;
    case SerialPort::Failure::WriteConfig:
        portFailed(QStringLiteral(" 埠,無法寫入參數值"));
        break;
    }
    return nullptr;
}

std::unique_ptr<SerialPort> TForm1::openPort()
{
    std::unique_ptr<SerialPort> port = Initial_RS232_Register();
    // A mode that starts when none runs starts a new capture; one started from inside another
    // (a file send between two strings) adds to it.
    if (port && SerialPort::openCount() == 1)
        m_capture.clear();
    if (port)
        m_linePanel->attach(port.get());
    return port;
}
