// SPDX-License-Identifier: MIT
// How a mode takes the window over while it runs and hands it back when it ends: its flag, its
// port and its column of the enable/disable table, begun and ended in the one order every mode
// follows.
#pragma once

#include "session/ModeState.h"
#include "session/ModeTable.h"

#include "serial/PortSettings.h"

#include <memory>
#include <optional>
#include <span>
#include <vector>

class ModeHost;
class SerialPort;
class LineStatus;

class ModeFrame
{
public:
    ModeFrame(ModeHost &host, Mode mode);
    ~ModeFrame(); // ends the frame if it is still running
    ModeFrame(const ModeFrame &) = delete;
    ModeFrame &operator=(const ModeFrame &) = delete;

    // Sets the mode's flag and opens the port. When the port fails the flag is cleared again
    // and nothing returned; nothing else has changed. Otherwise the window is switched over
    // and the open port returned: the frame holds it until end().
    SerialPort *begin();
    // The same with ports only to be heard (ModeHost::openListeningPort), each read as side 0,
    // 1, … in its order; all of them or none.
    std::vector<SerialPort *> beginListening(std::span<const PortSettings::PortChoice> choices);

    // Clears Break and the flag, closes the port and gives every control of the column back.
    void end();

    SerialPort *port() const { return m_ports.empty() ? nullptr : m_ports.front().get(); }

private:
    // The window switched over once the ports are open.
    void entered();

    ModeHost &m_host;
    Mode m_mode;
    std::optional<ModeState::Hold> m_flag;
    std::vector<std::unique_ptr<SerialPort>> m_ports;
    std::unique_ptr<LineStatus> m_lineStatus;
};
