// SPDX-License-Identifier: MIT
#include "CommandSender.h"

#include "send/SendTexts.h"
#include "serial/SerialPort.h"
#include "session/ModeState.h"

#include <QCoreApplication>

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
    // A line that holds the bytes back lets events through meanwhile, as a terminal send
    // does, so the window never hangs on it; Break gives the rest up. The port is the mode's:
    // the mode's loop is below this call, so Break has ended nothing yet when the write returns.
    m_lastSent = m_port->writeRecorded(bytes, [] {
        QCoreApplication::processEvents();
        return ModeState::BreakRequested == 0;
    });
    m_sending = false;
    if (m_lastSent == bytes.size())
        return Result::Sent;
    return ModeState::BreakRequested ? Result::Stopped : Result::Lost;
}

QString CommandSender::message(Result result, qsizetype sent, qsizetype total)
{
    switch (result) {
    case Result::Lost:
        return SendTexts::lineLost(sent, total);
    case Result::NoPort:
        return QString::fromUtf8(NoPortText);
    default:
        return {};
    }
}
