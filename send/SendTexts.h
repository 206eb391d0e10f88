// SPDX-License-Identifier: MIT
// What the transmissions tell the user: status texts, the file summary and their messages.
#pragma once

#include <QString>

#include <cstdint>

namespace SendTexts {

inline constexpr const char *FileSendStart = "傳送(檔案內容)";
inline constexpr const char *StringSendStart = "傳送(自定字串)......";

// "傳送(檔案內容)..0/300" after the first of 300 bytes: `index` is that of the byte just sent.
QString fileProgress(int64_t index, int64_t size);
// "1024 byte"; "-1 byte" when the size could not be queried.
QString fileSizeLabel(int64_t size);
// Four lines: name, size, file bytes sent, and whether the transfer completed.
QString fileSummary(const QString &path, int64_t size, int64_t sent, bool interrupted);
QString fileOpenFailed(const QString &path);

// A delay below zero, which no pause can honour: found before anything was sent, and in
// terminal mode, where the delay is read after each byte has gone out.
QString negativeDelay(const QString &text);
QString negativeTerminalDelay(const QString &text);
// A hex text with a bad digit, as HexInput names it: refused before anything was sent.
QString badHex(const QString &problem);
// The line stopped taking bytes (the device is gone) part-way through a string.
QString lineLost(qsizetype sent, qsizetype total);

} // namespace SendTexts
