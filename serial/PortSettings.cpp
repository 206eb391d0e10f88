// SPDX-License-Identifier: MIT
#include "PortSettings.h"

#include "traffic/IntText.h"

namespace PortSettings {

QString noSuchPortText(size_t portCount)
{
    return portCount == 0 ? QStringLiteral("本機沒有找到任何串列埠")
                          : QStringLiteral("沒有這個埠 (本機有 COM1 ~ COM%1)").arg(portCount);
}

QString PortChoice::name() const
{
    return devicePath.isEmpty() ? QStringLiteral("COM") + numberText : devicePath;
}

QString PortChoice::summary() const
{
    return QStringLiteral("%1 = %2 , %3 , %4 , %5")
            .arg(name())
            .arg(baudRate)
            .arg(parityLetter(parity))
            .arg(dataBits)
            .arg(stopBits == 2 ? 2 : 1);
}

PortChoice current()
{
    return {PortNumberText, DevicePathText, BaudRate, Parity, DataBits, StopBits, Flow, Rs485};
}

void reset()
{
    PortNumberText = QStringLiteral("1");
    PortNameText = QStringLiteral("COM1");
    BaudRate = 9600;
    Parity = serial::Parity::None;
    DataBits = 8;
    StopBits = 0;
    BaudRateText = QStringLiteral("9600");
    ParityText = QStringLiteral("N");
    DataBitsText = QStringLiteral("8");
    StopBitsText = QStringLiteral("1");
    DevicePathText.clear();
    ConfirmedPort.reset();
    Flow = serial::FlowControl::Keep;
    Rs485 = {};
}

QString flowControlText(serial::FlowControl flow)
{
    switch (flow) {
    case serial::FlowControl::Keep:
        break;
    case serial::FlowControl::None:
        return QStringLiteral("無");
    case serial::FlowControl::RtsCts:
        return QStringLiteral("RTS/CTS");
    case serial::FlowControl::XonXoff:
        return QStringLiteral("XON/XOFF");
    }
    return QStringLiteral("保持驅動程式設定");
}

QString summaryText()
{
    return QStringLiteral("%1 = %2 , %3 , %4 , %5")
            .arg(PortNameText, BaudRateText, ParityText, DataBitsText, StopBitsText);
}

QString parityLetter(serial::Parity parity)
{
    // In the order of serial::Parity.
    static const char Letters[serial::ParityCount] = {'N', 'O', 'E', 'M', 'S'};
    const size_t index = size_t(parity);
    return index < sizeof Letters ? QString(QChar(Letters[index])) : QStringLiteral("?");
}

std::optional<QString> apply(const DialogValues &values)
{
    PortNumberText = values.portText;
    DevicePathText = values.devicePath;
    ConfirmedPort = DevicePathText.isEmpty() ? values.namedPort : std::nullopt;
    PortNameText =
            DevicePathText.isEmpty() ? QStringLiteral("COM") + PortNumberText : DevicePathText;
    const std::optional<int32_t> baud = IntText::toInt32(values.baudText);
    if (!baud)
        return IntText::notAnIntegerMessage(values.baudText);
    BaudRate = *baud;
    BaudRateText = values.baudText;
    Parity = values.parity;
    ParityText = parityLetter(values.parity);
    DataBits = values.dataBits;
    DataBitsText = QString::number(values.dataBits);
    StopBits = values.stopBits;
    StopBitsText = values.stopBits == 2 ? QStringLiteral("2") : QStringLiteral("1");
    Flow = values.flow;
    Rs485 = values.rs485;
    return std::nullopt;
}

} // namespace PortSettings
