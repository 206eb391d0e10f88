// SPDX-License-Identifier: MIT
// The auto-replies at work while a reading mode runs: the received records of the traffic stream
// go through the rules (AutoReply::Matcher) as they are published, and each answer goes out
// through the command sender its delay after the trigger arrived, in the order they fall due. An
// answer due at once goes at the end of the pass that found it; one that cannot go yet (another
// send is going out) waits its turn, it is not dropped.
#pragma once

#include "send/AutoReply.h"
#include "traffic/Traffic.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <map>

class CommandSender;

class AutoResponder : public QObject, public TrafficConsumer
{
    Q_OBJECT

public:
    explicit AutoResponder(CommandSender &sender, QObject *parent = nullptr);

    // As AutoReply::Matcher::setRules; the answers not yet sent are dropped with the old rules.
    QString setRules(const std::vector<AutoReply::Rule> &rules);
    // The counts and the waiting bytes start again (a new mode).
    void reset();

    int64_t hits(int rule) const { return m_matcher.hits(rule); }
    int64_t answered() const { return m_answered; }

    void take(const TrafficRecord &record) override;
    void passEnd() override { sendDue(); }

signals:
    // A rule reached its rate for the first time since the rules or the mode began.
    void limited(int rule);
    // Matches were found (the counts changed).
    void matched();

private:
    void sendDue();

    CommandSender &m_sender;
    AutoReply::Matcher m_matcher;
    std::multimap<int64_t, QByteArray> m_due; // by when, in the order they were found
    std::vector<bool> m_saidLimited;
    QTimer m_timer;
    int64_t m_answered = 0;
};
