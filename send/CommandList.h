// SPDX-License-Identifier: MIT
// The commands a technician sends again and again, kept as a list: what each puts on the line,
// and the list file (.tvcmd) the user saves and opens. TELVIX stores no list by itself.
//
// A command's bytes are its content (text as the string send takes it, control codes as their
// glyphs and Chinese as Big5; or hex digits as HexInput reads them), then its check over the
// content from a given byte on (Checksum), then its ending.
//
// The file is UTF-8 JSON: {"format": "telvix-commands", "version": 1, "commands": [{"name",
// "form": "text"|"hex", "content", "ending": "none"|"cr"|"lf"|"crlf", "checksum": an id of
// Checksum ("none", "crc16-modbus" ...), "checksumFrom": the first byte checked, from 1,
// "repeatMs": 0 for once, "key": "" or "F1".."F12", "Ctrl+1".."Ctrl+9"}]}. Fields left out take
// those defaults; a file of a later version, or with a bad row, loads nothing.
#pragma once

#include "send/SendText.h"
#include "traffic/Checksum.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace CommandList {

enum class Ending { None, Cr, Lf, CrLf };

struct Command
{
    QString name;
    bool hex = false;
    QString content;
    Ending ending = Ending::None;
    Checksum::Kind check = Checksum::Kind::None;
    qsizetype checkFrom = 0; // 0-based
    int repeatMs = 0; // 0: once
    QString key; // empty, or one of keys()
    bool operator==(const Command &) const = default;
};

inline constexpr int FileVersion = 1;
inline constexpr int MaxRepeatMs = 3600000;

// The keys a command may be fired with, in the order the panel offers them.
const QStringList &keys();

// What the command puts on the line, or why it cannot go out.
SendText::Composed compose(const Command &command);

QByteArray save(const std::vector<Command> &commands);

struct Loaded
{
    std::vector<Command> commands;
    QString error; // empty when the whole file was read
    bool ok() const { return error.isEmpty(); }
};
// The message of a bad row names it by number and name: "第 3 列「讀取」:...".
Loaded load(const QByteArray &file);

} // namespace CommandList
