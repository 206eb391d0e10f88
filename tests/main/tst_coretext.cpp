// SPDX-License-Identifier: MIT
// Number conversion, the port settings' takeover order and the permission advice.
#include "traffic/IntText.h"
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
    void permissionAdvice_data();
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
    PortSettings::DialogValues v {QStringLiteral("7"),  QString(), QStringLiteral("fast"),
                                  serial::Parity::Even, 7,         2};
    const std::optional<QString> error = PortSettings::apply(v);
    QVERIFY(error);
    QCOMPARE(*error, QStringLiteral("'fast' is not a valid integer value"));
    QCOMPARE(PortSettings::PortNumberText, QStringLiteral("7"));
    QCOMPARE(PortSettings::PortNameText, QStringLiteral("COM7"));
    QCOMPARE(PortSettings::BaudRateText, QStringLiteral("9600"));
    QCOMPARE(PortSettings::Parity, serial::Parity::None);
    QCOMPARE(PortSettings::summaryText(), QStringLiteral("COM7 = 9600 , N , 8 , 1"));

    v.baudText = QStringLiteral("19200");
    QVERIFY(!PortSettings::apply(v));
    QCOMPARE(PortSettings::summaryText(), QStringLiteral("COM7 = 19200 , E , 7 , 2"));
}

void TestCoreText::summaryUsesDevicePath()
{
    PortSettings::reset();
    QVERIFY(!PortSettings::apply({QStringLiteral("1"), QStringLiteral("/dev/ttyUSB3"),
                                  QStringLiteral("115200"), serial::Parity::Mark, 8, 0}));
    QCOMPARE(PortSettings::summaryText(), QStringLiteral("/dev/ttyUSB3 = 115200 , M , 8 , 1"));
    QVERIFY(!PortSettings::apply(
            {QStringLiteral("2"), QString(), QStringLiteral("9600"), serial::Parity::Space, 8, 0}));
    QCOMPARE(PortSettings::summaryText(), QStringLiteral("COM2 = 9600 , S , 8 , 1"));
    PortSettings::reset();
}

void TestCoreText::permissionAdvice_data()
{
    QTest::addColumn<QString>("owner");
    QTest::addColumn<QString>("group");
    QTest::addColumn<int>("groupId");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("inGroup");
    QTest::addColumn<bool>("listed");
    QTest::addColumn<int>("kind");
    using K = PermissionHint::Kind;
    QTest::newRow("dialout, not a member") << "root" << "dialout" << 20 << 0660 << false << false
                                           << int(K::NotInGroup);
    QTest::newRow("dialout, added since login")
            << "root" << "dialout" << 20 << 0660 << false << true << int(K::LoginOlder);
    QTest::newRow("dialout, member already") << "root" << "dialout" << 20 << 0660 << true << true
                                             << int(K::None);
    QTest::newRow("uucp gives rw too") << "root" << "uucp" << 10 << 0660 << false << false
                                       << int(K::NotInGroup);
    QTest::newRow("root-only device") << "root" << "root" << 0 << 0600 << false << false
                                      << int(K::AskAdministrator);
    QTest::newRow("group may only read") << "root" << "dialout" << 20 << 0640 << false << false
                                         << int(K::AskAdministrator);
    QTest::newRow("group without rights") << "root" << "dialout" << 20 << 0600 << true << true
                                          << int(K::AskAdministrator);
    QTest::newRow("disk group") << "root" << "disk" << 6 << 0660 << false << false
                                << int(K::AskAdministrator);
    QTest::newRow("sudo group") << "root" << "sudo" << 27 << 0660 << false << true
                                << int(K::AskAdministrator);
    QTest::newRow("a renamed group 0") << "root" << "system" << 0 << 0660 << false << false
                                       << int(K::AskAdministrator);
    QTest::newRow("owner is a user") << "ann" << "ann" << 1000 << 0600 << false << false
                                     << int(K::AskAdministrator);
    QTest::newRow("node not examined") << "" << "" << -1 << 0 << false << false << int(K::None);
}

void TestCoreText::permissionAdvice()
{
    QFETCH(QString, owner);
    QFETCH(QString, group);
    QFETCH(int, groupId);
    QFETCH(int, mode);
    QFETCH(bool, inGroup);
    QFETCH(bool, listed);
    QFETCH(int, kind);
    PermissionHint::Facts facts;
    facts.owner = owner;
    facts.group = group;
    facts.groupId = groupId;
    facts.mode = unsigned(mode);
    facts.processInGroup = inGroup;
    facts.listedInGroupFile = listed;
    facts.user = QStringLiteral("ann");
    QCOMPARE(int(PermissionHint::classify(facts)), kind);

    const QString advice = PermissionHint::text(facts);
    switch (PermissionHint::Kind(kind)) {
    case PermissionHint::Kind::NotInGroup:
        QVERIFY(advice.contains(QStringLiteral("sudo adduser ann ") + group));
        break;
    case PermissionHint::Kind::LoginOlder:
        QVERIFY(advice.contains(QStringLiteral("登出")));
        QVERIFY(!advice.contains(QStringLiteral("adduser")));
        break;
    case PermissionHint::Kind::AskAdministrator:
        // Never advice that hands out more than the device, nor advice that cannot help.
        QVERIFY(!advice.contains(QStringLiteral("adduser")));
        QVERIFY(advice.contains(owner + u':' + group));
        QVERIFY(advice.contains(QString::asprintf("%04o", mode)));
        QVERIFY(advice.contains(QStringLiteral("udev")));
        break;
    case PermissionHint::Kind::None:
        QVERIFY(advice.isEmpty());
        break;
    }
}

QTEST_APPLESS_MAIN(TestCoreText)
#include "tst_coretext.moc"
