// SPDX-License-Identifier: MIT
#include "AboutTexts.h"

namespace AboutTexts {

namespace {

QString labelled(const char *label, const char *value)
{
    return QString::fromUtf8(label) + QStringLiteral(" : ") + QString::fromUtf8(value);
}

} // namespace

QStringList aboutLines()
{
    return {
            QStringLiteral(" "),
            labelled("程式", "TELVIX"),
            labelled("作者", Author),
            labelled("連絡", Contact),
            QStringLiteral("TELVIX 是一個RS232資料傳送/接收測試程式"),
            QStringLiteral("測試程式,無法保證其資料輸出(入)結果是為正確!"),
            QStringLiteral("它僅提供在 RS232資料上的分析與數據之測試程式"),
            QStringLiteral("使工作人員,在執行週邊資料通訊時,能提高通訊檢測效率"),
            QString(50, u'='),
            QStringLiteral("感謝您,繼續使用本軟體,做為RS232通訊埠資料測試工具"),
            QStringLiteral("有更多軟體上的建議的話,請來信指教"),
            QString(31, u'-'),
            QStringLiteral("本軟體免費提供給任何人使用,個人或公司皆可"),
            QStringLiteral("歡迎自由複製、轉送與修改,無須事先告知作者"),
            QStringLiteral("轉送時請附上本段說明,並請勿以販售本軟體牟利"),
            QStringLiteral("本軟體依現狀提供,不附帶任何形式的保證"),
            QStringLiteral("因使用本軟體而產生的任何損失,作者概不負責"),
    };
}

QStringList versionLines()
{
    return {
            QStringLiteral(" "),      labelled("軟體", "TELVIX"),    labelled("版本", "3.6"),
            labelled("作者", Author), labelled("日期", "2004,9/06"), labelled("連繫", Contact),
    };
}

} // namespace AboutTexts
