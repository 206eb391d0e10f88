// SPDX-License-Identifier: MIT
#include "Ser2Net.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString ser2netProgram()
{
    // ser2net lives in /usr/sbin, which is not on every user's PATH.
    QString found = QStandardPaths::findExecutable(QStringLiteral("ser2net"));
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(QStringLiteral("ser2net"),
                                               {QStringLiteral("/usr/sbin"),
                                                QStringLiteral("/usr/local/sbin"),
                                                QStringLiteral("/sbin")});
    return found;
}

int loopbackSocket(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

quint16 boundPort(int fd)
{
    sockaddr_in address {};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

// The inodes of the sockets listening on 127.0.0.1:port. Reading the kernel's table instead
// of connecting: a probe connection would make ser2net open the device and keep it a moment
// after, turning away the test's own first client.
QSet<QString> listeningInodes(quint16 port)
{
    QSet<QString> inodes;
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return inodes;
    const QByteArray local =
            "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    table.readLine();
    while (!table.atEnd()) {
        const QList<QByteArray> fields = table.readLine().simplified().split(' ');
        // sl local remote st tx:rx tr:when retrnsmt uid timeout inode
        if (fields.size() > 9 && fields[1] == local && fields[3] == "0A")
            inodes.insert(QString::fromLatin1(fields[9]));
    }
    return inodes;
}

// What the process's descriptors point to: "socket:[inode]", device paths and so on.
QStringList descriptorTargets(qint64 pid)
{
    QStringList targets;
    const QString dir = QStringLiteral("/proc/%1/fd").arg(pid);
    const QStringList entries = QDir(dir).entryList(QDir::Files | QDir::System);
    for (const QString &entry : entries) {
        char target[PATH_MAX];
        const QByteArray link = QFile::encodeName(dir + QLatin1Char('/') + entry);
        const ssize_t length = ::readlink(link.constData(), target, sizeof target - 1);
        if (length > 0)
            targets.append(QFile::decodeName(QByteArray(target, length)));
    }
    return targets;
}

} // namespace

Ser2NetServer::Ser2NetServer() = default;

Ser2NetServer::~Ser2NetServer() { stop(); }

bool Ser2NetServer::available() { return !ser2netProgram().isEmpty(); }

QString Ser2NetServer::start(const QString &devicePath, const Options &options)
{
    stop();
    const QString program = ser2netProgram();
    if (program.isEmpty())
        return QStringLiteral("ser2net is not installed (Debian: apt-get install ser2net)");
    if (!options.rfc2217 && !options.tcp)
        return QStringLiteral("neither RFC 2217 nor raw TCP asked for");

    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid())
        return QStringLiteral("no temporary directory: %1").arg(m_dir->errorString());

    // Both ports are held at once so they differ; ser2net binds them a moment later.
    const int first = loopbackSocket(0);
    const int second = loopbackSocket(0);
    m_rfc2217Port = options.rfc2217 ? boundPort(first) : 0;
    m_tcpPort = options.tcp ? boundPort(second) : 0;
    if (first >= 0)
        ::close(first);
    if (second >= 0)
        ::close(second);
    if ((options.rfc2217 && m_rfc2217Port == 0) || (options.tcp && m_tcpPort == 0))
        return QStringLiteral("no free port on 127.0.0.1");

    m_device = QFileInfo(devicePath).canonicalFilePath();
    if (m_device.isEmpty())
        return QStringLiteral("no such device: %1").arg(devicePath);

    // "local": a pty has no DCD to wait for. No mDNS: nothing of a test is to be announced.
    auto entry = [&](const QString &name, const QString &accepter) {
        return QStringLiteral("connection: &%1\n"
                              "    accepter: %2\n"
                              "    connector: serialdev,%3,%4,local\n"
                              "    options:\n"
                              "      kickolduser: %5\n"
                              "      mdns: false\n")
                .arg(name, accepter, m_device, options.defaults,
                     options.kickOldUser ? QStringLiteral("true") : QStringLiteral("false"));
    };
    QString config = QStringLiteral("%YAML 1.1\n---\n");
    if (options.rfc2217)
        config += entry(QStringLiteral("rfc2217"),
                        QStringLiteral("telnet(rfc2217),tcp,127.0.0.1,%1").arg(m_rfc2217Port));
    if (options.tcp)
        config += entry(QStringLiteral("tcp"), QStringLiteral("tcp,127.0.0.1,%1").arg(m_tcpPort));
    const QString configPath = m_dir->filePath(QStringLiteral("ser2net.yaml"));
    QFile file(configPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) != config.toUtf8().size())
        return QStringLiteral("cannot write %1").arg(configPath);
    file.close();

    m_process = std::make_unique<QProcess>();
    m_process->setProgram(program);
    // -c: never the system's /etc/ser2net.yaml. -n: stays our child. -u: no UUCP lock in
    // /var/lock. -d: its messages go to our log file, not to the machine's syslog.
    m_process->setArguments({QStringLiteral("-d"), QStringLiteral("-u"), QStringLiteral("-c"),
                             configPath, QStringLiteral("-P"),
                             m_dir->filePath(QStringLiteral("ser2net.pid"))});
    const QString logPath = m_dir->filePath(QStringLiteral("ser2net.log"));
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->setStandardOutputFile(logPath);
    m_process->setStandardErrorFile(logPath, QIODevice::Append);
    // A crashed test must not leave a server holding the pty and the ports.
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process->start();
    if (!m_process->waitForStarted()) {
        const QString reason =
                QStringLiteral("ser2net did not start: %1").arg(m_process->errorString());
        m_process.reset();
        return reason;
    }

    // Ready once ser2net itself listens on every port; another listener there would not count.
    const QDeadlineTimer deadline(5000);
    while (true) {
        const QStringList held = descriptorTargets(m_process->processId());
        auto listens = [&](quint16 port) {
            if (port == 0)
                return true;
            const QSet<QString> inodes = listeningInodes(port);
            for (const QString &inode : inodes) {
                if (held.contains(QStringLiteral("socket:[%1]").arg(inode)))
                    return true;
            }
            return false;
        };
        if (listens(m_rfc2217Port) && listens(m_tcpPort))
            return {};
        if (m_process->waitForFinished(20)) {
            const QString reason = QStringLiteral("ser2net ended at start (exit code %1): %2")
                                           .arg(m_process->exitCode())
                                           .arg(log());
            m_process.reset();
            return reason;
        }
        if (deadline.hasExpired()) {
            const QString reason =
                    QStringLiteral("ser2net does not listen on 127.0.0.1 ports %1/%2: %3")
                            .arg(m_rfc2217Port)
                            .arg(m_tcpPort)
                            .arg(log());
            stop();
            return reason;
        }
    }
}

void Ser2NetServer::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        // ser2net has been seen to outlive a SIGTERM; a test must not hang on it.
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(-1);
        }
    }
    m_process.reset();
}

bool Ser2NetServer::running() const { return m_process && m_process->state() == QProcess::Running; }

QString Ser2NetServer::rfc2217Url() const
{
    return QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_rfc2217Port);
}

QString Ser2NetServer::tcpUrl() const
{
    return QStringLiteral("tcp://127.0.0.1:%1").arg(m_tcpPort);
}

bool Ser2NetServer::deviceOpen() const
{
    return running() && descriptorTargets(m_process->processId()).contains(m_device);
}

bool Ser2NetServer::waitDeviceReleased(int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    while (deviceOpen()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(5);
    }
    return true;
}

QString Ser2NetServer::log() const
{
    if (!m_dir)
        return {};
    QFile file(m_dir->filePath(QStringLiteral("ser2net.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll()).trimmed();
}

SilentListener::SilentListener()
{
    m_listener = loopbackSocket(0);
    // A backlog of 0 lets one connection queue; the filler takes that place and is never
    // accepted, so every later SYN is dropped.
    if (m_listener < 0 || ::listen(m_listener, 0) != 0)
        return;
    const quint16 port = boundPort(m_listener);
    m_filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (port == 0 || m_filler < 0)
        return;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(m_filler, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        m_port = port;
}

SilentListener::~SilentListener()
{
    if (m_filler >= 0)
        ::close(m_filler);
    if (m_listener >= 0)
        ::close(m_listener);
}

QString SilentListener::url(const QString &scheme) const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(m_port);
}

quint16 refusedPort()
{
    const int fd = loopbackSocket(0);
    if (fd < 0)
        return 0;
    const quint16 port = boundPort(fd);
    ::close(fd);
    return port;
}
