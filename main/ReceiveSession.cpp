// SPDX-License-Identifier: MIT
#include "ReceiveSession.h"

#include "session/ModeFrame.h"
#include "session/ModeHost.h"
#include "session/ModeState.h"
#include "session/ReadLoop.h"
#include "session/ReceivedDisplay.h"

void ReceiveSession::run()
{
    ModeFrame frame(m_host, Mode::Receive);
    SerialPort *port = frame.begin();
    if (!port)
        return;
    ModeState::BreakRequested = 0;
    ReceivedDisplay display(m_host);
    m_host.traffic().subscribe(&display);
    ReadLoop::run(*port, m_host.traffic(), [this] { return m_host.displayFrameMs(); });
    m_host.traffic().unsubscribe(&display);
    display.finish();
    frame.end();
}
