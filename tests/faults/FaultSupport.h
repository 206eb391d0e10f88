// SPDX-License-Identifier: MIT
// What the fault tests share: how much processor a wait costs, which descriptors the process
// still has on a node, a port held by another process, and the line set up for RTS/CTS.
#pragma once

#include "session/ModeTable.h"

#include <QString>

#include <sys/types.h>

class ModeScript;

// This process's processor time against the wall clock, from start() on.
class CpuShare
{
public:
    void start();
    double wallSeconds() const;
    // Processor seconds per wall second since start(): 1.0 is one core kept busy.
    double share() const;

private:
    double m_cpuAtStart = 0;
    double m_wallAtStart = 0;
};

// How many of this process's descriptors are open on `path` (also once the node is gone).
int descriptorsOn(const QString &path);

// Lets the running mode's event dispatch go on for `ms` before the script's next step.
void pauseFor(ModeScript &script, int ms);

// Sets CRTSCTS on the line through a descriptor of the test's own, as whoever set the port up
// before the program came would have; the program keeps what the driver reports.
bool presetHardwareFlow(const QString &slavePath);

// Another process that opens the node and claims it as the serial layer does (flock and
// TIOCEXCL), holding it until released.
class HeldElsewhere
{
public:
    explicit HeldElsewhere(const QString &path);
    ~HeldElsewhere();
    HeldElsewhere(const HeldElsewhere &) = delete;
    HeldElsewhere &operator=(const HeldElsewhere &) = delete;

    bool holding() const { return m_holding; }
    // Lets the other process give the node back and end; returns once it has.
    void release();

private:
    pid_t m_pid = -1;
    int m_releaseFd = -1;
    bool m_holding = false;
};

// The window as a finished mode must leave it: idle text, Break off, the mode's controls on,
// the display editable, every mode flag down and no port held.
void verifyWindowIdle(Mode mode);

// The file summary as the user reads it.
QString fileSummaryText(const QString &path, qint64 size, qint64 sent, bool interrupted);
