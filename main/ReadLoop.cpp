// SPDX-License-Identifier: MIT
#include "ReadLoop.h"

#include "main/ModeState.h"
#include "serial/SerialLine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>

#include <memory>

namespace ReadLoop {

void run(const ByteSink &sink, const PassEnd &passEnd)
{
    // A port opened while a transmission held another one has no notifier yet; without one the
    // loop would sleep through arriving bytes.
    std::unique_ptr<QSocketNotifier> ownNotifier;
    if (!ModeState::ReadDoneEvent) {
        ownNotifier =
                std::make_unique<QSocketNotifier>(ModeState::PortHandle, QSocketNotifier::Read);
        ModeState::ReadDoneEvent = ownNotifier.get();
    }
    uint8_t buffer[4096];
    bool gone = false;
    QElapsedTimer pass;
    while (ModeState::BreakRequested == 0) {
        bool lineBusy = false;
        pass.start();
        while (!gone) {
            size_t count = 0;
            const serial::ReadStatus status =
                    serial::readBytes(ModeState::PortHandle, buffer, sizeof buffer, count);
            if (status == serial::ReadStatus::NoData)
                break;
            if (status == serial::ReadStatus::Gone) {
                // A hung-up tty polls readable forever; watching it would spin.
                gone = true;
                if (ModeState::ReadDoneEvent)
                    ModeState::ReadDoneEvent->setEnabled(false);
                break;
            }
            ModeState::ReceivedByte = buffer[count - 1];
            ModeState::BytesTransferred = ssize_t(count);
            sink(buffer, count);
            if (pass.elapsed() >= PassBudgetMs) {
                lineBusy = true;
                break;
            }
        }
        if (passEnd)
            passEnd();
        QCoreApplication::processEvents(lineBusy ? QEventLoop::AllEvents
                                                 : QEventLoop::WaitForMoreEvents);
    }
    if (ownNotifier)
        ModeState::ReadDoneEvent = nullptr;
}

} // namespace ReadLoop
