// SPDX-License-Identifier: MIT
// A file read as a stream of bytes for sending: through a small buffer, never held whole, with
// 64-bit sizes and positions. A file that shrinks or is replaced meanwhile simply ends sooner.
#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <sys/types.h>

class FileByteStream
{
public:
    FileByteStream();
    ~FileByteStream();
    FileByteStream(const FileByteStream &) = delete;
    FileByteStream &operator=(const FileByteStream &) = delete;

    bool open(const QString &path);
    bool isOpen() const { return m_fd >= 0; }
    void close();

    // The next byte 0..255, or -1 at the end of the file or once it can no longer be read;
    // failed() tells the two apart.
    int next()
    {
        if (m_pos == m_end && !refill())
            return -1;
        return m_buffer[m_pos++];
    }

    // The size the file system gives, in bytes; -1 when the file cannot be opened.
    static int64_t querySize(const QString &path);

    // True once a read failed (an I/O error, not the end of the data): the bytes given so far
    // are all there is, and the file was not read to its end. Cleared by open().
    bool failed() const { return m_error != 0; }
    // The errno of that read; 0 while none failed.
    int error() const { return m_error; }

    static constexpr size_t BufferSize = 64 * 1024;

    // Every read of the file goes through here; ::read unless replaced. A medium that fails
    // half-way (a bad sector, a network share that drops) cannot be had on demand without
    // privileges, so the tests put a failing read in its place.
    using ReadCall = ssize_t (*)(int fd, void *buffer, size_t count);
    static ReadCall readCall;

private:
    bool refill();

    int m_fd = -1;
    int m_error = 0;
    std::unique_ptr<uint8_t[]> m_buffer;
    size_t m_pos = 0;
    size_t m_end = 0;
};
