// SPDX-License-Identifier: MIT
#include "FileByteStream.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
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
    m_fd = openForReading(path);
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
    if (m_fd < 0 || m_error != 0)
        return false;
    for (;;) {
        const ssize_t n = readCall(m_fd, m_buffer.get(), BufferSize);
        if (n > 0) {
            m_pos = 0;
            m_end = size_t(n);
            return true;
        }
        if (n == 0)
            return false;
        if (errno == EINTR)
            continue;
        // A pipe with nothing in it ends the file phase as the end of a file does; the count
        // tells how far it got.
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return false;
        m_error = errno != 0 ? errno : EIO;
        return false;
    }
}

int64_t FileByteStream::querySize(const QString &path)
{
    const int fd = openForReading(path);
    if (fd < 0)
        return -1;
    struct stat st
    { };
    const int64_t size = fstat(fd, &st) == 0 ? int64_t(st.st_size) : -1;
    ::close(fd);
    return size;
}
