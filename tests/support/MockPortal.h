// SPDX-License-Identifier: MIT
// A desktop portal of the test's own: a private D-Bus bus, and telvix-mock-portal serving the
// RemoteDesktop interface on it, with what the portal was sent read back as keys and text.
#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantList>

// A D-Bus bus of the test's own: dbus-daemon listening on a unix socket in a temporary dir,
// with no service directories, so that nothing is ever activated: a missing portal stays
// missing.
class PrivateBus
{
public:
    PrivateBus(); // the address stays empty when the daemon cannot be started
    ~PrivateBus();
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    QString address() const { return m_address; }
    QString error() const { return m_error; }
    // Must happen before the process first uses QDBusConnection::sessionBus().
    void becomeSessionBus() const;

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QString m_error;
};

struct MockPortalOptions
{
    QString answer = QStringLiteral("grant"); // grant, refuse, fail or never
    int answerDelayMs = 0;
    int version = 1;
    uint devices = 7;
    uint grantedDevices = 1;
    bool remoteDesktop = true;
};

class MockPortal
{
public:
    explicit MockPortal(const QString &busAddress);
    ~MockPortal();
    MockPortal(const MockPortal &) = delete;
    MockPortal &operator=(const MockPortal &) = delete;

    void setProgram(const QString &path) { m_program = path; }
    // Waits (at most 5 s) until the portal owns its name: the reason on failure, empty on success.
    QString start(const MockPortalOptions &options = {});
    // Ends the portal and waits until its name is gone from the bus.
    void stop();
    bool running() const;

    // Each "NS WHAT ARGS", NS on the monotonic clock.
    QStringList events() const;
    void clearEvents();
    void setAnswer(const QString &answer); // for the Starts to come
    void closeSessions(); // as when the desktop ends them

    struct Key
    {
        bool press;
        bool keysym;
        int code;
        qint64 ns;
    };
    // The keycode and keysym calls the portal accepted, in order.
    QList<Key> keys() const;
    // What those keys type on a US layout.
    QByteArray typedText() const;
    // How many presses typed something.
    int typedCount() const;
    // When the portal took each of those presses (CLOCK_MONOTONIC ns, std::chrono::steady_clock
    // of every process here).
    QList<qint64> typedTimes() const;
    // Keys pressed and never released, as "keycode 42" or "keysym 65505".
    QStringList keysDown() const;

private:
    QDBusMessage control(const QString &method, const QVariantList &arguments = {}) const;

    QString m_busAddress;
    QString m_connectionName;
    QDBusConnection m_bus;
    QString m_program;
    mutable QProcess m_process;
};
