// SPDX-License-Identifier: MIT
// `telvix --run SCRIPT.lua ...`: a script on a port without a window, for a test station or a
// CI job on hardware. It needs no display (QCoreApplication), prints the script's output,
// writes a live log when asked, and says the result by its exit status.
#pragma once

namespace ScriptCommandLine {

enum Status {
    Passed = 0,
    Failed = 1,
    ScriptError = 2, // the script's own error, or a command line that is not one
    PortError = 3, // the port could not be opened or set
    TimedOut = 4, // --timeout passed first
    Interrupted = 130, // Ctrl+C
};

// Whether the command line asks for a script run.
bool asked(int argc, char *argv[]);

int run(int argc, char *argv[]);

// The options, for --help and the manual pages.
extern const char *const HelpText;

} // namespace ScriptCommandLine
