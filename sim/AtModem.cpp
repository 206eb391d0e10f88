// SPDX-License-Identifier: MIT
#include "AtModem.h"

namespace sim {

namespace {

std::string upperTrimmed(const std::string &line)
{
    size_t begin = line.find_first_not_of(' ');
    if (begin == std::string::npos)
        return {};
    size_t end = line.find_last_not_of(' ');
    std::string text = line.substr(begin, end - begin + 1);
    for (char &c : text) {
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    }
    return text;
}

} // namespace

std::string AtModem::answer() const
{
    if (m_overflow)
        return "\r\nERROR\r\n";
    const std::string command = upperTrimmed(m_line);
    if (command == "AT")
        return "\r\nOK\r\n";
    if (command == "ATI")
        return std::string("\r\n") + kIdentification + "\r\n\r\nOK\r\n";
    return "\r\nERROR\r\n";
}

std::string AtModem::feed(const uint8_t *data, size_t size)
{
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        const char c = char(data[i]);
        if (c == '\r') {
            // A bare CR (or the CR of an empty CR LF line) is no command; modems ignore it.
            if (m_overflow || !upperTrimmed(m_line).empty())
                out += answer();
            reset();
        } else if (c == '\n') {
            // Terminals that end lines with CR LF: the LF belongs to the line already answered.
        } else if (m_line.size() < kMaxLine) {
            m_line += c;
        } else {
            m_overflow = true;
        }
    }
    return out;
}

void AtModem::reset()
{
    m_line.clear();
    m_overflow = false;
}

} // namespace sim
