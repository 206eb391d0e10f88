// SPDX-License-Identifier: MIT
// The line parameters every mode opens the port with. Program-wide, starting from the
// defaults at every start: nothing is stored between runs.
#pragma once

#include "serial/PortInfo.h"
#include "traffic/LineState.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace PortSettings {

inline QString PortNumberText = QStringLiteral("1");
inline QString PortNameText = QStringLiteral("COM1");
inline int32_t BaudRate = 9600;
inline serial::Parity Parity = serial::Parity::None;
inline uint8_t DataBits = 8;
inline uint8_t StopBits = 0; // 0 one, 2 two
inline QString BaudRateText = QStringLiteral("9600");
inline QString ParityText = QStringLiteral("N");
inline QString DataBitsText = QStringLiteral("8");
inline QString StopBitsText = QStringLiteral("1");
// A device path typed in the port dialog; when set it names the port instead of the COM
// number, so pseudo-terminals and udev links are reachable.
inline QString DevicePathText;
// The device the COM number named when the dialog was confirmed with it: a later open that
// finds another device under that number asks first. Nothing when a device path names the
// port, or when no confirmation named a device (the defaults): such a number opens unasked.
inline std::optional<serial::PortInfo> ConfirmedPort;
// Flow control; by default the line keeps what its driver reports, as it always did.
inline serial::FlowControl Flow = serial::FlowControl::Keep;
// RS-485 direction control; off by default, which leaves the driver's setting as it is.
inline serial::Rs485Config Rs485;

void reset();

// A port and its four parameters, as a mode opens it: the settings' own, or one named apart
// from them (the monitor's second line).
struct PortChoice
{
    QString numberText = QStringLiteral("1"); // the COM number
    QString devicePath; // names the port instead of the number when set
    int32_t baudRate = 9600;
    serial::Parity parity = serial::Parity::None;
    uint8_t dataBits = 8;
    uint8_t stopBits = 0;
    serial::FlowControl flow = serial::FlowControl::Keep;
    serial::Rs485Config rs485 {};

    // As the messages and the status bar name it: "COM2", or the path.
    QString name() const;
    // A character on the line: start, data, parity and stop bits.
    int bitsPerCharacter() const
    {
        return 1 + dataBits + (parity == serial::Parity::None ? 0 : 1) + (stopBits == 2 ? 2 : 1);
    }
    // "COM2 = 9600 , N , 8 , 1".
    QString summary() const;
};
// The one the settings hold.
PortChoice current();

} // namespace PortSettings

// What the monitor's two directions are called until the user names them.
namespace MonitorDefaults {
inline const QString NameA = QStringLiteral("A → B");
inline const QString NameB = QStringLiteral("B → A");
} // namespace MonitorDefaults

namespace PortSettings {

// Why a COM number names no port, knowing how many the machine has.
QString noSuchPortText(size_t portCount);

// Status panel 0: "COM1 = 9600 , N , 8 , 1".
QString summaryText();

// What the port dialog holds when it is confirmed.
struct DialogValues
{
    QString portText;
    QString devicePath;
    QString baudText;
    serial::Parity parity = serial::Parity::None; // of the checked parity button
    uint8_t dataBits = 8;
    uint8_t stopBits = 0;
    serial::FlowControl flow = serial::FlowControl::Keep;
    serial::Rs485Config rs485 {}; // as the row holds it, also while a network path disables it
    // The device the COM number named as the dialog showed it. Last, so that the fields
    // before it can be given in their order alone.
    std::optional<serial::PortInfo> namedPort = std::nullopt;
};

// Takes the dialog's values over in the documented order. When the baud text is no whole
// number the port texts are already taken, everything after them keeps its value, and the
// message for the error box is returned.
std::optional<QString> apply(const DialogValues &values);

// "保持驅動程式設定", "無", "RTS/CTS", "XON/XOFF": the port dialog's choices, in this order.
QString flowControlText(serial::FlowControl flow);

// N O E M S.
QString parityLetter(serial::Parity parity);

} // namespace PortSettings
