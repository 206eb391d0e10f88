// SPDX-License-Identifier: MIT
// Ports that telvix-sim publishes: a symbolic link to its pseudo-terminal in a per-user
// folder, next to a record file naming the simulator's process. Both sides of that
// arrangement live here, so the simulator and the port list cannot disagree on it.
#pragma once

#include "PortInfo.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace serial {

// The program name a live publisher runs under; a record whose process runs anything else
// is left over from a simulator whose process number was reused.
inline constexpr const char *kSimulatorProgram = "telvix-sim";

// $XDG_RUNTIME_DIR/telvix, or /tmp/telvix-<uid> when that variable is unset or empty.
std::string defaultVirtualPortDir();

// Empty when `dir` is a real folder (not a link) owned by this user that nobody else can
// write to; otherwise a message saying why it is not to be trusted. With `create` a missing
// folder is made with mode 0700 first (its parent must exist).
std::string checkPrivateDir(const std::string &dir, bool create);

// The record lying beside a published link.
struct VirtualPortRecord
{
    pid_t pid = 0;
    std::string behaviour; // e.g. "echo"
};

std::string recordPathFor(const std::string &linkPath); // linkPath + ".pid"
std::string formatRecord(const VirtualPortRecord &record); // "<pid> <behaviour>\n"
// False for anything that is not exactly one positive pid and one behaviour word.
bool parseRecord(const std::string &text, VirtualPortRecord &out);
// Reads and parses the record file; false when missing or malformed.
bool readRecord(const std::string &recordPath, VirtualPortRecord &out);

// True while `pid` names a running (not zombie) telvix-sim. Without /proc only the
// existence of the process can be checked, and that is taken as alive.
bool simulatorAlive(pid_t pid);

// The live simulators' ports in `dir`, kind Virtual, devicePath the link itself. Links and
// records of simulators that have gone are removed; a folder that fails checkPrivateDir is
// neither read nor touched.
std::vector<PortInfo> scanVirtualPorts(const std::string &dir);

} // namespace serial
