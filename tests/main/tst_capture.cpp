// SPDX-License-Identifier: MIT
// The capture, the log formats and the rendering of time and framing, without a window: what
// is kept comes back exactly, the log reads back to the same bytes and times, and the display's
// lines carry the arrival times, break at idle gaps and lay out a hex dump.
#include "traffic/CaptureExport.h"
#include "traffic/Cp950.h"
#include "traffic/LineEvents.h"
#include "traffic/LiveLog.h"
#include "traffic/LogFormat.h"
#include "traffic/Logging.h"
#include "traffic/TrafficCapture.h"
#include "traffic/TrafficRenderer.h"

#include "PipeWatchdog.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <ctime>
#include <mutex>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

Q_DECLARE_METATYPE(LiveLog::Format)
Q_DECLARE_METATYPE(CaptureExport::Format)

namespace {

TrafficRecord record(TrafficKind kind, int64_t timeUs, const QByteArray &bytes)
{
    return {kind, timeUs, bytes};
}

QByteArray allValues()
{
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes.append(char(b));
    return bytes;
}

// The display's local clock face of a traffic time, as the renderer prints it.
QString clockOf(int64_t timeUs)
{
    return QDateTime::fromMSecsSinceEpoch(wallMicroseconds(timeUs) / 1000)
            .toString(QStringLiteral("HH:mm:ss.zzz"));
}

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT

private slots:
    void keepsEveryRecord();
    void smallChunksStayCompact();
    void spillsPastItsLimit();
    void logLinesReadBack_data();
    void logLinesReadBack();
    void lineEventsInTheLog();
    void textColumn_data();
    void textColumn();
    void csvQuotesItsText();
    void namedDirectionsInTheLogs();
    void exportFormats();
    void modbusFramesForm();
    void savesGoWhereTheNameSays();
    void formatsKeepTheirSuffix_data();
    void formatsKeepTheirSuffix();
    void timestampsStartEveryLine();
    void idleGapBreaksTheLine();
    void hexDumpLayout();
    void hexDumpCountsEachDirection_data();
    void hexDumpCountsEachDirection();
    void liveLogKeepsUp_data();
    void liveLogKeepsUp();
    void liveLogStopsWhenItCannotWrite_data();
    void liveLogStopsWhenItCannotWrite();
    void failuresNameTheirCause_data();
    void failuresNameTheirCause();
    void logTimeWritesEveryOffsetAlike_data();
    void logTimeWritesEveryOffsetAlike();
    void sentBytesInARowAreOneLine_data();
    void sentBytesInARowAreOneLine();
    void logsReadBack_data();
    void logsReadBack();
    void liveLogNeverWaitsForAPipe();
    void liveLogTakesABurstAtItsPace();
    void debugLinesOnlyWhenAsked_data();
    void debugLinesOnlyWhenAsked();
};

void TestCapture::keepsEveryRecord()
{
    // Records of every kind and size, the time stepping forward and, now and then, back (a
    // terminal's reply published after the send it arrived during).
    QRandomGenerator rng(5);
    TrafficCapture capture;
    std::vector<TrafficRecord> given;
    int64_t time = monotonicMicroseconds();
    for (int i = 0; i < 3000; ++i) {
        // The line's events are rare beside the bytes, and every kind must come back as itself.
        static const TrafficKind Events[] = {TrafficKind::LineGone,  TrafficKind::ModemLines,
                                             TrafficKind::BreakSent, TrafficKind::LineErrors,
                                             TrafficKind::Report,    TrafficKind::LineBack,
                                             TrafficKind::Params};
        const int k = int(rng.bounded(12));
        const TrafficKind kind = k < 6 ? TrafficKind::Received
                : k < 9                ? TrafficKind::Sent
                : k < 10               ? TrafficKind::Flawed
                                       : Events[rng.bounded(7)];
        QByteArray bytes;
        if (kind == TrafficKind::ModemLines) {
            bytes = LineEvents::modemLines(0, uint8_t(rng.bounded(64)), uint8_t(rng.bounded(64)))
                            .bytes;
        } else if (kind == TrafficKind::Report || kind == TrafficKind::Params) {
            bytes = QStringLiteral("速率 9600: 通過\n").toUtf8();
        } else if (kind == TrafficKind::LineBack) {
            bytes = "/dev/ttyUSB1";
        } else if (kind != TrafficKind::LineGone) {
            const int n = int(rng.bounded(1, i % 100 == 0 ? 70000 : 40));
            for (int j = 0; j < n; ++j)
                bytes.append(char(rng.bounded(256)));
        }
        time += rng.bounded(10) == 0 ? -int64_t(rng.bounded(5000)) : int64_t(rng.bounded(20000));
        given.push_back(record(kind, time, bytes));
        // Now and then the second of two lines heard at once.
        given.back().side = rng.bounded(8) == 0 ? 1 : 0;
        capture.take(given.back());
    }
    size_t at = 0;
    int64_t received = 0;
    int64_t sent = 0;
    capture.forEach([&](const TrafficRecord &r) {
        QVERIFY(at < given.size());
        const TrafficRecord &g = given[at++];
        QCOMPARE(int(r.kind), int(g.kind));
        QCOMPARE(int(r.side), int(g.side));
        QVERIFY(r.bytes == g.bytes);
        // Kept to 100 us.
        QCOMPARE(r.timeUs, g.timeUs / TrafficCapture::TimeUnitUs * TrafficCapture::TimeUnitUs);
        if (r.kind == TrafficKind::Received || r.kind == TrafficKind::Flawed)
            received += r.bytes.size();
        else if (r.kind == TrafficKind::Sent)
            sent += r.bytes.size();
    });
    QCOMPARE(at, given.size());
    QCOMPARE(capture.receivedBytes(), received);
    QCOMPARE(capture.sentBytes(), sent);
    capture.clear();
    QVERIFY(capture.isEmpty());
    int visits = 0;
    capture.forEach([&](const TrafficRecord &) { ++visits; });
    QCOMPARE(visits, 0);
}

void TestCapture::smallChunksStayCompact()
{
    // 11,520 B/s in reads of a millisecond: 11 or 12 bytes every 1 ms. A day of it must fit in
    // 1.3 GB: at most 1.25 bytes kept per byte.
    TrafficCapture capture;
    int64_t time = monotonicMicroseconds();
    qint64 bytes = 0;
    for (int i = 0; i < 200000; ++i) {
        const QByteArray chunk(11 + i % 2, char(i));
        time += 1000 + i % 7;
        capture.take(record(TrafficKind::Received, time, chunk));
        bytes += chunk.size();
    }
    const double perByte = double(capture.storedBytes()) / double(bytes);
    QVERIFY2(perByte <= 1.25, qPrintable(QString::number(perByte)));
}

void TestCapture::spillsPastItsLimit()
{
    // A line read byte by byte keeps three bytes a byte: past the limit the blocks go to a
    // file that no folder lists, and all comes back in order from memory and file alike.
    QTemporaryDir folder;
    constexpr int64_t Limit = 2 * int64_t(TrafficCapture::BlockSize);
    const auto feed = [](TrafficCapture &capture, std::vector<TrafficRecord> &given) {
        QRandomGenerator rng(11);
        int64_t time = monotonicMicroseconds();
        while (capture.storedBytes() < 9 * int64_t(TrafficCapture::BlockSize)) {
            QByteArray bytes(int(rng.bounded(1, 6)), Qt::Uninitialized);
            for (char &c : bytes)
                c = char(rng.bounded(256));
            time += rng.bounded(200);
            given.push_back(record(rng.bounded(4) == 0 ? TrafficKind::Sent : TrafficKind::Received,
                                   time, bytes));
            capture.take(given.back());
        }
    };
    const auto readsBack = [](const TrafficCapture &capture,
                              const std::vector<TrafficRecord> &given) {
        size_t at = 0;
        bool same = true;
        const bool complete = capture.forEach([&](const TrafficRecord &r) {
            same = same && at < given.size() && r.bytes == given[at].bytes
                    && r.kind == given[at].kind;
            ++at;
        });
        return complete && same && at == given.size();
    };

    TrafficCapture capture(Limit, folder.path());
    std::vector<TrafficRecord> given;
    feed(capture, given);
    QVERIFY(capture.spilledBytes() >= 6 * int64_t(TrafficCapture::BlockSize));
    QVERIFY(capture.memoryBytes() <= Limit + int64_t(TrafficCapture::BlockSize) + 4096);
    QVERIFY(QDir(folder.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    QVERIFY(readsBack(capture, given));
    // A new mode starts a new capture, which spills afresh.
    capture.clear();
    QCOMPARE(capture.spilledBytes(), 0);
    given.clear();
    feed(capture, given);
    QVERIFY(capture.spilledBytes() > 0);
    QVERIFY(readsBack(capture, given));

    // Where no file can be made, everything stays in memory: no byte is dropped for the limit.
    TrafficCapture unspillable(Limit, folder.filePath(QStringLiteral("gone")));
    given.clear();
    feed(unspillable, given);
    QCOMPARE(unspillable.spilledBytes(), 0);
    QVERIFY(unspillable.memoryBytes() > Limit);
    QVERIFY(readsBack(unspillable, given));
}

void TestCapture::logLinesReadBack_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("every value received") << int(TrafficKind::Received) << allValues();
    QTest::newRow("every value sent") << int(TrafficKind::Sent) << allValues();
    QTest::newRow("a Big5 pair") << int(TrafficKind::Received) << QByteArray("\xA4\x40 OK\r\n");
    QTest::newRow("one byte") << int(TrafficKind::Sent) << QByteArray("\x06");
    QTest::newRow("hang-up") << int(TrafficKind::LineGone) << QByteArray();
    QTest::newRow("flawed bytes") << int(TrafficKind::Flawed) << QByteArray("\x00\xFF", 2);
}

void TestCapture::logLinesReadBack()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, bytes);
    const int64_t time = monotonicMicroseconds();
    const TrafficRecord r = record(TrafficKind(kind), time, bytes);
    const QString line = LogFormat::logLine(r);
    QVERIFY(line.endsWith(u'\n'));
    QCOMPARE(line.count(u'\t'), 3);
    QCOMPARE(line.count(u'\n'), 1);
    const std::optional<LogFormat::Parsed> back = LogFormat::parseLogLine(line);
    QVERIFY(back);
    QCOMPARE(int(back->kind), kind);
    QVERIFY(back->bytes == bytes);
    QCOMPARE(back->wallMs, wallMicroseconds(time) / 1000);
    // ISO 8601 local time, milliseconds and the offset.
    static const QRegularExpression iso(QStringLiteral(
            "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d)\\t"));
    QVERIFY2(iso.match(line).hasMatch(), qPrintable(line));
    if (kind == int(TrafficKind::LineGone))
        QCOMPARE(back->event, QStringLiteral("HANGUP"));
    // Not every text is a line of the log.
    QVERIFY(!LogFormat::parseLogLine(u"nonsense"));
    QStringList fields = line.split(u'\t');
    fields[1] = QStringLiteral("XX");
    QVERIFY(!LogFormat::parseLogLine(fields.join(u'\t')));
}

void TestCapture::lineEventsInTheLog()
{
    const int64_t time = monotonicMicroseconds();
    struct Case
    {
        TrafficRecord record;
        const char *code;
        QString text;
    };
    serial::ErrorCounts counts;
    counts.frame = 3;
    counts.parity = 1;
    counts.breaks = 2;
    const Case cases[] = {
            {LineEvents::modemLines(time, serial::Cts | serial::Dtr, serial::Cts), "LINES",
             QStringLiteral("CTS↑ (DTR=1 RTS=0 CTS=1 DSR=0 DCD=0 RI=0)")},
            {LineEvents::modemLines(time, serial::Dsr, 0), "LINES",
             QStringLiteral("線路狀態 DTR=0 RTS=0 CTS=0 DSR=1 DCD=0 RI=0")},
            {LineEvents::breakSent(time, 250), "BREAK", QStringLiteral("送出 Break 250 ms")},
            {LineEvents::lineErrors(time, counts), "ERRORS",
             QStringLiteral("錯誤計數 訊框=3 同位=1 溢位=0 緩衝區溢位=0 Break=2")},
            {{TrafficKind::LineBack, time, "/dev/ttyUSB1"},
             "RECONNECT",
             QStringLiteral("裝置重新連接 /dev/ttyUSB1")},
    };
    for (const Case &c : cases) {
        const QString line = LogFormat::logLine(c.record);
        const std::optional<LogFormat::Parsed> back = LogFormat::parseLogLine(line);
        QVERIFY2(back, qPrintable(line));
        QCOMPARE(int(back->kind), int(c.record.kind));
        QCOMPARE(back->event, QLatin1String(c.code));
        QCOMPARE(back->text, c.text);
    }
    QCOMPARE(LineEvents::errorCountsOf(cases[3].record), std::optional(counts));
    QCOMPARE(LineEvents::breakDurationOf(cases[2].record), std::optional(250));

    // A report of several lines is one line of the log each, tabs and quotes made harmless.
    const TrafficRecord report =
            LineEvents::report(time, QStringLiteral("線路自我測試\n速率 9600\t通過\n說明 \"x\"\n"));
    const QStringList lines = LogFormat::logLine(report).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    for (const QString &l : lines) {
        const std::optional<LogFormat::Parsed> back = LogFormat::parseLogLine(l);
        QVERIFY2(back, qPrintable(l));
        QCOMPARE(int(back->kind), int(TrafficKind::Report));
    }
    QCOMPARE(LogFormat::parseLogLine(lines[1])->text, QStringLiteral("速率 9600 通過"));
    QVERIFY(LogFormat::csvLine(report).contains(QStringLiteral("\"說明 \"\"x\"\"\"")));

    // Short bytes are no event, never a read past their end.
    QVERIFY(!LineEvents::modemChangeOf({TrafficKind::ModemLines, time, QByteArray(1, 'x')}));
    QVERIFY(!LineEvents::errorCountsOf({TrafficKind::LineErrors, time, QByteArray(19, 'x')}));
    QVERIFY(!LineEvents::breakDurationOf({TrafficKind::Sent, time, QByteArray(2, 'x')}));
}

void TestCapture::textColumn_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("text and names") << QByteArray("T=23.5\t\x06\r\n") << "T=23.5<HT><ACK><CR><LF>";
    QTest::newRow("NUL and DEL") << QByteArray("\x00\x7F", 2) << "<NULL><DEL>";
    QTest::newRow("a Big5 pair") << QByteArray("\xA4\x40") << QString(QChar(0x4E00));
    QTest::newRow("a pair cut by the chunk's end") << QByteArray("A\xA4") << "A<A4>";
    QTest::newRow("no valid pair") << QByteArray("\xA4\x0D") << "<A4><CR>";
    QTest::newRow("brackets stay") << QByteArray("<CR>") << "<CR>";
}

void TestCapture::textColumn()
{
    QFETCH(QByteArray, bytes);
    QTEST(LogFormat::textOf(bytes), "text");
}

void TestCapture::csvQuotesItsText()
{
    const QString line = LogFormat::csvLine(
            record(TrafficKind::Received, monotonicMicroseconds(), QByteArray("a,\"b\"")));
    QVERIFY2(line.endsWith(QStringLiteral(",RX,61 2C 22 62 22,\"a,\"\"b\"\"\",\"\"\n")),
             qPrintable(line));
}

void TestCapture::namedDirectionsInTheLogs()
{
    // Two lines heard at once: the names come first, each line of bytes and each event of a
    // line then carries its direction's name, through the capture and back from the file.
    const int64_t t = monotonicMicroseconds();
    const SideNames names {QStringLiteral("主機 → 印表機"), QStringLiteral("印表機 → 主機"), {}};
    TrafficCapture capture;
    capture.take(names.record(t));
    capture.take(record(TrafficKind::Received, t + 1000, "PRINT\r"));
    TrafficRecord reply = record(TrafficKind::Received, t + 1500, "OK");
    reply.side = 1;
    capture.take(reply);
    TrafficRecord gone = record(TrafficKind::LineGone, t + 3000, {});
    gone.side = 1;
    capture.take(gone);
    capture.take(SideNames().record(t + 4000));
    QCOMPARE(capture.receivedBytes(0), 6);
    QCOMPARE(capture.receivedBytes(1), 2);
    std::vector<TrafficRecord> back;
    capture.forEach([&](const TrafficRecord &r) { back.push_back(r); });
    QCOMPARE(back.size(), size_t(5));
    QCOMPARE(int(back[2].side), 1);
    QCOMPARE(int(back[3].side), 1);
    QCOMPARE(int(back[3].kind), int(TrafficKind::LineGone));
    QCOMPARE(SideNames::of(back[0]).receivedSecond, names.receivedSecond);

    for (bool csv : {false, true}) {
        LogFormat::Lines lines(csv, 0);
        QByteArray out;
        for (const TrafficRecord &r : back)
            lines.add(r, out);
        lines.finish(out);
        const QStringList written = QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(written.size(), 5);
        const auto parsed = [&](int i) {
            return csv ? LogFormat::parseCsvLine(written[i]) : LogFormat::parseLogLine(written[i]);
        };
        QCOMPARE(parsed(0)->event, QStringLiteral("SIDES"));
        QCOMPARE(parsed(1)->side, names.received);
        QCOMPARE(parsed(1)->bytes, QByteArray("PRINT\r"));
        QCOMPARE(parsed(2)->side, names.receivedSecond);
        QCOMPARE(parsed(3)->event, QStringLiteral("HANGUP"));
        QCOMPARE(parsed(3)->side, names.receivedSecond);
        // After the conversation, a line of one device again: four fields in the log.
        QCOMPARE(parsed(4)->side, QString());
        if (!csv)
            QCOMPARE(written[4].count(u'\t'), 3);
    }
    // Logs written before the names were there read as they did.
    const auto old = LogFormat::parseLogLine(u"2026-12-09T14:03:07.123+08:00\tRX\t48 69\tHi");
    QVERIFY(old && old->bytes == "Hi" && old->side.isEmpty());
    const auto oldCsv = LogFormat::parseCsvLine(u"2026-12-09T14:03:07.123+08:00,TX,41 2C,\"A,\"");
    QVERIFY(oldCsv && oldCsv->bytes == "A," && oldCsv->kind == TrafficKind::Sent);
    QVERIFY(!LogFormat::parseCsvLine(u"2026-12-09T14:03:07.123+08:00,TX,41,\"A\",\"x"));
}

void TestCapture::exportFormats()
{
    TrafficCapture capture;
    const int64_t t = monotonicMicroseconds();
    capture.take(record(TrafficKind::Sent, t, QByteArray("AT\r")));
    capture.take(record(TrafficKind::Received, t + 20000, QByteArray("OK\r\n")));
    capture.take(record(TrafficKind::LineGone, t + 90000, {}));
    // While it is away the port says why it cannot open it: no second mark.
    capture.take(record(TrafficKind::LineGone, t + 95000, "busy"));
    capture.take(record(TrafficKind::LineBack, t + 99000, "/dev/ttyUSB1"));
    capture.take(record(TrafficKind::Received, t + 99500, QByteArray("hi")));
    CaptureExport::TextStyle style;
    style.localName = QStringLiteral("主機傳送");
    style.remoteName = QStringLiteral("設備回應");
    const auto written = [&](CaptureExport::Format format) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QString error;
        if (!CaptureExport::write(capture, format, style, buffer, &error))
            return QByteArray("failed: ") + error.toUtf8();
        return buffer.data();
    };
    QCOMPARE(written(CaptureExport::Format::Raw), QByteArray("OK\r\nhi"));
    const QStringList log =
            QString::fromUtf8(written(CaptureExport::Format::Log)).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(log.size(), 6);
    QVERIFY(log[0].contains(QStringLiteral("\tTX\t41 54 0D\tAT<CR>")));
    QVERIFY(log[1].contains(QStringLiteral("\tRX\t4F 4B 0D 0A\tOK<CR><LF>")));
    QVERIFY(log[2].contains(QStringLiteral("\tEV\tHANGUP\t")));
    const QStringList csv =
            QString::fromUtf8(written(CaptureExport::Format::Csv)).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(csv.size(), 7);
    QVERIFY(written(CaptureExport::Format::Csv)
                    .startsWith("\xEF\xBB\xBFtime,direction,hex,text,side\n"));
    QCOMPARE(csv[0], QStringLiteral("time,direction,hex,text,side"));
    // Both directions: each block opens with its name, as terminal mode shows it; the device's
    // going and coming are lines of their own, and a block after them opens with its name again.
    // At the capture's own 100 us: a time just past a second would otherwise read a second on.
    const auto clock = [](int64_t timeUs) {
        return clockOf(timeUs / TrafficCapture::TimeUnitUs * TrafficCapture::TimeUnitUs).left(8);
    };
    QCOMPARE(QString::fromUtf8(written(CaptureExport::Format::Text)),
             QStringLiteral("\n主機傳送 : AT<CR>\n\n設備回應 : OK<CR>\n<LF>\n— 裝置已移除 ")
                     + clock(t + 90000) + QStringLiteral(" —\n— 裝置重新連接 ") + clock(t + 99000)
                     + QStringLiteral(" —\n\n設備回應 : hi"));
}

void TestCapture::modbusFramesForm()
{
    // A monitored request and reply, each line on its own, a frame with a wrong check and a
    // stray byte: a row a frame with its direction's name and its fields.
    const int64_t t = monotonicMicroseconds();
    TrafficCapture capture;
    capture.take(SideNames {QStringLiteral("主站"), QStringLiteral("從站"), {}}.record(t));
    capture.take(record(TrafficKind::Received, t + 1000, QByteArray::fromHex("01030000")));
    capture.take(record(TrafficKind::Received, t + 1500, QByteArray::fromHex("000AC5CD")));
    TrafficRecord reply =
            record(TrafficKind::Received, t + 30000, QByteArray::fromHex("010304000A000B9BF6"));
    reply.side = 1;
    capture.take(reply);
    capture.take(record(TrafficKind::Received, t + 60000, QByteArray::fromHex("01030000000AC5CC")));
    capture.take(record(TrafficKind::Received, t + 90000, QByteArray("\xFF")));
    CaptureExport::TextStyle style;
    style.lineBaudRate = 9600;
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    QVERIFY(CaptureExport::write(capture, CaptureExport::Format::Frames, style, buffer, &error));
    QVERIFY(buffer.data().startsWith("\xEF\xBB\xBFtime,direction,address,function,name,role,"
                                     "fields,check,hex\n"));
    QStringList rows = QString::fromUtf8(buffer.data().mid(3)).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 5);
    for (QString &row : rows)
        row = row.section(u',', 1); // the time: as the other logs write it
    QCOMPARE(rows[1],
             QStringLiteral("\"主站\",\"01\",\"03\",\"讀取保持暫存器\",\"要求\",\"起始 "
                            "0x0000 數量 10\",\"CRC 正確\",\"01 03 00 00 00 0A C5 CD\""));
    QCOMPARE(rows[2],
             QStringLiteral("\"從站\",\"01\",\"03\",\"讀取保持暫存器\",\"回應\",\"4 位元組 "
                            ": 000A 000B\",\"CRC 正確\",\"01 03 04 00 0A 00 0B 9B F6\""));
    QVERIFY2(rows[3].contains(QStringLiteral("\"CRC 錯誤 (應為 C5 CD)\"")), qPrintable(rows[3]));
    QCOMPARE(rows[4], QStringLiteral("\"主站\",\"\",\"\",\"\",\"\",\"無法解析\",\"\",\"FF\""));
}

void TestCapture::savesGoWhereTheNameSays()
{
    using F = CaptureExport::Format;
    QTemporaryDir dir;
    const auto target = [&](const QString &name, F picked) {
        const CaptureExport::Target t = CaptureExport::targetOf(dir.filePath(name), picked);
        return std::pair(QFileInfo(t.path).fileName(), t.format);
    };
    QCOMPARE(target(QStringLiteral("a"), F::Csv), std::pair(QStringLiteral("a.csv"), F::Csv));
    QCOMPARE(target(QStringLiteral("a.BIN"), F::Log), std::pair(QStringLiteral("a.BIN"), F::Raw));
    QCOMPARE(target(QStringLiteral("a.dat"), F::Text), std::pair(QStringLiteral("a.dat"), F::Text));
    // Two formats share the suffix: the one picked is kept.
    QCOMPARE(target(QStringLiteral("a.csv"), F::Frames),
             std::pair(QStringLiteral("a.csv"), F::Frames));
    QCOMPARE(target(QStringLiteral("a.csv"), F::Log), std::pair(QStringLiteral("a.csv"), F::Csv));
    // What is there keeps its name: a device, a pipe, a file without a suffix.
    QCOMPARE(CaptureExport::targetOf(QStringLiteral("/dev/full"), F::Log).path,
             QStringLiteral("/dev/full"));

    TrafficCapture capture;
    capture.take(record(TrafficKind::Received, monotonicMicroseconds(), QByteArray(100000, 'x')));
    QString error;
    // A device that cannot take it says so and stays the device it was.
    QVERIFY(!CaptureExport::save(capture, F::Raw, {}, QStringLiteral("/dev/full"), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFileInfo(QStringLiteral("/dev/full")).isFile());
    QVERIFY(CaptureExport::save(capture, F::Raw, {}, QStringLiteral("/dev/null"), &error));
    // A file is replaced whole.
    const QString path = dir.filePath(QStringLiteral("old.bin"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(300000, 'o'));
    old.close();
    QVERIFY(CaptureExport::save(capture, F::Raw, {}, path, &error));
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray(100000, 'x'));
    // A folder that is not there is no half-made file.
    QVERIFY(!CaptureExport::save(capture, F::Raw, {}, dir.filePath(QStringLiteral("none/x.bin")),
                                 &error));
}

void TestCapture::formatsKeepTheirSuffix_data()
{
    using F = CaptureExport::Format;
    QTest::addColumn<F>("format");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("log") << F::Log << "log";
    QTest::newRow("CSV") << F::Csv << "csv";
    QTest::newRow("text") << F::Text << "txt";
    QTest::newRow("raw") << F::Raw << "bin";
}

void TestCapture::formatsKeepTheirSuffix()
{
    using F = CaptureExport::Format;
    QFETCH(F, format);
    QFETCH(QString, suffix);
    // A name given no suffix gets the format's, which saves in that format again whatever is
    // picked then, and the save dialog's filter shows the files so named.
    QTemporaryDir dir;
    const CaptureExport::Target first =
            CaptureExport::targetOf(dir.filePath(QStringLiteral("a")), format);
    QCOMPARE(QFileInfo(first.path).suffix(), suffix);
    const F other = format == F::Log ? F::Raw : F::Log;
    QCOMPARE(CaptureExport::targetOf(first.path, other).format, format);
    const QString filter = CaptureExport::filterOf(format);
    QVERIFY2(filter.endsWith(QStringLiteral(" (*.%1)").arg(suffix)), qPrintable(filter));
}

void TestCapture::timestampsStartEveryLine()
{
    DisplayFormatter formatter;
    TrafficRenderer renderer(formatter);
    renderer.setOptions({true, 0, false});
    const int64_t t1 = monotonicMicroseconds();
    const int64_t t2 = t1 + 1234567;
    QString out;
    renderer.appendBytes("ab\rc", t1, out);
    renderer.appendBytes("d\r", t2, out);
    renderer.appendBytes("e", t2 + 5000, out);
    // Each line carries the time of its first byte's chunk; a line that ends with a chunk
    // leaves the next line to the next chunk's time.
    const QString expected = u'[' + clockOf(t1) + QStringLiteral("] ab<CR>\n[") + clockOf(t1)
            + QStringLiteral("] cd<CR>\n[") + clockOf(t2 + 5000) + QStringLiteral("] e");
    QCOMPARE(out, expected);
    // After a restart (the display was cleared) the next byte opens a line again.
    renderer.restart();
    out.clear();
    renderer.appendBytes("f", t2, out);
    QCOMPARE(out, u'[' + clockOf(t2) + QStringLiteral("] f"));
    // Text of the program's own gets the times of the lines it opens.
    out.clear();
    renderer.appendText(u"\nname : ", t1, out);
    QCOMPARE(out, QStringLiteral("\n[") + clockOf(t1) + QStringLiteral("] name : "));
}

void TestCapture::idleGapBreaksTheLine()
{
    DisplayFormatter formatter;
    formatter.setSettings({LineBreakRule::NoCR, std::nullopt, HexStyle::HEXOnly});
    TrafficRenderer renderer(formatter);
    renderer.setOptions({false, 50, false});
    const int64_t t = monotonicMicroseconds();
    QString out;
    renderer.appendBytes("AB", t, out);
    renderer.appendBytes("C", t + 10000, out); // 10 ms: the same frame
    renderer.appendBytes("DE", t + 70000, out); // 60 ms later: a frame of its own
    renderer.appendBytes("F", t + 120000, out); // exactly 50 ms: a gap too
    QCOMPARE(out, QStringLiteral("ABC\nDE\nF"));
    // Beside the break rule: no second break right after the rule's own.
    formatter.setSettings({LineBreakRule::CR, std::nullopt, HexStyle::HEXOnly});
    out.clear();
    renderer.appendBytes("G\r", t + 200000, out);
    renderer.appendBytes("H", t + 400000, out);
    QCOMPARE(out, QStringLiteral("\nG<CR>\nH"));
}

void TestCapture::hexDumpLayout()
{
    DisplayFormatter formatter;
    formatter.setHexForm(true);
    formatter.setSettings({LineBreakRule::CR, std::nullopt, HexStyle::HexText});
    TrafficRenderer renderer(formatter);
    // Text, control bytes, a Big5 pair and DEL: the text column shows printable ASCII alone,
    // so of the pair A4 40 only the second byte, '@'.
    const QByteArray bytes =
            QByteArray("Hi\r\n\xA4\x40") + QByteArray("0123456789\x7F", 11) + QByteArray("XYZ");
    QString out;
    const int64_t t = monotonicMicroseconds();
    renderer.appendBytes(bytes.left(5), t, out);
    renderer.appendBytes(bytes.mid(5), t, out);
    renderer.finish(out);
    // A short last line is padded, so that its text column stands under the others.
    QCOMPARE(out,
             QStringLiteral("0000  48 69 0D 0A A4 40 30 31  32 33 34 35 36 37 38 39  "
                            "|Hi...@0123456789|\n0010  7F 58 59 5A")
                     + QString(39, u' ') + QStringLiteral("|.XYZ|\n"));
    // With the time, a dump line carries the time its first byte came, and is no wider than
    // the window's display shows at its 96 columns, with a window frame's width to spare.
    renderer.restart();
    renderer.setOptions({true, 0, false});
    out.clear();
    renderer.appendBytes("A", t, out);
    renderer.finish(out);
    QCOMPARE(out,
             u'[' + clockOf(t) + QStringLiteral("] 0000  41") + QString(48, u' ')
                     + QStringLiteral("|A|\n"));
    out.clear();
    renderer.appendBytes(QByteArray(16, 'x'), t, out);
    QVERIFY2(out.size() <= 90, qPrintable(out));
    // Past 64 KiB the offset takes the digits it needs.
    renderer.restart();
    renderer.setOptions({});
    out.clear();
    renderer.appendBytes(QByteArray(0x10010, 'x'), t, out);
    QVERIFY(out.contains(QStringLiteral("\n10000  78 78")));
}

void TestCapture::hexDumpCountsEachDirection_data()
{
    // Records of the conversation, R received and S sent, each eight bytes; the offsets the
    // dump lines show, in order.
    QTest::addColumn<QString>("records");
    QTest::addColumn<QStringList>("offsets");
    QTest::newRow("a reply after a request") << "SR" << QStringList {"0000", "0000"};
    QTest::newRow("each direction goes on")
            << "SRSRRR" << QStringList {"0000", "0000", "0008", "0008", "0018"};
    QTest::newRow("one direction fills lines") << "RRR" << QStringList {"0000", "0010"};
}

void TestCapture::hexDumpCountsEachDirection()
{
    QFETCH(QString, records);
    QFETCH(QStringList, offsets);
    DisplayFormatter formatter;
    formatter.setHexForm(true);
    formatter.setSettings({LineBreakRule::CR, std::nullopt, HexStyle::HexText});
    TrafficRenderer renderer(formatter);
    QString out;
    const int64_t t = monotonicMicroseconds();
    for (QChar r : records)
        renderer.appendBytes(QByteArray(8, 'x'), t, out,
                             r == u'S' ? TrafficKind::Sent : TrafficKind::Received);
    renderer.finish(out);
    QStringList shown;
    for (const QString &line : out.split(u'\n', Qt::SkipEmptyParts))
        shown << line.section(u' ', 0, 0);
    QCOMPARE(shown, offsets);
}

void TestCapture::liveLogKeepsUp_data()
{
    QTest::addColumn<LiveLog::Format>("format");
    QTest::newRow("time-stamped log") << LiveLog::Format::Log;
    QTest::newRow("CSV") << LiveLog::Format::Csv;
    QTest::newRow("raw received bytes") << LiveLog::Format::Raw;
}

void TestCapture::liveLogKeepsUp()
{
    QFETCH(LiveLog::Format, format);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("live"));
    QString error;
    std::unique_ptr<LiveLog> log = LiveLog::start(path, format, &error);
    QVERIFY2(log, qPrintable(error));
    const int64_t t = monotonicMicroseconds();
    log->take(record(TrafficKind::Received, t, allValues()));
    log->take(record(TrafficKind::Sent, t + 1000, QByteArray("AT\r")));
    // Counted once the log's thread has made the lines, written or not.
    QTRY_VERIFY_WITH_TIMEOUT(log->size() > 0, 2 * LiveLog::FlushIntervalMs + 100);
    const auto contents = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    // On the disk within a flush interval, without the log being stopped.
    QTRY_VERIFY_WITH_TIMEOUT(!contents().isEmpty(), 2 * LiveLog::FlushIntervalMs + 100);
    log->take(record(TrafficKind::Received, t + 2000, QByteArray("OK")));
    QCOMPARE(log->stop(), QString());
    QVERIFY(!log->isRunning());
    const QByteArray written = contents();
    QCOMPARE(qint64(written.size()), log->size());
    if (format == LiveLog::Format::Raw) {
        QVERIFY(written == allValues() + "OK");
        return;
    }
    QStringList lines = QString::fromUtf8(written).split(u'\n', Qt::SkipEmptyParts);
    if (format == LiveLog::Format::Csv) {
        QCOMPARE(lines.size(), 4);
        // Excel in Taiwan reads a CSV without the byte order mark as Big5.
        QVERIFY(written.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(lines.takeFirst() + u'\n', QString::fromUtf8(LogFormat::CsvHeader));
        QVERIFY(lines[2].endsWith(QStringLiteral(",RX,4F 4B,\"OK\",\"\"")));
        return;
    }
    QCOMPARE(lines.size(), 3);
    QVERIFY(LogFormat::parseLogLine(lines[0])->bytes == allValues());
    QCOMPARE(int(LogFormat::parseLogLine(lines[1])->kind), int(TrafficKind::Sent));
    QCOMPARE(LogFormat::parseLogLine(lines[2])->bytes, QByteArray("OK"));
}

void TestCapture::liveLogStopsWhenItCannotWrite_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("disk full") << "full";
    QTest::newRow("folder removed") << "removed";
}

void TestCapture::liveLogStopsWhenItCannotWrite()
{
    QFETCH(QString, how);
    QTemporaryDir dir;
    QString path = QStringLiteral("/dev/full");
    if (how == u"removed") {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("logs")));
        path = dir.filePath(QStringLiteral("logs/live.log"));
    }
    QString error;
    std::unique_ptr<LiveLog> log = LiveLog::start(path, LiveLog::Format::Log, &error);
    QVERIFY2(log, qPrintable(error));
    QSignalSpy failed(log.get(), &LiveLog::failed);
    if (how == u"removed")
        QVERIFY(QDir(dir.filePath(QStringLiteral("logs"))).removeRecursively());
    log->take(record(TrafficKind::Received, monotonicMicroseconds(), QByteArray("lost?")));
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 2000);
    QVERIFY(!log->isRunning());
    const QString message = failed.first().first().toString();
    QVERIFY2(message.contains(path), qPrintable(message));
    // Once: more traffic is no second message.
    log->take(record(TrafficKind::Received, monotonicMicroseconds(), QByteArray("more")));
    QTest::qWait(2 * LiveLog::FlushIntervalMs);
    QCOMPARE(failed.count(), 1);
    // A failure met by the last write at the stop is the stop's answer, not a signal.
    log = LiveLog::start(QStringLiteral("/dev/full"), LiveLog::Format::Raw, &error);
    QSignalSpy failedAtStop(log.get(), &LiveLog::failed);
    log->take(record(TrafficKind::Received, monotonicMicroseconds(), QByteArray("last")));
    QVERIFY(log->stop().contains(QStringLiteral("/dev/full")));
    QCOMPARE(failedAtStop.count(), 0);
    // A record that fills a write is written at once, by the log's thread; the message comes
    // after take returned, once the publisher is done, since the one who hears it may
    // unsubscribe the log.
    log = LiveLog::start(QStringLiteral("/dev/full"), LiveLog::Format::Raw, &error);
    QSignalSpy failedInTake(log.get(), &LiveLog::failed);
    log->take(record(TrafficKind::Received, monotonicMicroseconds(),
                     QByteArray(LiveLog::WriteSize, 'x')));
    QCOMPARE(failedInTake.count(), 0);
    QTRY_COMPARE(failedInTake.count(), 1);
    QVERIFY(!log->isRunning());
    // A log that cannot even be opened says so at once.
    QVERIFY(!LiveLog::start(dir.filePath(QStringLiteral("no/such/folder/x.log")),
                            LiveLog::Format::Log, &error));
    QVERIFY(error.contains(QStringLiteral("no/such/folder")));
}

void TestCapture::failuresNameTheirCause_data()
{
    QTest::addColumn<bool>("live");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("cause");
    const QString full = QStringLiteral("磁碟空間不足 (No space left on device)");
    using L = LiveLog::Format;
    using S = CaptureExport::Format;
    QTest::newRow("live log, disk full") << true << int(L::Log) << "full" << full;
    QTest::newRow("live CSV, disk full") << true << int(L::Csv) << "full" << full;
    QTest::newRow("live raw, disk full") << true << int(L::Raw) << "full" << full;
    QTest::newRow("saved log, disk full") << false << int(S::Log) << "full" << full;
    QTest::newRow("saved CSV, disk full") << false << int(S::Csv) << "full" << full;
    QTest::newRow("saved text, disk full") << false << int(S::Text) << "full" << full;
    QTest::newRow("saved raw, disk full") << false << int(S::Raw) << "full" << full;
    // A file that stops growing part way, as on a disk that fills: the first write is short,
    // and only the next says why.
    const QString tooLarge = QStringLiteral("檔案太大 (File too large)");
    QTest::newRow("live log, stopped short") << true << int(L::Log) << "short" << tooLarge;
    QTest::newRow("saved log, stopped short") << false << int(S::Log) << "short" << tooLarge;
    // Its reader gone, a pipe is a failed write, not the end of the program.
    const QString broken = QStringLiteral("對方已關閉 (管道或連線中斷) (Broken pipe)");
    QTest::newRow("live raw, the pipe's reader left") << true << int(L::Raw) << "pipe" << broken;
    QTest::newRow("saved raw, the pipe's reader left") << false << int(S::Raw) << "pipe" << broken;
}

void TestCapture::failuresNameTheirCause()
{
    QFETCH(bool, live);
    QFETCH(int, format);
    QFETCH(QString, target);
    QFETCH(QString, cause);
    QTemporaryDir dir;
    QString path = QStringLiteral("/dev/full");
    // More than a pipe holds.
    const TrafficRecord r =
            record(TrafficKind::Received, monotonicMicroseconds(), QByteArray(1 << 20, 'x'));
    struct Limit
    {
        rlimit old {};
        explicit Limit(bool on)
        {
            getrlimit(RLIMIT_FSIZE, &old);
            if (!on)
                return;
            signal(SIGXFSZ, SIG_IGN);
            const rlimit small {4096, old.rlim_max};
            setrlimit(RLIMIT_FSIZE, &small);
        }
        ~Limit() { setrlimit(RLIMIT_FSIZE, &old); }
    };
    std::thread leaving;
    int reader = -1;
    if (target == u"short") {
        path = dir.filePath(QStringLiteral("short"));
    } else if (target == u"pipe") {
        path = dir.filePath(QStringLiteral("pipe"));
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        reader = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        // Takes a byte, then goes.
        leaving = std::thread([reader] {
            pollfd p {reader, POLLIN, 0};
            char byte;
            while (poll(&p, 1, -1) < 0 || ::read(reader, &byte, 1) != 1) { }
            ::close(reader);
        });
    }
    QString message;
    {
        const Limit limit(target == u"short");
        if (live) {
            std::unique_ptr<LiveLog> log = LiveLog::start(path, LiveLog::Format(format), &message);
            QVERIFY2(log, qPrintable(message));
            QSignalSpy failed(log.get(), &LiveLog::failed);
            log->take(r);
            message = QTest::qWaitFor([&] { return failed.count() > 0; }, 5000)
                    ? failed.first().first().toString()
                    : log->stop();
        } else {
            TrafficCapture capture;
            capture.take(r);
            QVERIFY(!CaptureExport::save(capture, CaptureExport::Format(format), {}, path,
                                         &message));
        }
    }
    if (leaving.joinable())
        leaving.join();
    QVERIFY2(message.contains(cause), qPrintable(message));
}

void TestCapture::logTimeWritesEveryOffsetAlike_data()
{
    // POSIX zones, which need no zone database.
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("offset");
    QTest::newRow("UTC") << QByteArray("UTC0") << "+00:00";
    QTest::newRow("east") << QByteArray("CST-8") << "+08:00";
    QTest::newRow("west, half an hour") << QByteArray("NST3:30") << "-03:30";
}

void TestCapture::logTimeWritesEveryOffsetAlike()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, offset);
    // A second of its own for each zone: the log makes the fields of a second once.
    static int64_t later = 0;
    later += 10'000'000;
    const int64_t time = monotonicMicroseconds() + later;
    const QByteArray old = qgetenv("TZ");
    qputenv("TZ", zone);
    tzset();
    const QString line = LogFormat::logLine(record(TrafficKind::Received, time, "x"));
    old.isNull() ? qunsetenv("TZ") : qputenv("TZ", old);
    tzset();
    QVERIFY2(line.section(u'\t', 0, 0).endsWith(offset), qPrintable(line));
    const std::optional<LogFormat::Parsed> back = LogFormat::parseLogLine(line);
    QVERIFY(back);
    QCOMPARE(back->wallMs, wallMicroseconds(time) / 1000);
    // Logs written before, with "Z" for UTC, read back as they did.
    if (offset == u"+00:00") {
        QString z = line;
        z.replace(QStringLiteral("+00:00\t"), QStringLiteral("Z\t"));
        QCOMPARE(LogFormat::parseLogLine(z)->wallMs, back->wallMs);
    }
}

void TestCapture::sentBytesInARowAreOneLine_data()
{
    // A record a letter, `stepUs` apart: T a byte sent, R a byte received, H a hang-up. Each
    // line expected is its direction, the record it starts at and its byte count.
    QTest::addColumn<QString>("records");
    QTest::addColumn<int>("stepUs");
    QTest::addColumn<int>("joinGapMs");
    QTest::addColumn<QStringList>("lines");
    const int gap = LogFormat::Lines::DefaultJoinGapMs;
    QTest::newRow("a paced send") << "TTTTT" << 1000 << gap << QStringList {"TX 0 5"};
    QTest::newRow("a reply between")
            << "TTRTT" << 1000 << gap << QStringList {"TX 0 2", "RX 2 1", "TX 3 2"};
    QTest::newRow("an event between")
            << "THT" << 1000 << gap << QStringList {"TX 0 1", "EV 1 0", "TX 2 1"};
    QTest::newRow("longer than a line's time")
            << "TTT" << 120000 << gap << QStringList {"TX 0 2", "TX 2 1"};
    QTest::newRow("more than a chunk") << QString(SentBytes::MaxChunk + 1, u'T') << 0 << gap
                                       << QStringList {"TX 0 4096", "TX 4096 1"};
    // Reads of a slow line, a millisecond apart.
    QTest::newRow("reads within the gap") << "RRRRR" << 1000 << gap << QStringList {"RX 0 5"};
    QTest::newRow("gap 0: a line a read")
            << "RRR" << 1000 << 0 << QStringList {"RX 0 1", "RX 1 1", "RX 2 1"};
    QTest::newRow("reads just over the gap")
            << "RRR" << gap * 1000 + 100 << gap << QStringList {"RX 0 1", "RX 1 1", "RX 2 1"};
    QTest::newRow("reads just under the gap")
            << "RRR" << gap * 1000 - 100 << gap << QStringList {"RX 0 3"};
    QTest::newRow("the direction changes")
            << "RRTRR" << 1000 << gap << QStringList {"RX 0 2", "TX 2 1", "RX 3 2"};
    QTest::newRow("an event between reads")
            << "RRHRR" << 1000 << gap << QStringList {"RX 0 2", "EV 2 0", "RX 3 2"};
    QTest::newRow("reads of more than a chunk") << QString(SentBytes::MaxChunk + 1, u'R') << 0
                                                << gap << QStringList {"RX 0 4096", "RX 4096 1"};
    QTest::newRow("a set gap") << "RRRR" << 30000 << 50 << QStringList {"RX 0 4"};
}

void TestCapture::sentBytesInARowAreOneLine()
{
    QFETCH(QString, records);
    QFETCH(int, stepUs);
    QFETCH(int, joinGapMs);
    QFETCH(QStringList, lines);
    // Times the capture keeps exactly, so that a save and the live log see the same.
    const int64_t start = monotonicMicroseconds() / 100 * 100;
    std::vector<TrafficRecord> given;
    for (qsizetype i = 0; i < records.size(); ++i) {
        const int64_t time = start + i * stepUs;
        const QByteArray byte(1, char('A' + i % 26));
        given.push_back(records[i] == u'T'           ? record(TrafficKind::Sent, time, byte)
                                : records[i] == u'R' ? record(TrafficKind::Received, time, byte)
                                                     : record(TrafficKind::LineGone, time, {}));
    }
    TrafficCapture capture;
    for (const TrafficRecord &r : given)
        capture.take(r);
    QTemporaryDir dir;
    for (const bool csv : {false, true}) {
        QBuffer saved;
        saved.open(QIODevice::WriteOnly);
        QString error;
        CaptureExport::TextStyle style;
        style.joinGapMs = joinGapMs;
        QVERIFY(CaptureExport::write(capture,
                                     csv ? CaptureExport::Format::Csv : CaptureExport::Format::Log,
                                     style, saved, &error));
        // The live log writes what a save of the same records writes.
        const QString path = dir.filePath(csv ? QStringLiteral("l.csv") : QStringLiteral("l.log"));
        std::unique_ptr<LiveLog> log = LiveLog::start(
                path, csv ? LiveLog::Format::Csv : LiveLog::Format::Log, &error, joinGapMs);
        QVERIFY2(log, qPrintable(error));
        for (const TrafficRecord &r : given)
            log->take(r);
        QCOMPARE(log->stop(), QString());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), saved.data());
        if (csv) {
            QCOMPARE(saved.data().count('\n'), lines.size() + 1);
            continue;
        }
        const QList<QByteArray> written = saved.data().split('\n');
        QCOMPARE(written.size(), lines.size() + 1);
        for (qsizetype l = 0; l < lines.size(); ++l) {
            const QStringList expected = lines[l].split(u' ');
            const std::optional<LogFormat::Parsed> p =
                    LogFormat::parseLogLine(QString::fromUtf8(written[l]));
            QVERIFY2(p, written[l].constData());
            QCOMPARE(QString::fromUtf8(written[l]).section(u'\t', 1, 1), expected[0]);
            const int first = expected[1].toInt();
            QByteArray bytes;
            for (int i = first; i < first + expected[2].toInt(); ++i)
                bytes += given[size_t(i)].bytes;
            QCOMPARE(p->bytes, bytes);
            // The time of its first byte.
            QCOMPARE(p->wallMs, wallMicroseconds(given[size_t(first)].timeUs) / 1000);
        }
    }
}

void TestCapture::logsReadBack_data()
{
    // A file as written now, and as earlier versions wrote it: a CSV without the byte order
    // mark, received bytes a line a read.
    QTest::addColumn<bool>("csv");
    QTest::addColumn<bool>("earlier");
    QTest::newRow("log") << false << false;
    QTest::newRow("CSV with its byte order mark") << true << false;
    QTest::newRow("log of an earlier version") << false << true;
    QTest::newRow("CSV of an earlier version") << true << true;
}

void TestCapture::logsReadBack()
{
    QFETCH(bool, csv);
    QFETCH(bool, earlier);
    const int64_t t = monotonicMicroseconds() / 1000 * 1000;
    TrafficCapture capture;
    capture.take(record(TrafficKind::Received, t, QByteArray("a,\"b\"")));
    capture.take(record(TrafficKind::Received, t + 1000, QByteArray("\r\n")));
    capture.take(record(TrafficKind::LineBack, t + 2000, "/dev/ttyUSB1"));
    CaptureExport::TextStyle style;
    style.joinGapMs = earlier ? 0 : LogFormat::Lines::DefaultJoinGapMs;
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    QVERIFY(CaptureExport::write(capture,
                                 csv ? CaptureExport::Format::Csv : CaptureExport::Format::Log,
                                 style, buffer, &error));
    QByteArray file = buffer.data();
    QCOMPARE(file.startsWith("\xEF\xBB\xBF"), csv);
    if (earlier && csv)
        file.remove(0, 3);
    QList<LogFormat::Parsed> back;
    for (const QByteArray &raw : file.split('\n')) {
        const QString line = QString::fromUtf8(raw);
        if (const auto p = csv ? LogFormat::parseCsvLine(line) : LogFormat::parseLogLine(line))
            back << *p;
    }
    QCOMPARE(back.size(), earlier ? 3 : 2);
    QByteArray bytes;
    for (const LogFormat::Parsed &p : back) {
        if (p.kind == TrafficKind::Received)
            bytes += p.bytes;
    }
    QCOMPARE(bytes, QByteArray("a,\"b\"\r\n"));
    QCOMPARE(back.first().wallMs, wallMicroseconds(t) / 1000);
    QCOMPARE(int(back.last().kind), int(TrafficKind::LineBack));
    QCOMPARE(back.last().text, QStringLiteral("裝置重新連接 /dev/ttyUSB1"));
}

void TestCapture::liveLogNeverWaitsForAPipe()
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    PipeWatchdog dog(fifo);
    // No one reads it: said at once.
    QString error;
    QVERIFY(!LiveLog::start(fifo, LiveLog::Format::Raw, &error));
    QVERIFY2(!dog.bit(), "the log waited for a reader");
    QVERIFY2(error.contains(QStringLiteral("沒有程式在讀取這個管道")), qPrintable(error));
    QVERIFY(error.contains(fifo));

    // A reader that never reads: the pipe is full at 64 KiB. The log holds what waits for it
    // past its limit, and once the file has taken nothing for a while it says, once, that the
    // file does not keep up.
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    std::unique_ptr<LiveLog> log = LiveLog::start(fifo, LiveLog::Format::Raw, &error);
    QVERIFY2(log, qPrintable(error));
    QSignalSpy failed(log.get(), &LiveLog::failed);
    // One mebibyte shared by every record: the limit is passed without the memory.
    const QByteArray mebibyte(1 << 20, 'x');
    for (qint64 taken = 0; taken <= LiveLog::HeldLimit; taken += mebibyte.size()) {
        log->take(record(TrafficKind::Received, monotonicMicroseconds(), mebibyte));
        dog.feed();
    }
    QVERIFY2(!dog.bit(), "the log waited for the pipe");
    dog.feedFromEventLoop();
    QTRY_COMPARE(failed.count(), 1);
    QVERIFY(failed.first().first().toString().contains(fifo));
    QVERIFY(!log->isRunning());
    QCOMPARE(log->stop(), QString());

    // Stopped while the pipe takes nothing, it does not wait for it either, and says what it
    // could not write.
    log = LiveLog::start(fifo, LiveLog::Format::Raw, &error);
    QVERIFY2(log, qPrintable(error));
    log->take(record(TrafficKind::Received, monotonicMicroseconds(), mebibyte));
    dog.feed();
    const QString stopped = log->stop();
    QVERIFY2(!dog.bit(), "the stop waited for the pipe");
    QVERIFY2(stopped.contains(fifo), qPrintable(stopped));
    ::close(reader);
}

// A burst past the limit (the backlog published at Break, or after a long dialog) to a file
// that takes it is no file that falls behind: all of it is written, and a stop right after it
// lets the thread finish the rest.
void TestCapture::liveLogTakesABurstAtItsPace()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("burst.bin"));
    QString error;
    std::unique_ptr<LiveLog> log = LiveLog::start(path, LiveLog::Format::Raw, &error);
    QVERIFY2(log, qPrintable(error));
    QSignalSpy failed(log.get(), &LiveLog::failed);
    const QByteArray mebibyte(1 << 20, 'b');
    const qint64 burst = LiveLog::HeldLimit + (qint64(16) << 20);
    for (qint64 taken = 0; taken < burst; taken += mebibyte.size())
        log->take(record(TrafficKind::Received, monotonicMicroseconds(), mebibyte));
    QCOMPARE(log->stop(), QString());
    LiveLog::finishAll(20000);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(QFileInfo(path).size(), burst);
}

void TestCapture::debugLinesOnlyWhenAsked_data()
{
    QTest::addColumn<QString>("rules");
    QTest::addColumn<bool>("told");
    QTest::newRow("by default") << QString() << false;
    QTest::newRow("all asked for") << "telvix.*.debug=true" << true;
    QTest::newRow("another asked for") << "telvix.portal.debug=true" << false;
}

void TestCapture::debugLinesOnlyWhenAsked()
{
    QFETCH(QString, rules);
    QFETCH(bool, told);
    static std::mutex mutex;
    static QStringList lines;
    lines.clear();
    const QtMessageHandler old = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &context, const QString &m) {
                if (context.category && qstrncmp(context.category, "telvix.", 7) == 0) {
                    const std::lock_guard lock(mutex);
                    lines.append(QLatin1String(context.category) + u' ' + m);
                }
            });
    QLoggingCategory::setFilterRules(rules);
    // A failed call, which leaves its errno to the caller, and a live log that stops.
    errno = ENOENT;
    Logging::failedCall(lcSerial, "open", QStringLiteral("/dev/ttyUSB-telvix-absent"));
    const int after = errno;
    QString error;
    std::unique_ptr<LiveLog> log =
            LiveLog::start(QStringLiteral("/dev/full"), LiveLog::Format::Raw, &error);
    QVERIFY2(log, qPrintable(error));
    QSignalSpy failed(log.get(), &LiveLog::failed);
    log->take(record(TrafficKind::Received, monotonicMicroseconds(), QByteArray(1 << 16, 'x')));
    const bool stopped = QTest::qWaitFor([&] { return failed.count() > 0; }, 5000);
    log.reset();
    QLoggingCategory::setFilterRules(QString());
    qInstallMessageHandler(old);
    QCOMPARE(after, ENOENT);
    QVERIFY(stopped);
    const std::lock_guard lock(mutex);
    if (!told) {
        QVERIFY2(lines.isEmpty(), qPrintable(lines.join(u'\n')));
        return;
    }
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].startsWith(QStringLiteral("telvix.serial open failed on "
                                                "/dev/ttyUSB-telvix-absent: ENOENT")),
             qPrintable(lines[0]));
    QVERIFY2(lines[1].startsWith(QStringLiteral("telvix.traffic live log \"/dev/full\""))
                     && lines[1].contains(QStringLiteral("No space left on device")),
             qPrintable(lines[1]));
}

QTEST_GUILESS_MAIN(TestCapture)
#include "tst_capture.moc"
