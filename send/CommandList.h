// SPDX-License-Identifier: MIT
// The commands a technician sends again and again, kept as a list: what each puts on the line
// (the list file is CommandFile's).
//
// A command's bytes are its content (text as the string send takes it, control codes as their
// glyphs and Chinese as Big5; or hex digits as HexInput reads them), then its check over the
// content from a given byte on (Checksum), then its ending.
#pragma once

#include "send/SendText.h"
#include "traffic/Checksum.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

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

// Why the row cannot be kept as it is (its key, its repeat, its bytes), or empty.
QString problem(const Command &command);
QString repeatProblem(qint64 ms);

// The endings as the list file names them: "none", "cr", "lf", "crlf".
const char *endingId(Ending ending);
QByteArray endingBytes(Ending ending);
// What the boxes that offer an ending show, in the order of Ending: 無, CR, LF, CR LF.
const QStringList &endingLabels();
std::optional<Ending> endingById(QStringView id);

} // namespace CommandList
