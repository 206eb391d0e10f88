// SPDX-License-Identifier: MIT
// Turns the bytes of the traffic into the text the display shows for them. One formatter serves
// every caller of the window: received bytes and the echo of sent bytes share its pair state.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

enum class LineBreakRule { NoCR, LF, CR, UserDefineCRLF };
// HexText is the hex dump of the HEX + 文字 style: TrafficRenderer lays its lines out; the
// formatter alone shows its bytes as HEXOnly does.
enum class HexStyle { HEXOnly, HexAnsi, AnsiHex, HexText };

struct DisplaySettings
{
    LineBreakRule lineBreakRule = LineBreakRule::CR;
    // The first byte of the user's break character; none when the box is empty, and then no
    // byte breaks a line under the user rule.
    std::optional<uint8_t> userBreakByte;
    HexStyle hexStyle = HexStyle::HEXOnly;
    friend bool operator==(const DisplaySettings &, const DisplaySettings &) = default;
};

class DisplayFormatter
{
public:
    // The display's line separator.
    static constexpr char16_t LineBreak = u'\n';

    // "<NULL>", "<SOH>" ... "<US>" for 00h-1Fh: the names of the control-code table.
    static QString ControlCodeNames(uint8_t code);

    // Whether byte b ends a line under the settings.
    static bool breaksLine(uint8_t b, const DisplaySettings &settings);

    // The settings in force from the next byte on: the settings dialog hands them over when it
    // is confirmed. Until then the defaults apply (CR rule, empty break box, HEX only).
    void setSettings(const DisplaySettings &settings) { m_settings = settings; }
    const DisplaySettings &settings() const { return m_settings; }

    // The HEX form, or else the ASCII form.
    void setHexForm(bool hex) { m_hex = hex; }
    bool hexForm() const { return m_hex; }

    // Appends what byte b shows as to `out`, in the form and with the settings in force.
    // A pair that is no valid Big5 shows as U+FFFD; DEL shows as the house glyph of the PC set.
    void appendByte(uint8_t b, QString &out);
    void append(const uint8_t *bytes, size_t count, QString &out);
    void append(const QByteArray &bytes, QString &out);

    // A Big5 lead byte waits for its partner. Nothing but the ASCII form's next byte, and
    // reset(), ends the wait: not the end of a mode, Clear or the form switch.
    bool leadBytePending() const { return !m_pendingLead.isEmpty(); }
    const QByteArray &pendingLeadBytes() const { return m_pendingLead; }
    void reset() { m_pendingLead.clear(); }

private:
    void appendHexForm(uint8_t b, QString &out) const;
    // The HEX-only style, a chunk at a time, written straight into `out`.
    void appendHexOnly(const uint8_t *bytes, size_t count, QString &out) const;

    DisplaySettings m_settings;
    bool m_hex = false;
    QByteArray m_pendingLead;
};
