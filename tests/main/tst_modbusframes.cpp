// SPDX-License-Identifier: MIT
// Modbus frames out of a line's reads: what each common function's requests, replies and
// exceptions are shown as; where RTU frames begin and end (silence, glued in one read, split
// over many, noise between them, a check wrong by one bit); ASCII with its LRC.
#include "traffic/Checksum.h"
#include "traffic/ModbusFrames.h"

#include <QTest>

using namespace modbus;

namespace {

// An RTU frame: the hex given, its CRC appended.
QByteArray rtu(const char *hex)
{
    return Checksum::append(Checksum::Kind::Crc16Modbus, QByteArray::fromHex(hex)).bytes;
}

// An ASCII frame of the hex given, its LRC appended.
QByteArray ascii(const char *hex)
{
    const QByteArray bytes = Checksum::append(Checksum::Kind::Lrc, QByteArray::fromHex(hex)).bytes;
    return ':' + bytes.toHex().toUpper() + "\r\n";
}

QByteArray flipped(QByteArray bytes, qsizetype at)
{
    bytes[at] = char(bytes[at] ^ 0x01);
    return bytes;
}

// One read: its bytes, and when it came (us after the first).
struct Read
{
    QByteArray bytes;
    int64_t atUs;
};

// What came out, a frame each: "ok", "bad" (a frame whose check failed) or "bytes" (no
// frame), with its hex.
QStringList framesOf(Protocol protocol, int baud, const QList<Read> &reads)
{
    Framer framer(protocol, silenceUs(baud, 10), characterUs(baud, 10));
    std::vector<Frame> frames;
    for (const Read &r : reads)
        framer.feed(r.bytes, 1000000 + r.atUs, frames);
    framer.finish(frames);
    QStringList out;
    for (const Frame &f : frames)
        out << (f.framed ? (f.checkOk ? QStringLiteral("ok ") : QStringLiteral("bad "))
                         : QStringLiteral("bytes "))
                        + QString::fromLatin1(f.bytes.toHex(' ').toUpper());
    return out;
}

QString ok(const QByteArray &f) { return "ok " + QString::fromLatin1(f.toHex(' ').toUpper()); }
QString bad(const QByteArray &f) { return "bad " + QString::fromLatin1(f.toHex(' ').toUpper()); }
QString bytes(const QByteArray &f)
{
    return "bytes " + QString::fromLatin1(f.toHex(' ').toUpper());
}

} // namespace

Q_DECLARE_METATYPE(QList<Read>)

class TestModbusFrames : public QObject
{
    Q_OBJECT

private slots:
    void describes_data();
    void describes();
    void rtuFraming_data();
    void rtuFraming();
    void asciiFraming_data();
    void asciiFraming();
    void silenceAndItsTime();
    void aLongRunOfNoiseEnds();
    void longRunsWithoutSilence();
};

void TestModbusFrames::describes_data()
{
    QTest::addColumn<QList<QByteArray>>("frames"); // in order, through one describer
    QTest::addColumn<QStringList>("lines");
    const auto row = [](const char *name, QList<QByteArray> frames, QStringList lines) {
        QTest::newRow(name) << frames << lines;
    };
    row("03 request and reply",
        {rtu("01030000000A"), rtu("0103140001000200030004000500060007000800090010")},
        {"站號 01  03 讀取保持暫存器  要求 起始 0x0000 數量 10  CRC 正確",
         "站號 01  03 讀取保持暫存器  回應 20 位元組 : 0001 0002 0003 0004 0005 0006 0007 0008 "
         "0009 0010  CRC 正確"});
    row("01 coils, a 3-byte reply as long as the request",
        {rtu("010100130013"), rtu("0101031234AB")},
        {"站號 01  01 讀取線圈  要求 起始 0x0013 數量 19  CRC 正確",
         "站號 01  01 讀取線圈  回應 3 位元組 : 12 34 AB  CRC 正確"});
    row("02 and 04", {rtu("110200C40016"), rtu("110400080001")},
        {"站號 11  02 讀取離散輸入  要求 起始 0x00C4 數量 22  CRC 正確",
         "站號 11  04 讀取輸入暫存器  要求 起始 0x0008 數量 1  CRC 正確"});
    row("05 and 06 echoed",
        {rtu("0105 00AC FF00"), rtu("010500ACFF00"), rtu("0106 0001 0003"), rtu("010600010003")},
        {"站號 01  05 寫入單一線圈  要求 位址 0x00AC 值 ON  CRC 正確",
         "站號 01  05 寫入單一線圈  回應 位址 0x00AC 值 ON  CRC 正確",
         "站號 01  06 寫入單一暫存器  要求 位址 0x0001 值 0x0003 (3)  CRC 正確",
         "站號 01  06 寫入單一暫存器  回應 位址 0x0001 值 0x0003 (3)  CRC 正確"});
    row("0F and 10",
        {rtu("010F0013000A02CD01"), rtu("010F0013000A"), rtu("01100001000204000A0102"),
         rtu("011000010002")},
        {"站號 01  0F 寫入多個線圈  要求 起始 0x0013 數量 10 2 位元組 : CD 01  CRC 正確",
         "站號 01  0F 寫入多個線圈  回應 起始 0x0013 數量 10  CRC 正確",
         "站號 01  10 寫入多個暫存器  要求 起始 0x0001 數量 2 4 位元組 : 000A 0102  CRC 正確",
         "站號 01  10 寫入多個暫存器  回應 起始 0x0001 數量 2  CRC 正確"});
    row("17", {rtu("011700030006000E00030600FF00FF00FF"), rtu("01170C00FE0ACD00010003000D00FF")},
        {"站號 01  17 讀寫多個暫存器  要求 讀取 起始 0x0003 數量 6 寫入 起始 0x000E 數量 3 6 "
         "位元組 : 00FF 00FF 00FF  CRC 正確",
         "站號 01  17 讀寫多個暫存器  回應 12 位元組 : 00FE 0ACD 0001 0003 000D 00FF  CRC 正確"});
    row("exceptions", {rtu("018302"), rtu("0A9004"), rtu("01C107")},
        {"站號 01  83 讀取保持暫存器  例外 02 非法資料位址  CRC 正確",
         "站號 0A  90 寫入多個暫存器  例外 04 從站裝置故障  CRC 正確",
         "站號 01  C1  例外 07  CRC 正確"});
    row("broadcast, an unnamed function", {rtu("00060001 0003"), rtu("0141DEAD")},
        {"站號 00 (廣播)  06 寫入單一暫存器  要求 位址 0x0001 值 0x0003 (3)  CRC 正確",
         "站號 01  41  資料 : DE AD  CRC 正確"});
    row("a check wrong by one bit", {flipped(rtu("01030000000A"), 7)},
        {"站號 01  03 讀取保持暫存器  要求 起始 0x0000 數量 10  CRC 錯誤 (應為 C5 CD)"});
}

void TestModbusFrames::describes()
{
    QFETCH(QList<QByteArray>, frames);
    QFETCH(QStringList, lines);
    Describer describer(Protocol::Rtu);
    QStringList got;
    for (const QByteArray &bytes : frames) {
        Frame f;
        f.bytes = bytes;
        f.checkOk = decode(f, Protocol::Rtu).check == decode(f, Protocol::Rtu).expectedCheck;
        got << describer.describe(f).line();
    }
    QCOMPARE(got, lines);
}

void TestModbusFrames::rtuFraming_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<QList<Read>>("reads");
    QTest::addColumn<QStringList>("frames");
    const QByteArray request = rtu("01030000000A");
    const QByteArray reply = rtu("010304000A000B");
    const QByteArray unknown = rtu("0141DEADBEEF");
    // At 9,600 baud 3.5 characters of 10 bits are 3.65 ms; above 19,200 the silence is 1.75 ms.
    QTest::newRow("request and reply apart") << 9600 << QList<Read> {{request, 0}, {reply, 30000}}
                                             << QStringList {ok(request), ok(reply)};
    QTest::newRow("glued in one read")
            << 115200 << QList<Read> {{request + reply, 0}} << QStringList {ok(request), ok(reply)};
    QTest::newRow("split over many reads, gaps under 3.5 characters")
            << 9600
            << QList<Read> {{request.left(1), 0},
                            {request.mid(1, 3), 3000},
                            {request.mid(4), 7000},
                            {reply.left(2), 40000},
                            {reply.mid(2), 42000}}
            << QStringList {ok(request), ok(reply)};
    QTest::newRow("a gap over 3.5 characters cuts a frame")
            << 115200 << QList<Read> {{request.left(4), 0}, {request.mid(4), 4000}}
            << QStringList {bad(request.left(4)), bytes(request.mid(4))};
    QTest::newRow("the same gap is none at 9,600")
            << 9600 << QList<Read> {{request.left(4), 0}, {request.mid(4), 4000}}
            << QStringList {ok(request)};
    QTest::newRow("noise between frames, in the same read")
            << 115200 << QList<Read> {{request + QByteArray::fromHex("FFFE00") + reply, 0}}
            << QStringList {ok(request), bytes(QByteArray::fromHex("FFFE00")), ok(reply)};
    QTest::newRow("noise alone") << 115200
                                 << QList<Read> {{request, 0}, {QByteArray::fromHex("FF"), 10000}}
                                 << QStringList {ok(request), bytes(QByteArray::fromHex("FF"))};
    QTest::newRow("a bad check, then a sound reply glued")
            << 115200 << QList<Read> {{flipped(request, 6) + reply, 0}}
            << QStringList {bad(flipped(request, 6)), ok(reply)};
    QTest::newRow("one bit wrong in the data")
            << 9600 << QList<Read> {{flipped(request, 3), 0}, {reply, 20000}}
            << QStringList {bad(flipped(request, 3)), ok(reply)};
    QTest::newRow("an unnamed function, ended by silence")
            << 9600 << QList<Read> {{unknown, 0}, {request, 20000}}
            << QStringList {ok(unknown), ok(request)};
    QTest::newRow("many requests in one read")
            << 115200 << QList<Read> {{request + request + request, 0}}
            << QStringList {ok(request), ok(request), ok(request)};
}

void TestModbusFrames::rtuFraming()
{
    QFETCH(int, baud);
    QFETCH(QList<Read>, reads);
    QFETCH(QStringList, frames);
    QCOMPARE(framesOf(Protocol::Rtu, baud, reads), frames);
}

void TestModbusFrames::asciiFraming_data()
{
    QTest::addColumn<QList<Read>>("reads");
    QTest::addColumn<QStringList>("frames");
    const QByteArray request = ascii("01030000000A");
    QByteArray badLrc = request;
    badLrc[13] = badLrc[13] == '0' ? '1' : '0';
    QTest::newRow("a frame, split") << QList<Read> {{request.left(5), 0}, {request.mid(5), 1000}}
                                    << QStringList {ok(request)};
    QTest::newRow("a bad LRC") << QList<Read> {{badLrc, 0}} << QStringList {bad(badLrc)};
    QTest::newRow("noise, a frame cut short by the next")
            << QList<Read> {{"xy" + request.left(7) + request, 0}}
            << QStringList {bytes("xy"), bad(request.left(7)), ok(request)};
    QTest::newRow("not hex") << QList<Read> {{":01G3\r\n", 0}} << QStringList {bad(":01G3\r\n")};
    QTest::newRow("unfinished at the end")
            << QList<Read> {{request.left(9), 0}} << QStringList {bad(request.left(9))};
}

void TestModbusFrames::asciiFraming()
{
    QFETCH(QList<Read>, reads);
    QFETCH(QStringList, frames);
    QCOMPARE(framesOf(Protocol::Ascii, 9600, reads), frames);
    Describer d(Protocol::Ascii);
    Frame f;
    f.bytes = ascii("01030000000A");
    f.checkOk = true;
    QCOMPARE(d.describe(f).line(),
             QStringLiteral("站號 01  03 讀取保持暫存器  要求 起始 0x0000 數量 10  LRC 正確"));
}

void TestModbusFrames::silenceAndItsTime()
{
    QCOMPARE(silenceUs(9600, 10), int64_t(3646));
    QCOMPARE(silenceUs(19200, 11), int64_t(2005));
    QCOMPARE(silenceUs(115200, 10), int64_t(1750));
    // A frame whose check fails waits for the silence; one that holds goes at once. Each has
    // the time of the read that held its first byte.
    Framer framer(Protocol::Rtu, silenceUs(9600, 10), characterUs(9600, 10));
    std::vector<Frame> frames;
    const QByteArray request = rtu("01030000000A");
    framer.feed(request.left(3), 100, frames);
    framer.feed(request.mid(3), 3000, frames);
    QCOMPARE(frames.size(), size_t(1));
    QCOMPARE(frames[0].timeUs, int64_t(100));
    QVERIFY(!framer.dueUs());
    framer.feed(flipped(request, 2), 50000, frames);
    QCOMPARE(frames.size(), size_t(1));
    QCOMPARE(*framer.dueUs(), int64_t(50000 + 3646));
    framer.flush(50000 + 3645, frames);
    QCOMPARE(frames.size(), size_t(1));
    framer.flush(50000 + 3646, frames);
    QCOMPARE(frames.size(), size_t(2));
    QVERIFY(frames[1].framed && !frames[1].checkOk);
    QCOMPARE(frames[1].timeUs, int64_t(50000));
}

void TestModbusFrames::aLongRunOfNoiseEnds()
{
    // A stream with no silence and no frame in it goes out as bytes as it comes, every byte of
    // it, not held until the line falls silent.
    Framer framer(Protocol::Rtu, silenceUs(115200, 10), characterUs(115200, 10));
    std::vector<Frame> frames;
    QByteArray noise(4096, char(0xFF));
    qsizetype out = 0;
    for (int i = 0; i < 16; ++i)
        framer.feed(noise, 1000 * i, frames);
    for (const Frame &f : frames)
        out += f.bytes.size();
    QVERIFY(out >= 16 * 4096 - Framer::RunLimit);
    framer.finish(frames);
    out = 0;
    for (const Frame &f : frames) {
        QVERIFY(!f.framed);
        out += f.bytes.size();
    }
    QCOMPARE(out, 16 * 4096);
}

void TestModbusFrames::longRunsWithoutSilence()
{
    // Back to back in large reads, as a burst or a busy bus without gaps comes: requests of
    // every start address, whose third byte would give a reply's length; and requests with
    // their replies, whose values run through every byte. A check that holds by chance at the
    // other form's length (once in 65,536) must not cut one frame short.
    QByteArray requests, exchanges;
    for (int i = 0; i < 20000; ++i) {
        const QByteArray start = QByteArray::fromHex("0103") + char(i >> 8) + char(i);
        requests += rtu((start + QByteArray::fromHex("000A")).toHex().constData());
        QByteArray values;
        for (int k = 0; k < 4; ++k)
            values += char((i * 7 + k * 31) >> 3) + QByteArray(1, char(i * 13 + k));
        exchanges += rtu("010300000004") + rtu(("010308" + values.toHex()).constData());
    }
    for (const QByteArray &stream : {requests, exchanges}) {
        Framer framer(Protocol::Rtu, silenceUs(115200, 10), characterUs(115200, 10));
        std::vector<Frame> frames;
        for (qsizetype at = 0; at < stream.size(); at += 4096)
            framer.feed(QByteArrayView(stream).sliced(
                                at, std::min<qsizetype>(4096, stream.size() - at)),
                        at, frames);
        framer.finish(frames);
        QCOMPARE(frames.size(), size_t(stream == requests ? 20000 : 40000));
        QVERIFY(std::all_of(frames.begin(), frames.end(),
                            [](const Frame &f) { return f.framed && f.checkOk; }));
    }
}

QTEST_APPLESS_MAIN(TestModbusFrames)
#include "tst_modbusframes.moc"
