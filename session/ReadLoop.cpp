// SPDX-License-Identifier: MIT
#include "ReadLoop.h"

#include "serial/SerialPort.h"
#include "session/ModeState.h"
#include "traffic/Traffic.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>

#include <deque>

namespace ReadLoop {

void run(SerialPort &port, TrafficStream &traffic)
{
    port.startReading();
    // Wakes the wait below when the reader has bytes. Inside a modal dialog's own event loop it
    // fires too; there it only takes the signal back, so that it does not fire again and again
    // while nothing may be shown.
    QSocketNotifier wake(port.wakeDescriptor(), QSocketNotifier::Read);
    QObject::connect(&wake, &QSocketNotifier::activated, [&port] { port.clearWake(); });

    std::deque<TrafficRecord> backlog;
    const auto takeArrived = [&] {
        for (TrafficRecord &r : port.take())
            backlog.push_back(std::move(r));
    };
    QElapsedTimer pass;
    while (ModeState::BreakRequested == 0) {
        takeArrived();
        pass.start();
        while (!backlog.empty() && pass.elapsed() < PassBudgetMs) {
            traffic.publish(backlog.front());
            backlog.pop_front();
            if (backlog.empty())
                takeArrived();
        }
        traffic.passEnd();
        QCoreApplication::processEvents(backlog.empty() ? QEventLoop::WaitForMoreEvents
                                                        : QEventLoop::AllEvents);
    }
    // Break came with bytes read and not yet worked off (behind a dialog, or a source faster
    // than the display): they crossed the line before it, so the capture and the log get them,
    // without the display's cost of showing a backlog that may be a minute long.
    takeArrived();
    for (const TrafficRecord &r : backlog)
        traffic.publishToKeepers(r);
    traffic.passEnd();
}

} // namespace ReadLoop
