// SPDX-License-Identifier: MIT
// The display as a consumer of the traffic: the received bytes of one pass become one insertion,
// the same text at the same place as one insertion per piece, without paying for the display
// once per byte. They are rendered with their arrival times (TrafficRenderer). Terminal mode
// adds its labels and the echo of what it sends.
#pragma once

#include "traffic/Traffic.h"

#include "traffic/TrafficRenderer.h"
#include "traffic/TrafficText.h"

#include <QString>

#include <vector>

class ModeHost;

class ReceivedDisplay : public TrafficConsumer
{
public:
    explicit ReceivedDisplay(ModeHost &host) : m_host(host) { }
    void take(const TrafficRecord &record) override;
    void passEnd() override;
    // The end of the mode: what the output still owes (a dump's last partial line) goes in.
    void finish();

protected:
    // Text that goes in with the received bytes of this pass, in order.
    void addText(const QString &text, int64_t timeUs);
    void addBytes(const QByteArray &bytes, int64_t timeUs,
                  TrafficKind direction = TrafficKind::Received);
    // The device going away and coming back, each as a line of its own (DeviceNotes).
    void addDeviceNote(const TrafficRecord &record);
    // What the command list sent, where receive mode is asked to show it.
    void addSent(const TrafficRecord &record);
    // Received bytes that came with a flaw: shown as received bytes are, their characters
    // marked.
    void addFlawed(const QByteArray &bytes, int64_t timeUs);

    ModeHost &m_host;

private:
    static constexpr qsizetype StampLength = 15; // "[HH:MM:SS.mmm] "
    // A pass at full speed in the HEX form is a few million characters.
    static constexpr qsizetype KeptCapacity = qsizetype(4) << 20; // characters
    QString m_shown;
    DeviceNotes m_notes;
    std::vector<MarkedRange> m_marks; // in m_shown; empty while no flaw came this pass
};
