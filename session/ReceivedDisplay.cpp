// SPDX-License-Identifier: MIT
#include "ReceivedDisplay.h"

#include "serial/PortSettings.h"
#include "session/ModeHost.h"
#include "traffic/DisplayFormatter.h"

#include <algorithm>

ReceivedDisplay::ReceivedDisplay(ModeHost &host) : m_host(host)
{
    m_silence.setSingleShot(true);
    m_silence.callOnTimeout([this] {
        // Only once the display has taken nothing for longer than the passes are apart: until
        // then the bytes that may go on the frame can be waiting in the port's queue for the
        // next pass, and their times, not the clock, tell whether the line fell silent.
        if (monotonicMicroseconds() - m_lastTakeUs >= quietUs())
            flushFrames(false);
        passEnd();
    });
}

ReceivedDisplay::~ReceivedDisplay() = default;

void ReceivedDisplay::take(const TrafficRecord &record)
{
    if (showsFrames()
        && (record.kind == TrafficKind::Received || record.kind == TrafficKind::Flawed))
        addFrameBytes(record, {});
    else if (showsFrames() && record.kind == TrafficKind::Sent && m_host.showsSentCommands())
        addFrameBytes(record, QStringLiteral("送出"));
    else if (record.kind == TrafficKind::Received)
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

bool ReceivedDisplay::showsFrames() const
{
    return m_host.renderer().options().protocol != modbus::Protocol::None;
}

void ReceivedDisplay::addFrameBytes(const TrafficRecord &record, const QString &name)
{
    const modbus::Protocol protocol = m_host.renderer().options().protocol;
    if (protocol != m_framedAs) {
        // The user chose another protocol meanwhile: what the old one holds goes out first.
        flushFrames(true);
        m_framedAs = protocol;
        m_describer = std::make_unique<modbus::Describer>(protocol);
        for (FrameSide &side : m_frameSides)
            side.framer.reset();
    }
    FrameSide &side =
            m_frameSides[record.kind == TrafficKind::Sent ? 2 : std::min<int>(record.side, 1)];
    if (!side.framer) {
        const PortSettings::PortChoice port = PortSettings::current();
        const int bits = port.bitsPerCharacter();
        side.framer =
                std::make_unique<modbus::Framer>(protocol, modbus::silenceUs(port.baudRate, bits),
                                                 modbus::characterUs(port.baudRate, bits));
    }
    side.name = name;
    m_frames.clear();
    m_lastTakeUs = monotonicMicroseconds();
    side.framer->feed(record.bytes, record.timeUs, m_frames);
    addFrames(m_frames, name);
}

void ReceivedDisplay::addFrames(const std::vector<modbus::Frame> &frames, const QString &name)
{
    TrafficRenderer &renderer = m_host.renderer();
    // The renderer stamps each line itself where the user asked for it; a frame has its time
    // either way, the moment its first byte came.
    const bool stamped = renderer.options().lineTimestamps;
    for (const modbus::Frame &frame : frames) {
        const modbus::Description d = m_describer->describe(frame);
        const QString body = d.line();
        QString line = stamped ? QString() : TrafficRenderer::timestamp(frame.timeUs);
        if (!name.isEmpty())
            line += name + QStringLiteral("  ");
        line += body;
        renderer.appendNote(line, frame.timeUs, m_shown);
        if (!d.framed || !d.checkOk) {
            // Marked as flawed bytes are: the frame, not its time or its side.
            const qsizetype to = m_shown.size() - 1;
            m_marks.push_back({to - body.size(), to});
        }
    }
}

void ReceivedDisplay::flushFrames(bool all)
{
    const int64_t now = monotonicMicroseconds();
    for (FrameSide &side : m_frameSides) {
        if (!side.framer)
            continue;
        m_frames.clear();
        if (all)
            side.framer->finish(m_frames);
        else
            side.framer->flush(now, m_frames);
        addFrames(m_frames, side.name);
    }
}

int64_t ReceivedDisplay::quietUs() const { return int64_t(m_host.displayFrameMs()) * 1000 + 30000; }

void ReceivedDisplay::watchSilence()
{
    std::optional<int64_t> due;
    for (const FrameSide &side : m_frameSides) {
        if (const auto d = side.framer ? side.framer->dueUs() : std::nullopt)
            due = due ? std::min(*due, *d) : *d;
    }
    if (!due) {
        m_silence.stop();
        return;
    }
    const int64_t waitUs = std::max(*due, m_lastTakeUs + quietUs()) - monotonicMicroseconds();
    m_silence.start(int(std::clamp<int64_t>((waitUs + 999) / 1000, 1, 2000)));
}

void ReceivedDisplay::finish()
{
    flushFrames(true);
    m_silence.stop();
    m_host.renderer().finish(m_shown);
    passEnd();
}

void ReceivedDisplay::passEnd()
{
    if (m_framedAs != modbus::Protocol::None)
        watchSilence();
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
