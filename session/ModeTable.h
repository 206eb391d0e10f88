// SPDX-License-Identifier: MIT
// Which controls each mode switches off while it runs, and what else it does to the window.
// Kept as one table so that a mode, its tests and the window agree on a single source.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

enum class Mode {
    Receive = 0,
    FileSend = 1,
    Terminal = 2,
    R2K = 3,
    Script = 4,
    Monitor = 5,
    PassThrough = 6,
};
inline constexpr int ModeCount = 7;

struct ModeControlRow
{
    // Object names of the controls (menu, menu item or tool button) this row covers;
    // an empty name marks an unused place.
    std::string_view controls[2];
    // Switched off at the mode's start and on again at its end, per Mode.
    bool off[ModeCount];
};

struct ModeColumn
{
    Mode mode;
    const char *startText; // status panel 2 while the mode runs
    uint8_t *activeFlag; // the mode's own flag in ModeState
    bool clearMemoAtStart;
    bool readOnlyLook; // Memo1 read-only in the button-face colour
    bool showTerminalPanels; // Panel8 and EchoDataPanel
    bool clearMemoAtEnd;
};

namespace ModeTable {

std::span<const ModeControlRow> rows();
const ModeColumn &column(Mode mode);

// The object names a mode switches off, in table order.
std::vector<std::string_view> controlsOff(Mode mode);

// Break is the one control that every mode switches on.
inline constexpr std::string_view BreakControls[] = {"BreakMenuBar", "BreakButton"};

inline constexpr const char *IdleText = "未連線";

} // namespace ModeTable
