// SPDX-License-Identifier: MIT
// The Telnet COM-PORT-OPTION codec: every byte value through the escaping both ways, the
// commands as they go on the wire, and a decoder that parts data, answers and negotiation
// however the server's bytes are split across reads.
#include "serial/NetworkAddress.h"
#include "serial/Rfc2217.h"

#include <QTest>

using namespace rfc2217;
using namespace rfc2217::telnet;

namespace {

QByteArray hex(const Bytes &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()))
            .toHex(' ')
            .toUpper();
}

Bytes fromHex(const char *text)
{
    const QByteArray raw = QByteArray::fromHex(QByteArray(text).replace(' ', ""));
    return Bytes(raw.begin(), raw.end());
}

struct Decoded
{
    Bytes data;
    std::vector<Answer> answers;
    Bytes reply;
};

// The whole stream in reads of `chunk` bytes.
Decoded decode(const Bytes &wire, size_t chunk, Decoder &decoder)
{
    Decoded d;
    for (size_t at = 0; at < wire.size(); at += chunk)
        decoder.feed(wire.data() + at, std::min(chunk, wire.size() - at), d.data, d.answers,
                     d.reply);
    return d;
}

} // namespace

class TestRfc2217 : public QObject
{
    Q_OBJECT

private slots:
    void everyByteValuePassesBothWays();
    void commandsOnTheWire_data();
    void commandsOnTheWire();
    void lineCodesBothWays();
    void answersAmongDataSplitAnywhere();
    void negotiationAnsweredOnce();
    void brokenAndOversizedCommands();
    void networkAddresses_data();
    void networkAddresses();
};

void TestRfc2217::everyByteValuePassesBothWays()
{
    Bytes all;
    for (int round = 0; round < 3; ++round) {
        for (int b = 0; b <= 0xFF; ++b)
            all.push_back(uint8_t(b));
    }
    all.push_back(Iac); // one at the very end, and runs of them
    all.insert(all.end(), {Iac, Iac, Iac});
    Bytes wire;
    appendData(all.data(), all.size(), wire);
    QCOMPARE(wire.size(), all.size() + 3 + 4);
    for (size_t chunk : {size_t(1), size_t(2), size_t(7), wire.size()}) {
        Decoder decoder;
        const Decoded d = decode(wire, chunk, decoder);
        QVERIFY2(d.data == all, qPrintable(QString::number(chunk)));
        QVERIFY(d.answers.empty());
        QVERIFY(d.reply.empty());
    }
}

void TestRfc2217::commandsOnTheWire_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("greeting") << hex(greeting())
                              << QByteArray("FF FB 2C FF FB 00 FF FD 00 FF FB 03 FF FD 03");
    QTest::newRow("115200") << hex(setBaudRate(115200))
                            << QByteArray("FF FA 2C 01 00 01 C2 00 FF F0");
    // A value byte FFh is doubled inside the command too.
    QTest::newRow("rate with FFh")
            << hex(setBaudRate(0xFF00)) << QByteArray("FF FA 2C 01 00 00 FF FF 00 FF F0");
    QTest::newRow("ask the rate") << hex(setBaudRate(0))
                                  << QByteArray("FF FA 2C 01 00 00 00 00 FF F0");
    QTest::newRow("7 bits") << hex(setDataSize(7)) << QByteArray("FF FA 2C 02 07 FF F0");
    QTest::newRow("none") << hex(setParity(serial::Parity::None))
                          << QByteArray("FF FA 2C 03 01 FF F0");
    QTest::newRow("mark") << hex(setParity(serial::Parity::Mark))
                          << QByteArray("FF FA 2C 03 04 FF F0");
    QTest::newRow("space") << hex(setParity(serial::Parity::Space))
                           << QByteArray("FF FA 2C 03 05 FF F0");
    QTest::newRow("1.5 stop") << hex(setStopSize(1)) << QByteArray("FF FA 2C 04 03 FF F0");
    QTest::newRow("2 stop") << hex(setStopSize(2)) << QByteArray("FF FA 2C 04 02 FF F0");
    QTest::newRow("DTR on") << hex(setControl(control::DtrOn))
                            << QByteArray("FF FA 2C 05 08 FF F0");
    QTest::newRow("break on") << hex(setControl(control::BreakOn))
                              << QByteArray("FF FA 2C 05 05 FF F0");
    QTest::newRow("modem mask") << hex(setModemStateMask(0xFF))
                                << QByteArray("FF FA 2C 0B FF FF FF F0");
}

void TestRfc2217::commandsOnTheWire()
{
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, expected);
    QCOMPARE(wire, expected);
}

void TestRfc2217::lineCodesBothWays()
{
    for (int code = 0; code < serial::ParityCount; ++code) {
        const Bytes wire = setParity(serial::Parity(code));
        QCOMPARE(parityFromWire(wire[4]), std::optional(serial::Parity(code)));
    }
    for (uint8_t code = 0; code <= 2; ++code) {
        const Bytes wire = setStopSize(code);
        QCOMPARE(stopBitsCodeFromWire(wire[4]), int(code));
    }
    QVERIFY(!parityFromWire(0));
    QCOMPARE(stopBitsCodeFromWire(9), -1);
    QCOMPARE(modemLinesFromWire(0xB0 | 0x0F), uint8_t(serial::Cts | serial::Dsr | serial::Dcd));
    QCOMPARE(modemLinesFromWire(0x40), uint8_t(serial::Ri));
}

void TestRfc2217::answersAmongDataSplitAnywhere()
{
    // Data, the answer to SET-BAUDRATE (101) with an FFh in the value, more data, a modem state
    // (107) and a line state (106), an FFh of data, a parity answer (103).
    const Bytes wire = fromHex("41 42 FF FA 2C 65 00 01 FF FF 00 FF F0 43 FF FA 2C 6B B0 FF F0"
                               "FF FA 2C 6A 0C FF F0 FF FF FF FA 2C 67 03 FF F0 44");
    for (size_t chunk = 1; chunk <= wire.size(); ++chunk) {
        Decoder decoder;
        const Decoded d = decode(wire, chunk, decoder);
        QCOMPARE(hex(d.data), QByteArray("41 42 43 FF 44"));
        QCOMPARE(d.answers.size(), size_t(4));
        QCOMPARE(d.answers[0].command, Command::SetBaudRate);
        QCOMPARE(d.answers[0].value, uint32_t(0x0001FF00));
        QCOMPARE(d.answers[1].command, Command::NotifyModemState);
        QCOMPARE(d.answers[1].value, uint32_t(0xB0));
        QCOMPARE(d.answers[2].command, Command::NotifyLineState);
        QCOMPARE(d.answers[2].value, uint32_t(linestate::Parity | linestate::Framing));
        QCOMPARE(d.answers[3].command, Command::SetParity);
        QCOMPARE(parityFromWire(uint8_t(d.answers[3].value)), serial::Parity::Even);
        QVERIFY(d.reply.empty());
    }
}

void TestRfc2217::negotiationAnsweredOnce()
{
    Decoder decoder;
    QCOMPARE(decoder.comPort(), Decoder::ComPortState::Unknown);
    // The server agrees to what the greeting offered, asks for echo twice and offers to echo
    // twice: each refused once, and nothing else is answered.
    const Bytes wire = fromHex("FF FD 2C FF FD 00 FF FB 00 FF FD 03 FF FB 03"
                               "FF FD 01 FF FD 01 FF FB 01 FF FB 01 FF F1 45");
    const Decoded d = decode(wire, 1, decoder);
    QCOMPARE(decoder.comPort(), Decoder::ComPortState::Agreed);
    QCOMPARE(hex(d.reply), QByteArray("FF FC 01 FF FE 01"));
    QCOMPARE(hex(d.data), QByteArray("45")); // the NOP carried nothing

    Decoder refusing;
    const Decoded r = decode(fromHex("FF FE 2C"), 3, refusing);
    QCOMPARE(refusing.comPort(), Decoder::ComPortState::Refused);
    QVERIFY(r.reply.empty());
}

void TestRfc2217::brokenAndOversizedCommands()
{
    // A command that never ends is held only so far; what follows its end is data again.
    Bytes wire = fromHex("FF FA 2C 65");
    wire.insert(wire.end(), 100000, 0x11);
    const Bytes tail = fromHex("FF F0 46 FF FA 2C 66 08 FF F0");
    wire.insert(wire.end(), tail.begin(), tail.end());
    Decoder decoder;
    const Decoded d = decode(wire, 4096, decoder);
    QCOMPARE(hex(d.data), QByteArray("46"));
    QCOMPARE(d.answers.size(), size_t(2));
    QCOMPARE(d.answers[1].command, Command::SetDataSize);
    QCOMPARE(d.answers[1].value, uint32_t(8));
    // Answers that are no answers (client codes, another option, empty) give nothing.
    Decoder other;
    const Decoded o =
            decode(fromHex("FF FA 2C 01 00 FF F0 FF FA 18 65 01 FF F0 FF FA FF F0 47"), 1, other);
    QVERIFY(o.answers.empty());
    QCOMPARE(hex(o.data), QByteArray("47"));
}

void TestRfc2217::networkAddresses_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("parsed"); // "protocol host port", or the problem's first words
    QTest::newRow("rfc2217") << "rfc2217://127.0.0.1:2217"
                             << "rfc2217 127.0.0.1 2217";
    QTest::newRow("tcp by name") << "tcp://cabinet-7.lan:4001"
                                 << "tcp cabinet-7.lan 4001";
    QTest::newRow("scheme in capitals") << "RFC2217://h:1"
                                        << "rfc2217 h 1";
    QTest::newRow("trailing slash") << "tcp://h:65535/"
                                    << "tcp h 65535";
    QTest::newRow("IPv6") << "rfc2217://[::1]:7000"
                          << "rfc2217 ::1 7000";
    QTest::newRow("IPv6 unbracketed") << "tcp://::1:7000"
                                      << "IPv6";
    QTest::newRow("no port") << "tcp://host"
                             << "網路埠位址缺少埠號";
    QTest::newRow("port 0") << "tcp://host:0"
                            << "網路埠的埠號";
    QTest::newRow("port too big") << "tcp://host:65536"
                                  << "網路埠的埠號";
    QTest::newRow("port not a number") << "tcp://host:12ab"
                                       << "網路埠的埠號";
    QTest::newRow("no host") << "tcp://:4001"
                             << "網路埠位址缺少主機名稱";
    QTest::newRow("a path after it") << "tcp://host:4001/x"
                                     << "網路埠的埠號";
}

void TestRfc2217::networkAddresses()
{
    QFETCH(QString, path);
    QFETCH(QString, parsed);
    const std::string text = path.toStdString();
    QVERIFY(serial::isNetworkPath(text));
    std::string problem;
    const std::optional<serial::NetworkAddress> address =
            serial::parseNetworkAddress(text, problem);
    if (address) {
        const QString got =
                QStringLiteral("%1 %2 %3")
                        .arg(address->protocol == serial::NetworkAddress::Protocol::Rfc2217
                                     ? QStringLiteral("rfc2217")
                                     : QStringLiteral("tcp"),
                             QString::fromStdString(address->host))
                        .arg(address->port);
        QCOMPARE(got, parsed);
    } else {
        QVERIFY2(QString::fromStdString(problem).startsWith(parsed), problem.c_str());
    }
    // Device paths stay device paths.
    QVERIFY(!serial::isNetworkPath("/dev/ttyUSB0"));
    QVERIFY(!serial::isNetworkPath("/run/user/1000/telvix/tcp:x"));
}

QTEST_APPLESS_MAIN(TestRfc2217)
#include "tst_rfc2217.moc"
