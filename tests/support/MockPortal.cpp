// SPDX-License-Identifier: MIT
#include "MockPortal.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <linux/input-event-codes.h>
#include <sys/prctl.h>

#include <algorithm>
#include <csignal>
#include <optional>
#include <string_view>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");

// Everything allowed, as on a session bus, but without <standard_session_servicedirs/>: a test
// that runs no portal must find none. The limits stay dbus-daemon's own, lower than a session
// bus sets them (128 answers awaited per client, not 50000), so a client that floods the bus
// fails here first.
const char busConfig[] =
        R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <listen>unix:path=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

// A test that crashes or is killed must not leave its bus or its portal behind.
void endWithParent(QProcess &process)
{
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

void endProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished();
    }
}

struct Keycap
{
    int code;
    char plain;
    char shifted;
};

// The US main block as evdev numbers it.
constexpr Keycap usKeycaps[] = {
        {KEY_ESC, 0x1b, 0x1b},   {KEY_1, '1', '!'},           {KEY_2, '2', '@'},
        {KEY_3, '3', '#'},       {KEY_4, '4', '$'},           {KEY_5, '5', '%'},
        {KEY_6, '6', '^'},       {KEY_7, '7', '&'},           {KEY_8, '8', '*'},
        {KEY_9, '9', '('},       {KEY_0, '0', ')'},           {KEY_MINUS, '-', '_'},
        {KEY_EQUAL, '=', '+'},   {KEY_BACKSPACE, '\b', '\b'}, {KEY_TAB, '\t', '\t'},
        {KEY_Q, 'q', 'Q'},       {KEY_W, 'w', 'W'},           {KEY_E, 'e', 'E'},
        {KEY_R, 'r', 'R'},       {KEY_T, 't', 'T'},           {KEY_Y, 'y', 'Y'},
        {KEY_U, 'u', 'U'},       {KEY_I, 'i', 'I'},           {KEY_O, 'o', 'O'},
        {KEY_P, 'p', 'P'},       {KEY_LEFTBRACE, '[', '{'},   {KEY_RIGHTBRACE, ']', '}'},
        {KEY_ENTER, '\r', '\r'}, {KEY_A, 'a', 'A'},           {KEY_S, 's', 'S'},
        {KEY_D, 'd', 'D'},       {KEY_F, 'f', 'F'},           {KEY_G, 'g', 'G'},
        {KEY_H, 'h', 'H'},       {KEY_J, 'j', 'J'},           {KEY_K, 'k', 'K'},
        {KEY_L, 'l', 'L'},       {KEY_SEMICOLON, ';', ':'},   {KEY_APOSTROPHE, '\'', '"'},
        {KEY_GRAVE, '`', '~'},   {KEY_BACKSLASH, '\\', '|'},  {KEY_Z, 'z', 'Z'},
        {KEY_X, 'x', 'X'},       {KEY_C, 'c', 'C'},           {KEY_V, 'v', 'V'},
        {KEY_B, 'b', 'B'},       {KEY_N, 'n', 'N'},           {KEY_M, 'm', 'M'},
        {KEY_COMMA, ',', '<'},   {KEY_DOT, '.', '>'},         {KEY_SLASH, '/', '?'},
        {KEY_SPACE, ' ', ' '},
};

// What Shift makes of a keysym's character: the other symbol on the same US key.
constexpr std::string_view usPlain = "`1234567890-=[]\\;',./";
constexpr std::string_view usShifted = "~!@#$%^&*()_+{}|:\"<>?";

enum class Modifier { None, Shift, Ctrl, Alt };

Modifier modifierOf(bool keysym, int code)
{
    if (keysym) {
        switch (code) {
        case 0xffe1: // Shift_L
        case 0xffe2: // Shift_R
            return Modifier::Shift;
        case 0xffe3: // Control_L
        case 0xffe4: // Control_R
            return Modifier::Ctrl;
        case 0xffe7: // Meta_L
        case 0xffe8: // Meta_R
        case 0xffe9: // Alt_L
        case 0xffea: // Alt_R
            return Modifier::Alt;
        }
        return Modifier::None;
    }
    switch (code) {
    case KEY_LEFTSHIFT:
    case KEY_RIGHTSHIFT:
        return Modifier::Shift;
    case KEY_LEFTCTRL:
    case KEY_RIGHTCTRL:
        return Modifier::Ctrl;
    case KEY_LEFTALT:
    case KEY_RIGHTALT:
        return Modifier::Alt;
    }
    return Modifier::None;
}

std::optional<char> keycodeChar(int code, bool shift)
{
    for (const Keycap &cap : usKeycaps) {
        if (cap.code == code)
            return shift ? cap.shifted : cap.plain;
    }
    return std::nullopt;
}

std::optional<char> keysymChar(int sym, bool shift)
{
    switch (sym) {
    case 0xff08: // BackSpace
        return '\b';
    case 0xff09: // Tab
        return '\t';
    case 0xff0d: // Return
        return '\r';
    case 0xff1b: // Escape
        return 0x1b;
    }
    if (sym < 0x20 || sym > 0x7e)
        return std::nullopt;
    const char c = char(sym);
    if (!shift)
        return c;
    if (c >= 'a' && c <= 'z')
        return char(c - 'a' + 'A');
    const auto at = usPlain.find(c);
    return at == std::string_view::npos ? c : usShifted[at];
}

// Control as XLookupString applies it.
char withControl(char c)
{
    if ((c >= '@' && c < 0x7f) || c == ' ')
        return char(c & 0x1f);
    if (c == '2')
        return 0;
    if (c >= '3' && c <= '7')
        return char(c - '3' + 0x1b);
    if (c == '8')
        return 0x7f;
    if (c == '/')
        return 0x1f;
    return c;
}

struct Typed
{
    QByteArray text;
    int presses = 0;
    QList<qint64> times; // when each press that typed something came
};

Typed type(const QList<MockPortal::Key> &keys)
{
    Typed typed;
    QList<MockPortal::Key> down;
    const auto isDown = [&down](Modifier modifier) {
        return std::any_of(down.cbegin(), down.cend(), [modifier](const MockPortal::Key &key) {
            return modifierOf(key.keysym, key.code) == modifier;
        });
    };
    for (const MockPortal::Key &key : keys) {
        const auto same = [&key](const MockPortal::Key &other) {
            return other.keysym == key.keysym && other.code == key.code;
        };
        if (!key.press) {
            down.removeIf(same);
            continue;
        }
        if (std::none_of(down.cbegin(), down.cend(), same))
            down.append(key);
        if (modifierOf(key.keysym, key.code) != Modifier::None)
            continue;
        const bool shift = isDown(Modifier::Shift);
        std::optional<char> c =
                key.keysym ? keysymChar(key.code, shift) : keycodeChar(key.code, shift);
        // With Alt held the window takes the key as a shortcut, not as text.
        if (!c || isDown(Modifier::Alt))
            continue;
        typed.text += isDown(Modifier::Ctrl) ? withControl(*c) : *c;
        ++typed.presses;
        typed.times.append(key.ns);
    }
    return typed;
}

} // namespace

PrivateBus::PrivateBus()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory: ") + m_dir.errorString();
        return;
    }
    const QString configPath = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile config(configPath);
    const QByteArray text = QString::fromLatin1(busConfig)
                                    .arg(m_dir.filePath(QStringLiteral("bus")).toHtmlEscaped())
                                    .toUtf8();
    if (!config.open(QIODevice::WriteOnly) || config.write(text) != text.size()) {
        m_error = QStringLiteral("cannot write ") + configPath;
        return;
    }
    config.close();

    m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    endWithParent(m_daemon);
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--nofork"), QStringLiteral("--config-file=") + configPath,
                    QStringLiteral("--print-address=1")});
    if (!m_daemon.waitForStarted(5000)) {
        m_error = QStringLiteral("dbus-daemon: ") + m_daemon.errorString();
        return;
    }
    QElapsedTimer waited;
    waited.start();
    while (!m_daemon.canReadLine() && waited.elapsed() < 5000
           && m_daemon.waitForReadyRead(int(5000 - waited.elapsed()))) { }
    if (!m_daemon.canReadLine()) {
        m_error = QStringLiteral("dbus-daemon printed no address");
        endProcess(m_daemon);
        return;
    }
    m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
}

PrivateBus::~PrivateBus() { endProcess(m_daemon); }

void PrivateBus::becomeSessionBus() const
{
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
}

namespace {
int connectionCount = 0;
}

MockPortal::MockPortal(const QString &busAddress)
    : m_busAddress(busAddress),
      m_connectionName(QStringLiteral("telvix-mockportal-%1").arg(++connectionCount)),
      m_bus(QDBusConnection::connectToBus(busAddress, m_connectionName)),
#ifdef TELVIX_MOCK_PORTAL_PATH
      m_program(QStringLiteral(TELVIX_MOCK_PORTAL_PATH))
#else
      m_program(QStringLiteral("telvix-mock-portal"))
#endif
{ }

MockPortal::~MockPortal()
{
    stop();
    QDBusConnection::disconnectFromBus(m_connectionName);
}

QString MockPortal::start(const MockPortalOptions &options)
{
    if (running())
        return QStringLiteral("the portal runs already");
    if (!m_bus.isConnected())
        return QStringLiteral("cannot reach the bus at %1: %2")
                .arg(m_busAddress, m_bus.lastError().message());
    if (m_bus.interface()->isServiceRegistered(portalService))
        return QStringLiteral("someone else owns ") + portalService;

    QStringList arguments {
            QStringLiteral("--bus"),
            m_busAddress,
            QStringLiteral("--answer"),
            options.answer,
            QStringLiteral("--answer-delay-ms"),
            QString::number(options.answerDelayMs),
            QStringLiteral("--version"),
            QString::number(options.version),
            QStringLiteral("--devices"),
            QString::number(options.devices),
            QStringLiteral("--granted-devices"),
            QString::number(options.grantedDevices),
    };
    if (!options.remoteDesktop)
        arguments << QStringLiteral("--no-remote-desktop");
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    endWithParent(m_process);
    m_process.start(m_program, arguments);
    if (!m_process.waitForStarted(5000))
        return m_program + QStringLiteral(": ") + m_process.errorString();

    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 5000) {
        if (m_bus.interface()->isServiceRegistered(portalService))
            return {};
        if (m_process.waitForFinished(20) || m_process.state() == QProcess::NotRunning)
            return QStringLiteral("telvix-mock-portal ended with exit code %1 before it owned "
                                  "the portal's name")
                    .arg(m_process.exitCode());
    }
    stop();
    return QStringLiteral("telvix-mock-portal did not own the portal's name within 5 s");
}

void MockPortal::stop()
{
    endProcess(m_process);
    // The bus lets go of the name only once it sees the connection gone.
    if (!m_bus.isConnected())
        return;
    QElapsedTimer waited;
    waited.start();
    while (m_bus.interface()->isServiceRegistered(portalService) && waited.elapsed() < 5000)
        QThread::msleep(5);
}

bool MockPortal::running() const
{
    // QProcess learns of the child's end only when something waits for it: after Quit() from the
    // test, say.
    if (m_process.state() != QProcess::NotRunning)
        m_process.waitForFinished(0);
    return m_process.state() != QProcess::NotRunning;
}

QDBusMessage MockPortal::control(const QString &method, const QVariantList &arguments) const
{
    QDBusMessage call =
            QDBusMessage::createMethodCall(portalService, QStringLiteral("/org/telvix/MockPortal"),
                                           QStringLiteral("org.telvix.MockPortal"), method);
    call.setArguments(arguments);
    QDBusMessage reply = m_bus.call(call, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ErrorMessage)
        qWarning("MockPortal: %s: %s", qPrintable(method), qPrintable(reply.errorMessage()));
    return reply;
}

QStringList MockPortal::events() const
{
    const QDBusMessage reply = control(QStringLiteral("Events"));
    return reply.arguments().isEmpty() ? QStringList()
                                       : reply.arguments().constFirst().toStringList();
}

void MockPortal::clearEvents() { control(QStringLiteral("ClearEvents")); }

void MockPortal::setAnswer(const QString &answer)
{
    control(QStringLiteral("SetAnswer"), {answer});
}

void MockPortal::closeSessions() { control(QStringLiteral("CloseSessions")); }

QList<MockPortal::Key> MockPortal::keys() const
{
    QList<Key> keys;
    for (const QString &event : events()) {
        const QStringList fields = event.split(u' ');
        if (fields.size() != 4)
            continue;
        const bool keysym = fields.at(1) == QLatin1String("keysym");
        if (!keysym && fields.at(1) != QLatin1String("keycode"))
            continue;
        keys.append({fields.at(3).toUInt() != 0, keysym, fields.at(2).toInt(),
                     fields.at(0).toLongLong()});
    }
    return keys;
}

QByteArray MockPortal::typedText() const { return type(keys()).text; }

int MockPortal::typedCount() const { return type(keys()).presses; }

QList<qint64> MockPortal::typedTimes() const { return type(keys()).times; }

QStringList MockPortal::keysDown() const
{
    QStringList down;
    for (const Key &key : keys()) {
        const QString name = (key.keysym ? QStringLiteral("keysym ") : QStringLiteral("keycode "))
                + QString::number(key.code);
        if (!key.press)
            down.removeAll(name);
        else if (!down.contains(name))
            down.append(name);
    }
    return down;
}
