// SPDX-License-Identifier: MIT
// What TELVIX costs between a program and its device in pass-through mode. The device is a
// pseudo-terminal whose master this bench plays; the program is this bench too, opening the
// published name as a program opens its port. The window runs offscreen, the mode started as
// the menu starts it.
//
//   latency     a byte written on one side until it can be read on the other, each way,
//               one at a time every 2 ms (median, p99); beside it the same on a bare pair of
//               pseudo-terminals in the same run, so that what TELVIX adds is the difference
//   throughput  1.2 MB/s written on both sides at once, each every millisecond without
//               waiting, for --seconds: what each side took in, what the pseudo-terminal
//               refused (a UART would have dropped it), what arrived out of order, and the
//               CPU TELVIX used (the process, less this bench's own threads)
//
// passthrough_bench [--runs N] [--seconds S]; each figure the median of the runs.
#include "BenchFigures.h"
#include "main/Forms.h"
#include "main/Telvixmain1.h"
#include "modes/PassThroughSession.h"
#include "serial/PortSettings.h"
#include "session/ModeState.h"

#include <QApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using bench::median;
using bench::nowMs;
using bench::percentile;
using bench::processCpuSeconds;

double threadCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void nonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

void makeRaw(int fd)
{
    termios t {};
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        cfsetspeed(&t, B115200);
        tcsetattr(fd, TCSANOW, &t);
    }
}

// Empties `fd` of what waits now.
void drain(int fd)
{
    char buffer[4096];
    while (::read(fd, buffer, sizeof buffer) > 0) { }
}

// Writes one byte on `from` and waits until it can be read on `to`: ms, or -1 when it did not
// come within a second.
double oneByte(int from, int to, char value)
{
    const double start = nowMs();
    if (::write(from, &value, 1) != 1)
        return -1;
    pollfd p {to, POLLIN, 0};
    if (::poll(&p, 1, 1000) <= 0)
        return -1;
    const double took = nowMs() - start;
    drain(to);
    return took;
}

struct Latency
{
    std::vector<double> toDevice;
    std::vector<double> toProgram;
};

Latency measureLatency(int program, int device, int rounds)
{
    Latency l;
    for (int i = 0; i < rounds; ++i) {
        const double a = oneByte(program, device, char(i));
        const double b = oneByte(device, program, char(i));
        if (a >= 0)
            l.toDevice.push_back(a);
        if (b >= 0)
            l.toProgram.push_back(b);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return l;
}

// One direction of the flood: a writer at `rate` bytes a second, and the reader on the far
// side checking that the counting pattern arrives whole and in order.
struct Direction
{
    long long offered = 0;
    long long refused = 0;
    long long received = 0;
    long long outOfOrder = 0;
    double cpu = 0; // this bench's own threads
    double writeSeconds = 0;
};

void flood(int writeFd, int readFd, int rate, double seconds, Direction &d)
{
    std::atomic<bool> writing {true};
    double readerCpu = 0;
    std::thread reader([&] {
        unsigned char expected = 0;
        char buffer[65536];
        double quietSince = nowMs();
        // Until the writer is done and nothing has come for half a second.
        while (writing || nowMs() - quietSince < 500) {
            pollfd p {readFd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t n = ::read(readFd, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            quietSince = nowMs();
            for (ssize_t i = 0; i < n; ++i) {
                if (static_cast<unsigned char>(buffer[i]) != expected)
                    ++d.outOfOrder;
                expected = static_cast<unsigned char>(buffer[i] + 1);
            }
            d.received += n;
        }
        readerCpu = threadCpuSeconds();
    });
    const double start = nowMs();
    double owed = 0;
    unsigned char value = 0;
    char chunk[65536];
    while (nowMs() - start < seconds * 1000) {
        // By the clock, not by the loop: a sleep of a millisecond takes a little longer.
        owed = rate * (nowMs() - start) / 1000.0 - double(d.offered);
        const int n = std::clamp<int>(int(owed), 0, int(sizeof chunk));
        for (int i = 0; i < n; ++i)
            chunk[i] = char(value + i);
        d.offered += n;
        int done = 0;
        while (done < n) {
            const ssize_t w = ::write(writeFd, chunk + done, size_t(n - done));
            if (w <= 0) {
                d.refused += n - done;
                break;
            }
            done += int(w);
        }
        // What was refused never reaches the line: the pattern goes on after what went out.
        value = static_cast<unsigned char>(value + done);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    d.writeSeconds = (nowMs() - start) / 1000;
    writing = false;
    reader.join();
    d.cpu = threadCpuSeconds() + readerCpu;
}

struct Figures
{
    Latency through;
    Latency bare;
    Direction toDevice;
    Direction toProgram;
    double seconds = 0;
    double telvixCpuPercent = 0;
    bool ok = false;
};

void run(Figures &f, const QString &name, int device, int bareA, int bareB, double seconds)
{
    while (!QFileInfo(name).isSymLink())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int program = ::open(name.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (program < 0)
        return;
    makeRaw(program);
    nonBlocking(program);
    // The parameters the program set reach the device first; let them settle.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    drain(device);
    f.through = measureLatency(program, device, 1000);
    f.bare = measureLatency(bareA, bareB, 1000);

    const double cpu0 = processCpuSeconds();
    const double wall0 = nowMs();
    std::thread other([&] { flood(device, program, 1200000, seconds, f.toProgram); });
    flood(program, device, 1200000, seconds, f.toDevice);
    other.join();
    f.seconds = (nowMs() - wall0) / 1000;
    const double cpu = processCpuSeconds() - cpu0 - f.toDevice.cpu - f.toProgram.cpu;
    f.telvixCpuPercent = 100.0 * cpu / f.seconds;
    ::close(program);
    f.ok = true;
}

Figures runOnce(double seconds)
{
    Figures f;
    int device = -1;
    int slave = -1;
    char path[128] = {};
    int bareA = -1;
    int bareB = -1;
    if (openpty(&device, &slave, path, nullptr, nullptr) != 0)
        return f;
    ::close(slave);
    nonBlocking(device);
    if (openpty(&bareA, &bareB, nullptr, nullptr, nullptr) != 0)
        return f;
    makeRaw(bareB);
    nonBlocking(bareA);
    nonBlocking(bareB);
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("ttyBENCH"));

    PortSettings::reset();
    PortSettings::DevicePathText = PortSettings::PortNameText = QString::fromLocal8Bit(path);
    Forms::createAll();
    Form1->show();
    std::thread bench([&] {
        run(f, name, device, bareA, bareB, seconds);
        QMetaObject::invokeMethod(
                qApp, [] { ModeState::BreakRequested = 1; }, Qt::QueuedConnection);
    });
    PassThroughRequest request;
    request.name = name.toStdString();
    PassThroughSession(*Form1).run(request);
    bench.join();
    Forms::destroyAll();
    ::close(device);
    ::close(bareA);
    ::close(bareB);
    return f;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    int runs = 3;
    double seconds = 10;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1.0, std::atof(argv[++i]));
    }
    std::vector<double> lat[8];
    std::vector<double> rate[2];
    std::vector<double> lost[2];
    std::vector<double> refused[2];
    std::vector<double> cpu;
    for (int r = 0; r < runs; ++r) {
        const Figures f = runOnce(seconds);
        if (!f.ok) {
            std::fprintf(stderr, "passthrough_bench: run %d did not start\n", r + 1);
            return 1;
        }
        const std::vector<double> *series[4] = {&f.through.toDevice, &f.through.toProgram,
                                                &f.bare.toDevice, &f.bare.toProgram};
        for (int s = 0; s < 4; ++s) {
            lat[2 * s].push_back(percentile(*series[s], 0.5));
            lat[2 * s + 1].push_back(percentile(*series[s], 0.99));
        }
        const Direction *d[2] = {&f.toDevice, &f.toProgram};
        for (int k = 0; k < 2; ++k) {
            rate[k].push_back(double(d[k]->received) / d[k]->writeSeconds / 1e6);
            // What went out on one side and never came on the other, and what came garbled.
            lost[k].push_back(
                    double(d[k]->offered - d[k]->refused - d[k]->received + d[k]->outOfOrder));
            refused[k].push_back(double(d[k]->refused));
        }
        cpu.push_back(f.telvixCpuPercent);
        std::printf("run %d: to_device %.3f/%.3f ms, to_program %.3f/%.3f ms (bare %.3f/%.3f), "
                    "flood %lld/%lld and %lld/%lld bytes, out of order %lld/%lld, cpu %.1f %%\n",
                    r + 1, lat[0].back(), lat[1].back(), lat[2].back(), lat[3].back(),
                    lat[4].back(), lat[6].back(), f.toDevice.received, f.toDevice.offered,
                    f.toProgram.received, f.toProgram.offered, f.toDevice.outOfOrder,
                    f.toProgram.outOfOrder, f.telvixCpuPercent);
        std::fflush(stdout);
    }
    std::printf("latency_to_device_ms median=%.3f p99=%.3f (bare pty %.3f / %.3f)\n",
                median(lat[0]), median(lat[1]), median(lat[4]), median(lat[5]));
    std::printf("latency_to_program_ms median=%.3f p99=%.3f (bare pty %.3f / %.3f)\n",
                median(lat[2]), median(lat[3]), median(lat[6]), median(lat[7]));
    const char *names[2] = {"to_device", "to_program"};
    for (int k = 0; k < 2; ++k)
        std::printf("flood_%s MB_per_s=%.3f lost=%.0f refused=%.0f\n", names[k], median(rate[k]),
                    median(lost[k]), median(refused[k]));
    std::printf("telvix_cpu_percent=%.1f (both ways at 1.2 MB/s)\n", median(cpu));
    return 0;
}
