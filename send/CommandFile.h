// SPDX-License-Identifier: MIT
// The list file (.tvcmd) the user saves and opens: the command list and the auto-reply rules.
// TELVIX stores neither by itself.
//
// UTF-8 JSON: {"format": "telvix-commands", "version": 1, "commands": [{"name",
// "form": "text"|"hex", "content", "ending": "none"|"cr"|"lf"|"crlf", "checksum": an id of
// Checksum ("none", "crc16-modbus" ...), "checksumFrom": the first byte checked, from 1,
// "repeatMs": 0 for once, "key": "" or "F1".."F12", "Ctrl+1".."Ctrl+9"}], "replies": [{"name",
// "on": true, "match": "text"|"hex"|"regex", "pattern", "delayMs": 0, "maxPerSecond": 100,
// "reply": {"form", "content", "ending", "checksum", "checksumFrom"} as a command's}]}. Fields
// left out take those defaults, "replies" too; a file of a later version, or with a bad row,
// loads nothing.
#pragma once

#include "send/AutoReply.h"
#include "send/CommandList.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace CommandFile {

inline constexpr int Version = 1;

struct Contents
{
    std::vector<CommandList::Command> commands;
    std::vector<AutoReply::Rule> replies;
};

QByteArray save(const Contents &contents);

struct Loaded
{
    Contents contents;
    QString error; // empty when the whole file was read
    bool ok() const { return error.isEmpty(); }
};
// The message of a bad row names it by number and name: "第 3 列「讀取」:...", "規則 2「AT」:...".
Loaded load(const QByteArray &file);

} // namespace CommandFile
