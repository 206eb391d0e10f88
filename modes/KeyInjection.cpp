// SPDX-License-Identifier: MIT
#include "KeyInjection.h"

#include "modes/PortalInjector.h"
#include "modes/XTestInjector.h"
#include "traffic/Logging.h"

#include <cstdlib>
#include <cstring>

namespace KeyInjection {

namespace {

Factory &factory()
{
    static Factory f;
    return f;
}

bool envSet(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value;
}

QString cannotStart(const QStringList &reasons, const QString &todo)
{
    return QStringLiteral("無法啟動 R2K 模式,無法送出鍵盤事件:\n") + reasons.join(u'\n') + u'\n'
            + todo;
}

const QString PortalTodo =
        QStringLiteral("請安裝並執行桌面的入口服務 (GNOME: xdg-desktop-portal-gnome,KDE: "
                       "xdg-desktop-portal-kde),或改在 X11 工作階段中使用 R2K 模式。");

Opened fromPortal(PortalInjector::Result portal)
{
    Opened opened;
    opened.injector = std::move(portal.injector);
    opened.route = PortalInjector::routeLine();
    return opened;
}

} // namespace

void setFactory(Factory f) { factory() = std::move(f); }

Opened open(ConsentWait *wait) { return factory() ? factory()() : openDesktop(wait); }

bool isWaylandSession()
{
    const char *type = std::getenv("XDG_SESSION_TYPE");
    return envSet("WAYLAND_DISPLAY") || (type && std::strcmp(type, "wayland") == 0);
}

Opened openDesktop(ConsentWait *wait)
{
    if (!isWaylandSession()) {
        Opened x = XTestInjector::open();
        qCDebug(lcModes) << "no Wayland session: key events through XTest"
                         << (x.injector ? QString() : x.problem);
        if (!x.injector) {
            x.problem = cannotStart({QStringLiteral("X11:") + x.problem},
                                    QStringLiteral("R2K 模式需要有 XTEST 擴充功能的 X11 "
                                                   "桌面,或有桌面入口 (xdg-desktop-portal) 的 "
                                                   "Wayland 桌面。"));
        }
        return x;
    }

    // Native Wayland windows are reached only through the portal; XTest would type into the
    // XWayland ones alone.
    PortalInjector::Result portal = PortalInjector::start(wait);
    switch (portal.outcome) {
    case PortalInjector::Outcome::Started:
        qCDebug(lcModes) << "Wayland session: key events through the desktop portal";
        return fromPortal(std::move(portal));
    case PortalInjector::Outcome::CalledOff:
        return {};
    case PortalInjector::Outcome::Refused: {
        Opened refused;
        refused.problem = QStringLiteral("無法啟動 R2K 模式:%1。要使用 R2K 模式,請再啟動一次,"
                                         "並在桌面詢問時允許 TELVIX 控制鍵盤 (遠端控制)。")
                                  .arg(portal.why);
        return refused;
    }
    case PortalInjector::Outcome::NoBus:
    case PortalInjector::Outcome::NoPortal:
    case PortalInjector::Outcome::NoRemoteDesktop:
    case PortalInjector::Outcome::Failed:
        break;
    }
    Opened x = XTestInjector::open();
    qCDebug(lcModes) << "Wayland session, no portal session (" << portal.why
                     << "): key events through XTest" << (x.injector ? QString() : x.problem);
    if (!x.injector) {
        x.problem = cannotStart({QStringLiteral("桌面入口:") + portal.why,
                                 QStringLiteral("X11 (XWayland):") + x.problem},
                                PortalTodo);
        return x;
    }
    const QString fallback =
            QStringLiteral("注意:%1,改用 XTest 送出鍵盤事件:這是 Wayland 工作階段,只有 X11 "
                           "(XWayland) 程式收得到 R2K 模式的鍵盤事件。")
                    .arg(portal.why);
    x.notice = x.notice.isEmpty() ? fallback : fallback + u'\n' + x.notice;
    return x;
}

} // namespace KeyInjection
