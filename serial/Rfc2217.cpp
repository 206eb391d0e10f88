// SPDX-License-Identifier: MIT
#include "Rfc2217.h"

#include <iterator>

namespace rfc2217 {

using namespace telnet;

namespace {

// What we offer and take: binary both ways, no go-ahead, and the COM port from our side.
bool weWill(uint8_t option)
{
    return option == Binary || option == SuppressGoAhead || option == ComPort;
}
bool weAccept(uint8_t option) { return option == Binary || option == SuppressGoAhead; }

// The longest answer is SET-BAUDRATE's: option, code and four bytes. A server that sends more
// gets the rest ignored rather than held in memory without end.
constexpr size_t MaxSubnegotiation = 64;

// In the order of serial::Parity.
constexpr uint8_t ParityToWire[serial::ParityCount] = {1, 2, 3, 4, 5};
constexpr uint8_t StopBitsToWire[] = {1, 3, 2}; // 1, 1.5, 2

void appendEscaped(uint8_t byte, Bytes &out)
{
    out.push_back(byte);
    if (byte == Iac)
        out.push_back(Iac);
}

} // namespace

Bytes greeting()
{
    return {Iac, Will, ComPort,         Iac, Will, Binary,         Iac, Do, Binary,
            Iac, Will, SuppressGoAhead, Iac, Do,   SuppressGoAhead};
}

Bytes command(Command command, const Bytes &value)
{
    Bytes out {Iac, Sb, ComPort, uint8_t(command)};
    for (uint8_t b : value)
        appendEscaped(b, out);
    out.push_back(Iac);
    out.push_back(Se);
    return out;
}

Bytes setBaudRate(uint32_t bitsPerSecond)
{
    return command(Command::SetBaudRate,
                   {uint8_t(bitsPerSecond >> 24), uint8_t(bitsPerSecond >> 16),
                    uint8_t(bitsPerSecond >> 8), uint8_t(bitsPerSecond)});
}

Bytes setDataSize(uint8_t dataBits) { return command(Command::SetDataSize, {dataBits}); }

Bytes setParity(serial::Parity parity)
{
    const size_t index = size_t(parity);
    return command(Command::SetParity,
                   {index < std::size(ParityToWire) ? ParityToWire[index] : uint8_t(0)});
}

Bytes setStopSize(uint8_t stopBitsCode)
{
    return command(
            Command::SetStopSize,
            {stopBitsCode < std::size(StopBitsToWire) ? StopBitsToWire[stopBitsCode] : uint8_t(0)});
}

Bytes setControl(uint8_t value) { return command(Command::SetControl, {value}); }
Bytes setModemStateMask(uint8_t mask) { return command(Command::SetModemStateMask, {mask}); }
Bytes setLineStateMask(uint8_t mask) { return command(Command::SetLineStateMask, {mask}); }

std::optional<serial::Parity> parityFromWire(uint8_t wire)
{
    for (size_t index = 0; index < std::size(ParityToWire); ++index) {
        if (ParityToWire[index] == wire)
            return serial::Parity(index);
    }
    return std::nullopt;
}

int stopBitsCodeFromWire(uint8_t wire)
{
    for (size_t code = 0; code < std::size(StopBitsToWire); ++code) {
        if (StopBitsToWire[code] == wire)
            return int(code);
    }
    return -1;
}

void appendData(const uint8_t *bytes, size_t count, Bytes &wire)
{
    wire.reserve(wire.size() + count);
    for (size_t i = 0; i < count; ++i)
        appendEscaped(bytes[i], wire);
}

uint8_t modemLinesFromWire(uint8_t modemState)
{
    uint8_t lines = 0;
    if (modemState & modemstate::Cts)
        lines |= serial::Cts;
    if (modemState & modemstate::Dsr)
        lines |= serial::Dsr;
    if (modemState & modemstate::Dcd)
        lines |= serial::Dcd;
    if (modemState & modemstate::Ri)
        lines |= serial::Ri;
    return lines;
}

void Decoder::feed(const uint8_t *bytes, size_t count, Bytes &data, std::vector<Answer> &answers,
                   Bytes &reply)
{
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        switch (m_state) {
        case State::Data:
            if (b == Iac)
                m_state = State::Iac;
            else
                data.push_back(b);
            break;
        case State::Iac:
            if (b == Iac) {
                data.push_back(Iac);
                m_state = State::Data;
            } else if (b == Will || b == Wont || b == Do || b == Dont) {
                m_verb = b;
                m_state = State::Verb;
            } else if (b == Sb) {
                m_sub.clear();
                m_state = State::Sub;
            } else {
                // NOP, go-ahead, data mark and the like carry nothing for a serial line.
                m_state = State::Data;
            }
            break;
        case State::Verb:
            negotiate(m_verb, b, reply);
            m_state = State::Data;
            break;
        case State::Sub:
            if (b == Iac)
                m_state = State::SubIac;
            else if (m_sub.size() < MaxSubnegotiation)
                m_sub.push_back(b);
            break;
        case State::SubIac:
            if (b == Se) {
                subnegotiation(answers);
                m_state = State::Data;
            } else {
                // IAC IAC inside: one FFh of the value. Anything else is a broken command,
                // read on as if the IAC had been doubled.
                if (m_sub.size() < MaxSubnegotiation)
                    m_sub.push_back(b);
                m_state = State::Sub;
            }
            break;
        }
    }
}

void Decoder::negotiate(uint8_t verb, uint8_t option, Bytes &reply)
{
    if (option == ComPort && (verb == Do || verb == Dont))
        m_comPort = verb == Do ? ComPortState::Agreed : ComPortState::Refused;
    // The greeting already said WILL/DO for what we want; a request is answered once, and only
    // when the greeting did not answer it already.
    if (verb == Do || verb == Dont) {
        if (m_answeredDo[option])
            return;
        m_answeredDo[option] = true;
        if (verb == Do && !weWill(option))
            reply.insert(reply.end(), {Iac, Wont, option});
    } else {
        if (m_answeredWill[option])
            return;
        m_answeredWill[option] = true;
        if (verb == Will && !weAccept(option))
            reply.insert(reply.end(), {Iac, Dont, option});
    }
}

void Decoder::subnegotiation(std::vector<Answer> &answers)
{
    if (m_sub.size() < 2 || m_sub[0] != ComPort || m_sub[1] < ServerOffset)
        return;
    Answer answer {Command(m_sub[1] - ServerOffset), 0};
    for (size_t i = 2; i < m_sub.size() && i < 6; ++i)
        answer.value = (answer.value << 8) | m_sub[i];
    answers.push_back(answer);
}

} // namespace rfc2217
