// SPDX-License-Identifier: MIT
// The desktop's side of the XDG desktop portal's RemoteDesktop interface, on a bus of the test's
// own. It answers the way a desktop does and keeps a timed record of everything it was asked, so
// a test can tell what the program sent and when; the test reads and steers it through
// org.telvix.MockPortal.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QHash>
#include <QSocketNotifier>
#include <QTimer>
#include <QUuid>
#include <QVariantMap>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString controlPath = QStringLiteral("/org/telvix/MockPortal");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");

enum class Answer { Grant, Refuse, Fail, Never };

std::optional<Answer> parseAnswer(const QString &text)
{
    if (text == QLatin1String("grant"))
        return Answer::Grant;
    if (text == QLatin1String("refuse"))
        return Answer::Refuse;
    if (text == QLatin1String("fail"))
        return Answer::Fail;
    if (text == QLatin1String("never"))
        return Answer::Never;
    return std::nullopt;
}

struct Options
{
    Answer answer = Answer::Grant;
    int answerDelayMs = 0;
    uint version = 1;
    uint devices = 7;
    uint grantedDevices = 1;
    bool remoteDesktop = true;
};

// The time of the monotonic clock, which the test process reads too.
qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

// Each client's objects live under its unique name, as the portal writes it in paths.
QString senderSegment(const QString &uniqueName)
{
    QString segment = uniqueName.startsWith(QLatin1Char(':')) ? uniqueName.mid(1) : uniqueName;
    return segment.replace(QLatin1Char('.'), QLatin1Char('_'));
}

QString optionalNumber(const QVariantMap &options, const QString &key)
{
    return options.contains(key) ? QString::number(options.value(key).toUInt()) : QString();
}

} // namespace

class Portal;

class Request : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
public:
    Request(Portal *portal, const QString &path) : m_portal(portal), m_path(path) { }
    QString path() const { return m_path; }

public slots:
    void Close();

private:
    Portal *m_portal;
    QString m_path;
};

class Session : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Session")
public:
    Session(Portal *portal, const QString &path, const QString &owner)
        : m_portal(portal), m_path(path), m_owner(owner)
    { }
    QString path() const { return m_path; }
    QString owner() const { return m_owner; }

    uint persistMode = 0;
    bool started = false;
    uint grantedDevices = 0;

public slots:
    void Close();

signals:
    // Sent by hand from the session's path; declared so that introspection shows it.
    void Closed(const QVariantMap &details);

private:
    Portal *m_portal;
    QString m_path;
    QString m_owner;
};

class Portal : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.RemoteDesktop")
    Q_PROPERTY(uint version READ version)
    Q_PROPERTY(uint AvailableDeviceTypes READ availableDeviceTypes)
public:
    Portal(const QDBusConnection &bus, const Options &options)
        : m_bus(bus), m_options(options), m_answer(options.answer)
    { }

    uint version() const { return m_options.version; }
    uint availableDeviceTypes() const { return m_options.devices; }

    void record(qint64 ns, const QString &what) { m_events << QString::number(ns) + u' ' + what; }
    QStringList events() const { return m_events; }
    void clearEvents() { m_events.clear(); }
    void setAnswer(Answer answer) { m_answer = answer; }

    void requestClosed(Request *request)
    {
        record(nowNs(), QStringLiteral("request-close"));
        forget(request);
    }

    void sessionClosedByClient(Session *session)
    {
        record(nowNs(), QStringLiteral("close"));
        forget(session);
    }

    void closeAllSessions()
    {
        const auto sessions = m_sessions.values();
        for (Session *session : sessions) {
            QDBusMessage closed =
                    QDBusMessage::createSignal(session->path(), sessionInterface, "Closed");
            closed << QVariantMap();
            m_bus.send(closed);
            forget(session);
        }
    }

public slots:
    QDBusObjectPath CreateSession(const QVariantMap &options, const QDBusMessage &message)
    {
        const qint64 ns = nowNs();
        const QString sender = senderSegment(message.service());
        const QString sessionPath = portalPath + QStringLiteral("/session/") + sender + u'/'
                + token(options, QStringLiteral("session_handle_token"));
        Request *request = newRequest(options, message);
        if (!request)
            return {};
        if (m_sessions.contains(sessionPath)) {
            forget(request);
            refuse(message, QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                   QStringLiteral("session token in use"));
            return {};
        }
        record(ns, QStringLiteral("create"));
        const QString owner = message.service();
        QTimer::singleShot(0, request, [this, request, sessionPath, owner] {
            auto *session = new Session(this, sessionPath, owner);
            m_bus.registerObject(sessionPath, session,
                                 QDBusConnection::ExportAllSlots
                                         | QDBusConnection::ExportAllSignals);
            m_sessions.insert(sessionPath, session);
            respond(request, 0, {{QStringLiteral("session_handle"), sessionPath}});
        });
        return QDBusObjectPath(request->path());
    }

    QDBusObjectPath SelectDevices(const QDBusObjectPath &sessionHandle, const QVariantMap &options,
                                  const QDBusMessage &message)
    {
        const qint64 ns = nowNs();
        Session *session = ownSession(sessionHandle, message);
        if (!session)
            return {};
        Request *request = newRequest(options, message);
        if (!request)
            return {};
        session->persistMode = options.value(QStringLiteral("persist_mode")).toUInt();
        record(ns,
               QStringLiteral("select types=%1 persist=%2 restore=%3")
                       .arg(optionalNumber(options, QStringLiteral("types")),
                            optionalNumber(options, QStringLiteral("persist_mode")),
                            options.value(QStringLiteral("restore_token")).toString()));
        QTimer::singleShot(0, request, [this, request] { respond(request, 0, {}); });
        return QDBusObjectPath(request->path());
    }

    QDBusObjectPath Start(const QDBusObjectPath &sessionHandle, const QString &parentWindow,
                          const QVariantMap &options, const QDBusMessage &message)
    {
        const qint64 ns = nowNs();
        Session *session = ownSession(sessionHandle, message);
        if (!session)
            return {};
        Request *request = newRequest(options, message);
        if (!request)
            return {};
        record(ns, QStringLiteral("start parent=") + parentWindow);
        const Answer answer = m_answer;
        if (answer == Answer::Never)
            return QDBusObjectPath(request->path());
        const QString sessionPath = session->path();
        QTimer::singleShot(m_options.answerDelayMs, request, [this, request, sessionPath, answer] {
            // The user may take long enough over the dialog for the session to end meanwhile.
            Session *session = m_sessions.value(sessionPath);
            if (!session || answer == Answer::Fail) {
                respond(request, 2, {});
            } else if (answer == Answer::Refuse) {
                respond(request, 1, {});
            } else {
                session->started = true;
                session->grantedDevices = m_options.grantedDevices;
                QVariantMap results {{QStringLiteral("devices"), m_options.grantedDevices}};
                if (m_options.version >= 2
                    && (session->persistMode == 1 || session->persistMode == 2))
                    results.insert(QStringLiteral("restore_token"),
                                   QUuid::createUuid().toString(QUuid::WithoutBraces));
                respond(request, 0, results);
            }
        });
        return QDBusObjectPath(request->path());
    }

    void NotifyKeyboardKeycode(const QDBusObjectPath &sessionHandle, const QVariantMap &options,
                               int keycode, uint state, const QDBusMessage &message)
    {
        Q_UNUSED(options);
        notify(QStringLiteral("keycode"), sessionHandle, keycode, state, message);
    }

    void NotifyKeyboardKeysym(const QDBusObjectPath &sessionHandle, const QVariantMap &options,
                              int keysym, uint state, const QDBusMessage &message)
    {
        Q_UNUSED(options);
        notify(QStringLiteral("keysym"), sessionHandle, keysym, state, message);
    }

private:
    QString token(const QVariantMap &options, const QString &key)
    {
        const QString given = options.value(key).toString();
        return given.isEmpty() ? QStringLiteral("telvix%1").arg(++m_madeUpTokens) : given;
    }

    void refuse(const QDBusMessage &message, const QString &name, const QString &text)
    {
        message.setDelayedReply(true);
        m_bus.send(message.createErrorReply(name, text));
    }

    Request *newRequest(const QVariantMap &options, const QDBusMessage &message)
    {
        const QString path = portalPath + QStringLiteral("/request/")
                + senderSegment(message.service()) + u'/'
                + token(options, QStringLiteral("handle_token"));
        auto *request = new Request(this, path);
        if (!m_bus.registerObject(path, request, QDBusConnection::ExportAllSlots)) {
            delete request;
            refuse(message, QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                   QStringLiteral("request token in use"));
            return nullptr;
        }
        return request;
    }

    Session *ownSession(const QDBusObjectPath &handle, const QDBusMessage &message)
    {
        Session *session = m_sessions.value(handle.path());
        if (!session || session->owner() != message.service()) {
            refuse(message, QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                   QStringLiteral("invalid session"));
            return nullptr;
        }
        return session;
    }

    void notify(const QString &kind, const QDBusObjectPath &handle, int code, uint state,
                const QDBusMessage &message)
    {
        const qint64 ns = nowNs();
        const QString what = kind + u' ' + QString::number(code) + u' ' + QString::number(state);
        Session *session = m_sessions.value(handle.path());
        if (!session || session->owner() != message.service() || !session->started
            || !(session->grantedDevices & 1)) {
            record(ns, QStringLiteral("rejected ") + what);
            refuse(message, QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                   QStringLiteral("keyboard not granted in this session"));
            return;
        }
        record(ns, what);
    }

    void respond(Request *request, uint code, const QVariantMap &results)
    {
        QDBusMessage response = QDBusMessage::createSignal(request->path(), requestInterface,
                                                           QStringLiteral("Response"));
        response << code << results;
        m_bus.send(response);
        forget(request);
    }

    void forget(Request *request)
    {
        m_bus.unregisterObject(request->path());
        request->deleteLater();
    }

    void forget(Session *session)
    {
        m_bus.unregisterObject(session->path());
        m_sessions.remove(session->path());
        session->deleteLater();
    }

    QDBusConnection m_bus;
    Options m_options;
    Answer m_answer;
    QStringList m_events;
    QHash<QString, Session *> m_sessions;
    int m_madeUpTokens = 0;
};

void Request::Close() { m_portal->requestClosed(this); }

void Session::Close() { m_portal->sessionClosedByClient(this); }

class Control : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.telvix.MockPortal")
public:
    Control(const QDBusConnection &bus, Portal *portal) : m_bus(bus), m_portal(portal) { }

public slots:
    QStringList Events() { return m_portal->events(); }
    void ClearEvents() { m_portal->clearEvents(); }
    void SetAnswer(const QString &answer, const QDBusMessage &message)
    {
        if (const auto parsed = parseAnswer(answer)) {
            m_portal->setAnswer(*parsed);
            return;
        }
        message.setDelayedReply(true);
        m_bus.send(message.createErrorReply(
                QDBusError::InvalidArgs, QStringLiteral("answer is grant, refuse, fail or never")));
    }
    void CloseSessions() { m_portal->closeAllSessions(); }
    // From the event loop, so that the caller still gets its reply.
    void Quit() { QTimer::singleShot(0, qApp, &QCoreApplication::quit); }

private:
    QDBusConnection m_bus;
    Portal *m_portal;
};

namespace {

int termPipe[2] = {-1, -1};

void onTerm(int)
{
    const char byte = 0;
    [[maybe_unused]] const auto written = ::write(termPipe[1], &byte, 1);
}

bool readUInt(const QCommandLineParser &parser, const QString &name, uint &value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    value = parser.value(name).toUInt(&ok);
    if (!ok)
        std::fprintf(stderr, "telvix-mock-portal: --%s wants a number\n", qPrintable(name));
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
            QStringLiteral("Stand-in for the desktop's RemoteDesktop portal on a private bus"));
    parser.addHelpOption();
    parser.addOptions({
            {QStringLiteral("bus"), QStringLiteral("Address of the bus to serve on."),
             QStringLiteral("address")},
            {QStringLiteral("answer"),
             QStringLiteral("Answer to Start: grant, refuse, fail, never."),
             QStringLiteral("answer"), QStringLiteral("grant")},
            {QStringLiteral("answer-delay-ms"), QStringLiteral("Delay before Start's answer."),
             QStringLiteral("ms"), QStringLiteral("0")},
            {QStringLiteral("version"), QStringLiteral("The interface version shown."),
             QStringLiteral("n"), QStringLiteral("1")},
            {QStringLiteral("devices"), QStringLiteral("AvailableDeviceTypes."),
             QStringLiteral("n"), QStringLiteral("7")},
            {QStringLiteral("granted-devices"), QStringLiteral("Devices granted by Start."),
             QStringLiteral("n"), QStringLiteral("1")},
            {QStringLiteral("no-remote-desktop"),
             QStringLiteral("Serve a portal without the RemoteDesktop interface.")},
    });
    parser.process(app);

    Options options;
    uint delay = 0;
    if (!readUInt(parser, QStringLiteral("answer-delay-ms"), delay)
        || !readUInt(parser, QStringLiteral("version"), options.version)
        || !readUInt(parser, QStringLiteral("devices"), options.devices)
        || !readUInt(parser, QStringLiteral("granted-devices"), options.grantedDevices))
        return 1;
    options.answerDelayMs = int(delay);
    const auto answer = parseAnswer(parser.value(QStringLiteral("answer")));
    if (!answer) {
        std::fprintf(stderr, "telvix-mock-portal: --answer is grant, refuse, fail or never\n");
        return 1;
    }
    options.answer = *answer;
    options.remoteDesktop = !parser.isSet(QStringLiteral("no-remote-desktop"));
    const QString address = parser.value(QStringLiteral("bus"));
    if (address.isEmpty()) {
        std::fprintf(stderr, "telvix-mock-portal: --bus is required\n");
        return 1;
    }

    if (::pipe(termPipe) != 0)
        return 1;
    QSocketNotifier termNotifier(termPipe[0], QSocketNotifier::Read);
    QObject::connect(&termNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGTERM, onTerm);

    QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("portal"));
    if (!bus.isConnected()) {
        std::fprintf(stderr, "telvix-mock-portal: cannot connect to %s: %s\n", qPrintable(address),
                     qPrintable(bus.lastError().message()));
        return 2;
    }

    // Everything is in place before the name is taken: whoever sees the name can call at once.
    Portal portal(bus, options);
    QObject bare;
    if (options.remoteDesktop)
        bus.registerObject(portalPath, &portal,
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
    else
        bus.registerObject(portalPath, &bare);
    Control control(bus, &portal);
    bus.registerObject(controlPath, &control, QDBusConnection::ExportAllSlots);

    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> owned =
            bus.interface()->registerService(portalService,
                                             QDBusConnectionInterface::DontQueueService,
                                             QDBusConnectionInterface::DontAllowReplacement);
    if (!owned.isValid() || owned.value() != QDBusConnectionInterface::ServiceRegistered) {
        std::fprintf(stderr, "telvix-mock-portal: cannot own %s: %s\n", qPrintable(portalService),
                     owned.isValid() ? "taken by another" : qPrintable(owned.error().message()));
        return 2;
    }
    return app.exec();
}

#include "mockportal.moc"
