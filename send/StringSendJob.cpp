// SPDX-License-Identifier: MIT
#include "StringSendJob.h"

#include "send/PacedSender.h"
#include "send/SendDelay.h"
#include "send/SendText.h"
#include "send/SendTexts.h"
#include "session/ModeHost.h"
#include "session/ModeState.h"
#include "session/ModeTable.h"
#include "traffic/IntText.h"
#include "traffic/Traffic.h"

#include <QCoreApplication>

void StringSendJob::run()
{
    // Another send may be running beneath this one (the string send disables nothing): the
    // flag stays set for it after this one ends.
    ModeState::Hold active(ModeState::SendActive);
    // This send's own port: a mode started between two bytes opens (or fails to open) another.
    std::unique_ptr<SerialPort> port = m_host.openPort();
    if (!port)
        return;
    m_host.setStatusText(QString::fromUtf8(SendTexts::StringSendStart));
    for (;;) {
        QCoreApplication::processEvents();
        const std::optional<StringSendRequest> request = m_ask();
        if (!request || send(*port, *request) == Outcome::EndMode)
            break;
    }
    port.reset();
    m_host.setStatusText(QString::fromUtf8(ModeTable::IdleText));
}

StringSendJob::Outcome StringSendJob::send(SerialPort &port, const StringSendRequest &request)
{
    const SendText::Composed composed = SendText::compose(request.text, request.hex);
    if (!composed.bytes) {
        m_host.message(composed.problem);
        return Outcome::Again;
    }
    // The whole text goes out, however long: the box has no limit and nothing is cut.
    const QByteArray &bytes = *composed.bytes;

    const SendDelay::Parsed delay = SendDelay::parse(request.delayText);
    if (!bytes.isEmpty() && delay.problem == SendDelay::Problem::Negative) {
        m_host.message(SendTexts::negativeDelay(request.delayText));
        return Outcome::Again;
    }

    PacedSender sender(port, delay.ms);
    SentBytes sent(m_host.traffic());
    sender.setBeforeDispatch([&sent] { sent.flush(); });
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (!sender.write(uint8_t(bytes[i]))) {
            m_host.message(SendTexts::lineLost(i, bytes.size()));
            return Outcome::Again;
        }
        sent.add(uint8_t(bytes[i]), sender.sentAtUs());
        // The delay is converted once its first byte is out, and a text that is no number
        // stops the send there; the mode then ends as it does when left.
        if (delay.problem == SendDelay::Problem::NotANumber) {
            sent.flush();
            m_host.errorBox(IntText::notAnIntegerMessage(request.delayText));
            return Outcome::EndMode;
        }
        sender.gap();
    }
    if (request.appendCr) {
        if (sender.write(0x0D))
            sent.add(0x0D, sender.sentAtUs());
        else
            m_host.message(SendTexts::lineLost(bytes.size(), bytes.size() + 1));
    }
    return Outcome::Again;
}
