// SPDX-License-Identifier: MIT
// What the send tests share: a device end that reads on its own thread, the port pointed at a
// pty, and dialogs answered by their kind.
#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

class QWidget;

// Reads everything that arrives on a pty master as fast as it comes, so the program's
// one-byte writes never wait for the test.
class LineCollector
{
public:
    explicit LineCollector(int masterFd);
    ~LineCollector();
    LineCollector(const LineCollector &) = delete;
    LineCollector &operator=(const LineCollector &) = delete;

    QByteArray bytes() const;
    qsizetype count() const;
    // Spins the event loop until `n` bytes are in; false when the time ran out.
    bool waitForCount(qsizetype n, int timeoutMs = 5000) const;
    // Waits until nothing has arrived for `quietMs`.
    void settle(int quietMs = 100) const;

private:
    void run();

    int m_fd;
    std::atomic<bool> m_stop {false};
    mutable std::mutex m_mutex;
    QByteArray m_bytes;
    std::thread m_thread;
};

// The port settings name this device path.
void usePort(const QString &path);

// Answers the next modal dialog whose class inherits `className` as soon as it is up; other
// dialogs are left for other answers.
void answerDialog(const char *className, std::function<void(QWidget *)> answer,
                  int timeoutMs = 10000);

// Runs `action` on the event loop's next turn: once the mode has started, from inside it.
void whenRunning(std::function<void()> action, int delayMs = 0);
