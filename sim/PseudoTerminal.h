// SPDX-License-Identifier: MIT
// The simulator's end of the line: a pseudo-terminal master whose slave is left in raw mode
// for whichever program opens it.
#pragma once

#include <string>

namespace sim {

struct PseudoTerminal
{
    int master = -1; // non-blocking; -1 when opening failed
    std::string slavePath; // e.g. /dev/pts/3
    std::string error; // why it failed
};

// Opens a pair and sets the slave raw (no echo, no line editing, no CR/LF translation), then
// closes the slave again: the kernel keeps its settings while the master is open, and a
// slave that nobody holds is what tells the master that no program is connected.
PseudoTerminal openPseudoTerminal();

} // namespace sim
