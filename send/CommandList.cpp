// SPDX-License-Identifier: MIT
#include "CommandList.h"

#include "traffic/HexInput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>

namespace CommandList {

namespace {

constexpr const char *FormatName = "telvix-commands";

struct EndingName
{
    Ending ending;
    const char *id;
    const char *bytes;
};
constexpr std::array<EndingName, 4> Endings {{
        {Ending::None, "none", ""},
        {Ending::Cr, "cr", "\r"},
        {Ending::Lf, "lf", "\n"},
        {Ending::CrLf, "crlf", "\r\n"},
}};

const EndingName &endingOf(Ending e)
{
    for (const EndingName &n : Endings) {
        if (n.ending == e)
            return n;
    }
    return Endings[0];
}

QString repeatProblem(qint64 ms)
{
    if (ms >= 0 && ms <= MaxRepeatMs)
        return {};
    return QStringLiteral("重複間隔 %1 ms 不在 0 到 %2 之間").arg(ms).arg(MaxRepeatMs);
}

// A row's problem, or empty: what load() and the panel both refuse.
QString problemOf(const Command &c)
{
    if (!c.key.isEmpty() && !keys().contains(c.key))
        return QStringLiteral("按鍵「%1」不能用 (可用 F1–F12 與 Ctrl+1–Ctrl+9)").arg(c.key);
    if (const QString problem = repeatProblem(c.repeatMs); !problem.isEmpty())
        return problem;
    const SendText::Composed composed = compose(c);
    return composed.bytes ? QString() : composed.problem;
}

} // namespace

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

QByteArray save(const std::vector<Command> &commands)
{
    QJsonArray rows;
    for (const Command &c : commands) {
        QJsonObject row;
        row[u"name"] = c.name;
        row[u"form"] = c.hex ? QStringLiteral("hex") : QStringLiteral("text");
        row[u"content"] = c.content;
        row[u"ending"] = QLatin1String(endingOf(c.ending).id);
        row[u"checksum"] = QLatin1String(Checksum::of(c.check).id);
        row[u"checksumFrom"] = qint64(c.checkFrom + 1);
        row[u"repeatMs"] = c.repeatMs;
        row[u"key"] = c.key;
        rows.append(row);
    }
    QJsonObject top;
    top[u"format"] = QLatin1String(FormatName);
    top[u"version"] = FileVersion;
    top[u"commands"] = rows;
    return QJsonDocument(top).toJson(QJsonDocument::Indented);
}

Loaded load(const QByteArray &file)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file, &parseError);
    const QJsonObject top = doc.object();
    if (doc.isNull() || !doc.isObject()
        || top.value(u"format").toString() != QLatin1String(FormatName))
        return {{}, QStringLiteral("這不是 TELVIX 的命令清單檔")};
    const int version = top.value(u"version").toInt(0);
    if (version > FileVersion)
        return {{},
                QStringLiteral("命令清單檔是第 %1 版,比這個程式能讀的第 %2 版新")
                        .arg(version)
                        .arg(FileVersion)};
    if (version < 1 || !top.value(u"commands").isArray())
        return {{}, QStringLiteral("命令清單檔的版本或內容不完整")};

    const QJsonArray rows = top.value(u"commands").toArray();
    Loaded loaded;
    QStringList usedKeys;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QJsonObject row = rows.at(i).toObject();
        Command c;
        c.name = row.value(u"name").toString();
        const auto bad = [&](const QString &why) {
            return Loaded {{}, QStringLiteral("第 %1 列「%2」:%3").arg(i + 1).arg(c.name, why)};
        };
        if (!rows.at(i).isObject())
            return bad(QStringLiteral("不是一個命令"));
        const QString form = row.value(u"form").toString(QStringLiteral("text"));
        if (form != QLatin1String("text") && form != QLatin1String("hex"))
            return bad(QStringLiteral("格式「%1」不是 text 或 hex").arg(form));
        c.hex = form == QLatin1String("hex");
        c.content = row.value(u"content").toString();
        const QString ending = row.value(u"ending").toString(QStringLiteral("none"));
        const auto e = std::find_if(Endings.begin(), Endings.end(), [&](const EndingName &n) {
            return ending == QLatin1String(n.id);
        });
        if (e == Endings.end())
            return bad(QStringLiteral("行尾「%1」不明").arg(ending));
        c.ending = e->ending;
        const QString check = row.value(u"checksum").toString(QStringLiteral("none"));
        const std::optional<Checksum::Kind> kind = Checksum::byId(check);
        if (!kind)
            return bad(QStringLiteral("校驗碼「%1」不明").arg(check));
        c.check = *kind;
        const qint64 from = row.value(u"checksumFrom").toInteger(1);
        if (from < 1)
            return bad(QStringLiteral("校驗碼的起點 %1 不是正整數").arg(from));
        c.checkFrom = qsizetype(from - 1);
        const qint64 repeat = row.value(u"repeatMs").toInteger(0);
        if (const QString problem = repeatProblem(repeat); !problem.isEmpty())
            return bad(problem);
        c.repeatMs = int(repeat);
        c.key = row.value(u"key").toString();
        if (const QString problem = problemOf(c); !problem.isEmpty())
            return bad(problem);
        if (!c.key.isEmpty() && usedKeys.contains(c.key))
            return bad(QStringLiteral("按鍵 %1 已給了前面的命令").arg(c.key));
        usedKeys << c.key;
        loaded.commands.push_back(std::move(c));
    }
    return loaded;
}

} // namespace CommandList
