// SPDX-License-Identifier: MIT
// A ser2net of the test's own, serving a pty slave whose master the test holds, so network
// serial ports are tried against a real server rather than one of ours.
#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

class QProcess;
class QTemporaryDir;

// Serves one serial device on 127.0.0.1, once as RFC 2217 (telnet with the COM port option)
// and once as raw TCP. Both entries name the same device, which ser2net opens only while a
// client is connected: one client at a time across both, a second one is turned away.
class Ser2NetServer
{
public:
    struct Options
    {
        bool rfc2217 = true;
        bool tcp = true;
        QString defaults = QStringLiteral("9600n81");
        // A newcomer on a busy entry throws the connected client off instead of being refused.
        bool kickOldUser = false;
    };

    Ser2NetServer();
    ~Ser2NetServer();
    Ser2NetServer(const Ser2NetServer &) = delete;
    Ser2NetServer &operator=(const Ser2NetServer &) = delete;

    // Starts ser2net on free ports and waits until it listens on them; empty on success, else
    // why not (ser2net missing says so, for a QSKIP).
    QString start(const QString &devicePath, const Options &options);
    QString start(const QString &devicePath) { return start(devicePath, Options()); }
    // SIGTERM, and waits for the end: every connection drops.
    void stop();
    bool running() const;

    quint16 rfc2217Port() const { return m_rfc2217Port; }
    quint16 tcpPort() const { return m_tcpPort; }
    QString rfc2217Url() const; // "rfc2217://127.0.0.1:PORT"
    QString tcpUrl() const; // "tcp://127.0.0.1:PORT"

    // Whether ser2net holds the device open now. It lets go a moment after its client left;
    // until then the other entry turns clients away ("Port's device already in use").
    bool deviceOpen() const;
    // Waits until ser2net has let go of the device; false if it still holds it after `timeoutMs`.
    bool waitDeviceReleased(int timeoutMs = 5000) const;

    // What ser2net wrote to stdout and stderr so far, for a failure message.
    QString log() const;

    static bool available();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    QString m_device;
    quint16 m_rfc2217Port = 0;
    quint16 m_tcpPort = 0;
};

// A TCP port that answers no connection: its listener's accept queue is already full, and
// Linux drops SYNs to a full queue, so a connect to it hangs in SYN_SENT until its time-out.
class SilentListener
{
public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener &) = delete;
    SilentListener &operator=(const SilentListener &) = delete;

    bool isOpen() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    QString url(const QString &scheme) const; // "SCHEME://127.0.0.1:PORT"

private:
    int m_listener = -1;
    int m_filler = -1;
    quint16 m_port = 0;
};

// A port on 127.0.0.1 where nothing listens, so a connect is refused: a free port, bound and
// let go again. Another process may take it meanwhile; on a test machine that is rare enough.
quint16 refusedPort();
