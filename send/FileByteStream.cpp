// SPDX-License-Identifier: MIT
#include "FileByteStream.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int openForReading(const QString &path)
{
    // Non-blocking, so that a named pipe without a writer cannot freeze the window in open();
    // for regular files the flag changes nothing.
    const QByteArray name = QFile::encodeName(path);
    int fd = -1;
    do {
        fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

FileByteStream::ReadCall FileByteStream::readCall = ::read;

FileByteStream::FileByteStream() : m_buffer(std::make_unique<uint8_t[]>(BufferSize)) { }

FileByteStream::~FileByteStream() { close(); }

bool FileByteStream::open(const QString &path)
{
    close();
    m_error = 0;
    m_stopped = false;
    m_fd = openForReading(path);
    struct stat st
    { };
    m_fifo = m_fd >= 0 && fstat(m_fd, &st) == 0 && S_ISFIFO(st.st_mode);
    return m_fd >= 0;
}

void FileByteStream::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_pos = m_end = 0;
}

bool FileByteStream::refill()
{
    // After a failed read nothing more is taken, even should the medium answer again: the
    // bytes after the gap would go out as if they followed the ones before it.
    if (m_fd < 0 || m_error != 0 || m_stopped)
        return false;
    bool pollSaidReady = false;
    for (;;) {
        const ssize_t n = readCall(m_fd, m_buffer.get(), BufferSize);
        if (n > 0) {
            m_pos = 0;
            m_end = size_t(n);
            return true;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            m_error = errno != 0 ? errno : EIO;
            return false;
        }
        // A pipe reads nothing both before its first writer comes and after its last one has
        // gone; only the second is its end.
        if (n == 0 && (!m_fifo || writerGone()))
            return false;
        if (!waitForMore(pollSaidReady)) {
            m_stopped = true;
            return false;
        }
    }
}

bool FileByteStream::writerGone() const
{
    // Linux reports the hang-up of a pipe only once a writer has come and gone.
    pollfd p {m_fd, POLLIN, 0};
    while (poll(&p, 1, 0) < 0 && errno == EINTR) { }
    return (p.revents & POLLHUP) && !(p.revents & POLLIN);
}

bool FileByteStream::waitForMore(bool &pollSaidReady)
{
    // A source that refuses although poll has just said it was ready still gets its slice, so
    // that it cannot turn this into a loop that never asks the hook.
    if (pollSaidReady) {
        if (m_wait && !m_wait())
            return false;
        poll(nullptr, 0, WaitSliceMs);
    }
    pollSaidReady = false;
    for (;;) {
        pollfd p {m_fd, POLLIN, 0};
        const int r = poll(&p, 1, WaitSliceMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r > 0) {
            pollSaidReady = true; // data, or a hang-up that the next read tells
            return true;
        }
        if (m_wait && !m_wait())
            return false;
    }
}

int64_t FileByteStream::querySize(const QString &path)
{
    // A pipe is not opened for its size: that would let a writer waiting for a reader start,
    // and closing it again would hang that writer up before the send begins.
    struct stat st
    { };
    const QByteArray name = QFile::encodeName(path);
    if (::stat(name.constData(), &st) == 0 && S_ISFIFO(st.st_mode))
        return ::access(name.constData(), R_OK) == 0 ? int64_t(st.st_size) : -1;
    const int fd = openForReading(path);
    if (fd < 0)
        return -1;
    const int64_t size = fstat(fd, &st) == 0 ? int64_t(st.st_size) : -1;
    ::close(fd);
    return size;
}
