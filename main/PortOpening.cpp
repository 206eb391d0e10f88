// SPDX-License-Identifier: MIT
// Opening the port at a mode's start, and the messages when that fails.
#include "Telvixmain1.h"

#include "main/LinePanel.h"
#include "serial/NetworkAddress.h"
#include "serial/PermissionHint.h"
#include "serial/PortDirectory.h"
#include "serial/PortSettings.h"
#include "serial/SerialPort.h"
#include "serial/UserGroups.h"
#include "widgets/MessageBoxes.h"
#include "widgets/WaitBox.h"

#include <cerrno>
#include <memory>
#include <optional>

namespace {

// A device as the messages name it: where it is and what it is.
QString deviceText(const serial::PortInfo &port)
{
    return QString::fromStdString(port.devicePath + ' ' + port.description());
}

// The device a choice names: a typed device path wins over the COM number. A COM number that
// names no port gives an empty path and, in `reason`, what the port list holds instead. The
// settings' one, when its number names another device than when it was confirmed (an adapter
// plugged in or pulled has moved the numbers), asks first; `declined` when the user would not
// have it.
std::string devicePathFor(QWidget *parent, const PortSettings::PortChoice &choice, bool settings,
                          QString &reason, bool &declined)
{
    if (!choice.devicePath.isEmpty())
        return choice.devicePath.toStdString();
    const std::vector<serial::PortInfo> ports = serial::scanPorts(serial::CurrentScanRoots);
    const serial::PortInfo *port = serial::portForComText(ports, choice.numberText.toStdString());
    if (!port) {
        reason = PortSettings::noSuchPortText(ports.size());
        return {};
    }
    if (!settings)
        return port->devicePath;
    const std::optional<serial::PortInfo> &then = PortSettings::ConfirmedPort;
    if (then && !serial::sameDevice(*then, *port)) {
        const QString question =
                QStringLiteral("COM%1 現在是 %2 (原為 %3)\n仍要開啟這個裝置嗎?")
                        .arg(PortSettings::PortNumberText, deviceText(*port), deviceText(*then));
        if (!MessageBoxes::question(parent, question)) {
            declined = true;
            return {};
        }
    }
    // The same adapter at another node, or the one the user has just taken: the next open
    // compares with it.
    if (then)
        PortSettings::ConfirmedPort = *port;
    return port->devicePath;
}

QString permissionAdvice(const std::string &path)
{
    return PermissionHint::text(serial::hintFacts(serial::groupFactsFor(path)));
}

// A connection made in a moment shows no box.
constexpr int ConnectBoxAfterMs = 300;

} // namespace

void TForm1::portFailed(const QString &name, const QString &suffix, const QString &detail)
{
    MessageBoxes::beep();
    // A pasted page of text in the path row makes no page-long message.
    QString text = QString::fromStdString(serial::quotedHost(name.toStdString())) + suffix;
    if (!detail.isEmpty())
        text += u'\n' + detail;
    MessageBoxes::message(this, text);
}

std::unique_ptr<SerialPort> TForm1::Initial_RS232_Register()
{
    return openChoice(PortSettings::current(), true);
}

std::unique_ptr<SerialPort> TForm1::openChoice(const PortSettings::PortChoice &choice,
                                               bool settings)
{
    QString missing;
    bool declined = false;
    const std::string path = devicePathFor(this, choice, settings, missing, declined);
    if (declined)
        return nullptr;
    // The settings' port is the one the panels name: a second port with its own name says it.
    const QString name = settings ? PortSettings::PortNameText : choice.name();
    // A network port's RS-485 is the server's: the opening sets it on a device only.
    const serial::LineParams params {choice.baudRate, choice.parity, choice.dataBits,
                                     choice.stopBits, choice.flow,   m_linePanel->markErrors(),
                                     choice.rs485};
    SerialPort::Opened opened;
    if (path.empty()) {
        opened = {nullptr, SerialPort::Failure::Open, ENOENT, missing.toStdString(), false};
    } else if (serial::isNetworkPath(path)) {
        // While it connects and sets its line the window goes on, and after a moment a box
        // says what it waits for, with a button (and Esc) that gives up.
        bool calledOff = false;
        WaitBox wait(
                {QStringLiteral("ConnectWaitDialog"),
                 QStringLiteral("正在連線到 %1 …")
                         .arg(QString::fromStdString(serial::quotedHost(path))),
                 QStringLiteral("中斷"), QStringLiteral("BreakButton")},
                [&calledOff] { calledOff = true; }, ConnectBoxAfterMs);
        opened = SerialPort::open(path, params, [&] {
            wait.processEvents();
            return !calledOff;
        });
    } else {
        opened = SerialPort::open(path, params);
    }
    const QString reason = QString::fromStdString(opened.reason);
    if (opened.calledOff) {
        // The user gave up on the connection: nothing failed that needs telling.
        return nullptr;
    }
    switch (opened.failure) {
    case SerialPort::Failure::None:
        return std::move(opened.port);
    case SerialPort::Failure::Open: {
        // Who may open the device and how to become one says more than that one may not.
        const QString advice = opened.error == EACCES && !serial::isNetworkPath(path)
                ? permissionAdvice(path)
                : QString();
        portFailed(name, QStringLiteral(" 埠,無法開啟"), advice.isEmpty() ? reason : advice);
        break;
    }
    case SerialPort::Failure::ReadConfig:
        portFailed(name, QStringLiteral(" 埠,目前不供存取權"), reason);
        break;
    case SerialPort::Failure::WriteConfig:
        portFailed(name, QStringLiteral(" 埠,無法寫入參數值"), reason);
        break;
    }
    return nullptr;
}

std::unique_ptr<SerialPort> TForm1::openListeningPort(const PortSettings::PortChoice &choice)
{
    // Heard, never spoken to: the line panel would set DTR and RTS as it opens a line, and its
    // buttons would change them.
    std::unique_ptr<SerialPort> port = openChoice(choice, false);
    if (port && SerialPort::openCount() == 1)
        m_capture.clear();
    return port;
}

std::unique_ptr<SerialPort> TForm1::openPort()
{
    std::unique_ptr<SerialPort> port = Initial_RS232_Register();
    // A mode that starts when none runs starts a new capture; one started from inside another
    // (a file send between two strings) adds to it.
    if (port && SerialPort::openCount() == 1)
        m_capture.clear();
    if (port) {
        m_linePanel->attach(port.get());
        m_modePort = port.get();
    }
    return port;
}
