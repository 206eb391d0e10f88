// SPDX-License-Identifier: MIT
#include "CaptureExport.h"

#include "traffic/LineEvents.h"
#include "traffic/LogFormat.h"
#include "traffic/ModbusFrames.h"
#include "traffic/SystemError.h"
#include "traffic/TrafficCapture.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QSaveFile>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace CaptureExport {

namespace {

// Writes to a descriptor it does not own, each piece whole, and says why it could not.
class FdDevice : public QIODevice
{
public:
    explicit FdDevice(int fd) : m_fd(fd) { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        qint64 done = 0;
        while (done < size) {
            const ssize_t n = ::write(m_fd, data + done, size_t(size - done));
            if (n < 0 && errno == EINTR)
                continue;
            // A write that stops short is asked again: the second one says why.
            if (n <= 0) {
                setErrorString(n < 0 ? SystemError::text(errno) : SystemError::text(EIO));
                return -1;
            }
            done += n;
        }
        return done;
    }

private:
    int m_fd;
};

// A pipe whose reader went away while it is written fails the save instead of ending the
// program: its signal is held meanwhile, and one it raised is taken back.
class PipeSignalHeld
{
public:
    PipeSignalHeld()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        m_pendingBefore = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_old);
    }
    ~PipeSignalHeld()
    {
        sigset_t pending;
        sigpending(&pending);
        const timespec none {};
        if (!m_pendingBefore && sigismember(&pending, SIGPIPE) == 1)
            sigtimedwait(&m_pipe, nullptr, &none);
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    PipeSignalHeld(const PipeSignalHeld &) = delete;
    PipeSignalHeld &operator=(const PipeSignalHeld &) = delete;

private:
    sigset_t m_pipe;
    sigset_t m_old;
    bool m_pendingBefore = false;
};

// The capture's traffic as the display shows it. When both directions are in it (terminal
// mode), or it names its directions (a watched conversation), each block of one direction
// opens with its name, as the conversation does.
class TextWriter
{
public:
    TextWriter(const TrafficCapture &capture, const TextStyle &style)
        : m_renderer(m_formatter), m_style(style)
    {
        m_formatter.setSettings(style.settings);
        m_formatter.setHexForm(style.hexForm);
        m_renderer.setOptions(style.options);
        m_labelled = capture.receivedBytes() > 0 && capture.sentBytes() > 0;
    }

    void add(const TrafficRecord &record, QString &out)
    {
        if (record.kind == TrafficKind::Sides) {
            m_sides = SideNames::of(record);
            m_lastSide = -1;
            return;
        }
        if (record.kind == TrafficKind::Report) {
            // The self-test's table belongs in the text as it stands, on lines of its own.
            m_renderer.appendText(QChar(DisplayFormatter::LineBreak) + LineEvents::describe(record)
                                          + QChar(DisplayFormatter::LineBreak),
                                  record.timeUs, out);
            return;
        }
        if (const std::optional<QString> note = m_notes.noteOf(record)) {
            m_renderer.appendNote(*note, record.timeUs, out);
            // What follows opens a block of its own again, as in the display.
            m_lastSide = -1;
            return;
        }
        if (LineEvents::isEvent(record.kind) || record.bytes.isEmpty())
            return;
        const TrafficKind kind =
                record.kind == TrafficKind::Flawed ? TrafficKind::Received : record.kind;
        // Sent, received on the first line, received on the second.
        const int side = kind == TrafficKind::Sent ? 2 : record.side;
        if ((m_labelled || !m_sides.isEmpty()) && side != m_lastSide) {
            m_lastSide = side;
            const QString &name = !m_sides.isEmpty() ? m_sides.nameOf(record)
                    : kind == TrafficKind::Sent      ? m_style.localName
                                                     : m_style.remoteName;
            QString label = QChar(DisplayFormatter::LineBreak);
            if (m_style.options.blockTimestamps && !m_style.options.lineTimestamps)
                label += TrafficRenderer::timestamp(record.timeUs);
            m_renderer.appendText(label + name + QStringLiteral(" : "), record.timeUs, out);
        }
        m_renderer.appendBytes(record.bytes, record.timeUs, out, kind);
    }
    void finish(QString &out) { m_renderer.finish(out); }

private:
    DisplayFormatter m_formatter;
    TrafficRenderer m_renderer;
    DeviceNotes m_notes;
    const TextStyle &m_style;
    bool m_labelled = false;
    SideNames m_sides;
    int m_lastSide = -1; // of the block that is open; none at first
};

// What a writer puts out; after the first write the device did not take, nothing more.
struct Sink
{
    QIODevice &out;
    bool ok = true;

    void put(const QByteArray &bytes)
    {
        if (ok && !bytes.isEmpty() && out.write(bytes) != bytes.size())
            ok = false;
    }
};

// Each writer is false when the capture could not be read back whole, and then writes no end.
template<bool Csv>
bool writeLines(const TrafficCapture &capture, const TextStyle &style, Sink &sink)
{
    LogFormat::Lines lines(Csv, style.joinGapMs);
    if constexpr (Csv)
        sink.put(LogFormat::csvStart());
    QByteArray line;
    if (!capture.forEach([&](const TrafficRecord &record) {
            line.clear();
            lines.add(record, line);
            sink.put(line);
        }))
        return false;
    line.clear();
    lines.finish(line);
    sink.put(line);
    return true;
}

bool writeText(const TrafficCapture &capture, const TextStyle &style, Sink &sink)
{
    TextWriter text(capture, style);
    if (!capture.forEach([&](const TrafficRecord &record) {
            QString shown;
            text.add(record, shown);
            sink.put(shown.toUtf8());
        }))
        return false;
    QString rest;
    text.finish(rest);
    sink.put(rest.toUtf8());
    return true;
}

bool writeRaw(const TrafficCapture &capture, const TextStyle &, Sink &sink)
{
    return capture.forEach([&](const TrafficRecord &record) {
        if (record.kind == TrafficKind::Received || record.kind == TrafficKind::Flawed)
            sink.put(record.bytes);
    });
}

// The capture's Modbus frames, a row each, in the order their first bytes came: each side
// framed on its own (the first and the second line, and what was sent), one describer over
// all, so that a reply is told by the request before it whoever sent that.
bool writeFrames(const TrafficCapture &capture, const TextStyle &style, Sink &sink)
{
    const modbus::Protocol protocol = style.options.protocol == modbus::Protocol::None
            ? modbus::Protocol::Rtu
            : style.options.protocol;
    const int64_t silence = modbus::silenceUs(style.lineBaudRate, style.bitsPerCharacter);
    const int64_t character = modbus::characterUs(style.lineBaudRate, style.bitsPerCharacter);
    struct Side
    {
        modbus::Framer framer;
        QString name;
    };
    std::vector<Side> sides;
    for (int i = 0; i < 3; ++i)
        sides.push_back({modbus::Framer(protocol, silence, character), QString()});
    modbus::Describer describer(protocol);
    SideNames names;
    sink.put(QByteArray(LogFormat::CsvBom)
             + "time,direction,address,function,name,role,fields,check,hex\n");
    std::vector<modbus::Frame> frames;
    const auto put = [&](const QString &direction) {
        for (const modbus::Frame &f : frames) {
            const modbus::Description d = describer.describe(f);
            QByteArray row = LogFormat::isoTime(f.timeUs).toUtf8();
            for (const QString &field : {direction, d.address, d.function, d.name, d.role,
                                         d.framed ? d.fields : QStringLiteral("無法解析"), d.check,
                                         LogFormat::hexOf(f.bytes)}) {
                row += ',';
                LogFormat::appendCsvField(field, row);
            }
            sink.put(row + '\n');
        }
        frames.clear();
    };
    if (!capture.forEach([&](const TrafficRecord &record) {
            if (record.kind == TrafficKind::Sides) {
                names = SideNames::of(record);
                return;
            }
            const bool sent = record.kind == TrafficKind::Sent;
            if (!sent && record.kind != TrafficKind::Received && record.kind != TrafficKind::Flawed)
                return;
            Side &side = sides[sent ? 2 : std::min<int>(record.side, 1)];
            side.name = !names.isEmpty() ? names.nameOf(record)
                    : sent               ? QStringLiteral("TX")
                                         : QStringLiteral("RX");
            // Another side's frames the silence has ended by now go first, in time order.
            for (Side &other : sides) {
                if (&other != &side) {
                    other.framer.flush(record.timeUs, frames);
                    put(other.name);
                }
            }
            side.framer.feed(record.bytes, record.timeUs, frames);
            put(side.name);
        }))
        return false;
    for (Side &side : sides) {
        side.framer.finish(frames);
        put(side.name);
    }
    return true;
}

struct FormatEntry
{
    Format format;
    QStringView suffix;
    // What the save dialog calls the format; its filter adds the suffix.
    QStringView title;
    bool (*writer)(const TrafficCapture &, const TextStyle &, Sink &);
};

// The first is the default: what an unknown format falls back to.
constexpr FormatEntry Formats[] = {
        {Format::Log, u"log", u"時間記錄", writeLines<false>},
        {Format::Csv, u"csv", u"CSV 表格", writeLines<true>},
        {Format::Text, u"txt", u"顯示的文字", writeText},
        {Format::Raw, u"bin", u"收到的原始位元組", writeRaw},
        {Format::Frames, u"csv", u"Modbus 框架表格", writeFrames},
};

const FormatEntry &entryOf(Format format)
{
    for (const FormatEntry &entry : Formats) {
        if (entry.format == format)
            return entry;
    }
    return Formats[0];
}

} // namespace

std::optional<Format> formatOfSuffix(const QString &suffix)
{
    for (const FormatEntry &entry : Formats) {
        if (suffix.compare(entry.suffix, Qt::CaseInsensitive) == 0)
            return entry.format;
    }
    return std::nullopt;
}

QString suffixOf(Format format) { return entryOf(format).suffix.toString(); }

QString filterOf(Format format)
{
    const FormatEntry &entry = entryOf(format);
    return QStringLiteral("%1 (*.%2)").arg(entry.title, entry.suffix);
}

Target targetOf(const QString &path, Format picked)
{
    const QFileInfo info(path);
    // A name with the suffix of the format picked keeps that format, where two share it.
    if (info.suffix().compare(suffixOf(picked), Qt::CaseInsensitive) == 0)
        return {path, picked};
    if (const std::optional<Format> named = formatOfSuffix(info.suffix()))
        return {path, *named};
    if (info.suffix().isEmpty() && !info.exists())
        return {path + u'.' + suffixOf(picked), picked};
    return {path, picked};
}

bool write(const TrafficCapture &capture, Format format, const TextStyle &style, QIODevice &out,
           QString *error)
{
    Sink sink {out};
    if (!entryOf(format).writer(capture, style, sink)) {
        if (error)
            *error = QStringLiteral("記錄的暫存檔無法讀回");
        return false;
    }
    if (!sink.ok && error)
        *error = out.errorString();
    return sink.ok;
}

bool save(const TrafficCapture &capture, Format format, const TextStyle &style, const QString &path,
          QString *error)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        // Not blocking at the open: a pipe that no one reads would hold the window there.
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            *error = SystemError::openText(path, errno);
            return false;
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        FdDevice out(fd);
        const PipeSignalHeld held;
        const bool ok = write(capture, format, style, out, error);
        ::close(fd);
        return ok;
    }
    // Qt's own write does not say why a write stopped short, as one does on a full disk: the
    // bytes go to the new file's descriptor here, the replacing stays Qt's.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *error = file.errorString();
        return false;
    }
    FdDevice out(file.handle());
    if (!write(capture, format, style, out, error)) {
        file.cancelWriting();
        return false;
    }
    errno = 0;
    if (!file.commit()) {
        *error = errno != 0 ? SystemError::text(errno) : file.errorString();
        return false;
    }
    return true;
}

} // namespace CaptureExport
