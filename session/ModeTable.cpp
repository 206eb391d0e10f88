// SPDX-License-Identifier: MIT
#include "ModeTable.h"

#include "ModeState.h"

namespace {

// Columns: Receive, FileSend, Terminal, R2K, Script, Monitor, PassThrough.
constexpr bool X = true;
constexpr bool _ = false;

const ModeControlRow Rows[] = {
        {{"SettingsMenuBar"}, {_, _, _, X, _, _, _}},
        {{"RS232ConfigMenuBar", "Rs232ConfigButton"}, {X, X, X, X, X, X, X}},
        {{"ClearDataButton"}, {_, _, _, X, _, _, _}},
        {{"DataModeMenubar", "DataModeButton"}, {_, _, _, X, _, _, _}},
        {{"FontsMenubar"}, {_, _, _, X, _, _, _}},
        {{"SendModeMenubar"}, {X, _, X, X, X, X, X}},
        {{"Send_FileContentMenuBar", "Send_FileContentButton"}, {X, X, X, X, X, X, X}},
        {{"Send_UserStringMenuBar", "Send_UserStringButton"}, {X, X, X, X, X, X, X}},
        {{"ReceiveModeMenubar"}, {_, _, X, X, X, X, X}},
        {{"StartRecMenuBar", "ReceiveButton"}, {X, X, X, X, X, X, X}},
        {{"TRModeMenubar"}, {X, _, _, X, X, X, X}},
        {{"EnableTRModeMenubar"}, {_, X, X, X, X, X, X}},
        {{"EnableTRModeButton"}, {X, X, X, X, X, X, X}},
        {{"R2KModeMenubar"}, {X, X, X, _, X, X, X}},
        {{"EnableR2KModeMenubar"}, {_, _, _, X, _, _, _}},
        {{"R2KModeButton"}, {X, X, X, X, X, X, X}},
        // The starts of the modes that came later, off while any mode runs.
        {{"ScriptRunButton"}, {X, X, X, X, X, X, X}},
        {{"MonitorModeMenuBar"}, {X, X, X, X, X, X, X}},
        {{"PassThroughModeMenuBar"}, {X, X, X, X, X, X, X}},
};

const ModeColumn Columns[ModeCount] = {
        {Mode::Receive, "接收模式(已啟動執行)....", &ModeState::ReceiveModeActive, true, true,
         false, false},
        {Mode::FileSend, "傳送(檔案內容)", &ModeState::SendActive, false, false, false, false},
        {Mode::Terminal, "通訊模式(已啟動執行)....", &ModeState::TRModeActive, true, true, true,
         false},
        {Mode::R2K, "R2K模式(已啟動執行) .....", &ModeState::R2KModeActive, true, true, false,
         true},
        {Mode::Script, "腳本模式(已啟動執行)....", &ModeState::ScriptModeActive, true, true,
         false, false},
        {Mode::Monitor, "監聽模式(已啟動執行)....", &ModeState::MonitorModeActive, true, true,
         false, false},
        {Mode::PassThrough, "中繼模式(已啟動執行)....", &ModeState::PassThroughModeActive, true,
         true, false, false},
};

} // namespace

namespace ModeTable {

std::span<const ModeControlRow> rows() { return Rows; }

const ModeColumn &column(Mode mode) { return Columns[int(mode)]; }

std::vector<std::string_view> controlsOff(Mode mode)
{
    std::vector<std::string_view> names;
    for (const ModeControlRow &row : Rows) {
        if (!row.off[int(mode)])
            continue;
        for (std::string_view name : row.controls) {
            if (!name.empty())
                names.push_back(name);
        }
    }
    return names;
}

} // namespace ModeTable
