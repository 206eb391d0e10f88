// SPDX-License-Identifier: MIT
#include "Runner.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace sim {

namespace {

volatile sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

// While no program has the slave open the master reports POLLHUP at once, so it is looked
// at again after this pause instead of in a busy loop.
constexpr auto kIdlePause = std::chrono::milliseconds(25);

timespec toTimespec(Clock::duration d)
{
    if (d < Clock::duration::zero())
        d = Clock::duration::zero();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    return timespec {time_t(ns / 1000000000), long(ns % 1000000000)};
}

enum class ReadOutcome { Open, Closed, Failed };

// Reads what has arrived. Closed: no program has the port open any more (EIO comes after
// the last byte that program wrote, so nothing is lost by stopping there).
ReadOutcome readInput(Device &device, int master, std::string &out, bool untilEmpty,
                      const std::function<void()> &beforeBytes)
{
    uint8_t buffer[4096];
    do {
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n > 0) {
            beforeBytes();
            device.received(buffer, size_t(n), Clock::now(), out);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return ReadOutcome::Open;
        if (n == 0 || errno == EIO)
            return ReadOutcome::Closed;
        return ReadOutcome::Failed;
    } while (untilEmpty);
    return ReadOutcome::Open;
}

} // namespace

void takeStopSignals(sigset_t &previousMask)
{
    struct sigaction action
    { };
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &action, nullptr);
    signal(SIGPIPE, SIG_IGN); // a closed stdout must not kill us before we clean up

    sigset_t stops;
    sigemptyset(&stops);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stops, sig);
    sigprocmask(SIG_BLOCK, &stops, &previousMask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigdelset(&previousMask, sig);
}

bool pauseUnlessStopped(Clock::duration d, const sigset_t &waitMask)
{
    const Clock::time_point until = Clock::now() + d;
    while (!stopRequested) {
        const Clock::time_point now = Clock::now();
        if (now >= until)
            return true;
        const timespec pause = toTimespec(until - now);
        ppoll(nullptr, 0, &pause, &waitMask);
    }
    return false;
}

RunResult runDevice(Device &device, int master, const sigset_t &waitMask,
                    const std::function<void(const std::string &)> &log,
                    std::optional<Clock::duration> unplugAfter)
{
    bool connected = false;
    std::string out; // bytes the pseudo-terminal has not taken yet
    std::optional<Clock::time_point> wake;
    // Set at the first opening and kept through later ones: an adapter is pulled at a time
    // of its own, not whenever the program last reopened it.
    std::optional<Clock::time_point> unplugAt;
    const auto markConnected = [&] {
        if (connected)
            return;
        connected = true;
        device.connected(Clock::now());
        if (unplugAfter && !unplugAt)
            unplugAt = Clock::now() + *unplugAfter;
        log("port opened");
    };

    while (!stopRequested) {
        if (unplugAt && Clock::now() >= *unplugAt) {
            // What the line had not taken is lost with it, as in a pulled adapter.
            if (connected)
                device.disconnected();
            RunResult pulled;
            pulled.unplugged = true;
            return pulled;
        }
        if (connected)
            wake = device.produce(Clock::now(), out);
        if (unplugAt && (!wake || *unplugAt < *wake))
            wake = unplugAt;

        pollfd p {master, 0, 0};
        // Not reading while answers pile up lets the writer's own flow control hold it back.
        if (out.size() < 2 * kOutboxLimit)
            p.events |= POLLIN;
        if (connected && !out.empty())
            p.events |= POLLOUT;
        timespec timeout {};
        const timespec *timeoutPtr = &timeout;
        if (connected) {
            if (wake)
                timeout = toTimespec(*wake - Clock::now());
            else
                timeoutPtr = nullptr;
        }
        const int ready = ppoll(&p, 1, timeoutPtr, &waitMask);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return {1, std::string("ppoll: ") + std::strerror(errno)};
        }
        if (p.revents & POLLNVAL)
            return {1, "the pseudo-terminal went away"};

        if (p.revents & POLLHUP) {
            // A program may have opened the port, written and closed it again within one
            // pause; its bytes still make a visit of their own.
            if (readInput(device, master, out, true, markConnected) == ReadOutcome::Failed)
                return {1, std::string("read: ") + std::strerror(errno)};
            // The hang-up may be that of a program that has already opened the port again and
            // written: then what was just read, and the answers to it, belong to the new visit.
            pollfd again {master, 0, 0};
            const timespec now {};
            if (ppoll(&again, 1, &now, &waitMask) >= 0 && !(again.revents & POLLHUP)) {
                markConnected();
                continue;
            }
            if (connected) {
                connected = false;
                out.clear();
                device.disconnected();
                const std::string note = device.closedNote();
                log(note.empty() ? "port closed" : "port closed, " + note);
            }
            if (device.finished())
                break;
            Clock::duration idle = kIdlePause;
            if (unplugAt)
                idle = std::min(idle, *unplugAt - Clock::now());
            const timespec pause = toTimespec(idle);
            ppoll(nullptr, 0, &pause, &waitMask);
            continue;
        }
        markConnected();
        if (p.revents & POLLIN) {
            if (readInput(device, master, out, false, markConnected) == ReadOutcome::Failed)
                return {1, std::string("read: ") + std::strerror(errno)};
        }
        if ((p.revents & POLLOUT) && !out.empty()) {
            const ssize_t n = write(master, out.data(), out.size());
            if (n > 0) {
                device.sent(reinterpret_cast<const uint8_t *>(out.data()), size_t(n));
                out.erase(0, size_t(n));
            } else if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)
                return {1, std::string("write: ") + std::strerror(errno)};
        }
    }
    return {};
}

} // namespace sim
