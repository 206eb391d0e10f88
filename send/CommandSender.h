// SPDX-License-Identifier: MIT
// What the command list and the auto-replies put on the line while a reading mode runs: a whole
// command at a time, as few writes as the driver allows, never two commands (or a command and a
// terminal message) mixed byte by byte. A line that holds a byte back lets events through
// meanwhile, so the window never hangs on it; Break gives the command up. What went out joins
// the port's queue as one Sent record with the time of its first byte.
#pragma once

#include <QByteArray>
#include <QString>

class SerialPort;

class CommandSender
{
public:
    enum class Result {
        Sent,
        NoPort, // no reading mode runs
        Busy, // another send is going out; nothing was written
        Stopped, // Break, part-way or before the first byte
        Lost, // the line stopped taking bytes (the device is gone)
    };

    // The port of the reading mode, or null when it ends.
    void attach(SerialPort *port) { m_port = port; }
    SerialPort *port() const { return m_port; }

    Result send(const QByteArray &bytes);
    bool isSending() const { return m_sending; }

    // Written `sent` of `total` bytes when the result came: what the user is told, or empty.
    static QString message(Result result, qsizetype sent, qsizetype total);
    static constexpr const char *NoPortText = "先啟動接收模式或通訊模式,才能送出命令";
    qsizetype lastSent() const { return m_lastSent; }

private:
    SerialPort *m_port = nullptr;
    bool m_sending = false;
    qsizetype m_lastSent = 0;
};
