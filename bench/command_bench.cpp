// SPDX-License-Identifier: MIT
// What the command list and the auto-replies do in time, in the real window (offscreen) while
// receive mode runs on a pseudo-terminal whose master this program plays as the device:
//
//   repeat_1ms, repeat_10ms  an 8-byte Modbus request repeated at that period: the gaps between
//                            the requests as the device reads them (median, p99) against the
//                            period, the grid points skipped, the window's CPU (% of one
//                            core; the device's own thread is not counted), and how late a
//                            20 ms timer of the window's event loop fires meanwhile (p99: is
//                            the window still live?)
//   idle                     receive mode on the same line with nothing sent: the baseline
//   reply                    a rule answering "AT\r" with "OK\r\n", the device sending the
//                            trigger every 20 ms: from the trigger's arrival to the answer's
//                            write, by the traffic stream's own stamps, and from the
//                            device's write to its read of the answer, both ways through the pty
//
// command_bench [--seconds S] [--runs N] [row...]; each figure the median of the runs.
#include "BenchFigures.h"
#include "BenchSupport.h"
#include "TForm1Controls.h"
#include "main/CommandPanel.h"
#include "main/Forms.h"
#include "main/Telvixmain1.h"
#include "main/Translations.h"
#include "send/CommandRepeat.h"
#include "serial/PortSettings.h"
#include "session/ModeState.h"
#include "traffic/Traffic.h"
#include "widgets/Fonts.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using bench::median;
using bench::percentile;

int64_t clockUs(clockid_t clock)
{
    timespec ts {};
    clock_gettime(clock, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int64_t nowUs() { return clockUs(CLOCK_MONOTONIC); }

int64_t processCpuUs()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return (int64_t(u.ru_utime.tv_sec) + u.ru_stime.tv_sec) * 1000000 + u.ru_utime.tv_usec
            + u.ru_stime.tv_usec;
}

const QByteArray Request("\x01\x03\x00\x00\x00\x0A\xC5\xCD", 8);

// The stream's own stamps (the capture keeps them to 100 us only): each answer after the
// trigger it answers.
struct ReplyStamps : TrafficConsumer
{
    int64_t arrivedUs = -1;
    std::vector<double> replies;
    void take(const TrafficRecord &r) override
    {
        if (r.kind == TrafficKind::Received && r.bytes.contains('\r')) {
            arrivedUs = r.timeUs;
        } else if (r.kind == TrafficKind::Sent && arrivedUs >= 0) {
            replies.push_back(double(r.timeUs - arrivedUs) / 1000.0);
            arrivedUs = -1;
        }
    }
};

struct Figures
{
    double cpuPercent = 0;
    double gapMedianMs = 0, gapP99Ms = 0;
    double sendsPerS = 0, skipped = 0;
    double lagP99Ms = 0; // a timer of the window's event loop, how late
    double replyMedianMs = 0, replyP99Ms = 0; // arrival to write, the traffic's stamps
    double roundMedianMs = 0, roundP99Ms = 0; // the device's write to its read
};

// The device: reads what TELVIX writes, stamping each whole request (or answer); for the reply
// row it also writes the trigger on its own clock.
struct Device
{
    int master = -1;
    qsizetype unit = 1; // bytes of one request or answer
    int triggerEveryMs = 0;
    std::atomic<bool> running {true};
    std::vector<int64_t> arrivals; // when each unit was complete
    std::vector<int64_t> triggers; // when each trigger was written
    int64_t cpuUs = 0;

    void run()
    {
        qsizetype have = 0;
        int64_t nextTrigger = nowUs();
        char buffer[4096];
        while (running) {
            const int64_t now = nowUs();
            if (triggerEveryMs > 0 && now >= nextTrigger) {
                if (::write(master, "AT\r", 3) == 3)
                    triggers.push_back(nowUs());
                nextTrigger += int64_t(triggerEveryMs) * 1000;
            }
            pollfd p {master, POLLIN, 0};
            const int waitMs = triggerEveryMs > 0
                    ? int(std::clamp<int64_t>((nextTrigger - nowUs()) / 1000, 0, 5))
                    : 5;
            if (::poll(&p, 1, waitMs) <= 0)
                continue;
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            const int64_t at = nowUs();
            have += n;
            while (have >= unit) {
                arrivals.push_back(at);
                have -= unit;
            }
        }
        cpuUs = clockUs(CLOCK_THREAD_CPUTIME_ID);
    }
};

Figures runRow(const std::string &row, double seconds)
{
    bench::PtyLine line;
    PortSettings::DevicePathText = line.slave;
    Forms::createAll();
    Form1->show();
    TForm1Controls(Form1).CommandPanelMenuBar->trigger();
    CommandPanel *panel = Form1->commandPanel();
    const bool reply = row == "reply";
    const int periodMs = row == "repeat_1ms" ? 1 : row == "repeat_10ms" ? 10 : 0;
    CommandList::Command c;
    c.hex = true;
    c.content = QStringLiteral("01 03 00 00 00 0A");
    c.check = Checksum::Kind::Crc16Modbus;
    c.repeatMs = periodMs;
    panel->setCommands({c});
    if (reply) {
        AutoReply::Rule r;
        r.pattern = QStringLiteral("AT\r");
        r.reply.content = QStringLiteral("OK");
        r.reply.ending = CommandList::Ending::CrLf;
        panel->setRules({r});
    }
    Device device;
    device.master = line.master;
    device.unit = reply ? 4 : Request.size();
    device.triggerEveryMs = reply ? 20 : 0;
    std::thread deviceThread;
    ReplyStamps stamps;
    Form1->traffic().subscribe(&stamps);
    int64_t cpuStart = 0, wallStart = 0, cpu = 0, wall = 0;
    const CommandRepeat *repeat = nullptr;
    int64_t skipped = 0, sends = 0;
    // The window's own responsiveness: a 20 ms timer, and how late each tick comes.
    std::vector<double> lags;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    int64_t probeDue = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const int64_t now = nowUs();
        if (probeDue > 0)
            lags.push_back(std::max<double>(0, double(now - probeDue) / 1000.0));
        probeDue = now + 20000;
    });
    QTimer::singleShot(0, [&] {
        probe.start(20);
        if (ModeState::ReceiveModeActive == 0) {
            std::fprintf(stderr, "command_bench: receive mode did not start on the pty\n");
            std::_Exit(1);
        }
        deviceThread = std::thread([&] { device.run(); });
        if (periodMs > 0)
            panel->fire(0);
        repeat = panel->repeatOf(0);
        cpuStart = processCpuUs();
        wallStart = nowUs();
        QTimer::singleShot(int(seconds * 1000), [&] {
            cpu = processCpuUs() - cpuStart;
            wall = nowUs() - wallStart;
            if (repeat) {
                sends = repeat->sends();
                skipped = repeat->skipped();
            }
            device.running = false;
            deviceThread.join();
            TForm1Controls(Form1).BreakButton->click();
        });
    });
    TForm1Controls(Form1).ReceiveButton->click();

    Figures f;
    f.lagP99Ms = percentile(lags, 0.99);
    f.cpuPercent = double(cpu - device.cpuUs) * 100.0 / double(std::max<int64_t>(wall, 1));
    std::vector<double> gaps;
    for (size_t i = 1; periodMs > 0 && i < device.arrivals.size(); ++i)
        gaps.push_back(double(device.arrivals[i] - device.arrivals[i - 1]) / 1000.0);
    f.gapMedianMs = median(gaps);
    f.gapP99Ms = percentile(gaps, 0.99);
    f.sendsPerS = double(sends) * 1e6 / double(std::max<int64_t>(wall, 1));
    f.skipped = double(skipped);
    if (reply) {
        const std::vector<double> &replies = stamps.replies;
        f.replyMedianMs = median(replies);
        f.replyP99Ms = percentile(replies, 0.99);
        std::vector<double> rounds;
        for (size_t i = 0; i < std::min(device.triggers.size(), device.arrivals.size()); ++i)
            rounds.push_back(double(device.arrivals[i] - device.triggers[i]) / 1000.0);
        f.roundMedianMs = median(rounds);
        f.roundP99Ms = percentile(rounds, 0.99);
    }
    Form1->traffic().unsubscribe(&stamps);
    Forms::destroyAll();
    return f;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TELVIX"));
    Fonts::installSubstitutions();
    Translations::install();
    QApplication::setFont(Fonts::ming());
    double seconds = 10;
    int runs = 3;
    std::vector<std::string> rows;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            rows.emplace_back(argv[i]);
    }
    if (rows.empty())
        rows = {"idle", "repeat_10ms", "repeat_1ms", "reply"};
    std::printf("row          cpu%%   gap_med_ms gap_p99_ms sends/s skipped lag_p99_ms "
                "reply_med_ms reply_p99_ms round_med_ms round_p99_ms (medians of %d runs of "
                "%.0f s)\n",
                runs, seconds);
    for (const std::string &row : rows) {
        std::vector<Figures> all;
        for (int r = 0; r < runs; ++r)
            all.push_back(runRow(row, seconds));
        const auto of = [&](double Figures::*field) {
            std::vector<double> v;
            for (const Figures &f : all)
                v.push_back(f.*field);
            return median(v);
        };
        std::printf("%-12s %6.2f %10.3f %10.3f %7.0f %7.0f %10.3f %12.3f %12.3f %12.3f %12.3f\n",
                    row.c_str(), of(&Figures::cpuPercent), of(&Figures::gapMedianMs),
                    of(&Figures::gapP99Ms), of(&Figures::sendsPerS), of(&Figures::skipped),
                    of(&Figures::lagP99Ms), of(&Figures::replyMedianMs), of(&Figures::replyP99Ms),
                    of(&Figures::roundMedianMs), of(&Figures::roundP99Ms));
        std::fflush(stdout);
    }
    return 0;
}
