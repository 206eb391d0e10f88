// SPDX-License-Identifier: MIT
#include "ReceiveSession.h"

#include "main/DisplayFormatter.h"
#include "main/ModeFrame.h"
#include "main/ModeHost.h"
#include "main/ModeState.h"
#include "main/ReadLoop.h"
#include "main/Traffic.h"

namespace {

// The received bytes of one pass become one insertion: the same text at the same place as one
// insertion per piece, without paying for the display once per byte.
class ReceivedDisplay : public TrafficConsumer
{
public:
    explicit ReceivedDisplay(ModeHost &host) : m_host(host) { }
    void take(const TrafficRecord &record) override
    {
        if (record.kind == TrafficKind::Received)
            m_host.formatter().append(record.bytes, m_shown);
    }
    void passEnd() override
    {
        if (m_shown.isEmpty())
            return;
        m_host.display().insertAtCaret(m_shown);
        m_shown.clear();
    }

private:
    ModeHost &m_host;
    QString m_shown;
};

} // namespace

void ReceiveSession::run()
{
    ModeFrame frame(m_host, Mode::Receive);
    SerialPort *port = frame.begin();
    if (!port)
        return;
    ModeState::BreakRequested = 0;
    ReceivedDisplay display(m_host);
    m_host.traffic().subscribe(&display);
    ReadLoop::run(*port, m_host.traffic());
    m_host.traffic().unsubscribe(&display);
    frame.end();
}
