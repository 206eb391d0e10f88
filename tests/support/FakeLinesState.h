// SPDX-License-Identifier: MIT
// The state a pseudo-terminal is given by the fakelines interposer: the handshake lines, the
// counters, the breaks and the RS-485 setting a real UART would have. It lives in a file that every
// process maps shared (the test, the program under test, a simulator), so all fields are atomics,
// and the changes that touch more than one field hold `lock`. Plain C++: the interposer links
// nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <linux/futex.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fakelines {

inline constexpr uint32_t Magic = 0x46414b4c; // "FAKL"

// Which calls `refuse` turns away (with `refuseErrno`, ENOTTY unless set).
enum Refuse : uint32_t {
    RefuseGet = 1, // TIOCMGET
    RefuseSet = 2, // TIOCMSET, TIOCMBIS, TIOCMBIC
    RefuseWait = 4, // TIOCMIWAIT
    RefuseCounts = 8, // TIOCGICOUNT
    RefuseBreak = 16, // TIOCSBRK, TIOCCBRK, TCSBRK, TCSBRKP
    RefuseSpeed = 32, // TCSETS2: a speed outside the classic list
    IgnoreSpeed = 64, // TCSETS2 succeeds but leaves the speed as it was, as a lax driver does
    RefuseRs485Set = 128, // TIOCSRS485: a UART without RS-485
    RefuseRs485Get = 256, // TIOCGRS485: with RefuseRs485Set, as a USB adapter's driver
    // TIOCSRS485 succeeds but keeps RTS after send the other way while RS-485 is on, as a
    // driver with its own idea of the wiring; TIOCGRS485 tells what it kept.
    Rs485KeepsOther = 512,
};

// The wires of a loopback plug; a pair left out models a broken wire.
enum Wiring : uint32_t {
    RtsToCts = 1,
    DtrToDsr = 2,
    DtrToDcd = 4,
};

inline constexpr uint32_t InjectCapacity = 4096;

struct State
{
    uint32_t magic;
    // TIOCM_ bits. `inputs` is what the far end drives; `lines` what a TIOCMGET reads: the
    // inputs with the looped ones replaced by the outputs they are wired to, and the outputs.
    std::atomic<uint32_t> inputs;
    std::atomic<uint32_t> outputs;
    std::atomic<uint32_t> lines;
    std::atomic<uint32_t> wiring;
    std::atomic<uint32_t> refuse;
    std::atomic<int32_t> refuseErrno;
    // Bumped on every change of an input line; TIOCMIWAIT waits on it (a futex word).
    std::atomic<uint32_t> sequence;
    // As struct serial_icounter_struct: the interrupts of each input line and the conditions.
    std::atomic<uint32_t> cts, dsr, rng, dcd, rx, tx, frame, overrun, parity, brk, bufOverrun;
    // Breaks held with TIOCSBRK … TIOCCBRK or sent with TCSBRK/TCSBRKP.
    std::atomic<uint32_t> breakOn;
    std::atomic<uint32_t> breaksSent;
    std::atomic<uint32_t> lastBreakMs;
    std::atomic<int64_t> breakStartUs;
    // Bytes the next read() of a faked descriptor returns before the driver's own.
    std::atomic<uint32_t> injectLength;
    uint8_t inject[InjectCapacity];
    std::atomic<uint32_t> lock;
    // struct serial_rs485 as the last TIOCSRS485 left it (flags and the two delays), and how
    // often each of the two calls was made.
    std::atomic<uint32_t> rs485Flags, rs485DelayBefore, rs485DelayAfter;
    std::atomic<uint32_t> rs485Sets, rs485Gets;
};

inline int64_t nowUs()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

class Locked
{
public:
    explicit Locked(State &s) : m_s(s)
    {
        while (m_s.lock.exchange(1, std::memory_order_acquire) != 0)
            sched_yield();
    }
    ~Locked() { m_s.lock.store(0, std::memory_order_release); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;

private:
    State &m_s;
};

inline void wake(State &s)
{
    syscall(SYS_futex, reinterpret_cast<uint32_t *>(&s.sequence), FUTEX_WAKE, INT32_MAX, nullptr,
            nullptr, 0);
}

// Recomputes what TIOCMGET reads after a change of inputs, outputs or wiring and counts the
// edges the way a UART's interrupts do (RI on its trailing edge only). Holds the lock.
inline void settle(State &s)
{
    constexpr uint32_t cts = TIOCM_CTS, dsr = TIOCM_DSR, car = TIOCM_CAR, rng = TIOCM_RNG;
    constexpr uint32_t dtr = TIOCM_DTR, rts = TIOCM_RTS;
    const uint32_t outputs = s.outputs.load() & (dtr | rts);
    uint32_t in = s.inputs.load() & (cts | dsr | car | rng);
    const uint32_t w = s.wiring.load();
    const auto loop = [&](uint32_t wire, uint32_t from, uint32_t to) {
        if (w & wire)
            in = (in & ~to) | ((outputs & from) ? to : 0);
    };
    loop(RtsToCts, rts, cts);
    loop(DtrToDsr, dtr, dsr);
    loop(DtrToDcd, dtr, car);
    const uint32_t before = s.lines.load();
    const uint32_t changed = (before ^ in) & (cts | dsr | car | rng);
    s.lines.store(in | outputs);
    if (!changed)
        return;
    if (changed & cts)
        s.cts++;
    if (changed & dsr)
        s.dsr++;
    if (changed & car)
        s.dcd++;
    if ((changed & rng) && !(in & rng))
        s.rng++;
    s.sequence++;
    wake(s);
}

} // namespace fakelines
