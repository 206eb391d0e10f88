// SPDX-License-Identifier: MIT
#include "PortalInjector.h"

#include "modes/DesktopKeys.h"
#include "traffic/Logging.h"

#include <QCoreApplication>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTimer>
#include <QVariantMap>

#include <atomic>

namespace {

const QString Service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString ObjectPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString RemoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString RequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString SessionInterface = QStringLiteral("org.freedesktop.portal.Session");

constexpr uint KeyboardDevice = 1;
// Key calls awaiting their answer at most. A bus counts the answers each client awaits and
// refuses calls past its limit (128 by dbus-daemon's default), which a flood of characters
// reaches at once; past this many the keys go without asking for an answer, still in order.
constexpr int MaxAwaitedKeyCalls = 32;
// The portal asks nobody for these: a portal that takes longer is not working.
constexpr int CallTimeoutMs = 5000;
constexpr int QuickResponseTimeoutMs = 10000;

// A consent given with version 2 lasts while TELVIX runs, and is kept in memory only.
QString &restoreToken()
{
    static QString token;
    return token;
}

QString newToken()
{
    static std::atomic<int> counter {0};
    return QStringLiteral("telvix%1_%2").arg(QCoreApplication::applicationPid()).arg(++counter);
}

// Where the portal puts the objects of our requests and sessions: under our unique bus name
// with its dot-separated parts joined by underscores.
QString objectPath(const QDBusConnection &bus, const QString &kind, const QString &token)
{
    QString sender = bus.baseService();
    if (sender.startsWith(u':'))
        sender.remove(0, 1);
    sender.replace(u'.', u'_');
    return ObjectPath + u'/' + kind + u'/' + sender + u'/' + token;
}

QDBusMessage portalCall(const QString &interface, const QString &method)
{
    return QDBusMessage::createMethodCall(Service, ObjectPath, interface, method);
}

// Runs the event loop until the call has its answer, without taking the user's input
// meanwhile: the window must not start another mode while this one is being set up.
QDBusMessage callAndWait(QDBusConnection &bus, const QDBusMessage &call)
{
    QDBusPendingCall pending = bus.asyncCall(call, CallTimeoutMs);
    if (!pending.isFinished()) {
        QDBusPendingCallWatcher watcher(pending);
        QEventLoop loop;
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return pending.reply();
}

bool isMissingService(const QString &errorName)
{
    return errorName == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
            || errorName == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
}

bool isMissingInterface(const QString &errorName)
{
    return errorName == QLatin1String("org.freedesktop.DBus.Error.UnknownInterface")
            || errorName == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod")
            || errorName == QLatin1String("org.freedesktop.DBus.Error.UnknownProperty")
            || errorName == QLatin1String("org.freedesktop.DBus.Error.InvalidArgs")
            || errorName == QLatin1String("org.freedesktop.DBus.Error.UnknownObject");
}

} // namespace

// One request of the portal: its Response signal, waited for in a nested event loop.
class PortalRequest : public QObject
{
    Q_OBJECT

public:
    enum class State { Waiting, Answered, CalledOff, TimedOut };

    PortalRequest(QDBusConnection bus, const QString &path) : m_bus(std::move(bus))
    {
        listen(path);
    }
    ~PortalRequest() override { stopListening(); }

    // The portal may name another object than the one we predicted (old portals did).
    void follow(const QString &path)
    {
        if (path == m_path)
            return;
        stopListening();
        listen(path);
    }

    // `timeoutMs` 0 waits as long as the user takes; `wait` then lets the user call it off.
    State wait(int timeoutMs, KeyInjection::ConsentWait *consent)
    {
        if (m_state != State::Waiting)
            return m_state;
        QEventLoop loop;
        m_loop = &loop;
        QTimer timer;
        if (timeoutMs > 0) {
            timer.setSingleShot(true);
            connect(&timer, &QTimer::timeout, &loop, [this, &loop] {
                m_state = State::TimedOut;
                loop.quit();
            });
            timer.start(timeoutMs);
        }
        if (consent) {
            consent->begin([this, &loop] {
                m_state = State::CalledOff;
                loop.quit();
            });
            loop.exec();
            consent->end();
        } else {
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        }
        m_loop = nullptr;
        if (m_state == State::CalledOff || m_state == State::TimedOut) {
            // Tells the portal to take its dialog down; its answer no longer matters.
            m_bus.call(QDBusMessage::createMethodCall(Service, m_path, RequestInterface,
                                                      QStringLiteral("Close")),
                       QDBus::NoBlock);
        }
        return m_state;
    }

    uint response() const { return m_response; }
    const QVariantMap &results() const { return m_results; }

public slots:
    void onResponse(uint response, const QVariantMap &results)
    {
        if (m_state != State::Waiting)
            return;
        m_state = State::Answered;
        m_response = response;
        m_results = results;
        if (m_loop)
            m_loop->quit();
    }

private:
    void listen(const QString &path)
    {
        m_path = path;
        // Any sender: the portal answers from its unique name, and the path is ours alone.
        m_bus.connect(QString(), m_path, RequestInterface, QStringLiteral("Response"), this,
                      SLOT(onResponse(uint, QVariantMap)));
    }
    void stopListening()
    {
        m_bus.disconnect(QString(), m_path, RequestInterface, QStringLiteral("Response"), this,
                         SLOT(onResponse(uint, QVariantMap)));
    }

    QDBusConnection m_bus;
    QString m_path;
    State m_state = State::Waiting;
    uint m_response = 0;
    QVariantMap m_results;
    QEventLoop *m_loop = nullptr;
};

// What the running session hears from the portal.
class PortalLink : public QObject
{
    Q_OBJECT

public:
    PortalLink(PortalInjector &owner, QDBusConnection bus, const QString &session)
        : m_owner(owner), m_bus(std::move(bus)), m_session(session),
          m_watcher(Service, m_bus, QDBusServiceWatcher::WatchForUnregistration)
    {
        connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this,
                [this] { m_owner.lose(QStringLiteral("桌面入口 (xdg-desktop-portal) 已經結束")); });
        m_bus.connect(QString(), m_session, SessionInterface, QStringLiteral("Closed"), this,
                      SLOT(sessionClosed()));
    }
    ~PortalLink() override
    {
        m_bus.disconnect(QString(), m_session, SessionInterface, QStringLiteral("Closed"), this,
                         SLOT(sessionClosed()));
    }

public slots:
    void sessionClosed() { m_owner.lose(QStringLiteral("桌面結束了遠端控制工作階段")); }
    void callDone() { --awaited; }
    void callFailed(const QDBusError &error)
    {
        --awaited;
        m_owner.lose(QStringLiteral("桌面入口拒絕了鍵盤事件 (%1)").arg(error.message()));
    }

public:
    int awaited = 0;

private:
    PortalInjector &m_owner;
    QDBusConnection m_bus;
    QString m_session;
    QDBusServiceWatcher m_watcher;
};

PortalInjector::PortalInjector(QDBusConnection bus, QString session)
    : m_bus(std::move(bus)), m_session(std::move(session))
{
    m_link = std::make_unique<PortalLink>(*this, m_bus, m_session);
}

PortalInjector::~PortalInjector()
{
    m_link.reset();
    if (!m_lost) {
        m_bus.call(QDBusMessage::createMethodCall(Service, m_session, SessionInterface,
                                                  QStringLiteral("Close")),
                   QDBus::NoBlock);
    }
}

QString PortalInjector::routeLine()
{
    return QStringLiteral(" 6,鍵盤事件經由桌面入口 (XDG Desktop Portal 遠端桌面) 送出");
}

PortalInjector::Result PortalInjector::start(KeyInjection::ConsentWait *wait)
{
    Result result;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        result.outcome = Outcome::NoBus;
        result.why = QStringLiteral("沒有 D-Bus 工作階段匯流排,找不到桌面入口");
        return result;
    }
    const auto failed = [&result](Outcome outcome, const QString &why) {
        result.outcome = outcome;
        result.why = why;
        qCDebug(lcPortal) << "no portal session:" << why;
        return std::move(result);
    };

    // The interface's version and devices tell at once whether this desktop can do it at all.
    QDBusMessage get =
            portalCall(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    get << RemoteDesktop;
    const QDBusMessage properties = callAndWait(bus, get);
    if (properties.type() == QDBusMessage::ErrorMessage) {
        const QString name = properties.errorName();
        qCDebug(lcPortal) << "GetAll answered" << name << properties.errorMessage();
        if (isMissingService(name)) {
            return failed(Outcome::NoPortal,
                          QStringLiteral("工作階段匯流排上沒有桌面入口 (xdg-desktop-portal)"));
        }
        if (isMissingInterface(name)) {
            return failed(Outcome::NoRemoteDesktop,
                          QStringLiteral("桌面入口沒有遠端桌面 (RemoteDesktop) 介面"));
        }
        return failed(Outcome::Failed,
                      QStringLiteral("桌面入口沒有回應 (%1)").arg(properties.errorMessage()));
    }
    QVariantMap values;
    if (!properties.arguments().isEmpty())
        values = qdbus_cast<QVariantMap>(properties.arguments().constFirst());
    if (values.isEmpty()) {
        return failed(Outcome::NoRemoteDesktop,
                      QStringLiteral("桌面入口沒有遠端桌面 (RemoteDesktop) 介面"));
    }
    const uint version = values.value(QStringLiteral("version")).toUInt();
    const uint devices = values.value(QStringLiteral("AvailableDeviceTypes")).toUInt();
    qCDebug(lcPortal) << "RemoteDesktop version" << version << "device types" << devices;
    if (!(devices & KeyboardDevice)) {
        return failed(Outcome::NoRemoteDesktop, QStringLiteral("桌面入口的遠端桌面不提供鍵盤"));
    }

    // Each step answers through a Request object whose path we name before asking, so that
    // no answer can come before we listen for it.
    const auto ask = [&](QDBusMessage call, QVariantMap options, int timeoutMs,
                         KeyInjection::ConsentWait *consent, PortalRequest::State &state,
                         QString &error) -> std::unique_ptr<PortalRequest> {
        const QString token = newToken();
        options.insert(QStringLiteral("handle_token"), token);
        auto request = std::make_unique<PortalRequest>(
                bus, objectPath(bus, QStringLiteral("request"), token));
        call << options;
        const QDBusMessage reply = callAndWait(bus, call);
        if (reply.type() == QDBusMessage::ErrorMessage) {
            qCDebug(lcPortal) << call.member() << "answered" << reply.errorName()
                              << reply.errorMessage();
            error = reply.errorMessage();
            state = PortalRequest::State::TimedOut;
            return request;
        }
        if (!reply.arguments().isEmpty())
            request->follow(qdbus_cast<QDBusObjectPath>(reply.arguments().constFirst()).path());
        state = request->wait(timeoutMs, consent);
        static const char *const States[] = {"waiting", "answered", "called off", "timed out"};
        qCDebug(lcPortal) << call.member() << States[int(state)] << "response"
                          << request->response() << "results" << request->results().keys();
        return request;
    };
    PortalRequest::State state;
    QString error;

    QVariantMap sessionOptions;
    sessionOptions.insert(QStringLiteral("session_handle_token"), newToken());
    auto created = ask(portalCall(RemoteDesktop, QStringLiteral("CreateSession")), sessionOptions,
                       QuickResponseTimeoutMs, nullptr, state, error);
    if (state != PortalRequest::State::Answered || created->response() != 0) {
        return failed(Outcome::Failed,
                      QStringLiteral("桌面入口無法建立遠端桌面工作階段 (%1)")
                              .arg(error.isEmpty() ? QString::number(created->response()) : error));
    }
    const QVariant handle = created->results().value(QStringLiteral("session_handle"));
    const QString session = handle.metaType() == QMetaType::fromType<QDBusObjectPath>()
            ? handle.value<QDBusObjectPath>().path()
            : handle.toString();
    if (session.isEmpty())
        return failed(Outcome::Failed, QStringLiteral("桌面入口沒有給出工作階段"));
    // From here on a session exists: whatever ends the start closes it again.
    std::unique_ptr<PortalInjector> injector(new PortalInjector(bus, session));

    QDBusMessage select = portalCall(RemoteDesktop, QStringLiteral("SelectDevices"));
    select << QVariant::fromValue(QDBusObjectPath(session));
    QVariantMap selectOptions;
    selectOptions.insert(QStringLiteral("types"), KeyboardDevice);
    if (version >= 2) {
        selectOptions.insert(QStringLiteral("persist_mode"), 1u);
        if (!restoreToken().isEmpty())
            selectOptions.insert(QStringLiteral("restore_token"), restoreToken());
    }
    auto selected = ask(select, selectOptions, QuickResponseTimeoutMs, nullptr, state, error);
    if (state != PortalRequest::State::Answered || selected->response() != 0) {
        return failed(
                Outcome::Failed,
                QStringLiteral("桌面入口不接受鍵盤裝置的要求 (%1)")
                        .arg(error.isEmpty() ? QString::number(selected->response()) : error));
    }

    QDBusMessage startCall = portalCall(RemoteDesktop, QStringLiteral("Start"));
    // No parent window: a Wayland window has no name another program can use without the
    // foreign-toplevel protocols, and an empty one is allowed.
    startCall << QVariant::fromValue(QDBusObjectPath(session)) << QString();
    auto started = ask(startCall, {}, 0, wait, state, error);
    if (state == PortalRequest::State::CalledOff) {
        result.outcome = Outcome::CalledOff;
        return result;
    }
    if (state != PortalRequest::State::Answered) {
        return failed(Outcome::Failed,
                      QStringLiteral("桌面入口無法啟動遠端桌面工作階段 (%1)").arg(error));
    }
    if (started->response() == 1) {
        return failed(Outcome::Refused, QStringLiteral("桌面沒有允許 TELVIX 控制鍵盤"));
    }
    if (started->response() != 0) {
        return failed(
                Outcome::Failed,
                QStringLiteral("桌面入口無法啟動遠端桌面工作階段 (%1)").arg(started->response()));
    }
    if (!(started->results().value(QStringLiteral("devices")).toUInt() & KeyboardDevice)) {
        return failed(Outcome::Refused, QStringLiteral("桌面允許了遠端控制,但不包括鍵盤"));
    }
    if (version >= 2)
        restoreToken() = started->results().value(QStringLiteral("restore_token")).toString();

    result.outcome = Outcome::Started;
    result.injector = std::move(injector);
    return result;
}

void PortalInjector::inject(const KeyEvent &event)
{
    if (m_lost)
        return;
    const DesktopKeys::DesktopKey key = DesktopKeys::desktopKeyFor(event);
    if (key.kind == DesktopKeys::DesktopKey::Kind::None)
        return;
    QDBusMessage call = portalCall(RemoteDesktop,
                                   key.kind == DesktopKeys::DesktopKey::Kind::Keycode
                                           ? QStringLiteral("NotifyKeyboardKeycode")
                                           : QStringLiteral("NotifyKeyboardKeysym"));
    call << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariantMap() << int(key.code)
         << uint(event.isRelease() ? 0 : 1);
    // Not waited for: the bus keeps the calls in order, and a refusal is heard as it comes.
    if (m_link->awaited < MaxAwaitedKeyCalls) {
        ++m_link->awaited;
        m_bus.callWithCallback(call, m_link.get(), SLOT(callDone()), SLOT(callFailed(QDBusError)));
    } else {
        m_bus.send(call);
    }
}

void PortalInjector::lose(const QString &why)
{
    if (m_lost)
        return;
    m_lost = true;
    qCDebug(lcPortal) << "portal session lost:" << why;
    reportLost(why);
}

#include "PortalInjector.moc"
