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
#include <memory>
#include <optional>
#include <vector>

namespace ReadLoop {

namespace {

// The records of several ports in the order of their times. What one port's reader took can
// come in after a later record of another (the readers wake in either order): a record is
// handed on once every other port has one at least as late, or once the reorder window has
// passed since its time, when no earlier one can still come.
class Merge
{
public:
    Merge(std::span<SerialPort *const> ports, int64_t windowUs)
        : m_ports(ports), m_waiting(ports.size()), m_windowUs(windowUs)
    { }

    // Takes what the readers have and moves what may go into `ready`, in time order.
    void take(std::deque<TrafficRecord> &ready)
    {
        // One port has nothing to wait for.
        if (m_ports.size() == 1) {
            for (TrafficRecord &r : m_ports[0]->take())
                ready.push_back(std::move(r));
            return;
        }
        for (size_t i = 0; i < m_ports.size(); ++i) {
            for (TrafficRecord &r : m_ports[i]->take())
                m_waiting[i].push_back(std::move(r));
        }
        const int64_t now = monotonicMicroseconds();
        for (;;) {
            std::deque<TrafficRecord> *first = nullptr;
            bool othersLater = true;
            for (std::deque<TrafficRecord> &w : m_waiting) {
                if (w.empty())
                    othersLater = false;
                else if (!first || w.front().timeUs < first->front().timeUs)
                    first = &w;
            }
            if (!first || (!othersLater && now - first->front().timeUs < m_windowUs))
                return;
            ready.push_back(std::move(first->front()));
            first->pop_front();
        }
    }

    // When the earliest record held back may go, or nothing when none is.
    std::optional<int64_t> heldUntil() const
    {
        std::optional<int64_t> until;
        for (const std::deque<TrafficRecord> &w : m_waiting) {
            if (!w.empty() && (!until || w.front().timeUs + m_windowUs < *until))
                until = w.front().timeUs + m_windowUs;
        }
        return until;
    }

    // At the end: what is held back, in time order.
    void drain(std::deque<TrafficRecord> &ready)
    {
        take(ready);
        std::vector<TrafficRecord> rest;
        for (std::deque<TrafficRecord> &w : m_waiting) {
            for (TrafficRecord &r : w)
                rest.push_back(std::move(r));
            w.clear();
        }
        std::stable_sort(
                rest.begin(), rest.end(),
                [](const TrafficRecord &a, const TrafficRecord &b) { return a.timeUs < b.timeUs; });
        for (TrafficRecord &r : rest)
            ready.push_back(std::move(r));
    }

private:
    std::span<SerialPort *const> m_ports;
    std::vector<std::deque<TrafficRecord>> m_waiting;
    int64_t m_windowUs;
};

} // namespace

void run(SerialPort &port, TrafficStream &traffic, const FrameMs &frameMs)
{
    SerialPort *const ports[] = {&port};
    run(ports, traffic, frameMs);
}

void run(std::span<SerialPort *const> ports, TrafficStream &traffic, const FrameMs &frameMs)
{
    // Wakes the wait below when a reader has bytes. Inside a modal dialog's own event loop it
    // fires too; there it only takes the signal back, so that it does not fire again and again
    // while nothing may be shown.
    std::vector<std::unique_ptr<QSocketNotifier>> wakes;
    for (SerialPort *port : ports) {
        port->startReading();
        wakes.push_back(
                std::make_unique<QSocketNotifier>(port->wakeDescriptor(), QSocketNotifier::Read));
        QObject::connect(wakes.back().get(), &QSocketNotifier::activated,
                         [port] { port->clearWake(); });
    }
    const auto setWakes = [&wakes](bool on) {
        for (auto &w : wakes)
            w->setEnabled(on);
    };

    Merge merge(ports, ReorderWindowUs);
    std::deque<TrafficRecord> backlog;
    const auto takeArrived = [&] { merge.take(backlog); };
    // Wakes the loop when a record held back for the order may go.
    QTimer held;
    held.setSingleShot(true);
    held.setTimerType(Qt::PreciseTimer);
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
            setWakes(false);
            frameEnd.start(int(due));
            while (frameEnd.isActive() && ModeState::BreakRequested == 0)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            frameEnd.stop();
            setWakes(true);
            continue;
        }
        if (const std::optional<int64_t> until = merge.heldUntil())
            held.start(int(std::max<int64_t>(0, *until - monotonicMicroseconds()) / 1000 + 1));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        held.stop();
    }
    // Break came with bytes read and not yet worked off (behind a dialog, or a source faster
    // than the display): they crossed the line before it, so the capture and the log get them,
    // without the display's cost of showing a backlog that may be a minute long.
    merge.drain(backlog);
    for (const TrafficRecord &r : backlog)
        traffic.publishToKeepers(r);
    traffic.passEnd();
}

} // namespace ReadLoop
