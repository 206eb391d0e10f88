// SPDX-License-Identifier: MIT
// Preloaded into a test (LD_PRELOAD) to give pseudo-terminal slaves what a UART has and a pty
// lacks: handshake lines, break, the driver's counters, TIOCMIWAIT and RS-485, served from the
// shared state in the file TELVIX_FAKELINES names. Every other descriptor, every other request,
// and everything while the variable is unset goes to the C library untouched.
#include "FakeLinesState.h"

#include <asm/termbits.h> // struct termios2, for TCSETS2
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>

using fakelines::State;

namespace {

using IoctlFn = int (*)(int, unsigned long, ...);
using ReadFn = ssize_t (*)(int, void *, size_t);

IoctlFn realIoctl()
{
    static const auto fn = reinterpret_cast<IoctlFn>(dlsym(RTLD_NEXT, "ioctl"));
    return fn;
}

ReadFn realRead()
{
    static const auto fn = reinterpret_cast<ReadFn>(dlsym(RTLD_NEXT, "read"));
    return fn;
}

// The mapping of the file the variable names now. A test may point the variable at a new file
// between its cases; the old mapping stays, as another thread may still be in a call on it.
State *state()
{
    static std::mutex mutex;
    static char mappedPath[PATH_MAX] = {};
    static State *mapped = nullptr;
    const char *path = getenv("TELVIX_FAKELINES");
    if (!path || !*path)
        return nullptr;
    const std::lock_guard lock(mutex);
    if (mapped && strcmp(path, mappedPath) == 0)
        return mapped;
    mapped = nullptr;
    mappedPath[0] = 0;
    const int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st
    { };
    void *p = MAP_FAILED;
    if (fstat(fd, &st) == 0 && size_t(st.st_size) >= sizeof(State))
        p = mmap(nullptr, sizeof(State), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (p == MAP_FAILED)
        return nullptr;
    auto *s = static_cast<State *>(p);
    if (s->magic != fakelines::Magic) {
        munmap(p, sizeof(State));
        return nullptr;
    }
    mapped = s;
    snprintf(mappedPath, sizeof mappedPath, "%s", path);
    return mapped;
}

bool isPtySlave(int fd)
{
    char link[64];
    char target[64] = {};
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    return n > 9 && strncmp(target, "/dev/pts/", 9) == 0;
}

int fail(int error)
{
    errno = error;
    return -1;
}

bool refused(State &s, uint32_t call)
{
    if (!(s.refuse.load() & call))
        return false;
    const int error = s.refuseErrno.load();
    errno = error ? error : ENOTTY;
    return true;
}

void breakOn(State &s)
{
    const fakelines::Locked lock(s);
    if (!s.breakOn.exchange(1))
        s.breakStartUs.store(fakelines::nowUs());
}

void breakOff(State &s)
{
    const fakelines::Locked lock(s);
    if (!s.breakOn.exchange(0))
        return;
    s.lastBreakMs.store(uint32_t((fakelines::nowUs() - s.breakStartUs.load()) / 1000));
    s.breaksSent++;
}

// As the kernel's: a signal ends the wait with EINTR; it waits for a change of the interrupt
// counters of the lines asked for, so a pulse that is over before the waiter looks still counts.
int waitForChange(State &s, unsigned long mask)
{
    const auto snapshot = [&] {
        return uint64_t((mask & TIOCM_CTS) ? s.cts.load() : 0)
                + ((mask & TIOCM_DSR) ? uint64_t(s.dsr.load()) << 16 : 0)
                + ((mask & TIOCM_CD) ? uint64_t(s.dcd.load()) << 32 : 0)
                + ((mask & TIOCM_RNG) ? uint64_t(s.rng.load()) << 48 : 0);
    };
    const uint64_t start = snapshot();
    for (;;) {
        const uint32_t seq = s.sequence.load();
        if (snapshot() != start)
            return 0;
        if (refused(s, fakelines::RefuseWait))
            return -1; // refused while waiting: the device went away
        // A bounded wait, so that a state file replaced under a waiter is noticed.
        timespec limit {0, 100 * 1000000L};
        const long r = syscall(SYS_futex, reinterpret_cast<uint32_t *>(&s.sequence), FUTEX_WAIT,
                               seq, &limit, nullptr, 0);
        if (r < 0 && errno == EINTR)
            return -1;
    }
}

int fakeIoctl(State &s, int fd, unsigned long request, void *arg)
{
    const auto argInt = [&]() -> int * { return static_cast<int *>(arg); };
    switch (request) {
    case TIOCMGET:
        if (refused(s, fakelines::RefuseGet))
            return -1;
        if (!arg)
            return fail(EFAULT);
        *argInt() = int(s.lines.load());
        return 0;
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC: {
        if (refused(s, fakelines::RefuseSet))
            return -1;
        if (!arg)
            return fail(EFAULT);
        const uint32_t bits = uint32_t(*argInt()) & (TIOCM_DTR | TIOCM_RTS);
        const fakelines::Locked lock(s);
        if (request == TIOCMSET)
            s.outputs.store(bits);
        else if (request == TIOCMBIS)
            s.outputs.fetch_or(bits);
        else
            s.outputs.fetch_and(~bits);
        fakelines::settle(s);
        return 0;
    }
    case TIOCMIWAIT:
        if (refused(s, fakelines::RefuseWait))
            return -1;
        return waitForChange(s, reinterpret_cast<unsigned long>(arg));
    case TIOCGICOUNT: {
        if (refused(s, fakelines::RefuseCounts))
            return -1;
        if (!arg)
            return fail(EFAULT);
        serial_icounter_struct c {};
        c.cts = int(s.cts.load());
        c.dsr = int(s.dsr.load());
        c.rng = int(s.rng.load());
        c.dcd = int(s.dcd.load());
        c.rx = int(s.rx.load());
        c.tx = int(s.tx.load());
        c.frame = int(s.frame.load());
        c.overrun = int(s.overrun.load());
        c.parity = int(s.parity.load());
        c.brk = int(s.brk.load());
        c.buf_overrun = int(s.bufOverrun.load());
        memcpy(arg, &c, sizeof c);
        return 0;
    }
    case TIOCSBRK:
    case TIOCCBRK:
        if (refused(s, fakelines::RefuseBreak))
            return -1;
        if (request == TIOCSBRK)
            breakOn(s);
        else
            breakOff(s);
        return 0;
    case TCSBRK:
    case TCSBRKP: {
        const long value = long(reinterpret_cast<intptr_t>(arg));
        // TCSBRK with a non-zero argument is tcdrain(), which the pty does itself.
        if (request == TCSBRK && value != 0)
            return realIoctl()(fd, request, arg);
        if (refused(s, fakelines::RefuseBreak))
            return -1;
        const long ms = request == TCSBRKP && value > 0 ? value * 100 : 250;
        breakOn(s);
        timespec t {ms / 1000, (ms % 1000) * 1000000L};
        while (nanosleep(&t, &t) != 0 && errno == EINTR) { }
        breakOff(s);
        return 0;
    }
    case TIOCSRS485: {
        s.rs485Sets++;
        if (refused(s, fakelines::RefuseRs485Set))
            return -1;
        if (!arg)
            return fail(EFAULT);
        const auto *r = static_cast<const serial_rs485 *>(arg);
        const bool alters =
                (s.refuse.load() & fakelines::Rs485KeepsOther) && (r->flags & SER_RS485_ENABLED);
        const fakelines::Locked lock(s);
        s.rs485Flags.store(alters ? r->flags ^ SER_RS485_RTS_AFTER_SEND : r->flags);
        s.rs485DelayBefore.store(r->delay_rts_before_send);
        s.rs485DelayAfter.store(r->delay_rts_after_send);
        return 0;
    }
    case TIOCGRS485: {
        s.rs485Gets++;
        if (refused(s, fakelines::RefuseRs485Get))
            return -1;
        if (!arg)
            return fail(EFAULT);
        serial_rs485 r {};
        {
            const fakelines::Locked lock(s);
            r.flags = s.rs485Flags.load();
            r.delay_rts_before_send = s.rs485DelayBefore.load();
            r.delay_rts_after_send = s.rs485DelayAfter.load();
        }
        memcpy(arg, &r, sizeof r);
        return 0;
    }
    case TCSETS2:
        if (refused(s, fakelines::RefuseSpeed))
            return -1;
        if (s.refuse.load() & fakelines::IgnoreSpeed)
            return 0;
        return realIoctl()(fd, request, arg);
    default:
        return realIoctl()(fd, request, arg);
    }
}

bool faked(unsigned long request)
{
    switch (request) {
    case TIOCMGET:
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCMIWAIT:
    case TIOCGICOUNT:
    case TIOCSBRK:
    case TIOCCBRK:
    case TCSBRK:
    case TCSBRKP:
    case TCSETS2:
    case TIOCSRS485:
    case TIOCGRS485:
        return true;
    default:
        return false;
    }
}

} // namespace

// glibc declares it variadic; every request here passes at most one pointer-sized argument.
extern "C" int ioctl(int fd, unsigned long request, ...) __THROW
{
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    if (faked(request)) {
        if (State *s = state(); s && isPtySlave(fd))
            return fakeIoctl(*s, fd, request, arg);
    }
    return realIoctl()(fd, request, arg);
}

extern "C" ssize_t read(int fd, void *buffer, size_t count)
{
    State *s = state();
    if (s && count > 0 && s->injectLength.load() > 0 && isPtySlave(fd)) {
        const fakelines::Locked lock(*s);
        const uint32_t length = s->injectLength.load();
        if (length > 0) {
            const size_t n = count < length ? count : length;
            memcpy(buffer, s->inject, n);
            memmove(s->inject, s->inject + n, length - n);
            s->injectLength.store(uint32_t(length - n));
            return ssize_t(n);
        }
    }
    return realRead()(fd, buffer, count);
}

// What read() becomes in a program built with _FORTIFY_SOURCE (as Debian's package builds are).
extern "C" ssize_t __read_chk(int fd, void *buffer, size_t count, size_t bufferSize)
{
    if (count > bufferSize)
        abort(); // as the C library's own check does
    return read(fd, buffer, count);
}
