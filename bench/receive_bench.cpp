// SPDX-License-Identifier: MIT
// Receive mode at full speed: the real window (offscreen), the real loop and display, fed by a
// pseudo-terminal as fast as the kernel takes the bytes. Each workload runs in a process of its
// own so that its peak memory is its own.
//
//   receive_bench            all workloads, then idle CPU and Break latency
//   receive_bench <workload> one workload line; the 64 MiB ones run only when named
//   receive_bench logged     the 8 MiB text with and without a live log and line timestamps,
//                            three runs each taken in turn, and the ratio of their medians
//   receive_bench hex_vs_text the 8 MiB text in the HEX and in the text form, three runs each
//                            taken in turn: the ratios of their rates and CPU per MiB
//   receive_bench modbus     8 MiB of Modbus RTU requests and replies in the HEX form and as
//                            frames (通訊協定 Modbus RTU), three runs each taken in turn
//   receive_bench --platform xcb ...   any of these drawn through the X server of $DISPLAY
//                            (under xvfb-run), where drawing costs what it does on a desktop
//
// Each workload prints its rate, the memory it left per byte received (bytes_per_byte: the
// live heap; display_bytes_per_byte: without the capture; store_bytes_per_byte: the text
// store alone), its peak resident size and the CPU seconds per MiB of the whole process.
//
// A workload whose name ends in _logged runs with a live log (the .log format, started through
// the menu as a user would) and "[HH:MM:SS.mmm] " before every line; what was shown is checked
// with the stamps taken off, and the log is read back and compared with what was fed. One that
// ends in _panel runs with the line panel shown and errored bytes marked.
#include "BenchFigures.h"
#include "BenchSupport.h"
#include "TForm1Controls.h"
#include "main/Forms.h"
#include "main/LinePanel.h"
#include "main/Telvixmain1.h"
#include "main/TrafficView.h"
#include "serial/PortSettings.h"
#include "session/ModeState.h"
#include "traffic/Checksum.h"
#include "traffic/DisplayFormatter.h"
#include "traffic/LiveLog.h"
#include "traffic/LogFormat.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

using bench::median;

struct Workload
{
    const char *name;
    qsizetype bytes;
    bool hex;
    enum Kind { TextCr, OneLine, Random, Modbus } kind;
    bool logged = false;
    bool panel = false; // the line panel shown, its lamps read, errored bytes marked
    bool onRequest = false; // too long for every run: only when named
    bool frames = false; // shown as Modbus RTU frames
};

const Workload Workloads[] = {
        {"text_cr", 1 << 20, false, Workload::TextCr},
        {"hex", 1 << 20, true, Workload::TextCr},
        {"one_line", 1 << 20, false, Workload::OneLine},
        {"random", 1 << 20, false, Workload::Random},
        {"text_cr_8m", 8 << 20, false, Workload::TextCr},
        // Not a target of its own: tells the cost per byte apart from the fixed cost of loading the
        // CJK fallback fonts that 1 MiB of random bytes already pays in full.
        {"random_8m", 8 << 20, false, Workload::Random},
        {"text_cr_8m_logged", 8 << 20, false, Workload::TextCr, true},
        {"hex_logged", 1 << 20, true, Workload::TextCr, true},
        // With the line panel: random bytes hold FFh, which the tty doubles when it marks
        // errored bytes, so everything shown proves the doubling undone.
        {"text_cr_8m_panel", 8 << 20, false, Workload::TextCr, false, true},
        {"random_8m_panel", 8 << 20, false, Workload::Random, false, true},
        // What the display costs over a long run: the memory per byte has to stay flat.
        {"hex_8m", 8 << 20, true, Workload::TextCr, false, false, true},
        {"text_cr_64m", 64 << 20, false, Workload::TextCr, false, false, true},
        {"hex_64m", 64 << 20, true, Workload::TextCr, false, false, true},
        {"one_line_64m", 64 << 20, false, Workload::OneLine, false, false, true},
        {"random_64m", 64 << 20, false, Workload::Random, false, false, true},
        {"modbus_hex_8m", 8 << 20, true, Workload::Modbus, false, false, true},
        {"modbus_frames_8m", 8 << 20, false, Workload::Modbus, false, false, true, true},
};

// A read request of ten registers and its reply, as a master and its slave take turns: the
// stream a monitor of an RS-485 line hears.
QByteArray modbusExchange(uint16_t value)
{
    QByteArray request = QByteArray::fromHex("01030000000A");
    QByteArray reply = QByteArray::fromHex("010314");
    for (int i = 0; i < 10; ++i) {
        reply += char((value + i) >> 8);
        reply += char(value + i);
    }
    return Checksum::append(Checksum::Kind::Crc16Modbus, request).bytes
            + Checksum::append(Checksum::Kind::Crc16Modbus, reply).bytes;
}

QByteArray makeData(const Workload &w)
{
    QByteArray data;
    data.reserve(w.bytes);
    QRandomGenerator rng(7);
    static const char Text[] = "The quick brown fox jumps over the lazy dog 0123456789 ,.;:!?";
    while (data.size() < w.bytes) {
        switch (w.kind) {
        case Workload::TextCr:
            for (int i = 0; i < 62; ++i)
                data.append(Text[i % (sizeof Text - 1)]);
            data.append("\r\n");
            break;
        case Workload::OneLine:
            data.append(Text, sizeof Text - 1);
            break;
        case Workload::Random:
            data.append(char(rng.bounded(256)));
            break;
        case Workload::Modbus:
            data.append(modbusExchange(uint16_t(data.size())));
            break;
        }
    }
    // Whole frames only: a frame cut at the end would wait for the line's silence.
    if (w.kind == Workload::Modbus)
        data.truncate(w.bytes / modbusExchange(0).size() * modbusExchange(0).size());
    else
        data.truncate(w.bytes);
    return data;
}

QString expectedText(const QByteArray &data, bool hex)
{
    DisplayFormatter formatter;
    formatter.setHexForm(hex);
    QString out;
    formatter.append(data, out);
    return out;
}

// Bytes the heap holds in use, the blocks it mapped of their own included: unlike the RSS it
// counts neither freed memory kept for reuse nor pages not yet touched.
int64_t liveHeapBytes()
{
    const struct mallinfo2 m = mallinfo2();
    return int64_t(m.uordblks) + int64_t(m.hblkhd);
}

long peakRssKb()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// What the process has in memory now, as /proc/self/statm tells it.
long residentKb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().simplified().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : 0;
}

double cpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
            + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The device: writes everything to the master as fast as the kernel takes it.
void feed(int master, const QByteArray &data, std::atomic<bool> &stop)
{
    qsizetype done = 0;
    while (done < data.size() && !stop) {
        const ssize_t n = ::write(master, data.constData() + done,
                                  size_t(std::min<qsizetype>(4096, data.size() - done)));
        if (n > 0) {
            done += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p {master, POLLOUT, 0};
            poll(&p, 1, 50);
        } else {
            return;
        }
    }
}

// The received bytes a log file holds, in order.
QByteArray loggedBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const std::optional<LogFormat::Parsed> parsed = LogFormat::parseLogLine(line);
        if (parsed && parsed->kind == TrafficKind::Received)
            bytes += parsed->bytes;
    }
    return bytes;
}

int runWorkload(const Workload &w)
{
    const QByteArray data = makeData(w);
    qsizetype expectedCount = 0;
    {
        DisplayFormatter formatter;
        formatter.setHexForm(w.hex);
        QString chunk;
        for (char c : data) {
            formatter.appendByte(uint8_t(c), chunk);
            if (chunk.size() > 65536) {
                expectedCount += chunk.size();
                chunk.clear();
            }
        }
        expectedCount += chunk.size();
    }
    bench::PtyLine line;
    PortSettings::DevicePathText = line.slave;
    Forms::createAll();
    Form1->show();
    if (w.hex)
        TForm1Controls(Form1).HexModeMenuBar->trigger();
    if (w.frames) {
        RenderOptions options = Form1->renderer().options();
        options.protocol = modbus::Protocol::Rtu;
        Form1->renderer().setOptions(options);
    }
    const qsizetype frameCount = data.size() / modbusExchange(0).size() * 2;
    QTemporaryDir logDir;
    const QString logPath = logDir.filePath(QStringLiteral("bench.log"));
    if (w.logged) {
        RenderOptions options = Form1->renderer().options();
        options.lineTimestamps = !qEnvironmentVariableIsSet("NOSTAMP");
        Form1->renderer().setOptions(options);
        if (!qEnvironmentVariableIsSet("NOLOG"))
            bench::startLiveLog(logPath);
        if (!Form1->liveLog() && !qEnvironmentVariableIsSet("NOLOG")) {
            std::fprintf(stderr, "receive_bench: the live log did not start\n");
            return 1;
        }
    }
    if (w.panel) {
        TForm1Controls(Form1).LinePanelMenuBar->trigger();
        Form1->linePanel()
                ->findChild<QCheckBox *>(QStringLiteral("MarkErrorsCheck"))
                ->setChecked(true);
    }
    QApplication::processEvents();
    // The text store's huge blocks are mapped apart from the heap: they count too.
    const int64_t baseHeap = liveHeapBytes() + Form1->memo1()->text().mappedBytes();
    const long baseResident = residentKb();
    const int64_t baseCapture = Form1->capture().memoryBytes();

    std::atomic<bool> stop {false};
    std::thread feeder;
    QElapsedTimer clock;
    double seconds = 0;
    // The whole process: the window's thread, the port's reader and the feeder's writes, the
    // last the same for both forms of the same bytes.
    double cpuStart = 0;
    double cpu = 0;
    TrafficView *memo = Form1->memo1();
    // With stamps the display holds more than the bytes' text; every byte has been shown once
    // the capture, which the display follows in the same pass, has them all.
    QObject::connect(memo, &TrafficView::textChanged, [&] {
        const bool done = w.logged || w.frames ? Form1->capture().receivedBytes() >= data.size()
                                               : memo->text().characterCount() >= expectedCount;
        if (seconds == 0 && done) {
            seconds = double(clock.nsecsElapsed()) / 1e9;
            cpu = cpuSeconds() - cpuStart;
            TForm1Controls(Form1).BreakButton->click();
        }
    });
    QTimer::singleShot(0, [&] {
        cpuStart = cpuSeconds();
        clock.start();
        feeder = std::thread(feed, line.master, std::cref(data), std::ref(stop));
    });
    // A run that stalls is reported, not waited for forever.
    QTimer::singleShot(120000, [] { TForm1Controls(Form1).BreakButton->click(); });
    TForm1Controls(Form1).ReceiveButton->click();
    stop = true;
    feeder.join();
    const long peak = peakRssKb();
    // The capture keeps the bytes themselves; what is left is the display's own cost.
    const int64_t heapGrowth = liveHeapBytes() + Form1->memo1()->text().mappedBytes() - baseHeap;
    const int64_t residentGrowth = int64_t(residentKb() - baseResident) * 1024;
    const int64_t captureGrowth = Form1->capture().memoryBytes() - baseCapture;
    const int64_t storeBytes = Form1->memo1()->text().memoryBytes();
    if (seconds == 0) {
        seconds = double(clock.nsecsElapsed()) / 1e9;
        cpu = cpuSeconds() - cpuStart;
    }
    QString shown = memo->toPlainText();
    bool allLogged = true;
    if (w.logged) {
        static const QRegularExpression stamps(
                QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] "),
                QRegularExpression::MultilineOption);
        shown.remove(stamps);
        TForm1Controls(Form1).StopLogMenuBar->trigger();
        allLogged = loggedBytes(logPath) == data;
    }
    const bool allShown = w.frames
            ? shown.count(QStringLiteral("CRC 正確")) == frameCount && !shown.contains(u'錯')
            : shown == expectedText(data, w.hex);
    std::printf("workload=%s bytes=%lld seconds=%.3f bytes_per_s=%.0f all_shown=%s "
                "peak_rss_kb=%ld bytes_per_byte=%.2f display_bytes_per_byte=%.2f "
                "store_bytes_per_byte=%.2f rss_bytes_per_byte=%.2f cpu_s_per_mib=%.4f "
                "platform=%s%s\n",
                w.name, (long long)data.size(), seconds, double(data.size()) / seconds,
                allShown ? "yes" : "no", peak, double(heapGrowth) / double(data.size()),
                double(heapGrowth - captureGrowth) / double(data.size()),
                double(storeBytes) / double(data.size()),
                double(residentGrowth) / double(data.size()),
                cpu / (double(data.size()) / double(1 << 20)),
                qPrintable(QGuiApplication::platformName()),
                w.logged ? (allLogged ? " all_logged=yes" : " all_logged=no") : "");
    Forms::destroyAll();
    return allShown && allLogged ? 0 : 1;
}

void runIdle()
{
    bench::PtyLine line;
    PortSettings::DevicePathText = line.slave;
    Forms::createAll();
    Form1->show();
    // Receive mode on a silent line for ten seconds; the share of one core it took.
    const auto idlePercent = [] {
        double cpu = 0;
        QTimer::singleShot(200, [&] {
            const double before = cpuSeconds();
            QTimer::singleShot(10000, [&, before] {
                cpu = cpuSeconds() - before;
                TForm1Controls(Form1).BreakButton->click();
            });
        });
        TForm1Controls(Form1).ReceiveButton->click();
        return cpu / 10.0 * 100.0;
    };
    std::printf("idle_cpu_percent=%.2f\n", idlePercent());
    // The same with the line panel shown: its lamps and counters are read 20 times a second.
    TForm1Controls(Form1).LinePanelMenuBar->trigger();
    std::printf("idle_cpu_percent_line_panel=%.2f\n", idlePercent());
    TForm1Controls(Form1).LinePanelMenuBar->trigger();

    // Break during a full-speed stream: from the moment the click was due until the loop left.
    const Workload w {"break", 64 << 20, false, Workload::TextCr};
    const QByteArray data = makeData(w);
    std::vector<double> latencies;
    for (int run = 0; run < 5; ++run) {
        TForm1Controls(Form1).ClearDataButton->click();
        std::atomic<bool> stop {false};
        std::thread feeder(feed, line.master, std::cref(data), std::ref(stop));
        QElapsedTimer due;
        QTimer::singleShot(300, [&] {
            due.start();
            TForm1Controls(Form1).BreakButton->click();
        });
        // The timer is due 300 ms after it was set; its dispatch delay counts as latency.
        QElapsedTimer set;
        set.start();
        TForm1Controls(Form1).ReceiveButton->click();
        const double ms = double(set.nsecsElapsed()) / 1e6 - 300.0;
        stop = true;
        feeder.join();
        latencies.push_back(ms);
        // Drain what the kernel still holds for the next run.
        QApplication::processEvents();
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("break_latency_ms=%.1f (median of %zu, max %.1f)\n",
                latencies[latencies.size() / 2], latencies.size(), latencies.back());
    Forms::destroyAll();
}

struct ChildFigures
{
    double rate = 0; // bytes per second; 0 when the run failed
    double cpuPerMib = 0;
};

// One workload in a process of its own (on the same platform as this one); its line is passed
// on, its figures returned.
ChildFigures runChildFigures(const char *self, const char *name)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QString::fromLocal8Bit(self),
            {QStringLiteral("--platform"), QString::fromLocal8Bit(qgetenv("QT_QPA_PLATFORM")),
             QString::fromLatin1(name)});
    p.waitForFinished(-1);
    const QByteArray out = p.readAllStandardOutput();
    std::fputs(out.constData(), stdout);
    std::fflush(stdout);
    static const QRegularExpression rate(QStringLiteral("bytes_per_s=(\\d+)"));
    static const QRegularExpression cpu(QStringLiteral("cpu_s_per_mib=([0-9.]+)"));
    const QRegularExpressionMatch m = rate.match(QString::fromLatin1(out));
    const QRegularExpressionMatch c = cpu.match(QString::fromLatin1(out));
    ChildFigures f;
    if (p.exitCode() == 0 && m.hasMatch() && c.hasMatch()) {
        f.rate = m.captured(1).toDouble();
        f.cpuPerMib = c.captured(1).toDouble();
    }
    return f;
}

double runChild(const char *self, const char *name) { return runChildFigures(self, name).rate; }

// The HEX form against the text form of the same 8 MiB, three runs each taken in turn: the
// ratios of their medians, rate and CPU per MiB.
int compareHexText(const char *self)
{
    std::vector<double> textRate, hexRate, textCpu, hexCpu;
    for (int run = 0; run < 3; ++run) {
        const ChildFigures t = runChildFigures(self, "text_cr_8m");
        const ChildFigures h = runChildFigures(self, "hex_8m");
        if (t.rate == 0 || h.rate == 0)
            return 1;
        textRate.push_back(t.rate);
        hexRate.push_back(h.rate);
        textCpu.push_back(t.cpuPerMib);
        hexCpu.push_back(h.cpuPerMib);
    }
    const double tr = median(textRate), hr = median(hexRate);
    const double tc = median(textCpu), hc = median(hexCpu);
    std::printf("hex_vs_text: text_bytes_per_s=%.0f hex_bytes_per_s=%.0f rate_ratio=%.2f "
                "text_cpu_s_per_mib=%.4f hex_cpu_s_per_mib=%.4f cpu_ratio=%.2f platform=%s "
                "(medians of 3, taken in turn)\n",
                tr, hr, hr / tr, tc, hc, hc / tc, qgetenv("QT_QPA_PLATFORM").constData());
    return 0;
}

// Two workloads taken in turn, three runs each: their medians, and how much slower the second
// is. Fails when a run of either failed.
int compareInTurn(const char *self, const char *base, const char *other, const char *label,
                  const char *baseName, const char *otherName)
{
    std::vector<double> a, b;
    for (int run = 0; run < 3; ++run) {
        a.push_back(runChild(self, base));
        b.push_back(runChild(self, other));
    }
    const double ma = median(a), mb = median(b);
    std::printf("%s: %s_bytes_per_s=%.0f %s_bytes_per_s=%.0f slower_percent=%.1f "
                "(medians of 3, taken in turn)\n",
                label, baseName, ma, otherName, mb, ma > 0 ? (1.0 - mb / ma) * 100.0 : 0.0);
    const bool failed = std::find(a.begin(), a.end(), 0.0) != a.end()
            || std::find(b.begin(), b.end(), 0.0) != b.end();
    return failed ? 1 : 0;
}

// The cost of a live log with line timestamps: the same 8 MiB with and without.
int compareLogged(const char *self)
{
    return compareInTurn(self, "text_cr_8m", "text_cr_8m_logged", "logged_vs_plain", "plain",
                         "logged");
}

// Modbus frames against the HEX form of the same 8 MiB: the display's rate.
int compareModbus(const char *self)
{
    return compareInTurn(self, "modbus_hex_8m", "modbus_frames_8m", "modbus_frames_vs_hex", "hex",
                         "frames");
}

} // namespace

int main(int argc, char *argv[])
{
    // Offscreen unless told: drawing through a real X server (`--platform xcb` under Xvfb)
    // costs more than offscreen, as it does on a desktop. The workloads' own processes inherit
    // the choice.
    QByteArray platform = "offscreen";
    if (argc >= 3 && qstrcmp(argv[1], "--platform") == 0) {
        platform = argv[2];
        argv[2] = argv[0];
        argv += 2;
        argc -= 2;
    }
    qputenv("QT_QPA_PLATFORM", platform);
    if (argc == 1) {
        // Each workload in its own process; medians are taken over several calls of the bench.
        int failures = 0;
        for (const Workload &w : Workloads) {
            if (!w.onRequest)
                failures += runChild(argv[0], w.name) == 0;
        }
        failures += compareLogged(argv[0]);
        QApplication app(argc, argv);
        runIdle();
        return failures;
    }
    if (qstrcmp(argv[1], "logged") == 0)
        return compareLogged(argv[0]);
    if (qstrcmp(argv[1], "hex_vs_text") == 0)
        return compareHexText(argv[0]);
    if (qstrcmp(argv[1], "modbus") == 0)
        return compareModbus(argv[0]);
    QApplication app(argc, argv);
    for (const Workload &w : Workloads) {
        if (qstrcmp(argv[1], w.name) == 0)
            return runWorkload(w);
    }
    std::fprintf(stderr, "receive_bench: unknown workload %s\n", argv[1]);
    return 2;
}
