// SPDX-License-Identifier: MIT
#include "ModeFrame.h"

#include "main/ModeHost.h"
#include "serial/SerialPort.h"

ModeFrame::ModeFrame(ModeHost &host, Mode mode) : m_host(host), m_mode(mode) { }

ModeFrame::~ModeFrame()
{
    if (m_port)
        end();
}

SerialPort *ModeFrame::begin()
{
    m_flag.emplace(*ModeTable::column(m_mode).activeFlag);
    m_port = m_host.openPort();
    if (!m_port) {
        m_flag.reset();
        return nullptr;
    }
    m_host.enterMode(m_mode);
    return m_port.get();
}

void ModeFrame::end()
{
    ModeState::BreakRequested = 0;
    m_flag.reset();
    m_port.reset();
    m_host.leaveMode(m_mode);
}
