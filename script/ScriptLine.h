// SPDX-License-Identifier: MIT
// What a script may ask of the line it runs on, and nothing more. The host (the window's script
// mode, or `telvix --run`) puts every byte through its port and its traffic stream as every mode
// does; the script's thread calls these and waits for their answer. An error is the text the
// script's pcall catches; empty when the call went through.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

struct ScriptParams
{
    std::optional<int> baud;
    std::optional<int> bits;
    std::optional<char> parity; // 'N', 'O', 'E', 'M', 'S'
    std::optional<int> stop; // 1 or 2
    std::optional<QString> flow; // "none", "rtscts", "xonxoff"
};

class ScriptLine
{
public:
    enum class Input { Cts, Dsr, Dcd, Ri };
    enum class Output { Dtr, Rts };

    virtual ~ScriptLine() = default;
    virtual QString send(const QByteArray &bytes) = 0;
    virtual QString setParams(const ScriptParams &params) = 0;
    virtual QString setOutput(Output line, bool on) = 0;
    virtual QString input(Input line, bool &on) = 0;
    virtual QString sendBreak(int ms) = 0;
    // An event of the script's own in the capture and the log.
    virtual void log(const QString &text) = 0;
    // The script's output (print).
    virtual void print(const QString &text) = 0;
};
