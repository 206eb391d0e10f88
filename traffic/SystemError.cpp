// SPDX-License-Identifier: MIT
#include "SystemError.h"

#include <QFile>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <locale.h>
#include <netdb.h>
#include <sys/stat.h>

namespace SystemError {

namespace {

const char16_t *wordingOf(int errnum)
{
    switch (errnum) {
    case ENOSPC:
        return u"磁碟空間不足";
    case EDQUOT:
        return u"超過磁碟配額";
    case EFBIG:
        return u"檔案太大";
    case EACCES:
        return u"沒有權限";
    case EPERM:
        return u"不允許這個操作";
    case EROFS:
        return u"唯讀的檔案系統";
    case EIO:
        return u"輸入輸出錯誤 (裝置或媒體故障)";
    case ENOENT:
        return u"檔案或資料夾不存在";
    case ENOTDIR:
        return u"路徑中有一段不是資料夾";
    case EISDIR:
        return u"這是一個資料夾";
    case ENAMETOOLONG:
        return u"名稱太長";
    case EEXIST:
        return u"檔案已存在";
    case ETXTBSY:
        return u"檔案正在使用中";
    case EMFILE:
    case ENFILE:
        return u"開啟的檔案太多";
    case ENOMEM:
        return u"記憶體不足";
    case ENXIO:
    case ENODEV:
        return u"裝置不存在";
    case EBUSY:
        return u"裝置忙碌中";
    case EAGAIN:
        return u"暫時無法使用, 請稍後再試";
    case EPIPE:
        return u"對方已關閉 (管道或連線中斷)";
    case ECONNREFUSED:
        return u"連線被拒絕";
    case ECONNRESET:
        return u"連線被對方重設";
    case ETIMEDOUT:
        return u"連線逾時";
    case EHOSTUNREACH:
        return u"無法連到主機";
    case ENETUNREACH:
        return u"無法連到網路";
    case EHOSTDOWN:
        return u"主機沒有回應";
    case EADDRINUSE:
        return u"位址已被使用";
    case ENOTTY:
        return u"不是終端裝置";
    case EINVAL:
        return u"參數不正確";
    case ECONNABORTED:
        return u"連線被中止";
    case ENOTCONN:
        return u"沒有連線";
    case EADDRNOTAVAIL:
        return u"無法使用這個位址";
    case ENETDOWN:
        return u"網路沒有啟用";
    case ENETRESET:
        return u"網路中斷了連線";
    case EAFNOSUPPORT:
        return u"不支援這種位址";
    case ELOOP:
        return u"符號連結太多層";
    case EOPNOTSUPP:
        return u"不支援這個操作";
    case EPROTO:
        return u"通訊協定錯誤";
    case ECANCELED:
        return u"已取消";
    case EBADF:
        return u"檔案描述元無效";
    case EINTR:
        return u"被訊號中斷";
    case ENOSYS:
        return u"系統不支援這個功能";
    case ERANGE:
        return u"數值超出範圍";
    case EOVERFLOW:
        return u"數值太大";
    case ENOBUFS:
        return u"系統緩衝區不足";
    default:
        return nullptr;
    }
}

// The C locale's words, whatever language the desktop speaks: the Chinese is ours.
QString systemWordsOf(int errnum)
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    if (c)
        return QString::fromLocal8Bit(strerror_l(errnum, c));
    return QString::fromLocal8Bit(strerror(errnum));
}

} // namespace

QString text(int errnum)
{
    const QString system = systemWordsOf(errnum);
    if (const char16_t *ours = wordingOf(errnum))
        return QStringLiteral("%1 (%2)").arg(QStringView(ours), system);
    return system;
}

QString words(int errnum)
{
    if (const char16_t *ours = wordingOf(errnum))
        return QString::fromUtf16(ours);
    // The symbolic name finds the cause in any search, and the number is no language.
    if (const char *name = strerrorname_np(errnum))
        return QStringLiteral("系統錯誤 %1").arg(QLatin1String(name));
    return QStringLiteral("系統錯誤 %1").arg(errnum);
}

QString lookupWords(int status, int errnum)
{
    switch (status) {
    case EAI_NONAME:
        return QStringLiteral("沒有這個名稱");
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
        return QStringLiteral("這個名稱沒有可用的位址");
    case EAI_AGAIN:
        return QStringLiteral("名稱伺服器暫時沒有回應");
    case EAI_FAIL:
        return QStringLiteral("名稱伺服器無法回答");
    case EAI_SERVICE:
        return QStringLiteral("埠號不正確");
    case EAI_FAMILY:
        return QStringLiteral("不支援這種位址");
    case EAI_MEMORY:
        return QStringLiteral("記憶體不足");
    case EAI_SYSTEM:
        return words(errnum);
    default:
        return QStringLiteral("名稱查詢失敗 (代碼 %1)").arg(status);
    }
}

QString openText(const QString &path, int errnum)
{
    struct stat st
    { };
    if (errnum == ENXIO && stat(QFile::encodeName(path).constData(), &st) == 0
        && S_ISFIFO(st.st_mode))
        return QStringLiteral("沒有程式在讀取這個管道 (%1)").arg(systemWordsOf(errnum));
    return text(errnum);
}

} // namespace SystemError
