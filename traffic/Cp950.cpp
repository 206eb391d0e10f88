// SPDX-License-Identifier: MIT
#include "Cp950.h"

#include <unicode/ucnv.h>

#include <array>
#include <memory>

namespace Cp950 {

namespace {

constexpr char16_t Replacement = 0xFFFD;

struct ConverterCloser
{
    void operator()(UConverter *c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter openConverter(bool stopOnError)
{
    UErrorCode status = U_ZERO_ERROR;
    Converter c(ucnv_open("windows-950-2000", &status));
    if (U_FAILURE(status))
        qFatal("ICU lacks the windows-950-2000 converter: %s", u_errorName(status));
    if (stopOnError) {
        ucnv_setFromUCallBack(c.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                              &status);
        ucnv_setToUCallBack(c.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    }
    return c;
}

// Every pair a lead byte 80h-FFh can open, decoded once: the display decodes a pair per
// Chinese character, far too often to ask ICU each time.
using PairTable = std::array<char16_t, 128 * 256>;

const PairTable &pairTable()
{
    static const std::unique_ptr<PairTable> table = [] {
        auto t = std::make_unique<PairTable>();
        Converter c = openConverter(true);
        for (int lead = 0x80; lead <= 0xFF; ++lead) {
            for (int trail = 0; trail <= 0xFF; ++trail) {
                const char in[2] = {char(lead), char(trail)};
                UChar out[4];
                UErrorCode status = U_ZERO_ERROR;
                ucnv_reset(c.get());
                const int32_t n = ucnv_toUChars(c.get(), out, 4, in, 2, &status);
                const bool one = U_SUCCESS(status) && n == 1 && out[0] != 0x1A;
                (*t)[size_t((lead - 0x80) * 256 + trail)] = one ? out[0] : Replacement;
            }
        }
        return t;
    }();
    return *table;
}

} // namespace

QChar decodePair(uint8_t lead, uint8_t trail)
{
    if (lead < 0x80)
        return QChar(Replacement);
    return QChar(pairTable()[size_t((lead - 0x80) * 256 + trail)]);
}

std::optional<QByteArray> encode(const QString &text, qsizetype *badIndex)
{
    Converter c = openConverter(true);
    QByteArray out;
    out.reserve(text.size() * 2);
    // One character at a time, so the first that has no Big5 form can be named.
    for (qsizetype i = 0; i < text.size(); ++i) {
        qsizetype len = 1;
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            len = 2;
        char buf[8];
        UErrorCode status = U_ZERO_ERROR;
        const int32_t n = ucnv_fromUChars(c.get(), buf, sizeof buf,
                                          reinterpret_cast<const UChar *>(text.constData() + i),
                                          int32_t(len), &status);
        if (U_FAILURE(status) || n <= 0) {
            if (badIndex)
                *badIndex = i;
            return std::nullopt;
        }
        out.append(buf, n);
        i += len - 1;
    }
    return out;
}

QString decode(const QByteArray &bytes)
{
    Converter c = openConverter(false);
    QString out(bytes.size(), Qt::Uninitialized);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n =
            ucnv_toUChars(c.get(), reinterpret_cast<UChar *>(out.data()), int32_t(out.size()),
                          bytes.constData(), int32_t(bytes.size()), &status);
    if (U_FAILURE(status))
        return QString();
    out.truncate(n);
    return out;
}

} // namespace Cp950
