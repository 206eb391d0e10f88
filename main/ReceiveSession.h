// SPDX-License-Identifier: MIT
// Receive mode: every byte that arrives is shown until Break.
#pragma once

class ModeHost;

class ReceiveSession
{
public:
    explicit ReceiveSession(ModeHost &host) : m_host(host) { }
    // Runs the mode to its end; returns at once when the port fails to open.
    void run();

private:
    ModeHost &m_host;
};
