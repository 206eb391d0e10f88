// SPDX-License-Identifier: MIT
// A script on the port of a running mode: the window's script mode and `telvix --run` both run
// theirs through this. The script's thread asks; the mode's thread (the one the port, its
// queue and the traffic stream belong to) does it: the bytes are written there and join the
// port's queue as Sent records, the line's lines and parameters are set there, and what the
// stream receives is handed to the script. A call the mode's thread has not answered when the
// script is stopped ends with the stop, so neither thread ever waits for the other at the end.
#pragma once

#include "script/ScriptEngine.h"
#include "script/ScriptLine.h"
#include "serial/SerialLine.h"
#include "traffic/Traffic.h"

#include <QObject>

#include <atomic>
#include <functional>

class SerialPort;

class ScriptHost : public QObject, public ScriptLine, public TrafficConsumer
{
    Q_OBJECT

public:
    // `params` are those the port was opened with; port.set changes them from there.
    ScriptHost(SerialPort &port, const serial::LineParams &params, ScriptEngine::Options options);
    ~ScriptHost() override;

    void start(const QByteArray &source, const QString &name) { m_engine.start(source, name); }
    void stop();
    bool isFinished() const { return m_engine.isFinished(); }
    ScriptEngine::Result wait() { return m_engine.wait(); }

    // TrafficConsumer: the received bytes, to the script.
    void take(const TrafficRecord &record) override;

    // ScriptLine, on the script's thread
    QString send(const QByteArray &bytes) override;
    QString setParams(const ScriptParams &params) override;
    QString setOutput(Output line, bool on) override;
    QString input(Input line, bool &on) override;
    QString sendBreak(int ms) override;
    void log(const QString &text) override;
    void print(const QString &text) override;

signals:
    // A line of the script's output, on the mode's thread.
    void printed(const QString &text);

private:
    // Runs `work` on the mode's thread and gives its answer, or the stop's.
    QString onModeThread(std::function<QString()> work);

    SerialPort &m_port;
    serial::LineParams m_params;
    ScriptEngine m_engine;
    std::atomic<bool> m_stopping {false};
};
