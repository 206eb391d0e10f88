// SPDX-License-Identifier: MIT
#include "MonitorSession.h"

#include "session/ConversationDisplay.h"
#include "session/ModeFrame.h"
#include "session/ModeHost.h"
#include "session/ReadLoop.h"
#include "traffic/Traffic.h"

void MonitorSession::run(const MonitorRequest &request)
{
    ModeFrame frame(m_host, Mode::Monitor);
    const PortSettings::PortChoice choices[] = {request.a, request.b};
    const std::vector<SerialPort *> ports = frame.beginListening(choices);
    if (ports.empty())
        return;
    // The names go into the stream first: the capture and a live log name each line by them.
    TrafficStream &traffic = m_host.traffic();
    traffic.publish(SideNames {request.nameA, request.nameB, {}}.record(monotonicMicroseconds()));
    ConversationDisplay display(
            m_host, {}, [&request] { return request.nameA; }, [&request] { return request.nameB; });
    traffic.subscribe(&display);
    ReadLoop::run(ports, traffic, [this] { return m_host.displayFrameMs(); });
    traffic.unsubscribe(&display);
    display.finish();
    traffic.publish(SideNames().record(monotonicMicroseconds()));
    traffic.passEnd();
    frame.end();
}
