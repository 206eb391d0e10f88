// SPDX-License-Identifier: MIT
#include "ConversationDisplay.h"

#include "session/ModeHost.h"
#include "traffic/DisplayFormatter.h"
#include "traffic/TrafficRenderer.h"

ConversationDisplay::ConversationDisplay(ModeHost &host, Name local, Name remote, Name remoteSecond)
    : ReceivedDisplay(host), m_local(std::move(local)), m_remote(std::move(remote)),
      m_remoteSecond(std::move(remoteSecond))
{ }

QString ConversationDisplay::prefix(const QString &name)
{
    return QChar(DisplayFormatter::LineBreak) + name + QStringLiteral(" : ");
}

void ConversationDisplay::take(const TrafficRecord &record)
{
    if (showsFrames()) {
        // A frame a line, each under the name of the side that sent it: no blocks.
        if (record.kind == TrafficKind::Received || record.kind == TrafficKind::Flawed) {
            addFrameBytes(record,
                          record.side != 0 && m_remoteSecond ? m_remoteSecond() : m_remote());
            return;
        }
        if (record.kind == TrafficKind::Sent) {
            addFrameBytes(record, m_local());
            return;
        }
    }
    switch (record.kind) {
    case TrafficKind::Received:
    case TrafficKind::Flawed: {
        const bool second = record.side != 0 && m_remoteSecond;
        const Side side = second ? Side::RemoteSecond : Side::Remote;
        if (m_open != side) {
            m_open = side;
            label(second ? m_remoteSecond() : m_remote(), record.timeUs);
        }
        if (record.kind == TrafficKind::Flawed)
            addFlawed(record.bytes, record.timeUs);
        else
            addBytes(record.bytes, record.timeUs);
        break;
    }
    case TrafficKind::LineGone:
    case TrafficKind::LineBack:
        addDeviceNote(record);
        // What the device sends next is a reply of its own, under its name again.
        m_open = Side::None;
        break;
    case TrafficKind::Sent:
        takeSent(record);
        break;
    default:
        break;
    }
}

void ConversationDisplay::takeSent(const TrafficRecord &record)
{
    if (m_open != Side::Local)
        openLocal(record.timeUs);
    addBytes(record.bytes, record.timeUs, TrafficKind::Sent);
}

void ConversationDisplay::openLocal(int64_t timeUs)
{
    m_open = Side::Local;
    label(m_local(), timeUs);
}

void ConversationDisplay::label(const QString &name, int64_t timeUs)
{
    const RenderOptions &options = m_host.renderer().options();
    QString text = prefix(name);
    if (options.blockTimestamps && !options.lineTimestamps)
        text.insert(1, TrafficRenderer::timestamp(timeUs));
    addText(text, timeUs);
}
