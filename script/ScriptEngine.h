// SPDX-License-Identifier: MIT
// A dialogue with a device written once, in Lua 5.4: the script runs on a thread of its own, in
// a Lua state of its own, and reaches the line only through ScriptLine; what the line receives
// is handed to it with deliver(). The API (send, expect, read, the line's lines, the checks of
// the checksum table, pass and fail) is the README's.
//
// Stopping is at once, wherever the script is: its waits end, and a loop that never calls
// TELVIX meets a count hook that raises an error, again at every instruction until the script
// has ended, so that no pcall can hold it. pass() and fail() end it the same way. Its memory is
// bounded by an allocator with a limit.
#pragma once

#include "script/ScriptInbox.h"
#include "send/CommandList.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <thread>
#include <vector>

class ScriptLine;
struct lua_State;

class ScriptEngine
{
public:
    struct Options
    {
        size_t memoryLimit = size_t(256) << 20;
        QStringList args; // the script's `arg`
        std::vector<CommandList::Command> commands; // for sendcmd
        int defaultTimeoutMs = 10000; // of expect, read and readline
    };

    enum class Outcome { Pass, Fail, Error, Stopped };
    struct Result
    {
        Outcome outcome = Outcome::Pass;
        QString message; // fail's message, the error, or empty
        int line = 0; // the error's line in the script, when it has one
    };

    explicit ScriptEngine(ScriptLine &line);
    ScriptEngine(ScriptLine &line, Options options);
    ~ScriptEngine(); // stops the script and waits for its end
    ScriptEngine(const ScriptEngine &) = delete;
    ScriptEngine &operator=(const ScriptEngine &) = delete;

    // Runs `source` (named `name` in its messages) on the engine's thread.
    void start(const QByteArray &source, const QString &name);
    bool isFinished() const { return m_finished; }
    // Waits for the end and gives its result.
    Result wait();
    // From any thread.
    void stop();
    void deliver(QByteArrayView bytes) { m_inbox.deliver(bytes); }

    // Runs `source` to its end on the calling thread.
    Result run(const QByteArray &source, const QString &name);

    // What the script is told when its memory runs out.
    static QString memoryMessage(size_t limit);

private:
    friend struct ScriptApi;
    static void *allocate(void *engine, void *block, size_t oldSize, size_t newSize);
    void openApi(lua_State *L);

    ScriptLine &m_line;
    Options m_options;
    ScriptInbox m_inbox;
    std::thread m_thread;
    Result m_result;
    std::atomic<bool> m_stop {false};
    std::atomic<bool> m_finished {false};
    bool m_ending = false; // pass() or fail() was called: the result stands
    int m_find = 0; // Lua's string.find, in the registry
    size_t m_used = 0;
    bool m_memoryRanOut = false;
};
