// SPDX-License-Identifier: MIT
#include "main/MemoryWatch.h"

#include <QFile>

#include <unistd.h>

namespace {

std::optional<int64_t> field(QByteArrayView text, QByteArrayView name)
{
    qsizetype at = 0;
    while (at < text.size()) {
        qsizetype end = text.indexOf('\n', at);
        if (end < 0)
            end = text.size();
        const QByteArrayView line = text.sliced(at, end - at);
        if (line.startsWith(name) && line.size() > name.size() && line[name.size()] == ':') {
            bool ok = false;
            const QByteArray value =
                    line.sliced(name.size() + 1).toByteArray().trimmed().split(' ').first();
            const int64_t kb = value.toLongLong(&ok);
            if (ok && kb >= 0)
                return kb;
            return std::nullopt;
        }
        at = end + 1;
    }
    return std::nullopt;
}

QString gigabytes(int64_t kb) { return QString::number(double(kb) / (1024.0 * 1024.0), 'f', 1); }

} // namespace

namespace MemoryProbe {

std::optional<MemoryReading> parseMeminfo(QByteArrayView text)
{
    const std::optional<int64_t> total = field(text, "MemTotal");
    const std::optional<int64_t> available = field(text, "MemAvailable");
    if (!total || !available || *total == 0)
        return std::nullopt;
    MemoryReading r;
    r.totalKb = *total;
    r.availableKb = *available;
    return r;
}

std::optional<int64_t> parseStatmResidentKb(QByteArrayView text, int64_t pageKb)
{
    const QList<QByteArray> fields = text.toByteArray().simplified().split(' ');
    if (fields.size() < 2)
        return std::nullopt;
    bool ok = false;
    const int64_t pages = fields[1].toLongLong(&ok);
    if (!ok || pages < 0)
        return std::nullopt;
    return pages * pageKb;
}

MemoryReading read()
{
    MemoryReading r;
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (meminfo.open(QIODevice::ReadOnly)) {
        if (const std::optional<MemoryReading> m = parseMeminfo(meminfo.readAll()))
            r = *m;
    }
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (statm.open(QIODevice::ReadOnly)) {
        const int64_t pageKb = std::max<int64_t>(1, sysconf(_SC_PAGESIZE) / 1024);
        r.ownKb = parseStatmResidentKb(statm.readAll(), pageKb).value_or(0);
    }
    return r;
}

} // namespace MemoryProbe

void MemoryWatch::setLimitMb(int64_t mb)
{
    m_limitMb = std::max<int64_t>(0, mb);
    if (m_limitMb == 0 && m_current == Shortage::OverLimit)
        m_current = Shortage::None;
}

MemoryWatch::Shortage MemoryWatch::judge(const MemoryReading &r) const
{
    // The user's own limit comes first: it is the one the user asked to hear about.
    const int64_t limitKb = m_limitMb * 1024;
    if (limitKb > 0) {
        // Over the limit until a tenth below it.
        const int64_t edge = m_current == Shortage::OverLimit ? limitKb - limitKb / 10 : limitKb;
        if (r.ownKb > edge)
            return Shortage::OverLimit;
    }
    if (r.totalKb > 0) {
        const int percent = m_current == Shortage::MachineLow ? PlentyPercent : LowPercent;
        if (r.availableKb * 100 < r.totalKb * percent)
            return Shortage::MachineLow;
    }
    return Shortage::None;
}

std::optional<MemoryWatch::Shortage> MemoryWatch::update(const MemoryReading &reading)
{
    const Shortage now = judge(reading);
    const bool begun = now != Shortage::None && now != m_current;
    m_current = now;
    if (begun)
        return now;
    return std::nullopt;
}

QString MemoryWatch::text(const MemoryReading &r) const
{
    switch (m_current) {
    case Shortage::MachineLow:
        return QStringLiteral("記憶體不足:只剩 %1 GB (%2%),仍繼續接收")
                .arg(gigabytes(r.availableKb))
                .arg(r.totalKb > 0 ? r.availableKb * 100 / r.totalKb : 0);
    case Shortage::OverLimit:
        return QStringLiteral("記憶體用量 %1 MB,超過設定的 %2 MB,仍繼續接收")
                .arg(r.ownKb / 1024)
                .arg(m_limitMb);
    case Shortage::None:
        break;
    }
    return {};
}

QString MemoryWatch::advice()
{
    return QStringLiteral("顯示區保留收到的每個位元組,不會捨棄任何資料。"
                          "請以「記錄」→「儲存記錄...」存下目前的記錄,或以「開始記錄到檔案...」"
                          "保存之後的資料,再以「清除資料顯示區」釋放顯示區的記憶體。");
}
