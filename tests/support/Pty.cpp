// SPDX-License-Identifier: MIT
#include "Pty.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

Pty::Pty()
{
    int slave = -1;
    char name[128] = {};
    if (openpty(&m_master, &slave, name, nullptr, nullptr) != 0) {
        m_master = -1;
        return;
    }
    // The master must not translate either, or the test would not see the bytes as sent.
    termios t {};
    if (tcgetattr(slave, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
    }
    // Keep the slave open until the program has opened it: closing the last slave descriptor
    // before that makes the master read EIO. An extra descriptor on the slave would break the
    // exclusive-open tests, so it is closed once the path is known and the master polls it.
    ::close(slave);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_slavePath = QString::fromLocal8Bit(name);
}

Pty::~Pty() { hangUp(); }

void Pty::hangUp()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

bool Pty::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p {m_master, POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            return false;
        }
    }
    return true;
}

qsizetype Pty::writeSome(const char *bytes, qsizetype count)
{
    const ssize_t n = ::write(m_master, bytes, size_t(count));
    return n > 0 ? qsizetype(n) : 0;
}

QByteArray Pty::read(int count, int timeoutMs)
{
    QByteArray out;
    char buf[4096];
    while (out.size() < count) {
        pollfd p {m_master, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            break;
        ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0)
            out.append(buf, n);
        else if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        else
            break; // EIO: no slave open at the moment
    }
    return out;
}

QByteArray Pty::readAvailable()
{
    QByteArray out;
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, n);
    }
    return out;
}
