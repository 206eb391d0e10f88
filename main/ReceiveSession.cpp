// SPDX-License-Identifier: MIT
#include "ReceiveSession.h"

#include "main/ModeFrame.h"
#include "main/ModeHost.h"
#include "main/ModeState.h"
#include "main/ReadLoop.h"
#include "main/ReceivedDisplay.h"

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
    display.finish();
    frame.end();
}
