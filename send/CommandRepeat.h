// SPDX-License-Identifier: MIT
// A command sent again and again until stopped, on a grid that does not drift (RepeatGrid): a
// timer to each point, the send, the next point after it.
//
// The timer is the kernel's (a timerfd set to the point itself, not a number of whole
// milliseconds from now): a millisecond timer rounds each wait up, so that every send went out
// a little later than the last until a point was missed, which at a 1 ms period was every
// other one.
#pragma once

#include "send/RepeatGrid.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;

class CommandRepeat : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Sent,
        Skipped, // could not go now (another send was going out): the point is skipped
        Stop, // the line is gone or Break came: the repeat ends
    };
    CommandRepeat(int periodMs, std::function<Outcome()> send, QObject *parent = nullptr);
    ~CommandRepeat() override;

    void start();
    void stop();
    bool isRunning() const { return m_grid.has_value(); }

    int64_t sends() const { return m_sends; }
    // Points that passed without a send: held up, or another send was going out.
    int64_t skipped() const { return m_skipped + (m_grid ? m_grid->skipped() : 0); }

signals:
    void stopped(); // by itself (Outcome::Stop), not by stop()

private:
    void fire();
    void armAt(int64_t dueUs);

    int m_periodMs;
    std::function<Outcome()> m_send;
    int m_timerFd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::optional<RepeatGrid> m_grid;
    int64_t m_sends = 0;
    int64_t m_skipped = 0;
};
