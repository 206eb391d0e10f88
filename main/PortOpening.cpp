// SPDX-License-Identifier: MIT
// Opening the port at a mode's start, and the messages when that fails.
#include "Telvixmain1.h"

#include "main/MessageBoxes.h"
#include "main/ModeState.h"
#include "serial/PermissionHint.h"
#include "serial/PortDirectory.h"
#include "serial/PortSettings.h"
#include "serial/SerialLine.h"
#include "serial/UserGroups.h"

#include <QSocketNotifier>

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

void TForm1::Initial_RS232_Register()
{
    // PortHandle is only written once the port is ours: a mode that fails to open must not
    // disturb a typed-string send that holds another port meanwhile.
    const std::string path = devicePathForSettings();
    const serial::OpenResult opened =
            path.empty() ? serial::OpenResult {-1, ENOENT} : serial::openPort(path);
    if (opened.fd < 0) {
        portFailed(QStringLiteral(" 埠,無法開啟"),
                   opened.error == EACCES ? permissionAdvice(path) : QString());
        return;
    }
    serial::LineConfig current;
    if (!serial::readConfig(opened.fd, current)) {
        portFailed(QStringLiteral(" 埠,目前不供存取權"));
        serial::closePort(opened.fd);
        return;
    }
    const serial::LineParams params {PortSettings::BaudRate, PortSettings::Parity,
                                     PortSettings::DataBits, PortSettings::StopBits};
    if (!serial::writeConfig(opened.fd, params)) {
        portFailed(QStringLiteral(" 埠,無法寫入參數值"));
        serial::closePort(opened.fd);
        return;
    }
    ModeState::PortHandle = opened.fd;
    ModeState::ReadRequest = pollfd {opened.fd, POLLIN, 0};
    if (ModeState::SendActive == 0) {
        // Read modes wait in the event loop; a byte arriving is one of the events that ends
        // the wait. The notifier does nothing itself: the loop reads after each dispatch.
        ModeState::ReadDoneEvent = new QSocketNotifier(opened.fd, QSocketNotifier::Read, this);
    }
    ModeState::PortReady = 1;
}

void TForm1::closePort()
{
    delete ModeState::ReadDoneEvent;
    ModeState::ReadDoneEvent = nullptr;
    serial::closePort(ModeState::PortHandle);
    ModeState::PortHandle = -1;
    ModeState::ReadRequest = pollfd {-1, 0, 0};
}
