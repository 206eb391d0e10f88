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
#include "traffic/Traffic.h"

#include <QObject>

#include <atomic>
#include <functional>

class SerialPort;
class TrafficStream;

class ScriptHost : public QObject, public ScriptLine, public TrafficConsumer
{
    Q_OBJECT

public:
    ScriptHost(SerialPort &port, ScriptEngine::Options options);
    ~ScriptHost() override;

    // Runs `source` with the port's read loop on the calling thread until the script ends or
    // Break is asked for (then the script is stopped); `stopWhen` is asked every few ms and
    // stops it too. What the script's last calls left in the port's queue reaches the keepers
    // of `traffic`, and its output is printed, before this returns.
    ScriptEngine::Result run(TrafficStream &traffic, const QByteArray &source, const QString &name,
                             const std::function<bool()> &stopWhen = {});
    void stop();

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
    ScriptEngine m_engine;
    std::atomic<bool> m_stopping {false};
};
