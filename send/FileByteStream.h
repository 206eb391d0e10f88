// SPDX-License-Identifier: MIT
// A file read as a stream of bytes for sending: through a small buffer, never held whole, with
// 64-bit sizes and positions. A file that shrinks or is replaced meanwhile simply ends sooner.
#pragma once

#include <QString>

#include <cstdint>
#include <memory>

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

    // The next byte 0..255, or -1 at the end of the file (also when it can no longer be read).
    int next()
    {
        if (m_pos == m_end && !refill())
            return -1;
        return m_buffer[m_pos++];
    }

    // The size the file system gives, in bytes; -1 when the file cannot be opened.
    static int64_t querySize(const QString &path);

    static constexpr size_t BufferSize = 64 * 1024;

private:
    bool refill();

    int m_fd = -1;
    std::unique_ptr<uint8_t[]> m_buffer;
    size_t m_pos = 0;
    size_t m_end = 0;
};
