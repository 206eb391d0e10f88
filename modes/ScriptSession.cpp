// SPDX-License-Identifier: MIT
#include "ScriptSession.h"

#include "modes/ScriptHost.h"
#include "session/ModeFrame.h"
#include "session/ModeHost.h"

std::optional<ScriptEngine::Result> ScriptSession::run(const Script &script, const Print &print)
{
    ModeFrame frame(m_host, Mode::Script);
    SerialPort *port = frame.begin();
    if (!port)
        return std::nullopt;
    ConversationDisplay display(m_host, m_local, m_remote);
    m_host.traffic().subscribe(&display);
    ScriptEngine::Result result;
    {
        ScriptHost host(*port, script.options);
        QObject::connect(&host, &ScriptHost::printed, &host, print);
        result = host.run(m_host.traffic(), script.source, script.name);
    }
    m_host.traffic().unsubscribe(&display);
    display.finish();
    frame.end();
    return result;
}
