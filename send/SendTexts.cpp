// SPDX-License-Identifier: MIT
#include "SendTexts.h"

namespace SendTexts {

QString fileProgress(int64_t index, int64_t size)
{
    return QString::fromUtf8(FileSendStart) + QStringLiteral("..") + QString::number(index) + u'/'
            + QString::number(size);
}

QString fileSizeLabel(int64_t size) { return QString::number(size) + QStringLiteral(" byte"); }

QString fileSummary(const QString &path, int64_t size, int64_t sent, bool interrupted)
{
    return QStringLiteral("檔案名稱 : ") + path + u'\n' + QStringLiteral("檔案大小 : ")
            + QString::number(size) + u'\n' + QStringLiteral("總共傳送 : ") + QString::number(sent)
            + u'\n' + (interrupted ? QStringLiteral("傳送中斷!") : QStringLiteral("傳送完畢!"));
}

QString fileOpenFailed(const QString &path)
{
    return QStringLiteral("開啟檔案內容時,發生錯誤 [ ") + path + QStringLiteral(" ]");
}

QString negativeDelay(const QString &text)
{
    return QStringLiteral("延遲時間 '%1' 不可小於 0 ms,沒有傳送任何資料").arg(text);
}

QString negativeTerminalDelay(const QString &text)
{
    return QStringLiteral("傳送延遲不可為負數 : '%1'").arg(text);
}

QString badHex(const QString &problem) { return problem + QStringLiteral(",沒有傳送任何資料"); }

QString lineLost(qsizetype sent, qsizetype total)
{
    return QStringLiteral("串列埠已無法寫入 (裝置可能已移除),只送出 %1 / %2 byte")
            .arg(sent)
            .arg(total);
}

} // namespace SendTexts
