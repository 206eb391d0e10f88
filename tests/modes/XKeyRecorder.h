// SPDX-License-Identifier: MIT
// A small X client of the test's own: a window that takes the keyboard focus and records every
// key event it receives, on a thread of its own so that the times it notes are when the events
// came, whatever the program under test is doing meanwhile. Needs XInitThreads() before any
// other Xlib call of the process.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

struct _XDisplay;

class XKeyRecorder
{
public:
    using Clock = std::chrono::steady_clock;

    struct Key
    {
        bool press;
        unsigned keycode;
        QByteArray text; // what the key gives, decoded with the state it came with
        Clock::time_point seen;
    };

    XKeyRecorder() = default;
    ~XKeyRecorder();
    XKeyRecorder(const XKeyRecorder &) = delete;
    XKeyRecorder &operator=(const XKeyRecorder &) = delete;

    // Connects, maps the window and gives it the focus; the reason when that fails.
    QString open();
    void focus();
    bool hasFocus() const;

    QList<Key> keys() const;
    void clear();
    // What the presses typed, joined, and how many presses typed something.
    QByteArray typedText() const;
    int typedCount() const;
    // The keycodes the server has down at this moment.
    QList<unsigned> keysDown() const;

private:
    void record();

    _XDisplay *m_display = nullptr; // owned by the recording thread once it runs
    _XDisplay *m_query = nullptr; // for the questions the test asks meanwhile
    unsigned long m_window = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop {false};
    std::atomic<int> m_typed {0};
    mutable std::mutex m_mutex;
    QList<Key> m_keys;
};
