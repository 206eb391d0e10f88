// SPDX-License-Identifier: MIT
// R2K mode: every character from the line becomes keystrokes in whatever window has the focus.
#pragma once

class ModeHost;

class R2KSession
{
public:
    explicit R2KSession(ModeHost &host) : m_host(host) { }
    // Runs the mode to its end (Break). Without a way to type, or without the port, it says
    // why and returns before the window is touched.
    void run();

private:
    ModeHost &m_host;
};
