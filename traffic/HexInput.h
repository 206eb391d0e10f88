// SPDX-License-Identifier: MIT
// Bytes typed as hex digits, as every send box that takes hex reads them.
//
// Two digits make a byte, upper or lower case: "01 03 00 00 00 0A", "0103000A" and
// "01\t03\n0A" are the same bytes. Blanks (spaces, tabs, line breaks) may stand between bytes,
// never inside one. A digit alone between blanks (or the text's ends) is one byte by itself,
// so "1 2 A" is 01 02 0A, as people write short values; within a longer run the digits pair
// up from the left and one left over at the run's end ("010") is an error, not a guess.
#pragma once

#include <QByteArray>
#include <QString>

namespace HexInput {

struct Parsed
{
    QByteArray bytes; // empty on an error
    QString error; // empty when the whole text was read
    bool ok() const { return error.isEmpty(); }
};

// The error names the first offending character by its 1-based column and, where the text
// holds a line break, its 1-based line: "第 7 個字元 'G' 不是十六進位數字".
Parsed parse(const QString &text);

} // namespace HexInput
