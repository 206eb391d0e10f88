// SPDX-License-Identifier: MIT
#include "CommandList.h"

#include "traffic/HexInput.h"

#include <array>

namespace CommandList {

namespace {

struct EndingName
{
    Ending ending;
    const char *id;
    const char *bytes;
    const char *label; // in the boxes that offer it
};
constexpr std::array<EndingName, 4> Endings {{
        {Ending::None, "none", "", "無"},
        {Ending::Cr, "cr", "\r", "CR"},
        {Ending::Lf, "lf", "\n", "LF"},
        {Ending::CrLf, "crlf", "\r\n", "CR LF"},
}};

const EndingName &endingOf(Ending e)
{
    for (const EndingName &n : Endings) {
        if (n.ending == e)
            return n;
    }
    return Endings[0];
}

} // namespace

QString repeatProblem(qint64 ms)
{
    if (ms >= 0 && ms <= MaxRepeatMs)
        return {};
    return QStringLiteral("重複間隔 %1 ms 不在 0 到 %2 之間").arg(ms).arg(MaxRepeatMs);
}

QString problem(const Command &c)
{
    if (!c.key.isEmpty() && !keys().contains(c.key))
        return QStringLiteral("按鍵「%1」不能用 (可用 F1–F12 與 Ctrl+1–Ctrl+9)").arg(c.key);
    if (const QString p = repeatProblem(c.repeatMs); !p.isEmpty())
        return p;
    const SendText::Composed composed = compose(c);
    return composed.bytes ? QString() : composed.problem;
}

const char *endingId(Ending ending) { return endingOf(ending).id; }

QByteArray endingBytes(Ending ending) { return endingOf(ending).bytes; }

const QStringList &endingLabels()
{
    static const QStringList labels = [] {
        QStringList l;
        for (const EndingName &n : Endings)
            l << QString::fromUtf8(n.label);
        return l;
    }();
    return labels;
}

std::optional<Ending> endingById(QStringView id)
{
    for (const EndingName &n : Endings) {
        if (id == QLatin1String(n.id))
            return n.ending;
    }
    return std::nullopt;
}

const QStringList &keys()
{
    static const QStringList all = [] {
        QStringList k;
        for (int i = 1; i <= 12; ++i)
            k << QStringLiteral("F%1").arg(i);
        for (int i = 1; i <= 9; ++i)
            k << QStringLiteral("Ctrl+%1").arg(i);
        return k;
    }();
    return all;
}

SendText::Composed compose(const Command &command)
{
    // A bad digit is said as the hex parser says it: where the message goes (a send, a file
    // being opened) adds what became of the command.
    SendText::Composed content;
    if (command.hex) {
        HexInput::Parsed parsed = HexInput::parse(command.content);
        if (!parsed.ok())
            return {std::nullopt, parsed.error};
        content.bytes = std::move(parsed.bytes);
    } else {
        content = SendText::compose(command.content, false);
        if (!content.bytes)
            return content;
    }
    const Checksum::Appended checked =
            Checksum::append(command.check, *content.bytes, command.checkFrom);
    if (!checked.ok())
        return {std::nullopt, checked.error};
    return {checked.bytes + endingOf(command.ending).bytes, QString()};
}

} // namespace CommandList
