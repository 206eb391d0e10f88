// SPDX-License-Identifier: MIT
// The simulator's pieces that need no line: its SHA-256, gap statistics, modem commands,
// patterns, the faulty echo and command line.
#include "AtModem.h"
#include "Devices.h"
#include "GapStats.h"
#include "Options.h"
#include "Patterns.h"
#include "Sha256.h"

#include <QCryptographicHash>
#include <QTest>

#include <set>

using namespace std::chrono_literals;

namespace {

std::string hashOf(const QByteArray &data, int pieceSize)
{
    sim::Sha256 h;
    for (qsizetype i = 0; i < data.size(); i += pieceSize) {
        const qsizetype n = std::min<qsizetype>(pieceSize, data.size() - i);
        h.update(reinterpret_cast<const uint8_t *>(data.constData() + i), size_t(n));
    }
    return h.hexDigest();
}

std::string feedModem(sim::AtModem &modem, const QByteArray &bytes)
{
    return modem.feed(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
}

} // namespace

class SimPartsTest : public QObject
{
    Q_OBJECT

private slots:
    void sha256KnownVectors_data();
    void sha256KnownVectors();
    void sha256AcrossBlockBoundaries();

    void gapStats_data();
    void gapStats();

    void atModem_data();
    void atModem();
    void atModemLineSplitAcrossReads();

    void nmeaSentencesCarryValidChecksums();
    void counterAndRandomPatterns();
    void barcodes();

    void commandLine_data();
    void commandLine();
    void faultyEcho_data();
    void faultyEcho();
};

void SimPartsTest::sha256KnownVectors_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("digest");

    // FIPS 180-4 examples and the NIST long-message vector.
    QTest::newRow("empty") << QByteArray()
                           << "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    QTest::newRow("abc") << QByteArray("abc")
                         << "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    QTest::newRow("448 bits, padding spills into a second block")
            << QByteArray("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")
            << "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1";
    QTest::newRow("896 bits") << QByteArray(
            "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnop"
            "jklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu")
                              << "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1";
    QTest::newRow("a million a") << QByteArray(
            1000000, 'a') << "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";
}

void SimPartsTest::sha256KnownVectors()
{
    QFETCH(QByteArray, message);
    QFETCH(QString, digest);
    QCOMPARE(QString::fromStdString(hashOf(message, int(std::max<qsizetype>(1, message.size())))),
             digest);
    QCOMPARE(QString::fromStdString(hashOf(message, 7)), digest);
}

// Lengths around the 55/56/64-byte edges of padding, fed in pieces that straddle blocks,
// against Qt's implementation; the digest must also leave the running hash untouched.
void SimPartsTest::sha256AcrossBlockBoundaries()
{
    QByteArray data;
    for (int i = 0; i < 200; ++i)
        data += char(i * 37 + 11);
    for (int length = 0; length <= 200; ++length) {
        const QByteArray part = data.left(length);
        const std::string expected =
                QCryptographicHash::hash(part, QCryptographicHash::Sha256).toHex().toStdString();
        for (int piece : {1, 3, 55, 56, 63, 64, 65, 200})
            QCOMPARE(hashOf(part, piece), expected);
    }
    sim::Sha256 running;
    running.update(reinterpret_cast<const uint8_t *>("ab"), 2);
    (void)running.hexDigest();
    running.update(reinterpret_cast<const uint8_t *>("c"), 1);
    QCOMPARE(QString::fromStdString(running.hexDigest()),
             "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// Each arrival: bytes read together and the milliseconds after the start; -1 bytes restarts.
using Arrivals = QList<QPair<int, int>>;

void SimPartsTest::gapStats_data()
{
    QTest::addColumn<Arrivals>("arrivals");
    QTest::addColumn<qulonglong>("count");
    QTest::addColumn<double>("median");
    QTest::addColumn<double>("p99");
    QTest::addColumn<double>("max");

    QTest::newRow("nothing arrived") << Arrivals {} << 0ull << 0.0 << 0.0 << 0.0;
    QTest::newRow("one byte has no gap") << Arrivals {{1, 0}} << 0ull << 0.0 << 0.0 << 0.0;
    QTest::newRow("paced bytes") << Arrivals {{1, 0}, {1, 10}, {1, 20}, {1, 30}} << 3ull << 10.0
                                 << 10.0 << 10.0;
    QTest::newRow("bytes read together count as gap 0")
            << Arrivals {{1, 0}, {1, 10}, {3, 30}} << 4ull << 0.0 << 20.0 << 20.0;
    QTest::newRow("one slow gap among a hundred") << [] {
        Arrivals a;
        for (int i = 0; i <= 100; ++i)
            a.append({1, i * 2 + (i == 100 ? 50 : 0)});
        return a;
    }() << 100ull << 2.0 << 2.0 << 52.0;
    QTest::newRow("idle time across a reconnect is not a gap")
            << Arrivals {{1, 0}, {1, 5}, {-1, 0}, {1, 5000}, {1, 5005}} << 2ull << 5.0 << 5.0
            << 5.0;
}

void SimPartsTest::gapStats()
{
    QFETCH(Arrivals, arrivals);
    sim::GapStats stats;
    const auto start = sim::GapStats::Clock::now();
    for (const auto &[bytes, ms] : arrivals) {
        if (bytes < 0)
            stats.restart();
        else
            stats.arrived(size_t(bytes), start + std::chrono::milliseconds(ms));
    }
    const sim::GapSummary s = stats.summary();
    QTEST(qulonglong(s.count), "count");
    QTEST(s.medianMs, "median");
    QTEST(s.p99Ms, "p99");
    QTEST(s.maxMs, "max");
}

void SimPartsTest::atModem_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("answer");

    const QByteArray ok = "\r\nOK\r\n";
    const QByteArray error = "\r\nERROR\r\n";
    const QByteArray ident = QByteArray("\r\n") + sim::AtModem::kIdentification + "\r\n" + ok;
    QTest::newRow("AT") << QByteArray("AT\r") << ok;
    QTest::newRow("lower case") << QByteArray("at\r") << ok;
    QTest::newRow("ATI") << QByteArray("ATI\r") << ident;
    QTest::newRow("CR LF") << QByteArray("AT\r\n") << ok;
    QTest::newRow("unknown command") << QByteArray("ATZ\r") << error;
    QTest::newRow("not a command at all") << QByteArray("hello\r") << error;
    QTest::newRow("no CR yet: no answer") << QByteArray("AT") << QByteArray();
    QTest::newRow("LF alone ends nothing") << QByteArray("AT\n") << QByteArray();
    QTest::newRow("empty lines ignored") << QByteArray("\r\r\n  \r") << QByteArray();
    QTest::newRow("spaces around") << QByteArray("  AT \r") << ok;
    QTest::newRow("several in one read") << QByteArray("AT\rATI\rATX\r") << ok + ident + error;
    QTest::newRow("NUL byte is part of the line") << QByteArray("AT\0\r", 4) << error;
    QTest::newRow("overlong line, then the next works")
            << QByteArray(int(sim::AtModem::kMaxLine) + 10, 'A') + "\rAT\r" << error + ok;
    QTest::newRow("exactly the longest line")
            << QByteArray(int(sim::AtModem::kMaxLine), 'A') + "\r" << error;
}

void SimPartsTest::atModem()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, answer);
    sim::AtModem modem;
    QCOMPARE(QByteArray::fromStdString(feedModem(modem, input)), answer);
}

void SimPartsTest::atModemLineSplitAcrossReads()
{
    sim::AtModem modem;
    QCOMPARE(feedModem(modem, "A"), std::string());
    QCOMPARE(feedModem(modem, "TI"), std::string());
    QVERIFY(feedModem(modem, "\r").find(sim::AtModem::kIdentification) != std::string::npos);
    // A line cut off by the port closing does not run into the next one.
    QCOMPARE(feedModem(modem, "ATXYZ"), std::string());
    modem.reset();
    QCOMPARE(feedModem(modem, "AT\r"), std::string("\r\nOK\r\n"));
}

void SimPartsTest::nmeaSentencesCarryValidChecksums()
{
    auto source = sim::makePatternSource(sim::Pattern::Nmea, 1);
    std::string text;
    for (int i = 0; i < 100; ++i)
        source->append(text, 37); // pieces that cut sentences anywhere
    const QList<QByteArray> lines = QByteArray::fromStdString(text).split('\n');
    QVERIFY(lines.size() > 20);
    int gga = 0, rmc = 0;
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) { // the last is cut off
        const QByteArray &line = lines[i];
        QVERIFY2(line.startsWith('$') && line.endsWith('\r'), line.constData());
        const qsizetype star = line.lastIndexOf('*');
        QCOMPARE(star, line.size() - 4);
        const std::string body = line.mid(1, star - 1).toStdString();
        QCOMPARE(line.mid(star + 1, 2).toUInt(nullptr, 16), uint(sim::nmeaChecksum(body)));
        gga += line.startsWith("$GPGGA,");
        rmc += line.startsWith("$GPRMC,");
    }
    QVERIFY(gga > 5 && rmc > 5 && std::abs(gga - rmc) <= 1);
    QCOMPARE(sim::nmeaChecksum("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"),
             uint8_t(0x47));
}

void SimPartsTest::counterAndRandomPatterns()
{
    std::string counter;
    auto c = sim::makePatternSource(sim::Pattern::Counter, 0);
    c->append(counter, 100);
    c->append(counter, 500);
    for (size_t i = 0; i < counter.size(); ++i)
        QCOMPARE(uint8_t(counter[i]), uint8_t(i));

    auto randomBytes = [](uint64_t seed) {
        std::string out;
        sim::makePatternSource(sim::Pattern::Random, seed)->append(out, 65536);
        return out;
    };
    const std::string a = randomBytes(7);
    QCOMPARE(a, randomBytes(7));
    QVERIFY(a != randomBytes(8));
    QCOMPARE(std::set<char>(a.begin(), a.end()).size(), size_t(256));
}

void SimPartsTest::barcodes()
{
    QCOMPARE(sim::eanCheckDigit("400638133393"), '1');
    QCOMPARE(sim::eanCheckDigit("471000000000"), '4');
    for (uint64_t i : {0ull, 1ull, 2ull, 999999999ull, 1000000000ull}) {
        const std::string line = sim::barcodeLine(i);
        QCOMPARE(line.size(), size_t(14));
        QCOMPARE(line.back(), '\r');
        QCOMPARE(line[12], sim::eanCheckDigit(line.substr(0, 12)));
    }
    QVERIFY(sim::barcodeLine(1) != sim::barcodeLine(2));
}

void SimPartsTest::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error"); // a part of the message; empty: accepted
    QTest::addColumn<int>("query");

    const int none = int(sim::Query::None);
    QTest::newRow("echo") << QStringList {"echo"} << "" << none;
    QTest::newRow("stream with everything")
            << QStringList {"stream", "--pattern", "counter", "--rate=0", "--count", "5"} << ""
            << none;
    QTest::newRow("options before the behaviour")
            << QStringList {"--rate", "115200", "-q", "stream"} << "" << none;
    QTest::newRow("scanner period") << QStringList {"scanner", "--period", "0.5"} << "" << none;
    QTest::newRow("help wins") << QStringList {"--bogus", "--help"} << "" << int(sim::Query::Help);
    QTest::newRow("hardware ports")
            << QStringList {"--hardware-ports"} << "" << int(sim::Query::HardwarePorts);
    QTest::newRow("nothing") << QStringList {} << "Name a behaviour" << none;
    QTest::newRow("two behaviours") << QStringList {"echo", "at"} << "one behaviour" << none;
    QTest::newRow("unknown behaviour") << QStringList {"modem"} << "'modem'" << none;
    QTest::newRow("unknown option") << QStringList {"echo", "--frob"} << "'--frob'" << none;
    QTest::newRow("single dash") << QStringList {"echo", "-x"} << "'-x'" << none;
    QTest::newRow("missing value") << QStringList {"stream", "--rate"} << "needs a value" << none;
    QTest::newRow("negative rate") << QStringList {"stream", "--rate", "-1"} << "'-1'" << none;
    QTest::newRow("fractional rate") << QStringList {"stream", "--rate", "1.5"} << "'1.5'" << none;
    QTest::newRow("absurd rate") << QStringList {"stream", "--rate", "99999999999999999999"}
                                 << "--rate" << none;
    QTest::newRow("zero count") << QStringList {"stream", "--count", "0"} << "--count" << none;
    QTest::newRow("unknown pattern")
            << QStringList {"stream", "--pattern", "sine"} << "'sine'" << none;
    QTest::newRow("period too short")
            << QStringList {"scanner", "--period", "0.01"} << "--period" << none;
    QTest::newRow("period not a number")
            << QStringList {"scanner", "--period", "2s"} << "'2s'" << none;
    QTest::newRow("option of another behaviour")
            << QStringList {"echo", "--period", "1"} << "belongs to scanner" << none;
    QTest::newRow("name leaving the folder")
            << QStringList {"echo", "--name", "../x"} << "'../x'" << none;
    QTest::newRow("name of a record")
            << QStringList {"echo", "--name", "x.pid"} << "'x.pid'" << none;
    QTest::newRow("hidden name") << QStringList {"echo", "--name", ".x"} << "'.x'" << none;
    QTest::newRow("faulty echo") << QStringList {"echo",          "--alter", "3",
                                                 "--alter=9",     "--drop",  "5",
                                                 "--alter-every", "100"}
                                 << "" << none;
    QTest::newRow("alter byte zero") << QStringList {"echo", "--alter", "0"} << "'0'" << none;
    QTest::newRow("drop no number") << QStringList {"echo", "--drop", "x"} << "'x'" << none;
    QTest::newRow("alter without value")
            << QStringList {"echo", "--alter"} << "needs a value" << none;
    QTest::newRow("unplugging, with every behaviour")
            << QStringList {"at", "--unplug-after", "0.5", "--away=0", "--unplug-times", "0"} << ""
            << none;
    QTest::newRow("away without unplugging")
            << QStringList {"echo", "--away", "2"} << "goes with --unplug-after" << none;
    QTest::newRow("unplug times fractional")
            << QStringList {"echo", "--unplug-after", "1", "--unplug-times", "1.5"} << "'1.5'"
            << none;
    QTest::newRow("drop on the sink")
            << QStringList {"sink", "--drop", "1"} << "belongs to echo" << none;
    const QStringList everyFault {
            "modbus",           "--slave=247",       "--late=0", "--bad-crc-every=1",
            "--silent-every=2", "--exception-every", "3"};
    QTest::newRow("modbus with every fault") << everyFault << "" << none;
    QTest::newRow("modbus slave 0 is the broadcast address")
            << QStringList {"modbus", "--slave", "0"} << "'0'" << none;
    QTest::newRow("modbus slave past 247")
            << QStringList {"modbus", "--slave", "248"} << "'248'" << none;
    QTest::newRow("modbus slave in hex")
            << QStringList {"modbus", "--slave", "0x10"} << "'0x10'" << none;
    QTest::newRow("late not a number")
            << QStringList {"modbus", "--late", "soon"} << "'soon'" << none;
    QTest::newRow("late past a minute")
            << QStringList {"modbus", "--late", "60001"} << "'60001'" << none;
    QTest::newRow("every zeroth reply")
            << QStringList {"modbus", "--bad-crc-every", "0"} << "'0'" << none;
    QTest::newRow("silent every negative")
            << QStringList {"modbus", "--silent-every", "-2"} << "'-2'" << none;
    QTest::newRow("exception without value")
            << QStringList {"modbus", "--exception-every"} << "needs a value" << none;
    QTest::newRow("slave on the echo")
            << QStringList {"echo", "--slave", "2"} << "belongs to modbus" << none;
    QTest::newRow("faults on the sink")
            << QStringList {"sink", "--late", "10"} << "belongs to modbus" << none;
}

void SimPartsTest::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    std::vector<std::string> argv;
    for (const QString &a : args)
        argv.push_back(a.toStdString());
    const sim::ParsedCommandLine parsed = sim::parseCommandLine(argv);
    if (parsed.query == sim::Query::Help) {
        QTEST(int(parsed.query), "query");
        return;
    }
    if (error.isEmpty())
        QVERIFY2(parsed.error.empty(), parsed.error.c_str());
    else
        QVERIFY2(QString::fromStdString(parsed.error).contains(error), parsed.error.c_str());
    QTEST(int(parsed.query), "query");
}

void SimPartsTest::faultyEcho_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("back"); // the echo of 01 02 ... 0A, fed in pieces of three

    QTest::newRow("plain") << QStringList {"echo"}
                           << QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a");
    QTest::newRow("third and ninth altered, fifth dropped")
            << QStringList {"echo", "--alter", "3", "--alter", "9", "--drop", "5"}
            << QByteArray("\x01\x02\x02\x04\x06\x07\x08\x08\x0a");
    QTest::newRow("every fourth altered") << QStringList {"echo", "--alter-every", "4"}
                                          << QByteArray("\x01\x02\x03\x05\x05\x06\x07\x09\x09\x0a");
    QTest::newRow("a dropped byte is not also altered")
            << QStringList {"echo", "--drop", "2", "--alter", "2"}
            << QByteArray("\x01\x03\x04\x05\x06\x07\x08\x09\x0a");
}

void SimPartsTest::faultyEcho()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, back);
    std::vector<std::string> argv;
    for (const QString &a : args)
        argv.push_back(a.toStdString());
    const sim::ParsedCommandLine parsed = sim::parseCommandLine(argv);
    QVERIFY2(parsed.error.empty(), parsed.error.c_str());
    const std::unique_ptr<sim::Device> echo = sim::makeDevice(parsed.options);
    const uint8_t in[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    // Two openings: the count starts again at each.
    for (int opening = 0; opening < 2; ++opening) {
        echo->connected(sim::Clock::now());
        std::string out;
        for (size_t i = 0; i < sizeof in; i += 3)
            echo->received(in + i, std::min<size_t>(3, sizeof in - i), sim::Clock::now(), out);
        QCOMPARE(QByteArray::fromStdString(out), back);
        echo->disconnected();
    }
}

QTEST_GUILESS_MAIN(SimPartsTest)
#include "tst_simparts.moc"
