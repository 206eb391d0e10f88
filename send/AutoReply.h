// SPDX-License-Identifier: MIT
// Auto-replies: TELVIX answering a device by itself. A rule's pattern is looked for in the
// received bytes as they arrive, across the reads they came in; each received byte is part of
// at most one match. Of the rules that are on, the match that is complete first (its last byte
// arrived first) answers; of two complete at the same byte, the earlier rule. A rule answers at
// most `maxPerSecond` times in any second; the matches beyond are counted, not answered.
//
// A text pattern is bytes as the string send makes them (Big5, control codes as their glyphs),
// a hex pattern bytes as HexInput reads them, a regular expression (QRegularExpression) is tried
// on the received bytes as text: Big5 pairs as their characters, every other byte as itself,
// so that "OK\r\n" and "溫度 (\d+)" both work. A regular expression sees the last 4 KiB.
#pragma once

#include "send/CommandList.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QRegularExpression>
#include <QString>

#include <cstdint>
#include <deque>
#include <vector>

namespace AutoReply {

enum class Match { Text, Hex, Regex };

struct Rule
{
    QString name;
    Match match = Match::Text;
    QString pattern;
    CommandList::Command reply; // its content, form, check and ending; name and key unused
    int delayMs = 0;
    bool on = true;
    int maxPerSecond = 100;
    bool operator==(const Rule &) const = default;
};

inline constexpr int MaxDelayMs = 60000;
inline constexpr qsizetype RegexWindow = 4096;

struct Hit
{
    int rule;
    QByteArray reply;
    int delayMs;
    bool limited; // over the rule's rate: counted, not answered
};

class Matcher
{
public:
    // Takes the rules whole, or none of them: the message names the first bad one ("規則 2
    // 「AT」:..."). The bytes waiting for a match are dropped either way.
    QString setRules(const std::vector<Rule> &rules);

    // The matches the bytes completed, in the order they completed.
    std::vector<Hit> feed(QByteArrayView received, int64_t nowUs);

    int64_t hits(int rule) const;
    // Forgets the bytes received so far and the counts (a new mode).
    void reset();

private:
    struct Compiled
    {
        Rule rule;
        QByteArray bytes; // Text and Hex
        QRegularExpression regex;
        QByteArray reply;
        std::deque<int64_t> answered; // the times of the answers of the last second
        int64_t hits = 0;
    };
    // The bytes waiting as text, and after each character the byte offset where it ends.
    struct PendingText
    {
        bool made = false;
        QString text;
        std::vector<qsizetype> ends;
    };
    // Where the rule's first match in m_pending ends (a byte offset), or -1.
    qsizetype matchEnd(const Compiled &c, PendingText &pending) const;

    std::vector<Compiled> m_rules;
    QByteArray m_pending; // received since the last match, no more than a pattern may need
    qsizetype m_keep = 0;
};

} // namespace AutoReply
