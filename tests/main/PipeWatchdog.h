// SPDX-License-Identifier: MIT
// A watchdog over a thread that must never wait for a pipe. Fed by that thread (by hand, or by
// a timer of its event loop), it takes a lapse of LapseMs as a wait; it then bites: it reads
// the pipe empty for as long as it lives, so that what waited goes on and the test fails on
// bit() instead of hanging.
#pragma once

#include <QFile>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

class PipeWatchdog
{
public:
    static constexpr int LapseMs = 1000;

    explicit PipeWatchdog(const QString &fifo) : m_name(QFile::encodeName(fifo))
    {
        feed();
        m_thread = std::thread([this] { watch(); });
    }
    ~PipeWatchdog()
    {
        m_end = true;
        m_thread.join();
    }
    PipeWatchdog(const PipeWatchdog &) = delete;
    PipeWatchdog &operator=(const PipeWatchdog &) = delete;

    void feed() { m_fed = now(); }
    // Fed for as long as the calling thread's event loop runs.
    void feedFromEventLoop()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { feed(); });
        m_timer.start(50);
    }
    bool bit() const { return m_bit; }

private:
    static int64_t now()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
    }
    void watch()
    {
        int fd = -1;
        while (!m_end) {
            if (fd < 0 && now() - m_fed > LapseMs) {
                m_bit = true;
                fd = ::open(m_name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            }
            char buffer[65536];
            while (fd >= 0 && ::read(fd, buffer, sizeof buffer) > 0) { }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (fd >= 0)
            ::close(fd);
    }

    QByteArray m_name;
    QTimer m_timer;
    std::atomic<int64_t> m_fed {0};
    std::atomic<bool> m_bit {false};
    std::atomic<bool> m_end {false};
    std::thread m_thread;
};
