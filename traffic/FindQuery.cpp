// SPDX-License-Identifier: MIT
#include "FindQuery.h"

#include "traffic/DisplayFormatter.h"

namespace {

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

} // namespace

std::optional<QByteArray> FindQuery::hexBytes(QStringView text, QString *error)
{
    QByteArray bytes;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        if (text[i].isSpace() || text[i] == u',') {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < n && !text[end].isSpace() && text[end] != u',')
            ++end;
        QStringView group = text.mid(i, end - i);
        if (group.startsWith(u"0x", Qt::CaseInsensitive) && group.size() > 2)
            group = group.mid(2);
        if (group.endsWith(u'h', Qt::CaseInsensitive) && group.size() % 2 == 1)
            group.chop(1);
        for (QChar c : group) {
            if (hexValue(c) < 0) {
                if (error)
                    *error = QStringLiteral("「%1」不是 16 進制數字").arg(c);
                return std::nullopt;
            }
        }
        if (group.size() % 2 != 0) {
            if (error)
                *error = QStringLiteral("16 進制位元組須兩位數一組:「%1」")
                                 .arg(text.mid(i, end - i));
            return std::nullopt;
        }
        for (qsizetype k = 0; k < group.size(); k += 2)
            bytes.append(char(hexValue(group[k]) << 4 | hexValue(group[k + 1])));
        i = end;
    }
    return bytes;
}

std::optional<QString> FindQuery::shownText(const QByteArray &bytes,
                                            const DisplayFormatter &shownBy, QString *error)
{
    // A formatter of its own, so that the display's waiting Big5 byte is neither used nor
    // consumed; with no rule of line breaks, as the search skips them anyway.
    DisplayFormatter formatter;
    DisplaySettings settings = shownBy.settings();
    settings.lineBreakRule = LineBreakRule::NoCR;
    formatter.setSettings(settings);
    formatter.setHexForm(shownBy.hexForm());
    QString out;
    formatter.append(bytes, out);
    if (formatter.leadBytePending()) {
        if (error)
            *error = QStringLiteral("ASCII 模式下, 80h 以上的位元組與下一個位元組合為一個字");
        return std::nullopt;
    }
    // The blank after the last byte is no part of what was asked for: the match ends on the
    // digits, as the bytes between are apart by blanks.
    if (shownBy.hexForm() && out.endsWith(u' '))
        out.chop(1);
    return out;
}
