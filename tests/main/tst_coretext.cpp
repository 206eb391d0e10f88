// SPDX-License-Identifier: MIT
// Number conversion, the port settings' takeover order and the permission advice.
#include "main/IntText.h"
#include "serial/PermissionHint.h"
#include "serial/PortSettings.h"

#include <QTest>

class TestCoreText : public QObject
{
    Q_OBJECT

private slots:
    void toInt32_data();
    void toInt32();
    void settingsTakeoverStopsAtBadBaud();
    void summaryUsesDevicePath();
    void permissionAdvice();
};

void TestCoreText::toInt32_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << "9600" << true << 9600;
    QTest::newRow("leading zero") << "09600" << true << 9600;
    QTest::newRow("plus") << "+5" << true << 5;
    QTest::newRow("negative") << "-1" << true << -1;
    QTest::newRow("max") << "2147483647" << true << 2147483647;
    QTest::newRow("min") << "-2147483648" << true << int(INT32_MIN);
    QTest::newRow("over max") << "2147483648" << false << 0;
    QTest::newRow("far over") << "99999999999999999999" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("sign only") << "-" << false << 0;
    QTest::newRow("letters") << "abc" << false << 0;
    QTest::newRow("trailing blank") << "10 " << false << 0;
    QTest::newRow("leading blank") << " 10" << false << 0;
    QTest::newRow("hex") << "0x10" << false << 0;
    QTest::newRow("full-width digits") << "１０" << false << 0;
}

void TestCoreText::toInt32()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, value);
    const std::optional<int32_t> got = IntText::toInt32(text);
    QCOMPARE(got.has_value(), valid);
    if (valid)
        QCOMPARE(*got, value);
    QCOMPARE(IntText::notAnIntegerMessage(text),
             QStringLiteral("'%1' is not a valid integer value").arg(text));
}

void TestCoreText::settingsTakeoverStopsAtBadBaud()
{
    PortSettings::reset();
    PortSettings::DialogValues v {QStringLiteral("7"), QString(), QStringLiteral("fast"), 2, 7, 2};
    const std::optional<QString> error = PortSettings::apply(v);
    QVERIFY(error);
    QCOMPARE(*error, QStringLiteral("'fast' is not a valid integer value"));
    QCOMPARE(PortSettings::PortNumberText, QStringLiteral("7"));
    QCOMPARE(PortSettings::PortNameText, QStringLiteral("COM7"));
    QCOMPARE(PortSettings::BaudRateText, QStringLiteral("9600"));
    QCOMPARE(PortSettings::Parity, uint8_t(0));
    QCOMPARE(PortSettings::summaryText(), QStringLiteral("COM7 = 9600 , N , 8 , 1"));

    v.baudText = QStringLiteral("19200");
    QVERIFY(!PortSettings::apply(v));
    QCOMPARE(PortSettings::summaryText(), QStringLiteral("COM7 = 19200 , E , 7 , 2"));
}

void TestCoreText::summaryUsesDevicePath()
{
    PortSettings::reset();
    QVERIFY(!PortSettings::apply({QStringLiteral("1"), QStringLiteral("/dev/ttyUSB3"),
                                  QStringLiteral("115200"), 3, 8, 0}));
    QCOMPARE(PortSettings::summaryText(), QStringLiteral("/dev/ttyUSB3 = 115200 , M , 8 , 1"));
    QVERIFY(!PortSettings::apply(
            {QStringLiteral("2"), QString(), QStringLiteral("9600"), 4, 8, 0}));
    QCOMPARE(PortSettings::summaryText(), QStringLiteral("COM2 = 9600 , S , 8 , 1"));
    PortSettings::reset();
}

void TestCoreText::permissionAdvice()
{
    using PermissionHint::Kind;
    QCOMPARE(PermissionHint::classify(true, true), Kind::None);
    QCOMPARE(PermissionHint::classify(true, false), Kind::None);
    QCOMPARE(PermissionHint::classify(false, false), Kind::NotInGroup);
    QCOMPARE(PermissionHint::classify(false, true), Kind::LoginOlder);
    const QString join = PermissionHint::text(Kind::NotInGroup, QStringLiteral("dialout"),
                                              QStringLiteral("ann"));
    QVERIFY(join.contains(QStringLiteral("sudo adduser ann dialout")));
    const QString relogin = PermissionHint::text(Kind::LoginOlder, QStringLiteral("dialout"),
                                                 QStringLiteral("ann"));
    QVERIFY(relogin.contains(QStringLiteral("登出")));
    QVERIFY(!relogin.contains(QStringLiteral("adduser")));
    QVERIFY(PermissionHint::text(Kind::None, QStringLiteral("dialout"), QStringLiteral("ann"))
                    .isEmpty());
}

QTEST_APPLESS_MAIN(TestCoreText)
#include "tst_coretext.moc"
