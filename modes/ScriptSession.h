// SPDX-License-Identifier: MIT
// Script mode: a script holds the line from its start to its end, and the display shows the
// conversation as terminal mode does, each block under the name of its sender. The port opens
// as every mode's does, and closes when the script has ended or at Break, which stops it.
#pragma once

#include "script/ScriptEngine.h"
#include "session/ConversationDisplay.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

class ModeHost;

class ScriptSession
{
public:
    struct Script
    {
        QByteArray source;
        QString name; // in its error messages
        ScriptEngine::Options options;
    };
    using Print = std::function<void(const QString &line)>;

    ScriptSession(ModeHost &host, ConversationDisplay::Name local, ConversationDisplay::Name remote)
        : m_host(host), m_local(std::move(local)), m_remote(std::move(remote))
    { }

    // Runs `script` to its end, its output line by line to `print`. Nothing when the port
    // failed to open: the user has been told why, and the script never ran.
    std::optional<ScriptEngine::Result> run(const Script &script, const Print &print);

private:
    ModeHost &m_host;
    ConversationDisplay::Name m_local;
    ConversationDisplay::Name m_remote;
};
