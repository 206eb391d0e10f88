// SPDX-License-Identifier: MIT
#include "LineSelfTest.h"

#include "serial/PortSettings.h"
#include "serial/SerialPort.h"
#include "traffic/LineEvents.h"
#include "traffic/Traffic.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <poll.h>
#include <random>
#include <termios.h>

namespace LineSelfTest {

namespace {

// At most this many random bytes after the 256 values: a few KiB find a loose contact or a
// speed that does not hold, and even 921600 baud is done in well under a second.
constexpr qsizetype MaxRandomBytes = 4096;
// Bytes written between two looks at what came back and at the window.
constexpr qsizetype BlockSize = 64;
// How long a partner line may take to follow its output: a UART's modem-status lines follow
// in microseconds, a USB adapter reports them within a few of its 1 ms frames.
constexpr int FollowMs = 100;
constexpr int QuietMinimumUs = 500000;
constexpr int QuietCharacters = 20;

bool stopAsked(const Options &o) { return o.stopRequested && o.stopRequested(); }

// A short sleep that keeps the window live: the test's waits are made of these.
void breathe(int ms)
{
    ::poll(nullptr, 0, ms);
    QCoreApplication::processEvents();
}

// What arrives on the receiving port, as the reader took it.
class Echo
{
public:
    explicit Echo(SerialPort &port) : m_port(port) { }

    // False once the device hung up.
    bool take()
    {
        for (TrafficRecord &r : m_port.take()) {
            if (r.kind == TrafficKind::Received || r.kind == TrafficKind::Flawed) {
                bytes += r.bytes;
                lastUs = r.timeUs;
            } else if (r.kind == TrafficKind::LineGone) {
                gone = true;
            }
        }
        return !gone;
    }
    // Waits up to `ms` for the reader, then gives the window its turn.
    void wait(int ms)
    {
        serial::waitReadable(m_port.wakeDescriptor(), ms);
        take();
        QCoreApplication::processEvents();
    }

    QByteArray bytes;
    int64_t lastUs = 0;
    bool gone = false;

private:
    SerialPort &m_port;
};

// Whether `expected` from `a` and `got` from `b` agree on the next few bytes (or both end).
bool inStep(const QByteArray &expected, qsizetype a, const QByteArray &got, qsizetype b)
{
    if (a > expected.size() || b > got.size())
        return false;
    const qsizetype n = std::min<qsizetype>({4, expected.size() - a, got.size() - b});
    if (n == 0)
        return a == expected.size() && b == got.size();
    return std::memcmp(expected.constData() + a, got.constData() + b, size_t(n)) == 0;
}

// Lines the two up again after each difference, so that one lost byte counts as one missing
// byte and not as every byte after it altered.
void compare(const QByteArray &expected, const QByteArray &got, SpeedResult &r)
{
    constexpr qsizetype Reach = 8;
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < expected.size() && j < got.size()) {
        if (expected[i] == got[j]) {
            ++i;
            ++j;
            continue;
        }
        if (r.firstMismatch < 0) {
            r.firstMismatch = i;
            r.expectedByte = uint8_t(expected[i]);
            r.receivedByte = uint8_t(got[j]);
        }
        if (inStep(expected, i + 1, got, j + 1)) {
            ++r.altered;
            ++i;
            ++j;
            continue;
        }
        bool resynced = false;
        for (qsizetype k = 1; k <= Reach && !resynced; ++k) {
            if (inStep(expected, i + k, got, j)) {
                r.missing += k;
                i += k;
                resynced = true;
            } else if (inStep(expected, i, got, j + k)) {
                r.extra += k;
                j += k;
                resynced = true;
            }
        }
        if (!resynced) {
            ++r.altered;
            ++i;
            ++j;
        }
    }
    if (i < expected.size()) {
        if (r.firstMismatch < 0) {
            r.firstMismatch = i;
            r.expectedByte = uint8_t(expected[i]);
        }
        r.missing += expected.size() - i;
    }
    if (j < got.size()) {
        if (r.firstMismatch < 0) {
            r.firstMismatch = i;
            r.receivedByte = uint8_t(got[j]);
        }
        r.extra += got.size() - j;
    }
}

// What the ports hold from before (a previous speed's last bytes, noise of the switch) must
// not count as an echo.
void discardPending(SerialPort &tx, SerialPort &rx, Echo &echo)
{
    breathe(10);
    ::tcflush(tx.descriptor(), TCIOFLUSH);
    ::tcflush(rx.descriptor(), TCIOFLUSH);
    echo.take();
    echo.bytes.clear();
}

SpeedResult runSpeed(SerialPort &tx, SerialPort &rx, int32_t speed, const Options &o)
{
    SpeedResult r;
    r.speed = speed;
    serial::LineParams params = o.params;
    params.baudRate = speed;
    params.markErrors = false;
    if (!tx.reconfigure(params) || (&rx != &tx && !rx.reconfigure(params))) {
        r.configured = false;
        return r;
    }
    Echo echo(rx);
    discardPending(tx, rx, echo);
    if (echo.gone) {
        r.lineGone = true;
        return r;
    }

    const QByteArray pattern = patternFor(speed, params, o.seed);
    const double bits = bitsPerCharacter(params);
    const int64_t quietUs =
            std::max<int64_t>(QuietMinimumUs, int64_t(QuietCharacters * bits * 1e6 / speed));
    r.lineSeconds = bits * double(pattern.size()) / speed;

    const int64_t startUs = monotonicMicroseconds();
    int64_t progressUs = startUs;
    qsizetype lastSeen = 0;
    // Between blocks and while a write waits: what came back, the window, the stop, the clock.
    const auto carryOn = [&] {
        echo.take();
        QCoreApplication::processEvents();
        const int64_t now = monotonicMicroseconds();
        if (echo.bytes.size() != lastSeen) {
            lastSeen = echo.bytes.size();
            progressUs = now;
        }
        if (stopAsked(o))
            r.stopped = true;
        else if (echo.gone)
            r.lineGone = true;
        else if (now - progressUs > quietUs)
            r.timedOut = true;
        return !r.stopped && !r.lineGone && !r.timedOut;
    };

    for (qsizetype at = 0; at < pattern.size() && carryOn(); at += BlockSize) {
        const qsizetype end = std::min(pattern.size(), at + BlockSize);
        for (qsizetype i = at; i < end; ++i) {
            if (!tx.writeByte(uint8_t(pattern[i]), carryOn)) {
                if (!r.stopped && !r.timedOut)
                    r.lineGone = true;
                break;
            }
            ++r.sent;
            progressUs = std::max(progressUs, monotonicMicroseconds());
        }
        if (r.sent < end)
            break;
        if (o.progress)
            o.progress(QStringLiteral("速率 %1: 已送出 %2 / %3 位元組")
                               .arg(speed)
                               .arg(r.sent)
                               .arg(pattern.size()));
    }
    // The rest of the echo; then a moment more, for bytes the line made up.
    while (!r.stopped && !r.lineGone && !r.timedOut && echo.bytes.size() < r.sent) {
        echo.wait(10);
        carryOn();
    }
    if (!r.stopped && !r.lineGone && !r.timedOut) {
        const int64_t graceUs = 50000 + int64_t(4 * bits * 1e6 / speed);
        const int64_t until = monotonicMicroseconds() + graceUs;
        while (monotonicMicroseconds() < until)
            echo.wait(5);
    }

    r.received = echo.bytes.size();
    compare(pattern.left(r.sent), echo.bytes, r);
    if (r.sent < pattern.size())
        r.missing += pattern.size() - r.sent;
    if (r.received > 0 && echo.lastUs > startUs) {
        r.measuredSeconds = double(echo.lastUs - startUs) / 1e6;
        r.bytesPerSecond = double(r.received) / r.measuredSeconds;
    }
    // A pseudo-terminal has no line time: the echo comes faster than any speed, which is
    // no fault. Too slow a line shows as a time-out.
    r.passed = !r.stopped && !r.lineGone && !r.timedOut && r.missing == 0 && r.extra == 0
            && r.altered == 0;
    return r;
}

bool refusedByDriver(int error) { return error == ENOTTY || error == EINVAL || error == ENOSYS; }

QString lineText(serial::ModemLine line) { return QString::fromLatin1(LineEvents::lineName(line)); }
QString stateText(bool on) { return on ? QStringLiteral("開") : QStringLiteral("關"); }

// The partner's state after the output went to `on`: how long it took to follow, or nothing.
std::optional<int> follows(SerialPort &rx, serial::ModemLine input, bool on, bool &readFailed)
{
    const int64_t start = monotonicMicroseconds();
    for (;;) {
        uint8_t lines = 0;
        if (!rx.control().modemLines(lines)) {
            readFailed = true;
            return std::nullopt;
        }
        const int64_t elapsedUs = monotonicMicroseconds() - start;
        if (((lines & input) != 0) == on)
            return int(elapsedUs / 1000);
        if (elapsedUs > FollowMs * 1000)
            return std::nullopt;
        breathe(2);
    }
}

PairResult runPair(SerialPort &tx, SerialPort &rx, PairResult pair)
{
    const QString out = lineText(pair.output);
    const QString in = lineText(pair.input);
    uint8_t before = 0;
    uint8_t probe = 0;
    if (!tx.control().modemLines(before) || !rx.control().modemLines(probe)) {
        const int error = errno;
        pair.outcome = refusedByDriver(error) ? PairOutcome::Unsupported : PairOutcome::Failed;
        pair.detail = refusedByDriver(error)
                ? QStringLiteral("驅動程式不提供控制線的讀取")
                : QStringLiteral("無法讀取控制線: %1").arg(QString::fromLocal8Bit(strerror(error)));
        return pair;
    }
    QStringList steps;
    pair.outcome = PairOutcome::Passed;
    for (bool on : {true, false}) {
        if (!tx.setOutputLine(pair.output, on)) {
            const int error = errno;
            pair.outcome = refusedByDriver(error) ? PairOutcome::Unsupported : PairOutcome::Failed;
            pair.detail = refusedByDriver(error)
                    ? QStringLiteral("驅動程式不提供 %1 的設定").arg(out)
                    : QStringLiteral("無法設定 %1: %2")
                              .arg(out, QString::fromLocal8Bit(strerror(error)));
            break;
        }
        bool readFailed = false;
        const std::optional<int> ms = follows(rx, pair.input, on, readFailed);
        if (!ms) {
            pair.outcome = PairOutcome::Failed;
            pair.detail = readFailed ? QStringLiteral("無法讀取 %1").arg(in)
                                     : QStringLiteral("%1 %2 後 %3 ms 內 %4 未跟著變為 %2")
                                               .arg(out, stateText(on))
                                               .arg(FollowMs)
                                               .arg(in);
            break;
        }
        steps << QStringLiteral("%1 %2 → %3 %2 (%4 ms)").arg(out, stateText(on), in).arg(*ms);
    }
    // The output as it was before the test, whatever happened.
    tx.setOutputLine(pair.output, (before & pair.output) != 0);
    if (pair.outcome == PairOutcome::Passed)
        pair.detail = steps.join(QStringLiteral(", "));
    return pair;
}

// "63h", as the display, the code picker and the manual write a byte.
QString hexByte(int value)
{
    return QString::number(value, 16).toUpper().rightJustified(2, u'0') + u'h';
}

QString speedDetail(const SpeedResult &r)
{
    if (!r.configured)
        return QStringLiteral("埠不接受此速率");
    if (r.stopped && r.sent == 0)
        return QStringLiteral("未執行");
    QStringList parts;
    if (r.lineGone)
        parts << QStringLiteral("線路中斷");
    if (r.timedOut)
        parts << (r.received == 0 ? QStringLiteral("逾時: 沒有收到任何回傳")
                                  : QStringLiteral("逾時: 回傳中斷"));
    if (r.firstMismatch >= 0) {
        QString first =
                QStringLiteral("第一個差異在位移 %1: 預期 %2, 收到 %3")
                        .arg(r.firstMismatch)
                        .arg(r.expectedByte >= 0 ? hexByte(r.expectedByte) : QStringLiteral("(無)"),
                             r.receivedByte >= 0 ? hexByte(r.receivedByte)
                                                 : QStringLiteral("(無)"));
        parts << first;
        parts << QStringLiteral("缺少 %1, 多出 %2, 錯誤 %3")
                         .arg(r.missing)
                         .arg(r.extra)
                         .arg(r.altered);
    } else if (r.passed) {
        parts << QStringLiteral("%1 位元組全部正確").arg(r.sent);
    }
    QString timing = QStringLiteral("送出 %1, 收到 %2 位元組; 線路時間 %3 ms")
                             .arg(r.sent)
                             .arg(r.received)
                             .arg(qRound(r.lineSeconds * 1000));
    if (r.bytesPerSecond > 0)
        timing += QStringLiteral(", 實測 %1 ms (%2 位元組/秒)")
                          .arg(qRound(r.measuredSeconds * 1000))
                          .arg(qRound64(r.bytesPerSecond));
    parts << timing;
    if (r.stopped)
        parts << QStringLiteral("已停止");
    return parts.join(QStringLiteral("; "));
}

QString stopBitsText(uint8_t code)
{
    switch (code) {
    case 1:
        return QStringLiteral("1.5");
    case 2:
        return QStringLiteral("2");
    default:
        return QStringLiteral("1");
    }
}

} // namespace

bool Results::passed() const
{
    if (stopped || speeds.empty())
        return false;
    const bool bytesPassed = std::all_of(speeds.begin(), speeds.end(),
                                         [](const SpeedResult &r) { return r.passed; });
    const bool linesPassed = std::none_of(pairs.begin(), pairs.end(), [](const PairResult &p) {
        return p.outcome == PairOutcome::Failed || p.outcome == PairOutcome::Stopped;
    });
    return bytesPassed && linesPassed;
}

std::vector<PairResult> wiredPairs()
{
    PairResult rtsCts;
    rtsCts.output = serial::Rts;
    rtsCts.input = serial::Cts;
    PairResult dtrDsr;
    dtrDsr.output = serial::Dtr;
    dtrDsr.input = serial::Dsr;
    PairResult dtrDcd;
    dtrDcd.output = serial::Dtr;
    dtrDcd.input = serial::Dcd;
    return {rtsCts, dtrDsr, dtrDcd};
}

double bitsPerCharacter(const serial::LineParams &params)
{
    const double stop = params.stopBits == 1 ? 1.5 : params.stopBits == 2 ? 2.0 : 1.0;
    return 1.0 + params.dataBits + (params.parity != serial::Parity::None ? 1.0 : 0.0) + stop;
}

QByteArray patternFor(int32_t speed, const serial::LineParams &params, uint32_t seed)
{
    const double perSecond = speed / bitsPerCharacter(params);
    const qsizetype total = std::clamp<qsizetype>(qsizetype(perSecond), 256, 256 + MaxRandomBytes);
    const int dataBits = std::clamp<int>(params.dataBits, 5, 8);
    const char mask = char((1 << dataBits) - 1);
    QByteArray bytes(total, Qt::Uninitialized);
    for (qsizetype i = 0; i < 256; ++i)
        bytes[i] = char(i) & mask;
    // Seeded per speed, so that each speed sends a sequence of its own and one run repeats.
    std::mt19937 random(seed ^ uint32_t(speed));
    for (qsizetype i = 256; i < total; ++i)
        bytes[i] = char(random() & 0xFF) & mask;
    return bytes;
}

Results run(SerialPort &sender, SerialPort &receiver, const Options &options)
{
    Results results;
    receiver.startReading();
    for (int32_t speed : options.speeds) {
        if (results.stopped) {
            SpeedResult skipped;
            skipped.speed = speed;
            skipped.stopped = true;
            results.speeds.push_back(skipped);
            continue;
        }
        if (options.progress)
            options.progress(QStringLiteral("速率 %1: 測試中").arg(speed));
        results.speeds.push_back(runSpeed(sender, receiver, speed, options));
        results.stopped = results.speeds.back().stopped;
    }
    for (PairResult pair : wiredPairs()) {
        if (!results.stopped && stopAsked(options))
            results.stopped = true;
        if (results.stopped) {
            pair.outcome = PairOutcome::Stopped;
            pair.detail = QStringLiteral("未執行");
        } else {
            if (options.progress)
                options.progress(QStringLiteral("控制線 %1→%2")
                                         .arg(lineText(pair.output), lineText(pair.input)));
            pair = runPair(sender, receiver, pair);
        }
        results.pairs.push_back(pair);
    }
    return results;
}

std::vector<Row> rows(const Results &results)
{
    std::vector<Row> out;
    for (const SpeedResult &r : results.speeds) {
        Row row;
        row.item = QStringLiteral("速率 %1").arg(r.speed);
        row.passed = r.passed;
        // A speed the stop cut short proves nothing either way.
        row.failed = !r.passed && !r.stopped;
        row.verdict = r.passed ? QStringLiteral("通過")
                : row.failed   ? QStringLiteral("失敗")
                               : QStringLiteral("已停止");
        row.detail = speedDetail(r);
        out.push_back(row);
    }
    for (const PairResult &p : results.pairs) {
        Row row;
        row.item = lineText(p.output) + QStringLiteral("→") + lineText(p.input);
        row.passed = p.outcome == PairOutcome::Passed;
        row.failed = p.outcome == PairOutcome::Failed;
        switch (p.outcome) {
        case PairOutcome::Passed:
            row.verdict = QStringLiteral("通過");
            break;
        case PairOutcome::Failed:
            row.verdict = QStringLiteral("失敗");
            break;
        case PairOutcome::Unsupported:
            row.verdict = QStringLiteral("不支援");
            break;
        case PairOutcome::Stopped:
            row.verdict = QStringLiteral("已停止");
            break;
        }
        row.detail = p.detail;
        out.push_back(row);
    }
    return out;
}

QString verdictText(const Results &results)
{
    if (results.stopped)
        return QStringLiteral("已停止");
    if (!results.passed())
        return QStringLiteral("失敗");
    QStringList untested;
    for (const PairResult &p : results.pairs) {
        if (p.outcome == PairOutcome::Unsupported)
            untested << lineText(p.output) + QStringLiteral("→") + lineText(p.input);
    }
    if (untested.isEmpty())
        return QStringLiteral("通過");
    if (untested.size() == qsizetype(results.pairs.size()))
        return QStringLiteral("通過 (僅資料;線路對未測試)");
    return QStringLiteral("通過 (線路對 %1 未測試)").arg(untested.join(u'、'));
}

QString portText(const QString &settingsName, const QString &device)
{
    if (device.isEmpty() || device == settingsName)
        return settingsName;
    return QStringLiteral("%1 (%2)").arg(settingsName, device);
}

QString summaryText(const Results &results)
{
    int passed = 0;
    int failed = 0;
    int other = 0;
    for (const Row &row : rows(results)) {
        if (row.passed)
            ++passed;
        else if (row.failed)
            ++failed;
        else
            ++other;
    }
    return QStringLiteral("結果: %1 (通過 %2 項, 失敗 %3 項, 不支援或未執行 %4 項)")
            .arg(verdictText(results))
            .arg(passed)
            .arg(failed)
            .arg(other);
}

QString reportText(const Results &results, const Options &options, const QString &portsText)
{
    QStringList lines;
    lines << QStringLiteral("線路自我測試 %1, %2 , %3 , %4, 亂數種子 %5")
                     .arg(portsText, PortSettings::parityLetter(options.params.parity))
                     .arg(options.params.dataBits)
                     .arg(stopBitsText(options.params.stopBits))
                     .arg(options.seed);
    for (const Row &row : rows(results))
        lines << QStringLiteral("%1: %2 %3").arg(row.item, row.verdict, row.detail);
    lines << summaryText(results);
    return lines.join(u'\n');
}

} // namespace LineSelfTest
