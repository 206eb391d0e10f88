// SPDX-License-Identifier: MIT
// Turns one byte of traffic into the text the display shows for it.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

enum class LineBreakRule { NoCR, LF, CR, UserDefineCRLF };
enum class HexStyle { HEXOnly, HexAnsi, AnsiHex };

struct DisplaySettings
{
    LineBreakRule lineBreakRule = LineBreakRule::CR;
    // The first byte of the user's break character; none when the box is empty, and then no
    // byte breaks a line under the user rule.
    std::optional<uint8_t> userBreakByte;
    HexStyle hexStyle = HexStyle::HEXOnly;
};

namespace DisplayFormatter {

// A Big5 lead byte waits for its partner. One state for every caller: received bytes and the
// echo of sent bytes pair with each other.
inline uint8_t LeadBytePending = 0;
inline QByteArray PendingLeadBytes;

// The display's line separator.
inline constexpr char16_t LineBreak = u'\n';

// "<NULL>", "<SOH>" ... "<US>" for 00h-1Fh.
QString ControlCodeNames(uint8_t code);

// Whether byte b ends a line under the settings.
bool breaksLine(uint8_t b, const DisplaySettings &settings);

// Appends what byte b shows as to `out`, in the HEX form when `hex` is set, else the ASCII form.
// A pair that is no valid Big5 shows as U+FFFD; DEL shows as the house glyph of the PC set.
void appendByte(uint8_t b, bool hex, const DisplaySettings &settings, QString &out);

// Appends what a run of bytes shows as, in the display form and with the settings now in force.
void appendShown(const uint8_t *bytes, size_t count, QString &out);

void reset();

// The settings in force, read afresh for every run of bytes: the settings dialog installs its
// controls as the source; until then the defaults apply (CR rule, empty break box, HEX only).
using SettingsSource = DisplaySettings (*)();
void setSettingsSource(SettingsSource source);
DisplaySettings currentSettings();

} // namespace DisplayFormatter
