// SPDX-License-Identifier: MIT
#include "HexInput.h"

#include <QList>

namespace HexInput {

namespace {

int digitValue(char32_t c)
{
    if (c >= U'0' && c <= U'9')
        return int(c - U'0');
    if (c >= U'a' && c <= U'f')
        return int(c - U'a') + 10;
    if (c >= U'A' && c <= U'F')
        return int(c - U'A') + 10;
    return -1;
}

bool isBlank(char32_t c) { return c == U' ' || c == U'\t' || c == U'\r' || c == U'\n'; }

// One character of the text with where the user sees it.
struct Place
{
    int line = 1;
    int column = 1;
    QString text;
};

QString where(const Place &place, bool severalLines)
{
    if (severalLines)
        return QStringLiteral("第 %1 行第 %2 個字元 '%3'")
                .arg(place.line)
                .arg(place.column)
                .arg(place.text);
    return QStringLiteral("第 %1 個字元 '%2'").arg(place.column).arg(place.text);
}

// A control code would make the quotes look empty; its code point is unmistakable.
QString shown(char32_t c)
{
    if (c < 0x20 || c == 0x7F)
        return QStringLiteral("U+%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
    return QString::fromUcs4(&c, 1);
}

} // namespace

Parsed parse(const QString &text)
{
    const bool severalLines = text.contains(u'\n') || text.contains(u'\r');
    const QList<uint> chars = text.toUcs4();
    QByteArray bytes;
    bytes.reserve(chars.size() / 2 + 1);

    int line = 1;
    int column = 0;
    int pending = -1; // the first digit of a byte, waiting for its second
    Place pendingPlace;
    int runLength = 0; // digits since the last blank
    char32_t previous = 0;

    // The end of a run of digits: a lone digit is a byte, a digit left over after pairs is not.
    auto endRun = [&]() -> QString {
        if (pending >= 0) {
            if (runLength > 1)
                return where(pendingPlace, severalLines)
                        + QStringLiteral(" 沒有成對 (每個位元組是兩位十六進位數字)");
            bytes.append(char(pending));
        }
        pending = -1;
        runLength = 0;
        return QString();
    };

    for (const uint u : chars) {
        const char32_t c = u;
        if (c == U'\n' && previous == U'\r') {
            previous = c;
            continue; // CR LF is one line break
        }
        previous = c;
        ++column;
        if (isBlank(c)) {
            const QString error = endRun();
            if (!error.isEmpty())
                return {QByteArray(), error};
            if (c == U'\r' || c == U'\n') {
                ++line;
                column = 0;
            }
            continue;
        }
        const int value = digitValue(c);
        const Place place {line, column, shown(c)};
        if (value < 0)
            return {QByteArray(), where(place, severalLines) + QStringLiteral(" 不是十六進位數字")};
        ++runLength;
        if (pending < 0) {
            pending = value;
            pendingPlace = place;
        } else {
            bytes.append(char(pending * 16 + value));
            pending = -1;
        }
    }
    const QString error = endRun();
    if (!error.isEmpty())
        return {QByteArray(), error};
    return {bytes, QString()};
}

} // namespace HexInput
