// SPDX-License-Identifier: MIT
#include "ReceivedDisplay.h"

#include "main/DisplayFormatter.h"
#include "main/ModeHost.h"

void ReceivedDisplay::take(const TrafficRecord &record)
{
    if (record.kind == TrafficKind::Received)
        addBytes(record.bytes);
}

void ReceivedDisplay::addBytes(const QByteArray &bytes) { m_host.formatter().append(bytes, m_shown); }

void ReceivedDisplay::passEnd()
{
    if (m_shown.isEmpty())
        return;
    m_host.display().insertAtCaret(m_shown);
    m_shown.clear();
}
