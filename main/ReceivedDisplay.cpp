// SPDX-License-Identifier: MIT
#include "ReceivedDisplay.h"

#include "main/ModeHost.h"
#include "main/TrafficRenderer.h"

void ReceivedDisplay::take(const TrafficRecord &record)
{
    if (record.kind == TrafficKind::Received)
        addBytes(record.bytes, record.timeUs);
}

void ReceivedDisplay::addBytes(const QByteArray &bytes, int64_t timeUs)
{
    m_host.renderer().appendBytes(bytes, timeUs, m_shown);
}

void ReceivedDisplay::addText(const QString &text, int64_t timeUs)
{
    m_host.renderer().appendText(text, timeUs, m_shown);
}

void ReceivedDisplay::finish()
{
    m_host.renderer().finish(m_shown);
    passEnd();
}

void ReceivedDisplay::passEnd()
{
    if (m_shown.isEmpty())
        return;
    m_host.display().insertAtCaret(m_shown);
    m_shown.clear();
}
