// SPDX-License-Identifier: MIT
// The checks a command carries: each algorithm's published check value over "123456789", the
// well-known Modbus frames, checks that come out as FFh and 00h bytes, the byte
// order on the line, and where a check starts.
#include "traffic/Checksum.h"

#include <QTest>

using Checksum::Kind;

Q_DECLARE_METATYPE(Checksum::Kind)

class TestChecksum : public QObject
{
    Q_OBJECT

private slots:
    void compute_data();
    void compute();
    void append_data();
    void append();
    void namesRoundTrip();
};

void TestChecksum::compute_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("check");
    const QByteArray vector("123456789");
    QTest::newRow("sum-8 check value") << Kind::Sum8 << vector << QByteArray("\xDD");
    QTest::newRow("xor-8 check value") << Kind::Xor8 << vector << QByteArray("\x31");
    QTest::newRow("lrc check value") << Kind::Lrc << vector << QByteArray("\x23");
    // 0x4B37, low byte first.
    QTest::newRow("crc-16/modbus check value")
            << Kind::Crc16Modbus << vector << QByteArray("\x37\x4B");
    // 0x29B1, high byte first.
    QTest::newRow("crc-16/ccitt-false check value")
            << Kind::Crc16CcittFalse << vector << QByteArray("\x29\xB1");
    QTest::newRow("crc-32 check value") << Kind::Crc32 << vector << QByteArray("\xCB\xF4\x39\x26");

    // Modbus frames with their known checks.
    QTest::newRow("modbus rtu read request")
            << Kind::Crc16Modbus << QByteArray("\x11\x03\x00\x6B\x00\x03", 6)
            << QByteArray("\x76\x87");
    QTest::newRow("modbus ascii lrc")
            << Kind::Lrc << QByteArray("\x11\x03\x00\x6B\x00\x03", 6) << QByteArray("\x7E");

    // Checks made of FFh and 00h bytes, which a string-based implementation would lose.
    QTest::newRow("sum-8 wraps to 00")
            << Kind::Sum8 << QByteArray("\x80\x80") << QByteArray(1, '\0');
    QTest::newRow("xor-8 of itself is 00")
            << Kind::Xor8 << QByteArray("\x5A\x5A") << QByteArray(1, '\0');
    QTest::newRow("lrc FF") << Kind::Lrc << QByteArray("\x01") << QByteArray("\xFF");
    QTest::newRow("lrc of nothing") << Kind::Lrc << QByteArray() << QByteArray(1, '\0');
    QTest::newRow("crc-16/modbus of nothing")
            << Kind::Crc16Modbus << QByteArray() << QByteArray("\xFF\xFF");
    QTest::newRow("crc-16/ccitt-false of nothing")
            << Kind::Crc16CcittFalse << QByteArray() << QByteArray("\xFF\xFF");
    QTest::newRow("crc-32 of nothing") << Kind::Crc32 << QByteArray() << QByteArray(4, '\0');
    QTest::newRow("modbus rtu write register")
            << Kind::Crc16Modbus << QByteArray("\x01\x06\x00\x01\x00\x03", 6)
            << QByteArray("\x98\x0B");
}

void TestChecksum::compute()
{
    QFETCH(Kind, kind);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, check);
    QCOMPARE(Checksum::compute(kind, data).toHex(' '), check.toHex(' '));
    QCOMPARE(Checksum::compute(kind, data).size(), Checksum::of(kind).width);
}

void TestChecksum::append_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("from");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");
    const QByteArray request("\x01\x03\x00\x00\x00\x01", 6);
    QTest::newRow("whole content")
            << Kind::Crc16Modbus << request << 0 << request + "\x84\x0A" << QString();
    // A header the check leaves out: STX and a length byte before the frame.
    QTest::newRow("from the third byte") << Kind::Crc16Modbus << "\x02\x06" + request << 2
                                         << "\x02\x06" + request + "\x84\x0A" << QString();
    QTest::newRow("none appends nothing") << Kind::None << request << 0 << request << QString();
    QTest::newRow("start at the end checks nothing")
            << Kind::Sum8 << QByteArray("ab") << 2 << QByteArray("ab\0", 3) << QString();
    QTest::newRow("start beyond the content")
            << Kind::Sum8 << QByteArray("ab") << 3 << QByteArray()
            << QStringLiteral("校驗碼從第 4 個位元組算起,但內容只有 2 個位元組");
}

void TestChecksum::append()
{
    QFETCH(Kind, kind);
    QFETCH(QByteArray, content);
    QFETCH(int, from);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    const Checksum::Appended got = Checksum::append(kind, content, from);
    QCOMPARE(got.error, error);
    QCOMPARE(got.bytes.toHex(' '), bytes.toHex(' '));
}

void TestChecksum::namesRoundTrip()
{
    // What a list file names comes back as the same kind; an unknown name is refused.
    for (const Checksum::Algorithm &a : Checksum::algorithms())
        QCOMPARE(Checksum::byId(QString::fromLatin1(a.id)), std::optional(a.kind));
    QCOMPARE(Checksum::byId(u"crc16"), std::nullopt);
}

QTEST_APPLESS_MAIN(TestChecksum)
#include "tst_checksum.moc"
