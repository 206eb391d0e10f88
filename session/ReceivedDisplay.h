// SPDX-License-Identifier: MIT
// The display as a consumer of the traffic: the received bytes of one pass become one insertion,
// the same text at the same place as one insertion per piece, without paying for the display
// once per byte. They are rendered with their arrival times (TrafficRenderer). Terminal mode
// adds its labels and the echo of what it sends.
#pragma once

#include "traffic/Traffic.h"

#include "traffic/ModbusFrames.h"
#include "traffic/TrafficRenderer.h"
#include "traffic/TrafficText.h"

#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

class ModeHost;

class ReceivedDisplay : public TrafficConsumer
{
public:
    explicit ReceivedDisplay(ModeHost &host);
    ~ReceivedDisplay() override;
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

    // Whether the user asked for a protocol's frames instead of the bytes.
    bool showsFrames() const;
    // While frames are shown: the bytes of a record go to the framer of their side, and each
    // frame it completes is a line, under `name` where more than one side speaks.
    void addFrameBytes(const TrafficRecord &record, const QString &name);

    ModeHost &m_host;

private:
    static constexpr qsizetype StampLength = 15; // "[HH:MM:SS.mmm] "
    // A pass at full speed in the HEX form is a few million characters.
    static constexpr qsizetype KeptCapacity = qsizetype(4) << 20; // characters
    QString m_shown;
    DeviceNotes m_notes;
    std::vector<MarkedRange> m_marks; // in m_shown; empty while no flaw came this pass

    // The frames of each side: what the first and the second line received, what was sent.
    struct FrameSide
    {
        std::unique_ptr<modbus::Framer> framer;
        QString name;
    };
    static constexpr int FrameSides = 3;
    void addFrames(const std::vector<modbus::Frame> &frames, const QString &name);
    // Frames the line's silence has ended by now, and when to look again.
    void flushFrames(bool all);
    void watchSilence();
    // How long the display must have taken nothing before the clock may end a frame.
    int64_t quietUs() const;
    int64_t m_lastTakeUs = 0;
    FrameSide m_frameSides[FrameSides];
    modbus::Protocol m_framedAs = modbus::Protocol::None;
    std::unique_ptr<modbus::Describer> m_describer;
    std::vector<modbus::Frame> m_frames; // reused
    QTimer m_silence;
};
