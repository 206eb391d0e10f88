// SPDX-License-Identifier: MIT
// Starts `telvix-sim stream --pattern counter --rate R`, reads its port as TELVIX would and
// measures the rate over 2 s after a short settling time, several runs per rate.
// Usage: sim_bench [runs] [rate...]   (default 5 runs of 1000, 11520 and 115200 bytes/s)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Measurement
{
    double rate = 0; // bytes per second
    uint64_t lost = 0; // counter bytes that did not follow their predecessor
    bool ok = false;
};

pid_t startSimulator(const std::string &runtime, uint64_t rate, const std::string &name)
{
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO); // its port path would only clutter the figures
        const std::string rateText = std::to_string(rate);
        execl(TELVIX_SIM_PATH, "telvix-sim", "stream", "--pattern", "counter", "--rate",
              rateText.c_str(), "--name", name.c_str(), "--quiet", static_cast<char *>(nullptr));
        _exit(127);
    }
    return pid;
}

int openLink(const std::string &link)
{
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    struct stat st
    { };
    while (lstat(link.c_str(), &st) != 0) {
        if (Clock::now() > deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    termios t {};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

Measurement measure(const std::string &runtime, uint64_t rate, int run)
{
    Measurement m;
    const std::string name = "bench-" + std::to_string(rate) + "-" + std::to_string(run);
    const pid_t sim = startSimulator(runtime, rate, name);
    const int fd = openLink(runtime + "/telvix/" + name);
    if (fd >= 0) {
        const auto settle = Clock::now() + std::chrono::milliseconds(300);
        Clock::time_point windowStart, last;
        bool inWindow = false;
        uint64_t bytes = 0;
        int previous = -1;
        uint8_t buffer[8192];
        for (;;) {
            pollfd p {fd, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0)
                break;
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            const auto now = Clock::now();
            for (ssize_t i = 0; i < n; ++i) {
                if (previous >= 0 && buffer[i] != uint8_t(previous + 1))
                    ++m.lost;
                previous = buffer[i];
            }
            if (!inWindow) {
                if (now >= settle) { // the window opens at the end of this read
                    inWindow = true;
                    windowStart = now;
                }
                continue;
            }
            bytes += uint64_t(n);
            last = now;
            if (last - windowStart >= std::chrono::seconds(2))
                break;
        }
        const double seconds = std::chrono::duration<double>(last - windowStart).count();
        if (inWindow && seconds > 1.9) {
            m.rate = double(bytes) / seconds;
            m.ok = true;
        }
        close(fd);
    }
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
    return m;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    if (runs < 1)
        runs = 1;
    std::vector<uint64_t> rates;
    for (int i = 2; i < argc; ++i)
        rates.push_back(std::strtoull(argv[i], nullptr, 10));
    if (rates.empty())
        rates = {1000, 11520, 115200};

    char runtime[] = "/tmp/sim_bench.XXXXXX";
    if (!mkdtemp(runtime)) {
        std::perror("mkdtemp");
        return 1;
    }
    int failures = 0;
    for (uint64_t rate : rates) {
        std::vector<double> measured;
        uint64_t lost = 0;
        for (int run = 0; run < runs; ++run) {
            const Measurement m = measure(runtime, rate, run);
            if (!m.ok) {
                std::printf("sim_stream_rate target=%llu run=%d failed\n",
                            static_cast<unsigned long long>(rate), run);
                ++failures;
                continue;
            }
            lost += m.lost;
            measured.push_back(m.rate);
            std::printf("sim_stream_rate target=%llu run=%d measured=%.1f error_percent=%.3f\n",
                        static_cast<unsigned long long>(rate), run, m.rate,
                        100.0 * (m.rate - double(rate)) / double(rate));
        }
        const double med = median(measured);
        std::printf("sim_stream_rate target=%llu measured=%.1f error_percent=%.3f runs=%zu "
                    "lost_bytes=%llu (median)\n",
                    static_cast<unsigned long long>(rate), med,
                    100.0 * (med - double(rate)) / double(rate), measured.size(),
                    static_cast<unsigned long long>(lost));
        std::fflush(stdout);
    }
    rmdir((std::string(runtime) + "/telvix").c_str());
    rmdir(runtime);
    return failures ? 1 : 0;
}
