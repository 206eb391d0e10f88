// SPDX-License-Identifier: MIT
#include "CommandFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>

namespace CommandFile {

namespace {

constexpr const char *FormatName = "telvix-commands";

using CommandList::Command;

constexpr std::array<std::pair<AutoReply::Match, const char *>, 3> Matches {{
        {AutoReply::Match::Text, "text"},
        {AutoReply::Match::Hex, "hex"},
        {AutoReply::Match::Regex, "regex"},
}};

// What a command and a reply both carry: the bytes and how they are made.
void writeBytes(QJsonObject &row, const Command &c)
{
    row[u"form"] = c.hex ? QStringLiteral("hex") : QStringLiteral("text");
    row[u"content"] = c.content;
    row[u"ending"] = QLatin1String(CommandList::endingId(c.ending));
    row[u"checksum"] = QLatin1String(Checksum::of(c.check).id);
    row[u"checksumFrom"] = qint64(c.checkFrom + 1);
}

// Why the fields cannot be read, or empty.
QString readBytes(const QJsonObject &row, Command &c)
{
    const QString form = row.value(u"form").toString(QStringLiteral("text"));
    if (form != QLatin1String("text") && form != QLatin1String("hex"))
        return QStringLiteral("格式「%1」不是 text 或 hex").arg(form);
    c.hex = form == QLatin1String("hex");
    c.content = row.value(u"content").toString();
    const QString ending = row.value(u"ending").toString(QStringLiteral("none"));
    const std::optional<CommandList::Ending> e = CommandList::endingById(ending);
    if (!e)
        return QStringLiteral("行尾「%1」不明").arg(ending);
    c.ending = *e;
    const QString check = row.value(u"checksum").toString(QStringLiteral("none"));
    const std::optional<Checksum::Kind> kind = Checksum::byId(check);
    if (!kind)
        return QStringLiteral("校驗碼「%1」不明").arg(check);
    c.check = *kind;
    const qint64 from = row.value(u"checksumFrom").toInteger(1);
    if (from < 1)
        return QStringLiteral("校驗碼的起點 %1 不是正整數").arg(from);
    c.checkFrom = qsizetype(from - 1);
    return {};
}

// The commands, or the first bad row's message.
QString readCommands(const QJsonArray &rows, std::vector<Command> &commands)
{
    QStringList usedKeys;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QJsonObject row = rows.at(i).toObject();
        Command c;
        c.name = row.value(u"name").toString();
        QString why;
        if (!rows.at(i).isObject()) {
            why = QStringLiteral("不是一個命令");
        } else if (why = readBytes(row, c); why.isEmpty()) {
            const qint64 repeat = row.value(u"repeatMs").toInteger(0);
            why = CommandList::repeatProblem(repeat);
            c.repeatMs = int(repeat);
            c.key = row.value(u"key").toString();
            if (why.isEmpty())
                why = CommandList::problem(c);
            if (why.isEmpty() && !c.key.isEmpty() && usedKeys.contains(c.key))
                why = QStringLiteral("按鍵 %1 已給了前面的命令").arg(c.key);
        }
        if (!why.isEmpty())
            return QStringLiteral("第 %1 列「%2」:%3").arg(i + 1).arg(c.name, why);
        usedKeys << c.key;
        commands.push_back(std::move(c));
    }
    return {};
}

QString readReplies(const QJsonArray &rows, std::vector<AutoReply::Rule> &rules)
{
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QJsonObject row = rows.at(i).toObject();
        AutoReply::Rule r;
        r.name = row.value(u"name").toString();
        QString why;
        const QString match = row.value(u"match").toString(QStringLiteral("text"));
        const auto m = std::find_if(Matches.begin(), Matches.end(), [&](const auto &p) {
            return match == QLatin1String(p.second);
        });
        if (!rows.at(i).isObject())
            why = QStringLiteral("不是一條規則");
        else if (m == Matches.end())
            why = QStringLiteral("比對方式「%1」不是 text、hex 或 regex").arg(match);
        else
            why = readBytes(row.value(u"reply").toObject(), r.reply);
        if (!why.isEmpty())
            return QStringLiteral("規則 %1「%2」:%3").arg(i + 1).arg(r.name, why);
        r.match = m->first;
        r.on = row.value(u"on").toBool(true);
        r.pattern = row.value(u"pattern").toString();
        r.delayMs = int(row.value(u"delayMs").toInteger(0));
        r.maxPerSecond = int(row.value(u"maxPerSecond").toInteger(100));
        rules.push_back(std::move(r));
    }
    // The rest (patterns, delays, the replies' bytes) as the matcher checks them.
    return AutoReply::Matcher().setRules(rules);
}

} // namespace

QByteArray save(const Contents &contents)
{
    QJsonArray commands;
    for (const Command &c : contents.commands) {
        QJsonObject row;
        row[u"name"] = c.name;
        writeBytes(row, c);
        row[u"repeatMs"] = c.repeatMs;
        row[u"key"] = c.key;
        commands.append(row);
    }
    QJsonArray replies;
    for (const AutoReply::Rule &r : contents.replies) {
        QJsonObject row;
        row[u"name"] = r.name;
        row[u"on"] = r.on;
        for (const auto &[match, id] : Matches) {
            if (match == r.match)
                row[u"match"] = QLatin1String(id);
        }
        row[u"pattern"] = r.pattern;
        row[u"delayMs"] = r.delayMs;
        row[u"maxPerSecond"] = r.maxPerSecond;
        QJsonObject reply;
        writeBytes(reply, r.reply);
        row[u"reply"] = reply;
        replies.append(row);
    }
    QJsonObject top;
    top[u"format"] = QLatin1String(FormatName);
    top[u"version"] = Version;
    top[u"commands"] = commands;
    top[u"replies"] = replies;
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
    if (version > Version)
        return {{},
                QStringLiteral("命令清單檔是第 %1 版,比這個程式能讀的第 %2 版新")
                        .arg(version)
                        .arg(Version)};
    const QJsonValue replies = top.value(u"replies");
    if (version < 1 || !top.value(u"commands").isArray()
        || !(replies.isUndefined() || replies.isArray()))
        return {{}, QStringLiteral("命令清單檔的版本或內容不完整")};
    Loaded loaded;
    QString error = readCommands(top.value(u"commands").toArray(), loaded.contents.commands);
    if (error.isEmpty())
        error = readReplies(replies.toArray(), loaded.contents.replies);
    if (!error.isEmpty())
        return {{}, error};
    return loaded;
}

} // namespace CommandFile
