// SPDX-License-Identifier: MIT
#include "ReceivedDisplay.h"

#include "session/ModeHost.h"
#include "traffic/DisplayFormatter.h"

#include <algorithm>

void ReceivedDisplay::take(const TrafficRecord &record)
{
    if (record.kind == TrafficKind::Received)
        addBytes(record.bytes, record.timeUs);
    else if (record.kind == TrafficKind::Flawed)
        addFlawed(record.bytes, record.timeUs);
    else if (record.kind == TrafficKind::LineGone || record.kind == TrafficKind::LineBack)
        addDeviceNote(record);
    else if (record.kind == TrafficKind::Sent && m_host.showsSentCommands())
        addSent(record);
}

void ReceivedDisplay::addSent(const TrafficRecord &record)
{
    // A line of its own, so that it is not taken for a part of what arrives around it.
    addText(QChar(DisplayFormatter::LineBreak) + QStringLiteral("送出 : "), record.timeUs);
    addBytes(record.bytes, record.timeUs, TrafficKind::Sent);
    addText(QChar(DisplayFormatter::LineBreak), record.timeUs);
}

void ReceivedDisplay::addDeviceNote(const TrafficRecord &record)
{
    if (const std::optional<QString> note = m_notes.noteOf(record))
        m_host.renderer().appendNote(*note, record.timeUs, m_shown);
}

void ReceivedDisplay::addFlawed(const QByteArray &bytes, int64_t timeUs)
{
    // Byte by byte, so that what the renderer puts around a byte (a line break, the time that
    // starts a line, the separator after it) stays unmarked. Flaws are rare; the cost is theirs.
    TrafficRenderer &renderer = m_host.renderer();
    const bool stamped = renderer.options().lineTimestamps;
    const size_t marksBefore = m_marks.size();
    for (char c : bytes) {
        qsizetype from = m_shown.size();
        renderer.appendBytes(QByteArray(1, c), timeUs, m_shown);
        qsizetype to = m_shown.size();
        const qsizetype nl = QStringView(m_shown).mid(from, to - from).lastIndexOf(u'\n');
        if (nl >= 0 && from + nl + 1 < to)
            from += nl + 1;
        if (stamped && to - from > StampLength && m_shown[from] == u'['
            && m_shown[from + StampLength - 2] == u']')
            from += StampLength;
        while (to - from > 1 && m_shown[to - 1] == u' ')
            --to;
        if (to <= from)
            continue;
        // Flawed bytes in a row are one mark, the separators between them included; a sound
        // blank between two records is no separator.
        const QStringView gap = m_marks.size() > marksBefore
                ? QStringView(m_shown).mid(m_marks.back().to, from - m_marks.back().to)
                : QStringView();
        const bool joins = !gap.isNull()
                && std::all_of(gap.begin(), gap.end(), [](QChar c) { return c == u' '; });
        if (joins)
            m_marks.back().to = to;
        else
            m_marks.push_back({from, to});
    }
}

void ReceivedDisplay::addBytes(const QByteArray &bytes, int64_t timeUs, TrafficKind direction)
{
    m_host.renderer().appendBytes(bytes, timeUs, m_shown, direction);
}

void ReceivedDisplay::addText(const QString &text, int64_t timeUs)
{
    m_host.renderer().appendText(text, timeUs, m_shown);
}

void ReceivedDisplay::finish()
{
    m_host.renderer().finish(m_shown);
    passEnd();
}

void ReceivedDisplay::passEnd()
{
    if (m_shown.isEmpty())
        return;
    if (m_marks.empty()) {
        m_host.display().insertAtCaret(m_shown);
    } else {
        m_host.display().insertMarked(m_shown, m_marks);
        m_marks.clear();
    }
    // The buffer stays for the next pass, which fills it again at once: QString::clear() gives
    // it back, and growing a new one each pass cost a page fault every few kilobytes, three
    // times as many in the HEX form. Only an outsized one is let go.
    if (m_shown.capacity() > KeptCapacity)
        m_shown = QString();
    else
        m_shown.resize(0);
}
