// SPDX-License-Identifier: MIT
#include "AutoResponder.h"

#include "send/CommandSender.h"

namespace {
// How soon an answer that found the line busy tries again.
constexpr int BusyRetryMs = 1;
} // namespace

AutoResponder::AutoResponder(CommandSender &sender, QObject *parent)
    : QObject(parent), m_sender(sender)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &AutoResponder::sendDue);
}

QString AutoResponder::setRules(const std::vector<AutoReply::Rule> &rules)
{
    const QString problem = m_matcher.setRules(rules);
    if (problem.isEmpty()) {
        m_due.clear();
        m_timer.stop();
        m_saidLimited.assign(rules.size(), false);
    }
    return problem;
}

void AutoResponder::reset()
{
    m_matcher.reset();
    m_due.clear();
    m_timer.stop();
    m_saidLimited.assign(m_saidLimited.size(), false);
    m_answered = 0;
}

void AutoResponder::take(const TrafficRecord &record)
{
    if (record.kind != TrafficKind::Received && record.kind != TrafficKind::Flawed)
        return;
    const std::vector<AutoReply::Hit> hits = m_matcher.feed(record.bytes, record.timeUs);
    if (hits.empty())
        return;
    for (const AutoReply::Hit &hit : hits) {
        if (hit.limited) {
            if (!m_saidLimited[size_t(hit.rule)]) {
                m_saidLimited[size_t(hit.rule)] = true;
                emit limited(hit.rule);
            }
            continue;
        }
        m_due.emplace(record.timeUs + int64_t(hit.delayMs) * 1000, hit.reply);
    }
    emit matched();
}

void AutoResponder::sendDue()
{
    m_timer.stop();
    while (!m_due.empty()) {
        const int64_t now = monotonicMicroseconds();
        const auto first = m_due.begin();
        if (first->first > now) {
            m_timer.start(int((first->first - now + 999) / 1000));
            return;
        }
        // Out of the map while it goes: a stalled line lets events through, and they may
        // change the rules (and the map) meanwhile.
        auto answer = m_due.extract(first);
        const CommandSender::Result result = m_sender.send(answer.mapped());
        if (result == CommandSender::Result::Busy) {
            m_due.insert(m_due.begin(), std::move(answer));
            m_timer.start(BusyRetryMs);
            return;
        }
        if (result == CommandSender::Result::Sent)
            ++m_answered;
    }
}
