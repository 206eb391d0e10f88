// SPDX-License-Identifier: MIT
#include "ModeFrame.h"

#include "serial/SerialPort.h"
#include "session/ModeHost.h"
#include "traffic/Traffic.h"

// Status panel 2 while the device is away: the port waits for it to return, and why it cannot
// open it yet when it knows; the mode's own text again once it is back.
class LineStatus : public TrafficConsumer
{
public:
    LineStatus(ModeHost &host, Mode mode) : m_host(host), m_mode(mode) { }
    void take(const TrafficRecord &record) override
    {
        if (record.kind == TrafficKind::LineGone) {
            QString text = QStringLiteral("裝置已移除,等待重新連接…");
            if (!record.bytes.isEmpty())
                text += QStringLiteral(" (%1)").arg(QString::fromUtf8(record.bytes));
            m_host.setStatusText(text);
        } else if (record.kind == TrafficKind::LineBack) {
            m_host.setStatusText(QString::fromUtf8(ModeTable::column(m_mode).startText));
        }
    }

private:
    ModeHost &m_host;
    Mode m_mode;
};

ModeFrame::ModeFrame(ModeHost &host, Mode mode) : m_host(host), m_mode(mode) { }

ModeFrame::~ModeFrame()
{
    if (!m_ports.empty())
        end();
}

SerialPort *ModeFrame::begin()
{
    m_flag.emplace(*ModeTable::column(m_mode).activeFlag);
    std::unique_ptr<SerialPort> port = m_host.openPort();
    if (!port) {
        m_flag.reset();
        return nullptr;
    }
    m_ports.push_back(std::move(port));
    entered();
    return m_ports.front().get();
}

std::vector<SerialPort *> ModeFrame::beginListening(
        std::span<const PortSettings::PortChoice> choices)
{
    m_flag.emplace(*ModeTable::column(m_mode).activeFlag);
    std::vector<SerialPort *> opened;
    for (const PortSettings::PortChoice &choice : choices) {
        std::unique_ptr<SerialPort> port = m_host.openListeningPort(choice);
        if (!port) {
            m_ports.clear();
            m_flag.reset();
            return {};
        }
        port->setSide(uint8_t(m_ports.size()));
        opened.push_back(port.get());
        m_ports.push_back(std::move(port));
    }
    entered();
    return opened;
}

void ModeFrame::entered()
{
    m_host.enterMode(m_mode);
    m_lineStatus = std::make_unique<LineStatus>(m_host, m_mode);
    m_host.traffic().subscribe(m_lineStatus.get());
}

void ModeFrame::end()
{
    ModeState::BreakRequested = 0;
    if (m_lineStatus) {
        m_host.traffic().unsubscribe(m_lineStatus.get());
        m_lineStatus.reset();
    }
    m_flag.reset();
    m_ports.clear();
    m_host.leaveMode(m_mode);
}
