// SPDX-License-Identifier: MIT
// The checks a command may carry after its content, in one table: the command list, the
// auto-replies and the scripts all compute them here.
//
// Each check covers the content from a given byte to its end and goes on the line in the byte
// order its protocol uses: CRC-16/Modbus low byte first, CRC-16/CCITT-FALSE and CRC-32 high
// byte first (as the value is written), the 8-bit ones as one byte. LRC is Modbus ASCII's: the
// two's complement of the 8-bit sum of the bytes.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>
#include <span>

namespace Checksum {

enum class Kind { None, Sum8, Xor8, Crc16Modbus, Crc16CcittFalse, Lrc, Crc32 };

struct Algorithm
{
    Kind kind;
    const char *id; // in list files: "crc16-modbus"
    const char *label; // in the panel: "CRC-16/Modbus"
    int width; // bytes it appends
};

// Every kind, None first, in the order the panel lists them.
std::span<const Algorithm> algorithms();
const Algorithm &of(Kind kind);
// The kind a list file names, or none for an unknown name.
std::optional<Kind> byId(QStringView id);

// CRC-16/Modbus as a value (the line has its low byte first): the frame decoder checks every
// candidate frame with it, so it is offered without a QByteArray per call.
uint16_t crc16Modbus(QByteArrayView data);

// The check bytes of `data`, in line order; empty for None.
QByteArray compute(Kind kind, QByteArrayView data);

struct Appended
{
    QByteArray bytes; // the content and its check; empty on an error
    QString error; // why the check could not be made
    bool ok() const { return error.isEmpty(); }
};

// `content` with the check of its bytes from `from` (0-based) on appended. A start beyond the
// content is an error, said in Chinese with both numbers.
Appended append(Kind kind, const QByteArray &content, qsizetype from = 0);

} // namespace Checksum
