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
#include "session/ReceivedDisplay.h"
#include "traffic/DisplayFormatter.h"
#include "traffic/IntText.h"
#include "traffic/TrafficRenderer.h"

// The conversation as the display shows it: each reply opens with the remote name, and every
// byte sent is echoed after its pause. Both pass through the window's one formatter, so a
// Big5 pair can be completed across them, as the formatter's pair state is shared.
class TerminalSession::ConversationDisplay : public ReceivedDisplay
{
public:
    ConversationDisplay(ModeHost &host, TerminalPanel &panel, const bool &typing)
        : ReceivedDisplay(host), m_panel(panel), m_typing(typing)
    { }

    // A byte that went out but is not to be shown (its pause could not be read) still passes
    // the stream.
    void setEcho(bool echo) { m_echo = echo; }

    void take(const TrafficRecord &record) override
    {
        if (record.kind == TrafficKind::Received || record.kind == TrafficKind::Flawed) {
            // The first byte of a reply opens it with the remote name.
            if (!m_replyOpen) {
                m_replyOpen = true;
                label(m_panel.remoteName(), record.timeUs);
            }
            if (record.kind == TrafficKind::Flawed)
                addFlawed(record.bytes, record.timeUs);
            else
                addBytes(record.bytes, record.timeUs);
        } else if (record.kind == TrafficKind::LineGone || record.kind == TrafficKind::LineBack) {
            addDeviceNote(record);
            // What the device sends next is a reply of its own, under its name again.
            m_replyOpen = false;
        } else if (record.kind == TrafficKind::Sent && !m_typing) {
            // A command of the list or an auto-reply, come through the port's queue in order
            // with what was read: a block of its own under the local name, as a typed message.
            m_replyOpen = false;
            label(m_panel.localName(), record.timeUs);
            addBytes(record.bytes, record.timeUs, TrafficKind::Sent);
        } else if (record.kind == TrafficKind::Sent && m_echo) {
            // Shown at once, after what was received before it.
            passEnd();
            addBytes(record.bytes, record.timeUs, TrafficKind::Sent);
            passEnd();
        }
    }

    // The next byte received opens a new reply with its label.
    void endReply() { m_replyOpen = false; }

    // A block's label, with the block's time where the user asked for it.
    void label(const QString &name, int64_t timeUs)
    {
        const RenderOptions &options = m_host.renderer().options();
        QString text = TerminalSession::prefix(name);
        if (options.blockTimestamps && !options.lineTimestamps)
            text.insert(1, TrafficRenderer::timestamp(timeUs));
        addText(text, timeUs);
    }

private:
    TerminalPanel &m_panel;
    const bool &m_typing; // the session's own message is going out
    bool m_echo = true;
    bool m_replyOpen = false; // the remote name is written and the device's bytes follow it
};

QString TerminalSession::prefix(const QString &name)
{
    return QChar(DisplayFormatter::LineBreak) + name + QStringLiteral(" : ");
}

void TerminalSession::run()
{
    ModeFrame frame(m_host, Mode::Terminal);
    m_port = frame.begin();
    if (!m_port)
        return;
    m_panel.focusMessage();
    ConversationDisplay display(m_host, m_panel, m_sending);
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
        m_display->endReply();
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
    m_display->endReply();
    m_display->label(m_panel.localName(), monotonicMicroseconds());
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
