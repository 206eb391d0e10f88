// SPDX-License-Identifier: MIT
// The Telnet side of a network serial port (RFC 2217, Telnet COM-PORT-OPTION): what a client
// sends to set the line and ask about it, and a decoder that parts what the server sends into
// the line's bytes and the server's answers. Plain bytes in and out; the socket is elsewhere.
//
// Every data byte FFh travels doubled (IAC IAC), both ways, so every value passes unchanged;
// option negotiation is answered here so that the connection stays in binary mode, which keeps
// servers from turning CR into CR NUL.
#pragma once

#include "traffic/LineState.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace rfc2217 {

using Bytes = std::vector<uint8_t>;

namespace telnet {
inline constexpr uint8_t Se = 240;
inline constexpr uint8_t Sb = 250;
inline constexpr uint8_t Will = 251;
inline constexpr uint8_t Wont = 252;
inline constexpr uint8_t Do = 253;
inline constexpr uint8_t Dont = 254;
inline constexpr uint8_t Iac = 255;
inline constexpr uint8_t Binary = 0;
inline constexpr uint8_t SuppressGoAhead = 3;
inline constexpr uint8_t ComPort = 44;
} // namespace telnet

// The COM-PORT-OPTION commands a client sends; the server answers each with code + 100.
enum class Command : uint8_t {
    Signature = 0,
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,
    NotifyModemState = 7,
    FlowControlSuspend = 8,
    FlowControlResume = 9,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
    PurgeData = 12,
};
inline constexpr uint8_t ServerOffset = 100;

// SET-CONTROL values.
namespace control {
inline constexpr uint8_t Request = 0; // the flow control in use
inline constexpr uint8_t NoFlow = 1;
inline constexpr uint8_t XonXoff = 2;
inline constexpr uint8_t Hardware = 3;
inline constexpr uint8_t BreakOn = 5;
inline constexpr uint8_t BreakOff = 6;
inline constexpr uint8_t DtrOn = 8;
inline constexpr uint8_t DtrOff = 9;
inline constexpr uint8_t RtsOn = 11;
inline constexpr uint8_t RtsOff = 12;
} // namespace control

// NOTIFY-LINESTATE bits.
namespace linestate {
inline constexpr uint8_t Overrun = 0x02;
inline constexpr uint8_t Parity = 0x04;
inline constexpr uint8_t Framing = 0x08;
inline constexpr uint8_t Break = 0x10;
} // namespace linestate

// NOTIFY-MODEMSTATE bits (the deltas below 10h are not kept).
namespace modemstate {
inline constexpr uint8_t Cts = 0x10;
inline constexpr uint8_t Dsr = 0x20;
inline constexpr uint8_t Ri = 0x40;
inline constexpr uint8_t Dcd = 0x80;
} // namespace modemstate

// What a client says first: it will speak COM-PORT-OPTION, and both sides go binary without
// go-ahead.
Bytes greeting();

// A command with its value, FFh in the value doubled. The line parameters take the values of
// serial::LineParams (stop bits 0, 1, 2 for 1, 1.5, 2); a value 0 on the wire asks for the
// server's current one.
Bytes command(Command command, const Bytes &value);
Bytes setBaudRate(uint32_t bitsPerSecond);
Bytes setDataSize(uint8_t dataBits);
Bytes setParity(serial::Parity parity);
Bytes setStopSize(uint8_t stopBitsCode);
Bytes setControl(uint8_t value);
Bytes setModemStateMask(uint8_t mask);
Bytes setLineStateMask(uint8_t mask);

// The codes of the wire back into the values of serial::LineParams; none (-1) for a code there
// is none for.
std::optional<serial::Parity> parityFromWire(uint8_t wire);
int stopBitsCodeFromWire(uint8_t wire);

// The line's bytes as they go on the wire.
void appendData(const uint8_t *bytes, size_t count, Bytes &wire);

// The handshake lines a modem-state notification gives, as serial::ModemLine bits.
uint8_t modemLinesFromWire(uint8_t modemState);

struct Answer
{
    Command command; // the command answered (the code less 100)
    uint32_t value; // SET-BAUDRATE's four bytes, or the one byte of the others
};

class Decoder
{
public:
    // Parts `count` bytes from the server into the line's bytes (appended to `data`) and the
    // server's answers (to `answers`); what Telnet requires in reply is appended to `reply`, to
    // be sent back. A command split across reads is kept until its end arrives.
    void feed(const uint8_t *bytes, size_t count, Bytes &data, std::vector<Answer> &answers,
              Bytes &reply);

    // Whether the server agreed to COM-PORT-OPTION (DO COM-PORT-OPTION), refused it (DONT), or
    // has said nothing yet.
    enum class ComPortState { Unknown, Agreed, Refused };
    ComPortState comPort() const { return m_comPort; }

private:
    void negotiate(uint8_t verb, uint8_t option, Bytes &reply);
    void subnegotiation(std::vector<Answer> &answers);

    enum class State { Data, Iac, Verb, Sub, SubIac };
    State m_state = State::Data;
    uint8_t m_verb = 0;
    Bytes m_sub;
    ComPortState m_comPort = ComPortState::Unknown;
    // What this side has agreed to or refused, so that no request is answered twice.
    bool m_answeredDo[256] {};
    bool m_answeredWill[256] {};
};

} // namespace rfc2217
