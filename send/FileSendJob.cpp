// SPDX-License-Identifier: MIT
#include "FileSendJob.h"

#include "send/FileByteStream.h"
#include "send/PacedSender.h"
#include "send/SendDelay.h"
#include "send/SendText.h"
#include "send/SendTexts.h"
#include "session/ModeFrame.h"
#include "session/ModeHost.h"
#include "session/ModeState.h"
#include "traffic/IntText.h"
#include "traffic/Traffic.h"

#include <optional>

namespace {

std::optional<QByteArray> bytesOf(ModeHost &host, const QString &text)
{
    const SendText::Bytes converted = SendText::toBytes(text);
    if (!converted.bytes)
        host.message(SendText::unencodableMessage(text, converted.badIndex));
    return converted.bytes;
}

} // namespace

void FileSendJob::run()
{
    const QString &path = m_request.path;
    FileByteStream file;
    if (!file.open(path)) {
        m_host.message(SendTexts::fileOpenFailed(path));
        return;
    }
    const SendDelay::Parsed delay = SendDelay::parse(m_request.delayText);
    if (delay.problem == SendDelay::Problem::NotANumber) {
        m_host.errorBox(IntText::notAnIntegerMessage(m_request.delayText));
        return;
    }
    if (delay.problem == SendDelay::Problem::Negative) {
        m_host.message(SendTexts::negativeDelay(m_request.delayText));
        return;
    }
    const std::optional<QByteArray> head = bytesOf(m_host, m_request.headText);
    if (!head)
        return;
    const std::optional<QByteArray> end = bytesOf(m_host, m_request.endText);
    if (!end)
        return;

    ModeFrame frame(m_host, Mode::FileSend);
    SerialPort *port = frame.begin();
    if (!port)
        return;

    PacedSender sender(*port, delay.ms);
    sender.setStop([] { return ModeState::BreakRequested != 0; });
    SentBytes sent(m_host.traffic());
    // A byte the line no longer takes (the device is gone) ends the send as a Break would:
    // reporting the file as sent would be false.
    bool lineLost = false;
    const auto sendByte = [&](uint8_t byte) {
        if (!sender.write(byte)) {
            lineLost = ModeState::BreakRequested == 0;
            return false;
        }
        sent.add(byte, sender.sentAtUs());
        return true;
    };
    const auto sendString = [&](const QByteArray &bytes) {
        for (const char byte : bytes) {
            if (ModeState::BreakRequested != 0 || lineLost || !sendByte(uint8_t(byte)))
                return;
            sender.gap();
        }
    };
    // A pipe or device with nothing yet waits for its next byte; Break still ends it.
    file.setWaitHook([&sender] {
        sender.dispatchEvents();
        return ModeState::BreakRequested == 0;
    });

    sendString(*head);

    int64_t count = 0;
    // Shown only when events are about to run: then the text a user can see is always the
    // current count, while a fast send does not rebuild it a million times a second. What went
    // out is handed on then too.
    const auto showProgress = [&] {
        if (count > 0)
            m_host.setStatusText(SendTexts::fileProgress(count - 1, m_request.size));
        sent.flush();
    };
    sender.setBeforeDispatch(showProgress);
    while (ModeState::BreakRequested == 0 && !lineLost) {
        const int byte = file.next();
        if (byte < 0 || !sendByte(uint8_t(byte)))
            break;
        ++count;
        sender.gap();
    }
    showProgress();
    sender.setBeforeDispatch([&sent] { sent.flush(); });

    // A file that could not be read to its end was not sent whole: its end string would tell
    // the device otherwise, and the summary must not say complete.
    const bool readFailed = file.failed();
    if (!readFailed)
        sendString(*end);
    sent.flush();

    const bool interrupted = ModeState::BreakRequested != 0 || lineLost || readFailed;
    m_host.message(SendTexts::fileSummary(path, m_request.size, count, interrupted));
    file.close();
    frame.end();
}
