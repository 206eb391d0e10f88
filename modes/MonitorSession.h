// SPDX-License-Identifier: MIT
// Monitor mode: two lines heard at once, each carrying one direction of a link between two
// others (a monitor cable, or two adapters on a Y-cable), shown and kept as one conversation.
// TELVIX never writes to either line and never sets their handshake lines; their records are
// merged by their times, and each block of the display is labelled with its direction's name.
#pragma once

#include "serial/PortSettings.h"

#include <QString>

class ModeHost;

struct MonitorRequest
{
    // A hears the direction from A to B, B the other.
    PortSettings::PortChoice a;
    PortSettings::PortChoice b;
    QString nameA = MonitorDefaults::NameA;
    QString nameB = MonitorDefaults::NameB;
};

class MonitorSession
{
public:
    explicit MonitorSession(ModeHost &host) : m_host(host) { }
    // Runs to Break; returns at once when either port fails to open (the user has been told
    // why, and neither is left open).
    void run(const MonitorRequest &request);

private:
    ModeHost &m_host;
};
