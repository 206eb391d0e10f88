// SPDX-License-Identifier: MIT
// Keyboard events into a Wayland session through the desktop portal's RemoteDesktop interface
// (xdg-desktop-portal over the session bus), which types into native Wayland windows as well
// once the user has agreed. The desktop asks the user when the session starts.
#pragma once

#include "modes/KeyInjection.h"

#include <QDBusConnection>
#include <QString>

#include <memory>

class PortalLink;

class PortalInjector : public KeyInjector
{
public:
    enum class Outcome {
        Started,
        NoBus, // no session bus to reach a portal on
        NoPortal, // nothing on the bus answers as the portal
        NoRemoteDesktop, // a portal without RemoteDesktop, or without a keyboard
        Refused, // the user said no
        CalledOff, // the user called the wait off in TELVIX
        Failed, // the portal could not make or start the session
    };

    struct Result
    {
        Outcome outcome = Outcome::Failed;
        QString why; // for the user; empty for Started and CalledOff
        std::unique_ptr<PortalInjector> injector;
    };

    // Creates and starts a session with a keyboard, waiting for the user's consent meanwhile
    // with `wait` on the screen.
    static Result start(KeyInjection::ConsentWait *wait);

    // The route line of the mode's notice.
    static QString routeLine();

    ~PortalInjector() override;
    PortalInjector(const PortalInjector &) = delete;
    PortalInjector &operator=(const PortalInjector &) = delete;

    void inject(const KeyEvent &event) override;

    // Called by the link when the session or the portal goes away, or a call is refused.
    void lose(const QString &why);

private:
    PortalInjector(QDBusConnection bus, QString session);

    QDBusConnection m_bus;
    QString m_session;
    std::unique_ptr<PortalLink> m_link;
    bool m_lost = false;
};
