// SPDX-License-Identifier: MIT
#include "CommandSender.h"

#include "send/PacedSender.h"
#include "send/SendTexts.h"
#include "session/ModeState.h"

CommandSender::Result CommandSender::send(const QByteArray &bytes)
{
    m_lastSent = 0;
    if (!m_port)
        return Result::NoPort;
    // A terminal message holds SendActive while it goes out.
    if (m_sending || ModeState::SendActive)
        return Result::Busy;
    m_sending = true;
    ModeState::Hold active(ModeState::SendActive);
    PacedSender sender(*m_port, 0, PacedSender::Events::WhileStalled);
    sender.setStop([] { return ModeState::BreakRequested != 0; });
    Result result = Result::Sent;
    int64_t firstUs = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (!sender.write(uint8_t(bytes[i]))) {
            result = ModeState::BreakRequested ? Result::Stopped : Result::Lost;
            break;
        }
        if (i == 0)
            firstUs = sender.sentAtUs();
        ++m_lastSent;
    }
    // The port is the mode's; Break while stalled may have ended nothing yet, as the mode's
    // loop is below this call.
    if (m_lastSent > 0)
        m_port->record({TrafficKind::Sent, firstUs, bytes.left(m_lastSent)});
    m_sending = false;
    return result;
}

QString CommandSender::message(Result result, qsizetype sent, qsizetype total)
{
    switch (result) {
    case Result::Lost:
        return SendTexts::lineLost(sent, total);
    case Result::NoPort:
        return QStringLiteral("先啟動接收模式或通訊模式,才能送出命令");
    default:
        return {};
    }
}
