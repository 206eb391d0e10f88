// SPDX-License-Identifier: MIT
// The command side of a Hayes-style modem, enough to try a terminal against: lines end in
// CR, "AT" answers OK, "ATI" identifies the device, anything else answers ERROR.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

class AtModem
{
public:
    static constexpr const char *kIdentification = "telvix-sim virtual modem";
    static constexpr size_t kMaxLine = 256; // longer lines answer ERROR, as a modem's buffer would

    // The answers to the lines that `size` more bytes complete, in order.
    std::string feed(const uint8_t *data, size_t size);
    // A line cut off by the port closing is not answered later.
    void reset();

private:
    std::string answer() const;

    std::string m_line;
    bool m_overflow = false;
};

} // namespace sim
