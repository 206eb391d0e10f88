// SPDX-License-Identifier: MIT
#include "ScriptEngine.h"

#include "script/ScriptLine.h"
#include "traffic/Checksum.h"
#include "traffic/HexInput.h"

#include <QRegularExpression>

#include <lua.hpp>

#include <chrono>
#include <cstdlib>

// The functions the script calls. Lua raises its errors with longjmp, past any C++ frame: no
// function here raises one while an object with a destructor is alive. Each does its work in
// an inner scope that leaves the answer, or the error's text, on the Lua stack, and raises only
// after that scope has ended.
struct ScriptApi
{
    static ScriptEngine &engine(lua_State *L)
    {
        return **static_cast<ScriptEngine **>(lua_getextraspace(L));
    }

    // Pushes "name:line: text", the place of the script's call first.
    static void pushError(lua_State *L, const QString &text)
    {
        luaL_where(L, 1);
        const QByteArray utf8 = text.toUtf8();
        lua_pushlstring(L, utf8.constData(), size_t(utf8.size()));
        lua_concat(L, 2);
    }

    static void pushBytes(lua_State *L, const QByteArray &bytes)
    {
        lua_pushlstring(L, bytes.constData(), size_t(bytes.size()));
    }

    static QByteArray bytesAt(lua_State *L, int index)
    {
        size_t n = 0;
        const char *s = lua_tolstring(L, index, &n);
        return QByteArray(s, qsizetype(n));
    }

    static void hook(lua_State *L, lua_Debug *)
    {
        ScriptEngine &e = engine(L);
        if (!e.m_stop && !e.m_ending)
            return;
        // At every instruction from now on, so that a pcall that caught it cannot go on.
        lua_sethook(L, hook, LUA_MASKCOUNT, 1);
        luaL_error(L, "stopped");
    }

    // An error raised, or the results pushed: what every function returns.
    static int finish(lua_State *L, int results)
    {
        if (results < 0)
            return lua_error(L);
        return results;
    }

    // The end of a wait: its bytes, nil and "timeout", or the stop raised.
    static int waited(lua_State *L, ScriptInbox::Wait w, int results)
    {
        if (w == ScriptInbox::Wait::Stopped) {
            lua_sethook(L, hook, LUA_MASKCOUNT, 1);
            return luaL_error(L, "stopped");
        }
        if (w == ScriptInbox::Wait::TimedOut) {
            lua_pushnil(L);
            lua_pushliteral(L, "timeout");
            return 2;
        }
        return results;
    }

    static int timeoutAt(lua_State *L, int index)
    {
        return int(luaL_optinteger(L, index, engine(L).m_options.defaultTimeoutMs));
    }

    // send(s), sendhex(text), sendcmd(name)
    // A line call's answer: `results` when it went through; else its error pushed, and -1.
    static int answered(lua_State *L, const QString &error, int results = 0)
    {
        if (error.isEmpty())
            return results;
        pushError(L, error);
        return -1;
    }

    static int sendBytes(lua_State *L, const QByteArray &bytes)
    {
        return answered(L, engine(L).m_line.send(bytes));
    }

    static int send(lua_State *L)
    {
        luaL_checkstring(L, 1);
        int results = 0;
        {
            results = sendBytes(L, bytesAt(L, 1));
        }
        return finish(L, results);
    }

    static int sendhex(lua_State *L)
    {
        luaL_checkstring(L, 1);
        int results = 0;
        {
            const HexInput::Parsed parsed = HexInput::parse(QString::fromUtf8(bytesAt(L, 1)));
            if (!parsed.ok()) {
                pushError(L, QStringLiteral("sendhex: ") + parsed.error);
                results = -1;
            } else {
                results = sendBytes(L, parsed.bytes);
            }
        }
        return finish(L, results);
    }

    static int sendcmd(lua_State *L)
    {
        luaL_checkstring(L, 1);
        int results = 0;
        {
            const QString name = QString::fromUtf8(bytesAt(L, 1));
            const std::vector<CommandList::Command> &list = engine(L).m_options.commands;
            const auto c =
                    std::find_if(list.begin(), list.end(),
                                 [&](const CommandList::Command &c) { return c.name == name; });
            const SendText::Composed composed =
                    c == list.end() ? SendText::Composed {} : CommandList::compose(*c);
            if (c == list.end()) {
                pushError(L, QStringLiteral("sendcmd: 命令清單裡沒有「%1」").arg(name));
                results = -1;
            } else if (!composed.bytes) {
                pushError(L, QStringLiteral("sendcmd: 「%1」:%2").arg(name, composed.problem));
                results = -1;
            } else {
                results = sendBytes(L, *composed.bytes);
            }
        }
        return finish(L, results);
    }

    // expect(pattern [, timeout_ms]) -> what came up to and including it | nil, "timeout"
    static int expect(lua_State *L)
    {
        size_t n = 0;
        luaL_checklstring(L, 1, &n);
        const int timeoutMs = timeoutAt(L, 2);
        if (n == 0)
            return luaL_error(L, "expect: the pattern is empty");
        ScriptInbox::Wait w;
        {
            QByteArray taken;
            w = engine(L).m_inbox.expect(bytesAt(L, 1), timeoutMs, taken);
            if (w == ScriptInbox::Wait::Ready)
                pushBytes(L, taken);
        }
        return waited(L, w, 1);
    }

    // expect_match(lua_pattern [, timeout_ms]) -> what came up to the match's end, captures...
    static int expectMatch(lua_State *L)
    {
        luaL_checkstring(L, 1);
        const int timeoutMs = timeoutAt(L, 2);
        lua_settop(L, 1);
        ScriptInbox::Wait w;
        int results = 0;
        {
            QByteArray taken;
            std::vector<QByteArray> captures;
            QByteArray error;
            // string.find on what came, under pcall: a bad pattern must not jump out of the
            // inbox's lock.
            w = engine(L).m_inbox.waitFor(
                    [&](const QByteArray &bytes, qsizetype) -> qsizetype {
                        const int top = lua_gettop(L);
                        // Lua's own string.find, kept when the state was made: the script may
                        // have changed the global, and a lookup could raise.
                        lua_rawgeti(L, LUA_REGISTRYINDEX, engine(L).m_find);
                        pushBytes(L, bytes);
                        lua_pushvalue(L, 1);
                        qsizetype end = -1;
                        if (lua_pcall(L, 2, LUA_MULTRET, 0) != LUA_OK) {
                            error = bytesAt(L, -1);
                            end = 0;
                        } else if (!lua_isnil(L, top + 1)) {
                            end = qsizetype(lua_tointeger(L, top + 2));
                            captures.clear();
                            for (int i = top + 3; i <= lua_gettop(L); ++i)
                                captures.push_back(bytesAt(L, i));
                        }
                        lua_settop(L, top);
                        return end;
                    },
                    timeoutMs, taken);
            if (!error.isEmpty()) {
                pushError(L, QStringLiteral("expect_match: ") + QString::fromUtf8(error));
                results = -1;
            } else if (w == ScriptInbox::Wait::Ready) {
                pushBytes(L, taken);
                for (const QByteArray &c : captures)
                    pushBytes(L, c);
                results = 1 + int(captures.size());
            }
        }
        if (results < 0)
            return lua_error(L);
        return waited(L, w, results);
    }

    static int read(lua_State *L)
    {
        const lua_Integer count = luaL_checkinteger(L, 1);
        const int timeoutMs = timeoutAt(L, 2);
        if (count < 0)
            return luaL_error(L, "read: a count below zero");
        ScriptInbox::Wait w;
        {
            QByteArray taken;
            w = engine(L).m_inbox.read(qsizetype(count), timeoutMs, taken);
            if (w == ScriptInbox::Wait::Ready)
                pushBytes(L, taken);
        }
        return waited(L, w, 1);
    }

    static int readline(lua_State *L)
    {
        const int timeoutMs = timeoutAt(L, 1);
        ScriptInbox::Wait w;
        {
            QByteArray taken;
            w = engine(L).m_inbox.readLine(timeoutMs, taken);
            if (w == ScriptInbox::Wait::Ready)
                pushBytes(L, taken);
        }
        return waited(L, w, 1);
    }

    static int sleep(lua_State *L)
    {
        const lua_Integer ms = luaL_checkinteger(L, 1);
        return waited(L, engine(L).m_inbox.sleep(int(std::clamp<lua_Integer>(ms, 0, INT32_MAX))),
                      0);
    }

    static int now(lua_State *L)
    {
        const auto t = std::chrono::steady_clock::now().time_since_epoch();
        lua_pushnumber(L,
                       double(std::chrono::duration_cast<std::chrono::microseconds>(t).count())
                               / 1000.0);
        return 1;
    }

    // What print and log make of their arguments: tostring of each, tab between.
    static QString joined(lua_State *L)
    {
        QByteArray text;
        for (int i = 1; i <= lua_gettop(L); ++i) {
            size_t n = 0;
            const char *s = luaL_tolstring(L, i, &n);
            if (i > 1)
                text += '\t';
            text.append(s, qsizetype(n));
            lua_pop(L, 1);
        }
        return QString::fromUtf8(text);
    }

    static int print(lua_State *L)
    {
        {
            engine(L).m_line.print(joined(L));
        }
        return 0;
    }

    static int log(lua_State *L)
    {
        {
            engine(L).m_line.log(joined(L));
        }
        return 0;
    }

    [[noreturn]] static void end(lua_State *L, ScriptEngine::Outcome outcome)
    {
        ScriptEngine &e = engine(L);
        {
            e.m_result = {outcome, lua_isnoneornil(L, 1) ? QString() : joined(L), 0};
        }
        e.m_ending = true;
        lua_sethook(L, hook, LUA_MASKCOUNT, 1);
        luaL_error(L, "ended");
        std::abort(); // luaL_error does not return
    }

    static int pass(lua_State *L) { end(L, ScriptEngine::Outcome::Pass); }
    static int fail(lua_State *L) { end(L, ScriptEngine::Outcome::Fail); }

    // port.set{baud=, bits=, parity=, stop=, flow=}
    static int portSet(lua_State *L)
    {
        luaL_checktype(L, 1, LUA_TTABLE);
        const auto integer = [L](const char *field) -> std::optional<int> {
            lua_getfield(L, 1, field);
            std::optional<int> v;
            if (lua_isinteger(L, -1))
                v = int(lua_tointeger(L, -1));
            lua_pop(L, 1);
            return v;
        };
        const auto text = [L](const char *field) -> QByteArray {
            lua_getfield(L, 1, field);
            QByteArray v = lua_isstring(L, -1) ? bytesAt(L, -1) : QByteArray();
            lua_pop(L, 1);
            return v;
        };
        int results = 0;
        {
            ScriptParams p;
            p.baud = integer("baud");
            p.bits = integer("bits");
            p.stop = integer("stop");
            const QByteArray parity = text("parity").toUpper();
            if (!parity.isEmpty())
                p.parity = parity.at(0);
            const QByteArray flow = text("flow");
            if (!flow.isEmpty())
                p.flow = QString::fromUtf8(flow);
            QString error;
            if (p.parity && !QByteArray("NOEMS").contains(*p.parity))
                error = QStringLiteral("同位「%1」不是 N、O、E、M 或 S")
                                .arg(QString::fromUtf8(parity));
            else if (p.bits && *p.bits != 7 && *p.bits != 8)
                error = QStringLiteral("資料位元 %1 不是 7 或 8").arg(*p.bits);
            else if (p.stop && *p.stop != 1 && *p.stop != 2)
                error = QStringLiteral("停止位元 %1 不是 1 或 2").arg(*p.stop);
            else if (p.flow && *p.flow != u"none" && *p.flow != u"rtscts" && *p.flow != u"xonxoff")
                error = QStringLiteral("流量控制「%1」不是 none、rtscts 或 xonxoff").arg(*p.flow);
            else if (p.baud && *p.baud <= 0)
                error = QStringLiteral("速率 %1 不是正整數").arg(*p.baud);
            else
                error = engine(L).m_line.setParams(p);
            if (!error.isEmpty()) {
                pushError(L, QStringLiteral("port.set: ") + error);
                results = -1;
            }
        }
        return finish(L, results);
    }

    template<ScriptLine::Output Line>
    static int setOutput(lua_State *L)
    {
        luaL_checkany(L, 1);
        const bool on = lua_toboolean(L, 1);
        int results = 0;
        {
            results = answered(L, engine(L).m_line.setOutput(Line, on));
        }
        return finish(L, results);
    }

    template<ScriptLine::Input Line>
    static int input(lua_State *L)
    {
        int results = 1;
        {
            bool on = false;
            results = answered(L, engine(L).m_line.input(Line, on), 1);
            if (results == 1)
                lua_pushboolean(L, on);
        }
        return finish(L, results);
    }

    static int sendBreak(lua_State *L)
    {
        const lua_Integer ms = luaL_optinteger(L, 1, 250);
        if (ms < 1 || ms > 10000)
            return luaL_error(L, "line.brk: %d ms is not between 1 and 10000", int(ms));
        int results = 0;
        {
            results = answered(L, engine(L).m_line.sendBreak(int(ms)));
        }
        return finish(L, results);
    }

    // The checks of the checksum table: the bytes in line order, and their value.
    template<Checksum::Kind Kind>
    static int check(lua_State *L)
    {
        luaL_checkstring(L, 1);
        {
            const QByteArray c = Checksum::compute(Kind, bytesAt(L, 1));
            lua_Integer value = 0;
            // CRC-16/Modbus goes low byte first; the rest high byte first.
            for (qsizetype i = 0; i < c.size(); ++i) {
                const qsizetype at = Kind == Checksum::Kind::Crc16Modbus ? c.size() - 1 - i : i;
                value = (value << 8) | uint8_t(c[at]);
            }
            pushBytes(L, c);
            lua_pushinteger(L, value);
        }
        return 2;
    }

    static int hex(lua_State *L)
    {
        luaL_checkstring(L, 1);
        {
            pushBytes(L, bytesAt(L, 1).toHex(' ').toUpper());
        }
        return 1;
    }

    static int unhex(lua_State *L)
    {
        luaL_checkstring(L, 1);
        int results = 1;
        {
            const HexInput::Parsed parsed = HexInput::parse(QString::fromUtf8(bytesAt(L, 1)));
            if (parsed.ok()) {
                pushBytes(L, parsed.bytes);
            } else {
                pushError(L, QStringLiteral("unhex: ") + parsed.error);
                results = -1;
            }
        }
        return finish(L, results);
    }
};

ScriptEngine::ScriptEngine(ScriptLine &line) : ScriptEngine(line, Options()) { }

ScriptEngine::ScriptEngine(ScriptLine &line, Options options)
    : m_line(line), m_options(std::move(options))
{ }

ScriptEngine::~ScriptEngine()
{
    stop();
    if (m_thread.joinable())
        m_thread.join();
}

void ScriptEngine::start(const QByteArray &source, const QString &name)
{
    if (m_thread.joinable())
        m_thread.join();
    m_finished = false;
    m_thread = std::thread([this, source, name] { m_result = run(source, name); });
}

ScriptEngine::Result ScriptEngine::wait()
{
    if (m_thread.joinable())
        m_thread.join();
    return m_result;
}

void ScriptEngine::stop()
{
    m_stop = true;
    m_inbox.stop();
}

QString ScriptEngine::memoryMessage(size_t limit)
{
    return QStringLiteral("腳本用的記憶體超過上限 %1 MiB").arg(limit >> 20);
}

void *ScriptEngine::allocate(void *engine, void *block, size_t oldSize, size_t newSize)
{
    auto *e = static_cast<ScriptEngine *>(engine);
    // Without a block, oldSize is the kind of object Lua makes, not a size.
    const size_t old = block ? oldSize : 0;
    if (newSize == 0) {
        e->m_used -= old;
        std::free(block);
        return nullptr;
    }
    if (newSize > old && e->m_used - old + newSize > e->m_options.memoryLimit) {
        e->m_memoryRanOut = true;
        return nullptr;
    }
    void *grown = std::realloc(block, newSize);
    if (grown)
        e->m_used = e->m_used - old + newSize;
    return grown;
}

void ScriptEngine::openApi(lua_State *L)
{
    using A = ScriptApi;
    const luaL_Reg globals[] = {
            {"send", A::send},
            {"sendhex", A::sendhex},
            {"sendcmd", A::sendcmd},
            {"expect", A::expect},
            {"expect_match", A::expectMatch},
            {"read", A::read},
            {"readline", A::readline},
            {"sleep", A::sleep},
            {"now", A::now},
            {"log", A::log},
            {"print", A::print},
            {"pass", A::pass},
            {"fail", A::fail},
            {"crc16_modbus", A::check<Checksum::Kind::Crc16Modbus>},
            {"crc16_ccitt", A::check<Checksum::Kind::Crc16CcittFalse>},
            {"sum8", A::check<Checksum::Kind::Sum8>},
            {"xor8", A::check<Checksum::Kind::Xor8>},
            {"lrc", A::check<Checksum::Kind::Lrc>},
            {"crc32", A::check<Checksum::Kind::Crc32>},
            {"hex", A::hex},
            {"unhex", A::unhex},
            {nullptr, nullptr},
    };
    lua_pushglobaltable(L);
    luaL_setfuncs(L, globals, 0);
    lua_getfield(L, -1, "string");
    lua_getfield(L, -1, "find");
    m_find = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_pop(L, 2);
    const luaL_Reg port[] = {{"set", A::portSet}, {nullptr, nullptr}};
    luaL_newlib(L, port);
    lua_setglobal(L, "port");
    const luaL_Reg line[] = {
            {"dtr", A::setOutput<ScriptLine::Output::Dtr>},
            {"rts", A::setOutput<ScriptLine::Output::Rts>},
            {"cts", A::input<ScriptLine::Input::Cts>},
            {"dsr", A::input<ScriptLine::Input::Dsr>},
            {"dcd", A::input<ScriptLine::Input::Dcd>},
            {"ri", A::input<ScriptLine::Input::Ri>},
            {"brk", A::sendBreak},
            {nullptr, nullptr},
    };
    luaL_newlib(L, line);
    lua_setglobal(L, "line");
}

ScriptEngine::Result ScriptEngine::run(const QByteArray &source, const QString &name)
{
    m_ending = false;
    m_memoryRanOut = false;
    m_used = 0;
    lua_State *L = lua_newstate(&ScriptEngine::allocate, this);
    if (!L) {
        m_finished = true;
        return {Outcome::Error, memoryMessage(m_options.memoryLimit), 0};
    }
    *static_cast<ScriptEngine **>(lua_getextraspace(L)) = this;
    luaL_openlibs(L);
    openApi(L);
    lua_createtable(L, int(m_options.args.size()), 1);
    const QByteArray scriptName = name.toUtf8();
    lua_pushlstring(L, scriptName.constData(), size_t(scriptName.size()));
    lua_rawseti(L, -2, 0);
    for (qsizetype i = 0; i < m_options.args.size(); ++i) {
        const QByteArray a = m_options.args[i].toUtf8();
        lua_pushlstring(L, a.constData(), size_t(a.size()));
        lua_rawseti(L, -2, lua_Integer(i + 1));
    }
    lua_setglobal(L, "arg");
    lua_sethook(L, &ScriptApi::hook, LUA_MASKCOUNT, 1000);

    const QByteArray chunk = "=" + scriptName;
    int status = luaL_loadbuffer(L, source.constData(), size_t(source.size()), chunk.constData());
    if (status == LUA_OK)
        status = lua_pcall(L, 0, 0, 0);
    Result result;
    if (m_ending) {
        result = m_result;
    } else if (m_stop) {
        result = {Outcome::Stopped, {}, 0};
    } else if (status != LUA_OK) {
        const QString message = m_memoryRanOut ? memoryMessage(m_options.memoryLimit)
                                               : QString::fromUtf8(lua_tostring(L, -1));
        int line = 0;
        const QRegularExpression where(
                QStringLiteral("^%1:(\\d+):").arg(QRegularExpression::escape(name)));
        if (const QRegularExpressionMatch m = where.match(message); m.hasMatch())
            line = m.captured(1).toInt();
        result = {Outcome::Error, message, line};
    }
    lua_close(L);
    m_finished = true;
    return result;
}
