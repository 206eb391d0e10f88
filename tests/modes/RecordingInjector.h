// SPDX-License-Identifier: MIT
// Stands in for the desktop: keeps every key event it is given, in order, as text that reads
// like the tables ("+10" Shift press, "-10" its release, "+BF:35" a press carrying scan 35h).
#pragma once

#include "modes/KeyEvent.h"

#include <QString>
#include <QStringList>

#include <memory>

inline QString describe(const KeyEvent &e)
{
    QString s = QString(e.isRelease() ? u'-' : u'+')
            + QStringLiteral("%1").arg(e.virtualKey, 2, 16, QLatin1Char('0')).toUpper();
    if (e.scanCode != 0)
        s += u':' + QStringLiteral("%1").arg(e.scanCode, 2, 16, QLatin1Char('0')).toUpper();
    if (e.flags != KeyFlags::Press && e.flags != KeyFlags::Release)
        s += QStringLiteral("?flags=%1").arg(e.flags);
    return s;
}

struct KeyLog
{
    QStringList events;
    int flushes = 0;
    // Flushes seen when the n-th event came, so a test can tell which byte an event belonged to.
    QList<int> flushesAt;
    int injectorsAlive = 0;
};

class RecordingInjector : public KeyInjector
{
public:
    explicit RecordingInjector(std::shared_ptr<KeyLog> log = std::make_shared<KeyLog>())
        : m_log(std::move(log))
    { }
    void inject(const KeyEvent &event) override
    {
        m_log->events.append(describe(event));
        m_log->flushesAt.append(m_log->flushes);
    }
    void flush() override { ++m_log->flushes; }
    const KeyLog &log() const { return *m_log; }

private:
    std::shared_ptr<KeyLog> m_log;
};
