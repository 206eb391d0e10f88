// SPDX-License-Identifier: MIT
#include "ScriptInbox.h"

#include <chrono>

void ScriptInbox::deliver(QByteArrayView bytes)
{
    {
        const std::lock_guard lock(m_mutex);
        m_bytes.append(bytes);
        if (m_bytes.size() > m_bound) {
            const qsizetype over = m_bytes.size() - m_bound;
            m_bytes.remove(0, over);
            m_dropped += over;
            ++m_drops;
        }
    }
    m_arrived.notify_all();
}

void ScriptInbox::stop()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopped = true;
    }
    m_arrived.notify_all();
}

qsizetype ScriptInbox::dropped() const
{
    const std::lock_guard lock(m_mutex);
    return m_dropped;
}

ScriptInbox::Wait ScriptInbox::waitFor(const Match &match, int timeoutMs, QByteArray &taken)
{
    const auto deadline = std::chrono::steady_clock::now()
            + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    std::unique_lock lock(m_mutex);
    qsizetype seen = 0;
    uint64_t drops = m_drops;
    for (;;) {
        if (m_stopped)
            return Wait::Stopped;
        if (drops != m_drops) {
            drops = m_drops;
            seen = 0;
        }
        if (seen < m_bytes.size() || (seen == 0 && m_bytes.isEmpty())) {
            const qsizetype n = match(m_bytes, seen);
            seen = m_bytes.size();
            if (n >= 0) {
                taken = m_bytes.left(n);
                m_bytes.remove(0, n);
                return Wait::Ready;
            }
        }
        if (m_arrived.wait_until(lock, deadline) == std::cv_status::timeout && !m_stopped
            && seen == m_bytes.size())
            return Wait::TimedOut;
    }
}

ScriptInbox::Wait ScriptInbox::expect(QByteArrayView pattern, int timeoutMs, QByteArray &taken)
{
    const QByteArray p = pattern.toByteArray();
    return waitFor(
            [&p](const QByteArray &bytes, qsizetype from) -> qsizetype {
                // Only where the new bytes could complete it: a huge read is searched once.
                const qsizetype at = bytes.indexOf(p, std::max<qsizetype>(0, from - p.size() + 1));
                return at < 0 ? -1 : at + p.size();
            },
            timeoutMs, taken);
}

ScriptInbox::Wait ScriptInbox::read(qsizetype count, int timeoutMs, QByteArray &taken)
{
    return waitFor([count](const QByteArray &bytes,
                           qsizetype) -> qsizetype { return bytes.size() >= count ? count : -1; },
                   timeoutMs, taken);
}

ScriptInbox::Wait ScriptInbox::readLine(int timeoutMs, QByteArray &taken)
{
    const Wait w = waitFor(
            [](const QByteArray &bytes, qsizetype from) -> qsizetype {
                const qsizetype at = bytes.indexOf('\n', from);
                return at < 0 ? -1 : at + 1;
            },
            timeoutMs, taken);
    if (w == Wait::Ready) {
        taken.chop(1);
        if (taken.endsWith('\r'))
            taken.chop(1);
    }
    return w;
}

ScriptInbox::Wait ScriptInbox::sleep(int ms)
{
    QByteArray none;
    const Wait w = waitFor([](const QByteArray &, qsizetype) -> qsizetype { return -1; }, ms, none);
    return w == Wait::TimedOut ? Wait::Ready : w;
}
