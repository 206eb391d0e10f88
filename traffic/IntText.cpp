// SPDX-License-Identifier: MIT
#include "IntText.h"

namespace IntText {

std::optional<int32_t> toInt32(const QString &text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > int64_t(INT32_MAX) + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX || value < INT32_MIN)
        return std::nullopt;
    return int32_t(value);
}

QString notAnIntegerMessage(const QString &text)
{
    return QStringLiteral("'%1' is not a valid integer value").arg(text);
}

} // namespace IntText
