// SPDX-License-Identifier: MIT
#include "ReadLoop.h"

#include "serial/SerialPort.h"
#include "session/ModeState.h"
#include "traffic/Traffic.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <deque>

namespace ReadLoop {

void run(SerialPort &port, TrafficStream &traffic, const FrameMs &frameMs)
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
    QElapsedTimer sincePass; // since the last pass that showed something
    bool burst = false; // the last pass came at a rate no serial line has
    QTimer frameEnd;
    frameEnd.setSingleShot(true);
    frameEnd.setTimerType(Qt::PreciseTimer);
    while (ModeState::BreakRequested == 0) {
        takeArrived();
        if (!backlog.empty()) {
            pass.start();
            qint64 bytes = 0;
            while (!backlog.empty() && pass.elapsed() < PassBudgetMs) {
                bytes += backlog.front().bytes.size();
                traffic.publish(backlog.front());
                backlog.pop_front();
                if (backlog.empty())
                    takeArrived();
            }
            traffic.passEnd();
            const qint64 sinceLastNs = sincePass.isValid() ? sincePass.nsecsElapsed() : 0;
            burst = bytes * 1000000 >= BurstBytesPerMs * std::max<qint64>(1000000, sinceLastNs);
            sincePass.start();
        }
        if (!backlog.empty()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            continue;
        }
        // Caught up: the next pass waits for the frame's end, the events run meanwhile, and
        // the reader's wake-ups are not taken, so that a read each millisecond costs nothing
        // here.
        // A burst (a file dumped at the speed of the kernel, a device faster than any UART) is
        // shown as it comes: waiting a frame between its passes saves nothing and leaves the
        // display a frame behind its end.
        const int frame = frameMs && !burst ? frameMs() : 0;
        const qint64 due = sincePass.isValid() ? frame - sincePass.elapsed() : 0;
        if (due > 0) {
            wake.setEnabled(false);
            frameEnd.start(int(due));
            while (frameEnd.isActive() && ModeState::BreakRequested == 0)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            frameEnd.stop();
            wake.setEnabled(true);
            continue;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
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
