// SPDX-License-Identifier: MIT
// The PARMRK decoder against streams marked as the tty marks them.
#include "serial/ParmrkDecoder.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

struct Byte
{
    uint8_t value;
    bool flawed;
};

// What the tty makes of the line: a flawed byte as FFh 00h and the byte, a real FFh doubled.
QByteArray mark(const std::vector<Byte> &line)
{
    QByteArray out;
    for (const Byte &b : line) {
        if (b.flawed)
            out.append("\xFF\x00", 2);
        else if (b.value == 0xFF)
            out.append(char(0xFF));
        out.append(char(b.value));
    }
    return out;
}

std::vector<Byte> flatten(const std::vector<TrafficRecord> &records)
{
    std::vector<Byte> out;
    for (const TrafficRecord &r : records)
        for (char c : r.bytes)
            out.push_back({uint8_t(c), r.kind == TrafficKind::Flawed});
    return out;
}

bool sameBytes(const std::vector<Byte> &a, const std::vector<Byte> &b)
{
    return a.size() == b.size()
            && std::equal(a.begin(), a.end(), b.begin(), [](const Byte &x, const Byte &y) {
                   return x.value == y.value && x.flawed == y.flawed;
               });
}

std::vector<TrafficRecord> decodeAll(const QByteArray &stream, std::vector<qsizetype> cuts = {})
{
    serial::ParmrkDecoder decoder;
    std::vector<TrafficRecord> out;
    cuts.push_back(stream.size());
    qsizetype from = 0;
    int64_t time = 1;
    for (qsizetype cut : cuts) {
        decoder.decode(reinterpret_cast<const uint8_t *>(stream.constData()) + from,
                       size_t(cut - from), time++, out);
        from = cut;
    }
    decoder.finish(time, out);
    return out;
}

} // namespace

class TestParmrk : public QObject
{
    Q_OBJECT

private slots:
    void soundChunkIsOneRecord()
    {
        serial::ParmrkDecoder decoder;
        std::vector<TrafficRecord> out;
        decoder.decode(reinterpret_cast<const uint8_t *>("abc"), 3, 42, out);
        QCOMPARE(out.size(), size_t(1));
        QCOMPARE(out[0].kind, TrafficKind::Received);
        QCOMPARE(out[0].timeUs, int64_t(42));
        QCOMPARE(out[0].bytes, QByteArray("abc"));
        QCOMPARE(decoder.pending(), size_t(0));
    }

    void marksBecomeRunsInLineOrder()
    {
        // "ab", flawed 'x' 'y', "c", a real FFh, flawed FFh, a break.
        const QByteArray stream = QByteArray::fromHex("6162ff0078ff007963ffffff00ffff0000");
        const std::vector<TrafficRecord> out = decodeAll(stream);
        QCOMPARE(out.size(), size_t(4));
        QCOMPARE(out[0].kind, TrafficKind::Received);
        QCOMPARE(out[0].bytes, QByteArray("ab"));
        QCOMPARE(out[1].kind, TrafficKind::Flawed);
        QCOMPARE(out[1].bytes, QByteArray("xy"));
        QCOMPARE(out[2].kind, TrafficKind::Received);
        QCOMPARE(out[2].bytes, QByteArray("c\xFF"));
        QCOMPARE(out[3].kind, TrafficKind::Flawed);
        QCOMPARE(out[3].bytes, QByteArray("\xFF\x00", 2));
        for (const TrafficRecord &r : out)
            QCOMPARE(r.timeUs, int64_t(1));
    }

    void everySplitPointGivesTheSameBytes()
    {
        const std::vector<Byte> line {{'a', false}, {0xFF, false}, {'b', true},   {0x00, true},
                                      {0xFF, true}, {0xFF, false}, {0xFF, false}, {'c', false}};
        const QByteArray stream = mark(line);
        for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
            QVERIFY2(sameBytes(flatten(decodeAll(stream, {cut})), line),
                     qPrintable(QStringLiteral("cut at %1").arg(cut)));
            for (qsizetype second = cut; second <= stream.size(); ++second)
                QVERIFY2(sameBytes(flatten(decodeAll(stream, {cut, second})), line),
                         qPrintable(QStringLiteral("cuts at %1, %2").arg(cut).arg(second)));
        }
    }

    void splitMarkWaitsAndTakesTheLaterTime()
    {
        serial::ParmrkDecoder decoder;
        std::vector<TrafficRecord> out;
        const uint8_t ff = 0xFF, zero = 0x00, x = 'x';
        decoder.decode(&ff, 1, 1, out);
        QVERIFY(out.empty());
        QCOMPARE(decoder.pending(), size_t(1));
        decoder.decode(&zero, 1, 2, out);
        QVERIFY(out.empty());
        QCOMPARE(decoder.pending(), size_t(2));
        decoder.decode(&x, 1, 3, out);
        QCOMPARE(out.size(), size_t(1));
        QCOMPARE(out[0].kind, TrafficKind::Flawed);
        QCOMPARE(out[0].bytes, QByteArray("x"));
        QCOMPARE(out[0].timeUs, int64_t(3));
        QCOMPARE(decoder.pending(), size_t(0));
    }

    void doubledEscapes()
    {
        const std::vector<TrafficRecord> out = decodeAll(QByteArray("\xFF\xFF\xFF\xFF", 4));
        QCOMPARE(out.size(), size_t(1));
        QCOMPARE(out[0].kind, TrafficKind::Received);
        QCOMPARE(out[0].bytes, QByteArray("\xFF\xFF"));
    }

    void breakIsAFlawedZero()
    {
        const std::vector<TrafficRecord> out = decodeAll(QByteArray("\xFF\x00\x00", 3));
        QCOMPARE(out.size(), size_t(1));
        QCOMPARE(out[0].kind, TrafficKind::Flawed);
        QCOMPARE(out[0].bytes, QByteArray(1, '\0'));
    }

    void unknownEscapePassesBothBytes()
    {
        const std::vector<TrafficRecord> out = decodeAll(QByteArray::fromHex("61ff62"));
        QCOMPARE(out.size(), size_t(1));
        QCOMPARE(out[0].bytes, QByteArray::fromHex("61ff62"));
    }

    void finishGivesOutWhatWaits()
    {
        QCOMPARE(decodeAll(QByteArray("a\xFF", 2)).back().bytes, QByteArray("\xFF"));
        const std::vector<TrafficRecord> half = decodeAll(QByteArray("\xFF\x00", 2));
        QCOMPARE(half.size(), size_t(1));
        QCOMPARE(half[0].kind, TrafficKind::Received);
        QCOMPARE(half[0].bytes, QByteArray("\xFF\x00", 2));

        serial::ParmrkDecoder decoder;
        std::vector<TrafficRecord> out;
        const uint8_t ff = 0xFF;
        decoder.decode(&ff, 1, 1, out);
        decoder.reset();
        decoder.finish(2, out);
        QVERIFY(out.empty());
    }

    void randomStreamsRoundTrip()
    {
        QRandomGenerator random(20261209);
        for (int round = 0; round < 500; ++round) {
            std::vector<Byte> line(random.bounded(1, 200));
            for (Byte &b : line) {
                // Few values, so that escapes, zeros and flaws meet often.
                const uint8_t values[] = {0x00, 0xFF, 'a', 0x7F};
                b = {values[random.bounded(4)], random.bounded(4) == 0};
            }
            const QByteArray stream = mark(line);
            std::vector<qsizetype> cuts;
            for (qsizetype at = random.bounded(4); at < stream.size(); at += random.bounded(1, 6))
                cuts.push_back(at);
            const std::vector<TrafficRecord> out = decodeAll(stream, cuts);
            QVERIFY(sameBytes(flatten(out), line));
            for (size_t i = 1; i < out.size(); ++i)
                QVERIFY(out[i].kind != out[i - 1].kind || out[i].timeUs != out[i - 1].timeUs);
        }
    }
};

QTEST_GUILESS_MAIN(TestParmrk)
#include "tst_parmrk.moc"
