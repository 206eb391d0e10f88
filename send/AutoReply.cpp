// SPDX-License-Identifier: MIT
#include "AutoReply.h"

#include "traffic/Cp950.h"
#include "traffic/HexInput.h"

#include <algorithm>

namespace AutoReply {

namespace {

constexpr int64_t SecondUs = 1000000;

bool isLead(uint8_t b) { return b >= 0x81 && b <= 0xFE; }
bool isTrail(uint8_t b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0xA1 && b <= 0xFE); }

// The bytes as text, and after each character the byte offset where it ends. A lead byte at
// the end waits for its trail: the text stops before it.
QString textOf(const QByteArray &bytes, std::vector<qsizetype> &ends)
{
    QString text;
    ends.clear();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const uint8_t b = uint8_t(bytes[i]);
        if (isLead(b)) {
            if (i + 1 == bytes.size())
                break;
            if (isTrail(uint8_t(bytes[i + 1]))) {
                text += Cp950::decodePair(b, uint8_t(bytes[i + 1]));
                ++i;
                ends.push_back(i + 1);
                continue;
            }
        }
        text += QChar(b < 0x80 ? char16_t(b) : char16_t(0xFFFD));
        ends.push_back(i + 1);
    }
    return text;
}

} // namespace

QString Matcher::setRules(const std::vector<Rule> &rules)
{
    std::vector<Compiled> compiled;
    qsizetype keep = 0;
    for (size_t i = 0; i < rules.size(); ++i) {
        const Rule &r = rules[i];
        const auto bad = [&](const QString &why) {
            return QStringLiteral("規則 %1「%2」:%3").arg(i + 1).arg(r.name, why);
        };
        Compiled c;
        c.rule = r;
        if (r.pattern.isEmpty())
            return bad(QStringLiteral("沒有要找的內容"));
        if (r.match == Match::Regex) {
            c.regex = QRegularExpression(r.pattern);
            if (!c.regex.isValid())
                return bad(QStringLiteral("規則運算式有誤:%1").arg(c.regex.errorString()));
            c.regex.optimize();
            keep = std::max(keep, RegexWindow);
        } else if (r.match == Match::Hex) {
            const HexInput::Parsed parsed = HexInput::parse(r.pattern);
            if (!parsed.ok())
                return bad(parsed.error);
            c.bytes = parsed.bytes;
        } else {
            const SendText::Bytes b = SendText::toBytes(r.pattern);
            if (!b.bytes)
                return bad(SendText::unencodableMessage(r.pattern, b.badIndex));
            c.bytes = *b.bytes;
        }
        if (c.rule.match != Match::Regex && c.bytes.isEmpty())
            return bad(QStringLiteral("沒有要找的內容"));
        keep = std::max(keep, c.bytes.size() - 1);
        if (r.delayMs < 0 || r.delayMs > MaxDelayMs)
            return bad(
                    QStringLiteral("延遲 %1 ms 不在 0 到 %2 之間").arg(r.delayMs).arg(MaxDelayMs));
        if (r.maxPerSecond < 1)
            return bad(QStringLiteral("每秒回應次數至少要 1"));
        const SendText::Composed reply = CommandList::compose(r.reply);
        if (!reply.bytes)
            return bad(QStringLiteral("回應:%1").arg(reply.problem));
        c.reply = *reply.bytes;
        compiled.push_back(std::move(c));
    }
    m_rules = std::move(compiled);
    m_keep = keep;
    m_pending.clear();
    return {};
}

qsizetype Matcher::matchEnd(const Compiled &c, PendingText &pending) const
{
    if (c.rule.match != Match::Regex) {
        const qsizetype at = m_pending.indexOf(c.bytes);
        return at < 0 ? -1 : at + c.bytes.size();
    }
    if (!pending.made) {
        pending.text = textOf(m_pending, pending.ends);
        pending.made = true;
    }
    const std::vector<qsizetype> &ends = pending.ends;
    const QRegularExpressionMatch m = c.regex.match(pending.text);
    // An empty match would answer every byte.
    if (!m.hasMatch() || m.capturedLength() == 0)
        return -1;
    return ends[size_t(m.capturedEnd() - 1)];
}

std::vector<Hit> Matcher::feed(QByteArrayView received, int64_t nowUs)
{
    std::vector<Hit> hits;
    if (m_rules.empty())
        return hits;
    m_pending.append(received);
    for (;;) {
        qsizetype bestEnd = -1;
        size_t best = 0;
        // Made once for all the regular expressions, when the first of them asks.
        PendingText pending;
        for (size_t i = 0; i < m_rules.size(); ++i) {
            if (!m_rules[i].rule.on)
                continue;
            const qsizetype end = matchEnd(m_rules[i], pending);
            if (end >= 0 && (bestEnd < 0 || end < bestEnd)) {
                bestEnd = end;
                best = i;
            }
        }
        if (bestEnd < 0)
            break;
        Compiled &c = m_rules[best];
        ++c.hits;
        while (!c.answered.empty() && c.answered.front() <= nowUs - SecondUs)
            c.answered.pop_front();
        const bool limited = qsizetype(c.answered.size()) >= c.rule.maxPerSecond;
        if (!limited)
            c.answered.push_back(nowUs);
        hits.push_back({int(best), c.reply, c.rule.delayMs, limited});
        m_pending.remove(0, bestEnd);
    }
    if (m_pending.size() > m_keep)
        m_pending.remove(0, m_pending.size() - m_keep);
    return hits;
}

int64_t Matcher::hits(int rule) const
{
    return rule >= 0 && size_t(rule) < m_rules.size() ? m_rules[size_t(rule)].hits : 0;
}

void Matcher::reset()
{
    m_pending.clear();
    for (Compiled &c : m_rules) {
        c.hits = 0;
        c.answered.clear();
    }
}

} // namespace AutoReply
