// SPDX-License-Identifier: MIT
// Hex input as the send boxes read it: the bytes of each accepted form, and for each bad one
// the message that points the user at the offending character.
#include "traffic/HexInput.h"

#include <QTest>

class TestHexInput : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
};

void TestHexInput::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");
    const QByteArray modbus("\x01\x03\x00\x00\x00\x0A", 6);
    QTest::newRow("spaced") << "01 03 00 00 00 0A" << modbus << QString();
    QTest::newRow("packed, lower case") << "01030000000a" << modbus << QString();
    QTest::newRow("tabs and line breaks") << "01\t03\r\n00 00\n00\r0a" << modbus << QString();
    QTest::newRow("blanks around") << "  FF  " << QByteArray("\xFF") << QString();
    QTest::newRow("lone digits") << "1 2 a" << QByteArray("\x01\x02\x0A") << QString();
    QTest::newRow("empty") << "" << QByteArray() << QString();
    QTest::newRow("blanks only") << " \n " << QByteArray() << QString();
    QTest::newRow("not a digit") << "01 03 G0" << QByteArray()
                                 << "第 7 個字元 'G' 不是十六進位數字";
    QTest::newRow("second digit bad")
            << "0x10" << QByteArray() << "第 2 個字元 'x' 不是十六進位數字";
    QTest::newRow("separator") << "01,02" << QByteArray() << "第 3 個字元 ',' 不是十六進位數字";
    QTest::newRow("wide character counts once")
            << "中 01" << QByteArray() << "第 1 個字元 '中' 不是十六進位數字";
    QTest::newRow("beyond the BMP, shown whole")
            << "01 \U0001F600" << QByteArray() << "第 4 個字元 '\U0001F600' 不是十六進位數字";
    QTest::newRow("control code") << "01\x1B" << QByteArray()
                                  << "第 3 個字元 'U+001B' 不是十六進位數字";
    QTest::newRow("second line") << "01 02\r\n03 g4" << QByteArray()
                                 << "第 2 行第 4 個字元 'g' 不是十六進位數字";
    QTest::newRow("odd final digit") << "01 030" << QByteArray()
                                     << "第 6 個字元 '0' 沒有成對 (每個位元組是兩位十六進位數字)";
    QTest::newRow("odd run mid-text") << "123 45" << QByteArray()
                                      << "第 3 個字元 '3' 沒有成對 (每個位元組是兩位十六進位數字)";
    QTest::newRow("odd run on a later line")
            << "00\n0A0\n"
            << QByteArray() << "第 2 行第 3 個字元 '0' 沒有成對 (每個位元組是兩位十六進位數字)";
}

void TestHexInput::parse()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    const HexInput::Parsed got = HexInput::parse(text);
    QCOMPARE(got.error, error);
    QCOMPARE(got.ok(), error.isEmpty());
    QCOMPARE(got.bytes, bytes);
}

QTEST_MAIN(TestHexInput)
#include "tst_hexinput.moc"
