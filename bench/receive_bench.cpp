// SPDX-License-Identifier: MIT
// Receive mode at full speed: the real window (offscreen), the real loop and display, fed by a
// pseudo-terminal as fast as the kernel takes the bytes. Each workload runs in a process of its
// own so that its peak memory is its own.
//
//   receive_bench            all workloads, then idle CPU and Break latency
//   receive_bench <workload> one workload line
#include "main/DisplayFormatter.h"
#include "main/Forms.h"
#include "main/ModeState.h"
#include "main/Telvixmain1.h"
#include "main/TrafficView.h"
#include "serial/PortSettings.h"
#include "ui_Telvixmain1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

struct Workload
{
    const char *name;
    qsizetype bytes;
    bool hex;
    enum Kind { TextCr, OneLine, Random } kind;
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
};

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
        }
    }
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

long peakRssKb()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
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

struct Line
{
    int master = -1;
    QString slave;
    Line()
    {
        int s = -1;
        char name[128] = {};
        openpty(&master, &s, name, nullptr, nullptr);
        ::close(s);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        slave = QString::fromLocal8Bit(name);
    }
    ~Line() { ::close(master); }
};

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
    Line line;
    PortSettings::DevicePathText = line.slave;
    Forms::createAll();
    Form1->show();
    if (w.hex)
        Form1->form()->HexModeMenuBar->trigger();
    QApplication::processEvents();
    const long baseRss = peakRssKb();

    std::atomic<bool> stop {false};
    std::thread feeder;
    QElapsedTimer clock;
    double seconds = 0;
    TrafficView *memo = Form1->memo1();
    QObject::connect(memo, &TrafficView::textChanged, [&] {
        if (seconds == 0 && memo->text().characterCount() >= expectedCount) {
            seconds = double(clock.nsecsElapsed()) / 1e9;
            Form1->form()->BreakButton->click();
        }
    });
    QTimer::singleShot(0, [&] {
        clock.start();
        feeder = std::thread(feed, line.master, std::cref(data), std::ref(stop));
    });
    // A run that stalls is reported, not waited for forever.
    QTimer::singleShot(120000, [] { Form1->form()->BreakButton->click(); });
    Form1->form()->ReceiveButton->click();
    stop = true;
    feeder.join();
    const long peak = peakRssKb();
    const bool allShown = memo->toPlainText() == expectedText(data, w.hex);
    if (seconds == 0)
        seconds = double(clock.nsecsElapsed()) / 1e9;
    std::printf("workload=%s bytes=%lld seconds=%.3f bytes_per_s=%.0f all_shown=%s "
                "peak_rss_kb=%ld bytes_per_byte=%.1f\n",
                w.name, (long long)data.size(), seconds, double(data.size()) / seconds,
                allShown ? "yes" : "no", peak,
                double(peak - baseRss) * 1024.0 / double(data.size()));
    Forms::destroyAll();
    return allShown ? 0 : 1;
}

void runIdle()
{
    Line line;
    PortSettings::DevicePathText = line.slave;
    Forms::createAll();
    Form1->show();
    double cpu = 0;
    QTimer::singleShot(200, [&] {
        const double before = cpuSeconds();
        QTimer::singleShot(10000, [&, before] {
            cpu = cpuSeconds() - before;
            Form1->form()->BreakButton->click();
        });
    });
    Form1->form()->ReceiveButton->click();
    std::printf("idle_cpu_percent=%.2f\n", cpu / 10.0 * 100.0);

    // Break during a full-speed stream: from the moment the click was due until the loop left.
    const Workload w {"break", 64 << 20, false, Workload::TextCr};
    const QByteArray data = makeData(w);
    std::vector<double> latencies;
    for (int run = 0; run < 5; ++run) {
        Form1->form()->ClearDataButton->click();
        std::atomic<bool> stop {false};
        std::thread feeder(feed, line.master, std::cref(data), std::ref(stop));
        QElapsedTimer due;
        QTimer::singleShot(300, [&] {
            due.start();
            Form1->form()->BreakButton->click();
        });
        // The timer is due 300 ms after it was set; its dispatch delay counts as latency.
        QElapsedTimer set;
        set.start();
        Form1->form()->ReceiveButton->click();
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

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 1) {
        // Each workload in its own process, three runs each, the median reported by the caller.
        int failures = 0;
        for (const Workload &w : Workloads) {
            QProcess p;
            p.setProcessChannelMode(QProcess::ForwardedChannels);
            p.start(QString::fromLocal8Bit(argv[0]), {QString::fromLatin1(w.name)});
            p.waitForFinished(-1);
            failures += p.exitCode() != 0;
        }
        QApplication app(argc, argv);
        runIdle();
        return failures;
    }
    QApplication app(argc, argv);
    for (const Workload &w : Workloads) {
        if (qstrcmp(argv[1], w.name) == 0)
            return runWorkload(w);
    }
    std::fprintf(stderr, "receive_bench: unknown workload %s\n", argv[1]);
    return 2;
}
