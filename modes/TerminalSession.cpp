// SPDX-License-Identifier: MIT
#include "TerminalSession.h"

#include "send/PacedSender.h"
#include "send/SendDelay.h"
#include "send/SendText.h"
#include "send/SendTexts.h"
#include "session/ModeFrame.h"
#include "session/ModeHost.h"
#include "session/ModeState.h"
#include "session/ReadLoop.h"
#include "session/ConversationDisplay.h"
#include "traffic/IntText.h"

// Terminal mode's conversation: every press of 傳送 opens a block of its own, and its bytes are
// echoed one by one after their pauses. A command of the list or an auto-reply, come through the
// port's queue in order with what was read, is a block of its own too, as a typed message is.
class TerminalSession::TerminalDisplay : public ConversationDisplay
{
public:
    TerminalDisplay(ModeHost &host, TerminalPanel &panel, const bool &typing)
        : ConversationDisplay(
                  host, [&panel] { return panel.localName(); },
                  [&panel] { return panel.remoteName(); }),
          m_typing(typing)
    { }

    // A byte that went out but is not to be shown (its pause could not be read) still passes
    // the stream.
    void setEcho(bool echo) { m_echo = echo; }

protected:
    void takeSent(const TrafficRecord &record) override
    {
        if (!m_typing) {
            endBlock();
            ConversationDisplay::takeSent(record);
        } else if (m_echo) {
            // Shown at once, after what was received before it.
            passEnd();
            addBytes(record.bytes, record.timeUs, TrafficKind::Sent);
            passEnd();
        }
    }

private:
    const bool &m_typing; // the session's own message is going out
    bool m_echo = true;
};

void TerminalSession::run()
{
    ModeFrame frame(m_host, Mode::Terminal);
    m_port = frame.begin();
    if (!m_port)
        return;
    m_panel.focusMessage();
    TerminalDisplay display(m_host, m_panel, m_sending);
    m_display = &display;
    m_host.traffic().subscribe(&display);
    ReadLoop::run(*m_port, m_host.traffic(), [this] { return m_host.displayFrameMs(); });
    m_host.traffic().unsubscribe(&display);
    display.finish();
    m_display = nullptr;
    m_port = nullptr;
    frame.end();
}

void TerminalSession::displayCleared()
{
    if (m_display)
        m_display->endBlock();
}

bool TerminalSession::send()
{
    // A command of the list going out holds SendActive: the message waits for a second press.
    if (m_sending || !m_port || ModeState::SendActive)
        return true;
    const QString message = m_panel.messageText();
    const SendText::Composed composed = SendText::compose(message, m_panel.hexInput());
    if (!composed.bytes) {
        m_host.message(composed.problem);
        return false;
    }
    const QByteArray bytes = *composed.bytes + m_panel.lineEnding();
    m_panel.messageSent(message);
    m_sending = true;
    ModeState::Hold sending(ModeState::SendActive);
    m_display->endBlock();
    m_display->openLocal(monotonicMicroseconds());
    m_display->passEnd();

    // Events wait until the message is out, as the user expects of a send; only a line that
    // holds a byte back lets them through, so the window never hangs on it.
    PacedSender sender(*m_port, 0, PacedSender::Events::WhileStalled);
    sender.setStop([] { return ModeState::BreakRequested != 0; });
    bool completed = true;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const uint8_t byte = uint8_t(bytes[i]);
        if (!sender.write(byte)) {
            completed = false;
            // Break is the user's own stop; a line that no longer takes bytes (the device is
            // gone) would otherwise end the message without a word.
            if (ModeState::BreakRequested == 0)
                m_host.message(SendTexts::lineLost(i, bytes.size()));
            break;
        }
        const TrafficRecord sent {TrafficKind::Sent, sender.sentAtUs(), QByteArray(1, char(byte))};
        // The delay is read for every byte, once it is out; a text that is no delay stops the
        // send before the byte is shown.
        const QString delayText = m_panel.delayText();
        const SendDelay::Parsed delay = SendDelay::parse(delayText);
        if (!delay.ok()) {
            m_display->setEcho(false);
            m_host.traffic().publish(sent);
            m_display->setEcho(true);
            m_host.errorBox(delay.problem == SendDelay::Problem::NotANumber
                                    ? IntText::notAnIntegerMessage(delayText)
                                    : SendTexts::negativeTerminalDelay(delayText));
            completed = false;
            break;
        }
        sender.setDelay(delay.ms);
        sender.gap();
        m_host.traffic().publish(sent);
    }
    sending.release();
    m_sending = false;
    if (completed)
        m_panel.clearMessage();
    return true;
}
