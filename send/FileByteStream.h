// SPDX-License-Identifier: MIT
// A file read as a stream of bytes for sending: through a small buffer, never held whole, with
// 64-bit sizes and positions. A file that shrinks or is replaced meanwhile simply ends sooner.
// A named pipe or a device has no end until its writer says so: while it has nothing yet, the
// stream waits for its next byte (in short slices, through the wait hook) instead of ending.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
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

    // The next byte 0..255, or -1 at the end of the file, once it can no longer be read, or
    // when the wait hook gave up; failed() and stopped() tell these apart.
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
    // True once the wait hook gave up waiting for a byte. Cleared by open().
    bool stopped() const { return m_stopped; }

    // Runs about every WaitSliceMs while a pipe or device has nothing yet (events get their
    // turn there); returning false gives up: next() then returns -1.
    using WaitHook = std::function<bool()>;
    void setWaitHook(WaitHook hook) { m_wait = std::move(hook); }
    static constexpr int WaitSliceMs = 20;

    static constexpr size_t BufferSize = 64 * 1024;

    // Every read of the file goes through here; ::read unless replaced. A medium that fails
    // half-way (a bad sector, a network share that drops) cannot be had on demand without
    // privileges, so the tests put a failing read in its place.
    using ReadCall = ssize_t (*)(int fd, void *buffer, size_t count);
    static ReadCall readCall;

private:
    bool refill();
    bool writerGone() const;
    bool waitForMore(bool &pollSaidReady);

    int m_fd = -1;
    int m_error = 0;
    bool m_stopped = false;
    bool m_fifo = false;
    WaitHook m_wait;
    std::unique_ptr<uint8_t[]> m_buffer;
    size_t m_pos = 0;
    size_t m_end = 0;
};
