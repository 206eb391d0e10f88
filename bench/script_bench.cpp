// SPDX-License-Identifier: MIT
// What a script costs in time, run as a test station runs it (`telvix --run`) on a
// pseudo-terminal whose master this program plays as the device:
//
//   expect   the device writes a numbered marker every 10 ms; the script expects each and
//            prints now() as expect returns: from the device's write to expect's return
//            (median, p99), on the one monotonic clock both sides read
//   send     the script sends 64-byte strings in a loop while the device drains the line:
//            bytes a second
//   stop     Ctrl+C to a script in a loop that calls nothing: until the program has exited
//
// script_bench [--runs N]; each figure the median of the runs.
#include "BenchFigures.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using bench::nowMs;
using bench::percentile;

struct Line
{
    int master = -1;
    std::string slave;
    Line()
    {
        int s = -1;
        char name[128] = {};
        if (openpty(&master, &s, name, nullptr, nullptr) == 0) {
            ::close(s);
            // A read must never wait: the device also writes on its own clock.
            fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
            slave = name;
        }
    }
    ~Line()
    {
        if (master >= 0)
            ::close(master);
    }
};

// The device: drains the line, and every `everyMs` writes the next marker "<n>;".
struct Device
{
    explicit Device(int fd) : master(fd) { }
    int master;
    int markers = 0;
    int everyMs = 10;
    std::atomic<bool> running {true};
    std::atomic<bool> go {false}; // the script is ready: the markers may come
    std::atomic<long long> drained {0};
    std::vector<double> written;
    std::thread thread;

    void start()
    {
        thread = std::thread([this] {
            char buffer[65536];
            double next = 0;
            int n = 0;
            while (running) {
                if (go && next == 0)
                    next = nowMs();
                if (go && n < markers && nowMs() >= next) {
                    const std::string m = "<" + std::to_string(n) + ">";
                    written.push_back(nowMs());
                    if (::write(master, m.data(), m.size()) < 0) {
                        std::fprintf(stderr, "script_bench: the device cannot write: %s\n",
                                     std::strerror(errno));
                        break;
                    }
                    ++n;
                    next += everyMs;
                }
                pollfd p {master, POLLIN, 0};
                if (::poll(&p, 1, 1) > 0) {
                    const ssize_t got = ::read(master, buffer, sizeof buffer);
                    if (got > 0)
                        drained += got;
                }
            }
        });
    }
    void stop()
    {
        running = false;
        if (thread.joinable())
            thread.join();
    }
};

QProcess *run(QTemporaryDir &dir, const QByteArray &script, const Line &line)
{
    const QString path = dir.filePath(QStringLiteral("bench.lua"));
    FILE *f = std::fopen(path.toLocal8Bit().constData(), "wb");
    std::fwrite(script.constData(), 1, size_t(script.size()), f);
    std::fclose(f);
    auto *p = new QProcess;
    p->start(QStringLiteral(TELVIX_PATH),
             {QStringLiteral("--run"), path, QStringLiteral("--port"),
              QString::fromStdString(line.slave)});
    p->waitForStarted();
    return p;
}

struct Figures
{
    double expectMedianMs = 0, expectP99Ms = 0, sendBytesPerS = 0, stopMs = 0;
};

Figures once(QTemporaryDir &dir)
{
    Figures f;
    {
        constexpr int Markers = 300;
        Line line;
        Device device(line.master);
        device.markers = Markers;
        device.start();
        QProcess *p = run(dir,
                          "print('ready')\nfor i = 0, " + QByteArray::number(Markers - 1)
                                  + " do\n"
                                    "  assert(expect('<' .. i .. '>', 5000))\n"
                                    "  print(string.format('%.3f', now()))\n"
                                    "end\n",
                          line);
        // The port is open once the script speaks: what came before the opening would be gone.
        p->waitForReadyRead(10000);
        device.go = true;
        p->waitForFinished(60000);
        device.stop();
        if (p->exitCode() != 0)
            std::fprintf(stderr, "script_bench: expect run: %s\n",
                         p->readAllStandardError().constData());
        std::vector<double> lags;
        QList<QByteArray> lines = p->readAllStandardOutput().split('\n');
        lines.removeFirst(); // ready
        for (int i = 0; i < lines.size() && size_t(i) < device.written.size(); ++i) {
            if (!lines[i].isEmpty())
                lags.push_back(lines[i].toDouble() - device.written[size_t(i)]);
        }
        f.expectMedianMs = percentile(lags, 0.5);
        f.expectP99Ms = percentile(lags, 0.99);
        delete p;
    }
    {
        Line line;
        Device device(line.master);
        device.start();
        QProcess *p = run(dir,
                          "local s = ('x'):rep(64)\n"
                          "local t = now()\n"
                          "for i = 1, 40000 do send(s) end\n"
                          "print(string.format('%.3f', now() - t))\n",
                          line);
        p->waitForFinished(120000);
        const double ms = p->readAllStandardOutput().trimmed().toDouble();
        device.stop();
        f.sendBytesPerS = ms > 0 ? 40000.0 * 64 * 1000.0 / ms : 0;
        delete p;
    }
    {
        Line line;
        Device device(line.master);
        device.start();
        QProcess *p = run(dir, "print('going')\nwhile true do end\n", line);
        p->waitForReadyRead(10000);
        const double t = nowMs();
        ::kill(pid_t(p->processId()), SIGINT);
        p->waitForFinished(10000);
        f.stopMs = nowMs() - t;
        device.stop();
        delete p;
    }
    return f;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int runs = 3;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs"))
            runs = std::max(1, std::atoi(argv[++i]));
    }
    QTemporaryDir dir;
    std::vector<Figures> all;
    for (int r = 0; r < runs; ++r)
        all.push_back(once(dir));
    const auto of = [&](double Figures::*field) {
        std::vector<double> v;
        for (const Figures &f : all)
            v.push_back(f.*field);
        return percentile(v, 0.5);
    };
    std::printf(
            "expect_ms median=%.3f p99=%.3f  send_bytes_per_s=%.0f  stop_ms=%.1f  (medians of %d "
            "runs)\n",
            of(&Figures::expectMedianMs), of(&Figures::expectP99Ms), of(&Figures::sendBytesPerS),
            of(&Figures::stopMs), runs);
    return 0;
}
