// SPDX-License-Identifier: MIT
#include "main/MemoryWatch.h"

#include <QtTest>

class TestMemoryWatch : public QObject
{
    Q_OBJECT

private slots:
    void meminfo_data();
    void meminfo();
    void statm();
    void machineLowSaidOncePerEpisode();
    void limitOfTheUser();
    void readsThisMachine();
};

namespace {

MemoryReading reading(int64_t totalKb, int64_t availableKb, int64_t ownKb = 0)
{
    MemoryReading r;
    r.totalKb = totalKb;
    r.availableKb = availableKb;
    r.ownKb = ownKb;
    return r;
}

} // namespace

void TestMemoryWatch::meminfo_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("available");
    QTest::newRow("linux") << QByteArray("MemTotal:       24576000 kB\nMemFree:         1000 kB\n"
                                         "MemAvailable:   20000000 kB\nBuffers: 1 kB\n")
                           << true << qint64(24576000) << qint64(20000000);
    QTest::newRow("order and no final newline")
            << QByteArray("MemAvailable: 5 kB\nMemTotal: 10 kB") << true << qint64(10) << qint64(5);
    // A name that only starts like the one looked for is another field.
    QTest::newRow("prefix") << QByteArray("MemTotalX: 1 kB\nMemTotal: 8 kB\nMemAvailable: 2 kB\n")
                            << true << qint64(8) << qint64(2);
    QTest::newRow("old kernel, no MemAvailable")
            << QByteArray("MemTotal: 10 kB\nMemFree: 5 kB\n") << false << qint64(0) << qint64(0);
    QTest::newRow("garbage") << QByteArray("MemTotal: lots\nMemAvailable: 5 kB\n") << false
                             << qint64(0) << qint64(0);
    QTest::newRow("empty") << QByteArray() << false << qint64(0) << qint64(0);
}

void TestMemoryWatch::meminfo()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    const std::optional<MemoryReading> r = MemoryProbe::parseMeminfo(text);
    QCOMPARE(r.has_value(), valid);
    if (r) {
        QFETCH(qint64, total);
        QFETCH(qint64, available);
        QCOMPARE(r->totalKb, total);
        QCOMPARE(r->availableKb, available);
    }
}

void TestMemoryWatch::statm()
{
    QCOMPARE(MemoryProbe::parseStatmResidentKb("123456 7890 120 5 0 3000 0\n", 4), 7890 * 4);
    QCOMPARE(MemoryProbe::parseStatmResidentKb("1", 4), std::nullopt);
    QCOMPARE(MemoryProbe::parseStatmResidentKb("1 x 2", 4), std::nullopt);
}

void TestMemoryWatch::machineLowSaidOncePerEpisode()
{
    MemoryWatch w;
    // Nothing to say while there is plenty, nor without a reading at all.
    QCOMPARE(w.update(reading(1000, 500)), std::nullopt);
    QCOMPARE(w.update(MemoryReading {}), std::nullopt);
    QCOMPARE(w.current(), MemoryWatch::Shortage::None);
    // Just below a tenth: said once, then not again while it lasts.
    QCOMPARE(w.update(reading(1000, 99)), MemoryWatch::Shortage::MachineLow);
    QVERIFY2(w.text(reading(1000, 99)).contains(QStringLiteral("9%")),
             qPrintable(w.text(reading(1000, 99))));
    QCOMPARE(w.update(reading(1000, 50)), std::nullopt);
    // Back over a tenth but not yet over the edge of plenty: still the same episode.
    QCOMPARE(w.update(reading(1000, 120)), std::nullopt);
    QCOMPARE(w.current(), MemoryWatch::Shortage::MachineLow);
    QCOMPARE(w.update(reading(1000, 99)), std::nullopt);
    // Plenty again ends it; the next shortage is a new one and is said.
    QCOMPARE(w.update(reading(1000, 150)), std::nullopt);
    QCOMPARE(w.current(), MemoryWatch::Shortage::None);
    QCOMPARE(w.update(reading(1000, 10)), MemoryWatch::Shortage::MachineLow);
    QVERIFY(MemoryWatch::advice().contains(QStringLiteral("開始記錄到檔案")));
}

void TestMemoryWatch::limitOfTheUser()
{
    MemoryWatch w;
    const int64_t mb = 1024;
    // Off at start: any size of our own is fine.
    QCOMPARE(w.limitMb(), 0);
    QCOMPARE(w.update(reading(100000 * mb, 90000 * mb, 50000 * mb)), std::nullopt);
    w.setLimitMb(100);
    QCOMPARE(w.update(reading(100000 * mb, 90000 * mb, 100 * mb)), std::nullopt);
    QCOMPARE(w.update(reading(100000 * mb, 90000 * mb, 100 * mb + 1)),
             MemoryWatch::Shortage::OverLimit);
    QVERIFY2(w.text(reading(0, 0, 150 * mb)).contains(QStringLiteral("150 MB")),
             qPrintable(w.text(reading(0, 0, 150 * mb))));
    // Until a tenth below the limit it stays the same episode.
    QCOMPARE(w.update(reading(100000 * mb, 90000 * mb, 95 * mb)), std::nullopt);
    QCOMPARE(w.current(), MemoryWatch::Shortage::OverLimit);
    QCOMPARE(w.update(reading(100000 * mb, 90000 * mb, 89 * mb)), std::nullopt);
    QCOMPARE(w.current(), MemoryWatch::Shortage::None);
    // Over the limit with the machine short as well: the user's limit is the one said; when
    // the user turns it off, the machine's shortage is said in its own words.
    QCOMPARE(w.update(reading(1000 * mb, 10 * mb, 200 * mb)), MemoryWatch::Shortage::OverLimit);
    w.setLimitMb(0);
    QCOMPARE(w.update(reading(1000 * mb, 10 * mb, 200 * mb)), MemoryWatch::Shortage::MachineLow);
}

void TestMemoryWatch::readsThisMachine()
{
    const MemoryReading r = MemoryProbe::read();
    QVERIFY(r.totalKb > 0);
    QVERIFY(r.availableKb > 0 && r.availableKb <= r.totalKb);
    QVERIFY(r.ownKb > 0 && r.ownKb < r.totalKb);
}

QTEST_GUILESS_MAIN(TestMemoryWatch)
#include "tst_memorywatch.moc"
