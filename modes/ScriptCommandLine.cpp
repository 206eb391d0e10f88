// SPDX-License-Identifier: MIT
#include "ScriptCommandLine.h"

#include "modes/ScriptHost.h"
#include "send/CommandFile.h"
#include "serial/PortInfo.h"
#include "serial/PortScan.h"
#include "serial/PortSettings.h"
#include "serial/SerialPort.h"
#include "session/ModeState.h"
#include "traffic/LiveLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>

namespace ScriptCommandLine {

const char *const HelpText =
        "  --run SCRIPT.lua  不開視窗執行腳本,結果為結束狀態   run a script without a window\n"
        "      --port COMn|PATH|rfc2217://HOST:PORT|tcp://HOST:PORT   (COM1)\n"
        "      --baud N  --parity N|O|E|M|S  --bits 7|8  --stop 1|2\n"
        "      --flow none|rtscts|xonxoff   (9600 N 8 1, the driver's flow control)\n"
        "      --commands LIST.tvcmd   sendcmd 用的命令清單   the list sendcmd takes from\n"
        "      --log FILE.log|FILE.csv   記錄到檔案   log the traffic to a file\n"
        "      --timeout SECONDS   逾時結束   end the script after so long\n"
        "      -- ARGS...   腳本的 arg   the script's arg\n"
        "      結束狀態 exit status: 0 通過 pass, 1 失敗 fail, 2 腳本錯誤 script error,\n"
        "      3 埠錯誤 port error, 4 逾時 time-out, 130 Ctrl+C\n";

namespace {

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int) { interrupted = 1; }

struct Request
{
    QString script;
    QString port = QStringLiteral("COM1");
    serial::LineParams params;
    QString commands;
    QString log;
    int timeoutS = 0;
    QStringList args;
};

void say(const QString &text) { std::fprintf(stderr, "telvix: %s\n", text.toUtf8().constData()); }

// The request, or nothing when the command line is none (said on stderr).
std::optional<Request> parse(int argc, char *argv[])
{
    Request r;
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a == u"--") {
            for (++i; i < argc; ++i)
                r.args << QString::fromLocal8Bit(argv[i]);
            break;
        }
        if (i + 1 >= argc) {
            say(QStringLiteral("%1 少了值 needs a value").arg(a));
            return std::nullopt;
        }
        const QString v = QString::fromLocal8Bit(argv[++i]);
        bool number = false;
        const int n = v.toInt(&number);
        const auto bad = [&] {
            say(QStringLiteral("%1 的值「%2」不對 is not a valid value").arg(a, v));
            return std::nullopt;
        };
        if (a == u"--run") {
            r.script = v;
        } else if (a == u"--port") {
            r.port = v;
        } else if (a == u"--baud") {
            if (!number || n <= 0)
                return bad();
            r.params.baudRate = n;
        } else if (a == u"--parity") {
            const qsizetype at = QStringLiteral("NOEMS").indexOf(v.toUpper());
            if (v.size() != 1 || at < 0)
                return bad();
            r.params.parity = serial::Parity(at);
        } else if (a == u"--bits") {
            if (n != 7 && n != 8)
                return bad();
            r.params.dataBits = uint8_t(n);
        } else if (a == u"--stop") {
            if (n != 1 && n != 2)
                return bad();
            r.params.stopBits = n == 2 ? 2 : 0;
        } else if (a == u"--flow") {
            if (v == u"none")
                r.params.flow = serial::FlowControl::None;
            else if (v == u"rtscts")
                r.params.flow = serial::FlowControl::RtsCts;
            else if (v == u"xonxoff")
                r.params.flow = serial::FlowControl::XonXoff;
            else
                return bad();
        } else if (a == u"--commands") {
            r.commands = v;
        } else if (a == u"--log") {
            r.log = v;
        } else if (a == u"--timeout") {
            if (!number || n <= 0)
                return bad();
            r.timeoutS = n;
        } else {
            say(QStringLiteral("無法辨識的參數 unknown argument: '%1'").arg(a));
            return std::nullopt;
        }
    }
    if (r.script.isEmpty()) {
        say(QStringLiteral("--run 需要腳本檔 needs a script"));
        return std::nullopt;
    }
    return r;
}

// The device a --port names: COMn as the window numbers the ports, else the path or URL.
std::string pathOf(const QString &port, QString &why)
{
    if (!port.startsWith(u"COM", Qt::CaseInsensitive))
        return port.toStdString();
    const std::vector<serial::PortInfo> ports = serial::scanPorts();
    const serial::PortInfo *p = serial::portForComText(ports, port.mid(3).toStdString());
    if (!p) {
        why = PortSettings::noSuchPortText(ports.size());
        return {};
    }
    return p->devicePath;
}

} // namespace

bool asked(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        if (std::strcmp(argv[i], "--run") == 0)
            return true;
    }
    return false;
}

int run(int argc, char *argv[])
{
    const std::optional<Request> request = parse(argc, argv);
    if (!request)
        return ScriptError;
    QFile file(request->script);
    if (!file.open(QIODevice::ReadOnly)) {
        say(QStringLiteral("無法讀取 cannot read %1: %2").arg(request->script, file.errorString()));
        return ScriptError;
    }
    const QByteArray source = file.readAll();
    ScriptEngine::Options options;
    options.args = request->args;
    if (!request->commands.isEmpty()) {
        QFile list(request->commands);
        const CommandFile::Loaded loaded = list.open(QIODevice::ReadOnly)
                ? CommandFile::load(list.readAll())
                : CommandFile::Loaded {{}, list.errorString()};
        if (!loaded.ok()) {
            say(QStringLiteral("%1: %2").arg(request->commands, loaded.error));
            return ScriptError;
        }
        options.commands = loaded.contents.commands;
    }

    QCoreApplication app(argc, argv);
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    QString why;
    const std::string path = pathOf(request->port, why);
    SerialPort::Opened opened;
    if (!path.empty())
        opened = SerialPort::open(path, request->params, [] { return interrupted == 0; });
    if (!opened.port) {
        if (why.isEmpty())
            why = QString::fromStdString(opened.reason);
        if (why.isEmpty())
            why = QString::fromLocal8Bit(std::strerror(opened.error));
        say(QStringLiteral("%1 埠,無法開啟 cannot open: %2").arg(request->port, why));
        return interrupted ? Interrupted : PortError;
    }
    SerialPort &port = *opened.port;

    TrafficStream traffic;
    std::unique_ptr<LiveLog> log;
    if (!request->log.isEmpty()) {
        QString error;
        const bool csv = request->log.endsWith(u".csv", Qt::CaseInsensitive);
        log = LiveLog::start(request->log, csv ? LiveLog::Format::Csv : LiveLog::Format::Log,
                             &error);
        if (!log) {
            say(error);
            return ScriptError;
        }
        traffic.subscribe(log.get(), TrafficStream::Role::Keeper);
    }
    ScriptHost host(port, options);
    QObject::connect(&host, &ScriptHost::printed, [](const QString &text) {
        std::fputs(text.toUtf8().constData(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    });
    bool timedOut = false;
    QElapsedTimer running;
    running.start();
    const ScriptEngine::Result result =
            host.run(traffic, source, QFileInfo(request->script).fileName(), [&] {
                if (request->timeoutS > 0 && running.elapsed() >= request->timeoutS * 1000LL)
                    timedOut = true;
                return timedOut || interrupted;
            });
    if (log) {
        traffic.unsubscribe(log.get());
        if (const QString error = log->stop(); !error.isEmpty())
            say(error);
        log.reset();
        LiveLog::finishAll(5000);
    }
    ModeState::BreakRequested = 0;

    if (timedOut) {
        say(QStringLiteral("逾時 timed out after %1 s").arg(request->timeoutS));
        return TimedOut;
    }
    if (interrupted && result.outcome == ScriptEngine::Outcome::Stopped)
        return Interrupted;
    switch (result.outcome) {
    case ScriptEngine::Outcome::Pass:
        say(QStringLiteral("通過 PASS %1").arg(result.message).trimmed());
        return Passed;
    case ScriptEngine::Outcome::Fail:
        say(QStringLiteral("失敗 FAIL %1").arg(result.message).trimmed());
        return Failed;
    case ScriptEngine::Outcome::Error:
    case ScriptEngine::Outcome::Stopped:
        break;
    }
    say(QStringLiteral("錯誤 ERROR %1").arg(result.message));
    return ScriptError;
}

} // namespace ScriptCommandLine
