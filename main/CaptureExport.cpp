// SPDX-License-Identifier: MIT
#include "CaptureExport.h"

#include "main/LineEvents.h"
#include "main/LogFormat.h"
#include "main/TrafficCapture.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QSaveFile>

namespace CaptureExport {

std::optional<Format> formatOfSuffix(const QString &suffix)
{
    for (Format f : {Format::Log, Format::Csv, Format::Text, Format::Raw}) {
        if (suffix.compare(suffixOf(f), Qt::CaseInsensitive) == 0)
            return f;
    }
    return std::nullopt;
}

QString suffixOf(Format format)
{
    switch (format) {
    case Format::Csv:
        return QStringLiteral("csv");
    case Format::Text:
        return QStringLiteral("txt");
    case Format::Raw:
        return QStringLiteral("bin");
    case Format::Log:
        break;
    }
    return QStringLiteral("log");
}

QString filterOf(Format format)
{
    switch (format) {
    case Format::Csv:
        return QStringLiteral("CSV 表格 (*.csv)");
    case Format::Text:
        return QStringLiteral("顯示的文字 (*.txt)");
    case Format::Raw:
        return QStringLiteral("收到的原始位元組 (*.bin)");
    case Format::Log:
        break;
    }
    return QStringLiteral("時間記錄 (*.log)");
}

Target targetOf(const QString &path, Format picked)
{
    const QFileInfo info(path);
    if (const std::optional<Format> named = formatOfSuffix(info.suffix()))
        return {path, *named};
    if (info.suffix().isEmpty() && !info.exists())
        return {path + u'.' + suffixOf(picked), picked};
    return {path, picked};
}

namespace {

// The capture's traffic as the display shows it. When both directions are in it (terminal
// mode), each block of one direction opens with its name, as the conversation does.
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
        if (record.kind == TrafficKind::Report) {
            // The self-test's table belongs in the text as it stands, on lines of its own.
            m_renderer.appendText(QChar(DisplayFormatter::LineBreak) + LineEvents::describe(record)
                                          + QChar(DisplayFormatter::LineBreak),
                                  record.timeUs, out);
            return;
        }
        if (LineEvents::isEvent(record.kind) || record.bytes.isEmpty())
            return;
        const TrafficKind kind =
                record.kind == TrafficKind::Flawed ? TrafficKind::Received : record.kind;
        if (m_labelled && kind != m_lastKind) {
            m_lastKind = kind;
            const QString &name =
                    kind == TrafficKind::Sent ? m_style.localName : m_style.remoteName;
            QString label = QChar(DisplayFormatter::LineBreak);
            if (m_style.options.blockTimestamps && !m_style.options.lineTimestamps)
                label += TrafficRenderer::timestamp(record.timeUs);
            m_renderer.appendText(label + name + QStringLiteral(" : "), record.timeUs, out);
        }
        m_renderer.appendBytes(record.bytes, record.timeUs, out);
    }
    void finish(QString &out) { m_renderer.finish(out); }

private:
    DisplayFormatter m_formatter;
    TrafficRenderer m_renderer;
    const TextStyle &m_style;
    bool m_labelled = false;
    TrafficKind m_lastKind = TrafficKind::LineGone;
};

} // namespace

bool write(const TrafficCapture &capture, Format format, const TextStyle &style, QIODevice &out,
           QString *error)
{
    bool ok = true;
    const auto put = [&](const QByteArray &bytes) {
        if (ok && !bytes.isEmpty() && out.write(bytes) != bytes.size())
            ok = false;
    };
    TextWriter text(capture, style);
    if (format == Format::Csv)
        put(LogFormat::CsvHeader);
    QByteArray line;
    const bool complete = capture.forEach([&](const TrafficRecord &record) {
        line.clear();
        switch (format) {
        case Format::Log:
            LogFormat::appendLogLine(record, line);
            put(line);
            break;
        case Format::Csv:
            LogFormat::appendCsvLine(record, line);
            put(line);
            break;
        case Format::Raw:
            if (record.kind == TrafficKind::Received || record.kind == TrafficKind::Flawed)
                put(record.bytes);
            break;
        case Format::Text: {
            QString shown;
            text.add(record, shown);
            put(shown.toUtf8());
            break;
        }
        }
    });
    if (!complete) {
        if (error)
            *error = QStringLiteral("記錄的暫存檔無法讀回");
        return false;
    }
    if (format == Format::Text) {
        QString rest;
        text.finish(rest);
        put(rest.toUtf8());
    }
    if (!ok && error)
        *error = out.errorString();
    return ok;
}

bool save(const TrafficCapture &capture, Format format, const TextStyle &style,
          const QString &path, QString *error)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly)) {
            *error = out.errorString();
            return false;
        }
        if (!write(capture, format, style, out, error))
            return false;
        if (!out.flush()) {
            *error = out.errorString();
            return false;
        }
        return true;
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        *error = out.errorString();
        return false;
    }
    if (!write(capture, format, style, out, error)) {
        out.cancelWriting();
        return false;
    }
    if (!out.commit()) {
        *error = out.errorString();
        return false;
    }
    return true;
}

} // namespace CaptureExport
