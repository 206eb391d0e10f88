// SPDX-License-Identifier: MIT
#include "Checksum.h"

#include <array>
#include <cstdint>

namespace Checksum {

namespace {

constexpr std::array<Algorithm, 7> Table {{
        {Kind::None, "none", "無", 0},
        {Kind::Sum8, "sum8", "Sum-8", 1},
        {Kind::Xor8, "xor8", "XOR-8", 1},
        {Kind::Crc16Modbus, "crc16-modbus", "CRC-16/Modbus", 2},
        {Kind::Crc16CcittFalse, "crc16-ccitt-false", "CRC-16/CCITT-FALSE", 2},
        {Kind::Lrc, "lrc", "LRC (Modbus ASCII)", 1},
        {Kind::Crc32, "crc32", "CRC-32", 4},
}};

// Table-driven CRCs: a command of a few bytes costs nothing either way, but a script may check
// every frame of a long capture.
template<typename T, T Poly, bool Reflected>
constexpr std::array<T, 256> crcTable()
{
    constexpr int Bits = sizeof(T) * 8;
    std::array<T, 256> t {};
    for (unsigned i = 0; i < 256; ++i) {
        T r;
        if constexpr (Reflected) {
            r = T(i);
            for (int b = 0; b < 8; ++b)
                r = (r & 1) ? T((r >> 1) ^ Poly) : T(r >> 1);
        } else {
            r = T(T(i) << (Bits - 8));
            for (int b = 0; b < 8; ++b)
                r = (r & (T(1) << (Bits - 1))) ? T((r << 1) ^ Poly) : T(r << 1);
        }
        t[i] = r;
    }
    return t;
}

// Reflected forms of 0x8005 and 0x04C11DB7.
constexpr auto Modbus = crcTable<uint16_t, 0xA001, true>();
constexpr auto Ccitt = crcTable<uint16_t, 0x1021, false>();
constexpr auto Crc32Table = crcTable<uint32_t, 0xEDB88320u, true>();

QByteArray bigEndian(uint32_t value, int width)
{
    QByteArray out(width, '\0');
    for (int i = 0; i < width; ++i)
        out[width - 1 - i] = char((value >> (8 * i)) & 0xFF);
    return out;
}

} // namespace

std::span<const Algorithm> algorithms() { return Table; }

const Algorithm &of(Kind kind)
{
    for (const Algorithm &a : Table) {
        if (a.kind == kind)
            return a;
    }
    return Table[0];
}

std::optional<Kind> byId(QStringView id)
{
    for (const Algorithm &a : Table) {
        if (id == QLatin1String(a.id))
            return a.kind;
    }
    return std::nullopt;
}

uint16_t crc16Modbus(QByteArrayView data)
{
    uint16_t crc = 0xFFFF;
    const auto *p = reinterpret_cast<const uint8_t *>(data.data());
    for (qsizetype i = 0; i < data.size(); ++i)
        crc = uint16_t((crc >> 8) ^ Modbus[(crc ^ p[i]) & 0xFF]);
    return crc;
}

QByteArray compute(Kind kind, QByteArrayView data)
{
    const auto bytes = [&] {
        return std::span(reinterpret_cast<const uint8_t *>(data.data()), size_t(data.size()));
    };
    switch (kind) {
    case Kind::None:
        return {};
    case Kind::Sum8:
    case Kind::Lrc: {
        uint8_t sum = 0;
        for (uint8_t b : bytes())
            sum = uint8_t(sum + b);
        return QByteArray(1, char(kind == Kind::Lrc ? uint8_t(-sum) : sum));
    }
    case Kind::Xor8: {
        uint8_t x = 0;
        for (uint8_t b : bytes())
            x ^= b;
        return QByteArray(1, char(x));
    }
    case Kind::Crc16Modbus: {
        const uint16_t crc = crc16Modbus(data);
        const char lowFirst[2] = {char(crc & 0xFF), char(crc >> 8)};
        return QByteArray(lowFirst, 2);
    }
    case Kind::Crc16CcittFalse: {
        uint16_t crc = 0xFFFF;
        for (uint8_t b : bytes())
            crc = uint16_t((crc << 8) ^ Ccitt[((crc >> 8) ^ b) & 0xFF]);
        return bigEndian(crc, 2);
    }
    case Kind::Crc32: {
        uint32_t crc = 0xFFFFFFFFu;
        for (uint8_t b : bytes())
            crc = (crc >> 8) ^ Crc32Table[(crc ^ b) & 0xFF];
        return bigEndian(crc ^ 0xFFFFFFFFu, 4);
    }
    }
    return {};
}

Appended append(Kind kind, const QByteArray &content, qsizetype from)
{
    if (from < 0 || (kind != Kind::None && from > content.size()))
        return {{},
                QStringLiteral("校驗碼從第 %1 個位元組算起,但內容只有 %2 個位元組")
                        .arg(from + 1)
                        .arg(content.size())};
    return {content + compute(kind, QByteArrayView(content).sliced(std::min(from, content.size()))),
            {}};
}

} // namespace Checksum
