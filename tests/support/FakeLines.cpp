// SPDX-License-Identifier: MIT
#include "FakeLines.h"

#include "FakeLinesState.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/mman.h>
#include <sys/stat.h>

using fakelines::State;

namespace {

uint32_t tiocmOf(uint8_t lines)
{
    uint32_t bits = 0;
    bits |= (lines & serial::Cts) ? TIOCM_CTS : 0;
    bits |= (lines & serial::Dsr) ? TIOCM_DSR : 0;
    bits |= (lines & serial::Dcd) ? TIOCM_CAR : 0;
    bits |= (lines & serial::Ri) ? TIOCM_RNG : 0;
    bits |= (lines & serial::Dtr) ? TIOCM_DTR : 0;
    bits |= (lines & serial::Rts) ? TIOCM_RTS : 0;
    return bits;
}

uint8_t linesOf(uint32_t bits)
{
    uint8_t lines = 0;
    lines |= (bits & TIOCM_CTS) ? serial::Cts : 0;
    lines |= (bits & TIOCM_DSR) ? serial::Dsr : 0;
    lines |= (bits & TIOCM_CAR) ? serial::Dcd : 0;
    lines |= (bits & TIOCM_RNG) ? serial::Ri : 0;
    lines |= (bits & TIOCM_DTR) ? serial::Dtr : 0;
    lines |= (bits & TIOCM_RTS) ? serial::Rts : 0;
    return lines;
}

} // namespace

FakeLines::FakeLines()
{
    if (!m_dir.isValid())
        return;
    m_path = m_dir.filePath(QStringLiteral("lines"));
    const QByteArray path = m_path.toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    void *p = MAP_FAILED;
    if (ftruncate(fd, sizeof(State)) == 0)
        p = mmap(nullptr, sizeof(State), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (p == MAP_FAILED)
        return;
    // The file is zeros: every atomic starts at 0; the magic goes last, as the interposer
    // takes the file only with it.
    m_state = static_cast<State *>(p);
    std::atomic_ref<uint32_t>(m_state->magic).store(fakelines::Magic);
    setenv("TELVIX_FAKELINES", path.constData(), 1);
    m_owner = true;
}

FakeLines::FakeLines(const QString &existingPath) : m_path(existingPath)
{
    const int fd = ::open(existingPath.toLocal8Bit().constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st
    { };
    void *p = MAP_FAILED;
    if (fstat(fd, &st) == 0 && size_t(st.st_size) >= sizeof(State))
        p = mmap(nullptr, sizeof(State), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (p == MAP_FAILED)
        return;
    m_state = static_cast<State *>(p);
    if (std::atomic_ref<uint32_t>(m_state->magic).load() != fakelines::Magic) {
        munmap(p, sizeof(State));
        m_state = nullptr;
    }
}

FakeLines::~FakeLines()
{
    if (!m_state)
        return;
    if (m_owner)
        unsetenv("TELVIX_FAKELINES");
    munmap(m_state, sizeof(State));
}

QString FakeLines::path() const { return m_path; }

bool FakeLines::active()
{
    // A pty slave refuses TIOCMGET; with the interposer it answers.
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return false;
    int bits = 0;
    const bool answered = getenv("TELVIX_FAKELINES") && ioctl(slave, TIOCMGET, &bits) == 0;
    ::close(slave);
    ::close(master);
    return answered;
}

void FakeLines::setInputs(uint8_t lines)
{
    const fakelines::Locked lock(*m_state);
    m_state->inputs.store(tiocmOf(lines & serial::InputLines));
    fakelines::settle(*m_state);
}

void FakeLines::setInput(serial::ModemLine line, bool on)
{
    const fakelines::Locked lock(*m_state);
    const uint32_t bit = tiocmOf(line & serial::InputLines);
    if (on)
        m_state->inputs.fetch_or(bit);
    else
        m_state->inputs.fetch_and(~bit);
    fakelines::settle(*m_state);
}

uint8_t FakeLines::outputs() const { return linesOf(m_state->outputs.load()); }

void FakeLines::setWiring(uint32_t wires)
{
    const fakelines::Locked lock(*m_state);
    m_state->wiring.store(wires);
    fakelines::settle(*m_state);
}

void FakeLines::setRefused(uint32_t calls, int error)
{
    m_state->refuseErrno.store(error);
    m_state->refuse.store(calls);
    // A waiter looks again at once.
    m_state->sequence++;
    fakelines::wake(*m_state);
}

void FakeLines::addErrors(const serial::ErrorCounts &more)
{
    m_state->frame += more.frame;
    m_state->parity += more.parity;
    m_state->overrun += more.overrun;
    m_state->bufOverrun += more.bufferOverrun;
    m_state->brk += more.breaks;
}

uint32_t FakeLines::lineInterrupts() const
{
    return m_state->cts.load() + m_state->dsr.load() + m_state->dcd.load() + m_state->rng.load();
}

bool FakeLines::inject(const QByteArray &bytes)
{
    const fakelines::Locked lock(*m_state);
    const uint32_t length = m_state->injectLength.load();
    if (length + size_t(bytes.size()) > fakelines::InjectCapacity)
        return false;
    std::memcpy(m_state->inject + length, bytes.constData(), size_t(bytes.size()));
    m_state->injectLength.store(length + uint32_t(bytes.size()));
    return true;
}

qsizetype FakeLines::injectedLeft() const { return qsizetype(m_state->injectLength.load()); }

FakeLines::BreakRecord FakeLines::breaks() const
{
    return {m_state->breaksSent.load(), m_state->lastBreakMs.load(), m_state->breakOn.load() != 0};
}

FakeLines::Rs485Record FakeLines::rs485() const
{
    const fakelines::Locked lock(*m_state);
    return {m_state->rs485Flags.load(), m_state->rs485DelayBefore.load(),
            m_state->rs485DelayAfter.load(), m_state->rs485Sets.load(), m_state->rs485Gets.load()};
}

void FakeLines::setRs485(uint32_t flags, uint32_t delayBeforeMs, uint32_t delayAfterMs)
{
    const fakelines::Locked lock(*m_state);
    m_state->rs485Flags.store(flags);
    m_state->rs485DelayBefore.store(delayBeforeMs);
    m_state->rs485DelayAfter.store(delayAfterMs);
}
