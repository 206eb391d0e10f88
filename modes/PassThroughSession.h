// SPDX-License-Identifier: MIT
// Pass-through mode: TELVIX between a program and its device. The real port (local or network)
// opens as every mode's does; a pseudo-terminal stands in for it under a name of the user's
// choosing, and whatever the program writes there goes to the device, whatever the device
// sends goes to the program, every byte unchanged, both directions shown and kept as a
// conversation. The speed, stop bits and flow control the program sets reach the real port as
// it sets them, each change an event in the capture. A pseudo-terminal carries no modem lines
// and no break, and Linux's turns every setting into 8 data bits without parity: those stay
// the port dialog's.
//
// The device's bytes go to the program from the port's reader at once; the program's reach
// the device through the mode's thread, which owns the port's writing, in the order they
// came. The program may close and open the name again as often as it likes; when the device
// goes away its side is hung up, and the same name works again once the device is back.
#pragma once

#include "serial/PassThroughPty.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <deque>
#include <memory>
#include <string>

class ModeHost;
class SerialPort;

struct PassThroughRequest
{
    static constexpr const char *DefaultName = "/tmp/ttyTELVIX0";
    std::string name = DefaultName;
    QString toDevice = QStringLiteral("程式 → 設備");
    QString toProgram = QStringLiteral("設備 → 程式");
};

class PassThroughSession : public QObject
{
    Q_OBJECT

public:
    explicit PassThroughSession(ModeHost &host) : m_host(host) { }
    // Runs to Break. A name that is taken, or a port that fails, ends it before anything runs:
    // the user has been told why.
    void run(const PassThroughRequest &request);

    // What a pseudo-terminal cannot carry, for the status bar and the README's words.
    static QString limitsText();
    // "19200 8N1".
    static QString paramsText(const serial::LineParams &params);

private:
    struct Chunk
    {
        QByteArray bytes;
        int64_t timeUs;
    };
    // On the mode's thread: what the program wrote, to the device, in order.
    void toDevice(Chunk chunk);
    void programParams(const serial::LineParams &params, int64_t timeUs);

    ModeHost &m_host;
    SerialPort *m_port = nullptr;
    serial::PassThroughPty *m_pty = nullptr;
    std::deque<Chunk> m_pending;
    bool m_writing = false;
};
