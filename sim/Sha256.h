// SPDX-License-Identifier: MIT
// SHA-256 (FIPS 180-4), fed in pieces as bytes arrive, so a sink can fingerprint a transfer
// of any length without keeping it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

class Sha256
{
public:
    Sha256();
    void update(const uint8_t *data, size_t size);
    // The digest of everything fed so far, as 64 lower-case hex digits. The object can go on
    // taking bytes afterwards.
    std::string hexDigest() const;

private:
    void compress(const uint8_t *block);

    std::array<uint32_t, 8> m_state;
    std::array<uint8_t, 64> m_block {};
    size_t m_used = 0; // bytes waiting in m_block
    uint64_t m_length = 0; // bytes fed in total
};

} // namespace sim
