// SPDX-License-Identifier: MIT
#include "NetworkLine.h"

#include "traffic/Logging.h"
#include "traffic/SystemError.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <thread>

namespace serial {

namespace {

using Clock = std::chrono::steady_clock;
constexpr int SliceMs = 50;
// How often a write that waits for room asks its hook, as a tty's write does.
constexpr int WriteSliceMs = 20;

int msLeft(Clock::time_point deadline)
{
    return int(std::max<int64_t>(
            0,
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count()));
}

// getaddrinfo may take as long as a name server does; it runs on a thread of its own so that
// the wait can be given up. A thread given up on ends on its own and frees what it found; until
// then it is the lookup of its host and port that the next attempt joins.
struct Resolution
{
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int status = 0;
    int systemError = 0; // errno of the lookup's thread, for EAI_SYSTEM
    addrinfo *result = nullptr;
    ~Resolution()
    {
        if (result)
            freeaddrinfo(result);
    }
};

std::mutex lookupsMutex;
std::map<std::string, std::weak_ptr<Resolution>> &runningLookups()
{
    static std::map<std::string, std::weak_ptr<Resolution>> lookups;
    return lookups;
}

std::shared_ptr<Resolution> resolve(const NetworkAddress &address)
{
    const std::string port = std::to_string(address.port);
    const std::string key = address.host + '\n' + port;
    const std::lock_guard registry(lookupsMutex);
    if (std::shared_ptr<Resolution> running = runningLookups()[key].lock())
        return running;
    auto resolution = std::make_shared<Resolution>();
    runningLookups()[key] = resolution;
    std::thread([resolution, key, host = address.host, port] {
        addrinfo hints {};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        // A name in another script is looked up as the name server knows it (punycode).
        hints.ai_flags = AI_IDN;
        addrinfo *found = nullptr;
        const int status = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
        const int systemError = status == EAI_SYSTEM ? errno : 0;
        {
            // The next attempt looks up anew: a name server may know better by then.
            const std::lock_guard registry(lookupsMutex);
            const auto it = runningLookups().find(key);
            if (it != runningLookups().end() && it->second.lock() == resolution)
                runningLookups().erase(it);
        }
        const std::lock_guard lock(resolution->mutex);
        resolution->status = status;
        resolution->systemError = systemError;
        resolution->result = found;
        resolution->finished = true;
        resolution->done.notify_all();
    }).detach();
    return resolution;
}

// What finds a peer that has gone without a word, and no Nagle delay: a serial line has no use
// for it.
void tuneSocket(int fd)
{
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &KeepIdleS, sizeof KeepIdleS);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &KeepIntervalS, sizeof KeepIntervalS);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &KeepCount, sizeof KeepCount);
    const unsigned userTimeout = UserTimeoutMs;
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
}

// The user reads the cause in Chinese; the call's own words are in the logging category.
std::string withErrno(const std::string &what, int error)
{
    return what + " (" + SystemError::words(error).toStdString() + ")";
}

Connected failed(int error, std::string reason)
{
    Connected c;
    c.error = error;
    c.reason = std::move(reason);
    return c;
}

// The one attempt on one address: in progress until the socket is writable, then its error.
int tryConnect(const addrinfo &candidate, Clock::time_point deadline, const WaitHook &keepWaiting,
               bool &calledOff, int &fdOut)
{
    const int fd =
            ::socket(candidate.ai_family, candidate.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                     candidate.ai_protocol);
    if (fd < 0)
        return errno;
    if (::connect(fd, candidate.ai_addr, candidate.ai_addrlen) == 0) {
        fdOut = fd;
        return 0;
    }
    if (errno != EINPROGRESS) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    for (;;) {
        const int left = msLeft(deadline);
        if (left == 0) {
            ::close(fd);
            return ETIMEDOUT;
        }
        pollfd p {fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, std::min(left, SliceMs));
        if (r < 0 && errno != EINTR) {
            const int error = errno;
            ::close(fd);
            return error;
        }
        if (r > 0) {
            int error = 0;
            socklen_t length = sizeof error;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
            if (error != 0) {
                ::close(fd);
                return error;
            }
            fdOut = fd;
            return 0;
        }
        if (keepWaiting && !keepWaiting()) {
            calledOff = true;
            ::close(fd);
            return ECANCELED;
        }
    }
}

} // namespace

Connected connectTo(const NetworkAddress &address, int timeoutMs, const WaitHook &keepWaiting)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::shared_ptr<Resolution> resolution = resolve(address);
    {
        std::unique_lock lock(resolution->mutex);
        while (!resolution->finished) {
            const int left = msLeft(deadline);
            if (left == 0)
                return failed(ETIMEDOUT,
                              "找不到主機 " + quotedHost(address.host) + " (名稱查詢逾時)");
            resolution->done.wait_for(lock, std::chrono::milliseconds(std::min(left, SliceMs)));
            if (!resolution->finished && keepWaiting) {
                lock.unlock();
                const bool keep = keepWaiting();
                lock.lock();
                if (!keep) {
                    Connected c = failed(ECANCELED, {});
                    c.calledOff = true;
                    return c;
                }
            }
        }
    }
    if (resolution->status != 0) {
        qCDebug(lcSerial, "getaddrinfo failed on %s: %s (status %d, errno %d)",
                addressText(address).c_str(), gai_strerror(resolution->status), resolution->status,
                resolution->systemError);
        return failed(
                EHOSTUNREACH,
                "找不到主機 " + quotedHost(address.host) + " ("
                        + SystemError::lookupWords(resolution->status, resolution->systemError)
                                  .toStdString()
                        + ")");
    }
    int error = EHOSTUNREACH;
    for (const addrinfo *candidate = resolution->result; candidate;
         candidate = candidate->ai_next) {
        bool calledOff = false;
        int fd = -1;
        error = tryConnect(*candidate, deadline, keepWaiting, calledOff, fd);
        if (calledOff) {
            Connected c = failed(ECANCELED, {});
            c.calledOff = true;
            return c;
        }
        if (error != 0) {
            errno = error;
            Logging::failedCall(lcSerial,
                                candidate->ai_family == AF_INET6 ? "connect (IPv6)"
                                                                 : "connect (IPv4)",
                                QString::fromStdString(addressText(address)));
        }
        if (error == 0) {
            tuneSocket(fd);
            Connected c;
            c.fd = fd;
            return c;
        }
        if (error == ETIMEDOUT)
            break;
    }
    const std::string where = addressText(address);
    if (error == ETIMEDOUT)
        return failed(error,
                      "連線到 " + where + " 逾時 (" + std::to_string(timeoutMs / 1000)
                              + " 秒內沒有回應)");
    if (error == ECONNREFUSED)
        return failed(error, "連線到 " + where + " 被拒絕");
    return failed(error, withErrno("無法連線到 " + where, error));
}

// ---- the writer

SocketWriter::SocketWriter(int fd)
    : m_fd(::fcntl(fd, F_DUPFD_CLOEXEC, 0)), m_stopFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    // Its own descriptor: the socket cannot be closed and its number given to another file
    // while the flusher still polls it.
    if (m_fd < 0)
        m_error = errno;
}

SocketWriter::~SocketWriter()
{
    stop();
    if (m_flusher.joinable())
        m_flusher.join();
    if (m_fd >= 0)
        ::close(m_fd);
    ::close(m_stopFd);
}

void SocketWriter::stop()
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopped)
            return;
        m_stopped = true;
    }
    // Never read back: every poll from now on sees it.
    const uint64_t one = 1;
    while (::write(m_stopFd, &one, sizeof one) < 0 && errno == EINTR) { }
    m_changed.notify_all();
}

bool SocketWriter::pause(int ms)
{
    std::unique_lock lock(m_mutex);
    return !m_changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stopped; });
}

size_t SocketWriter::pending() const
{
    const std::lock_guard lock(m_mutex);
    return m_pending;
}

uint64_t SocketWriter::appendLocked(const uint8_t *bytes, size_t count)
{
    Unit unit;
    unit.bytes.assign(bytes, bytes + count);
    unit.id = m_nextId++;
    m_pending += count;
    m_units.push_back(std::move(unit));
    return m_units.back().id;
}

void SocketWriter::flushLocked()
{
    while (!m_units.empty() && m_error == 0) {
        Unit &unit = m_units.front();
        const ssize_t n = ::send(m_fd, unit.bytes.data() + unit.offset,
                                 unit.bytes.size() - unit.offset, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            unit.offset += size_t(n);
            m_pending -= size_t(n);
            if (unit.offset == unit.bytes.size())
                m_units.pop_front();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        m_error = n < 0 ? errno : EPIPE;
    }
}

bool SocketWriter::doneLocked(uint64_t id) const
{
    // Units leave in order: one older than the first still waiting has gone out.
    return m_units.empty() || m_units.front().id > id;
}

void SocketWriter::giveUpLocked(uint64_t id)
{
    const auto it = std::find_if(m_units.begin(), m_units.end(),
                                 [id](const Unit &u) { return u.id == id; });
    if (it == m_units.end())
        return;
    if (it->offset == 0) {
        m_pending -= it->bytes.size();
        m_units.erase(it);
        return;
    }
    startFlusherLocked();
}

void SocketWriter::startFlusherLocked()
{
    if (!m_flusher.joinable() && !m_stopped)
        m_flusher = std::thread(&SocketWriter::flusherMain, this);
    m_changed.notify_all();
}

void SocketWriter::flusherMain()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopped || (!m_units.empty() && m_error == 0); });
        if (m_stopped)
            return;
        lock.unlock();
        pollfd fds[2] = {{m_fd, POLLOUT, 0}, {m_stopFd, POLLIN, 0}};
        const int r = ::poll(fds, 2, -1);
        lock.lock();
        if (r > 0 && fds[0].revents != 0)
            flushLocked();
    }
}

bool SocketWriter::post(const uint8_t *bytes, size_t count)
{
    const std::lock_guard lock(m_mutex);
    if (m_stopped || m_error != 0 || m_pending + count > PostedBound)
        return false;
    appendLocked(bytes, count);
    flushLocked();
    if (!m_units.empty() && m_error == 0)
        startFlusherLocked();
    return m_error == 0;
}

SocketWriter::Result SocketWriter::write(const uint8_t *bytes, size_t count, const WaitHook &hook,
                                         int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    if (m_stopped)
        return Result::Stopped;
    if (m_error != 0)
        return Result::Broken;
    const uint64_t id = appendLocked(bytes, count);
    flushLocked();
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (doneLocked(id))
            return Result::Sent;
        if (m_error != 0)
            return Result::Broken;
        if (m_stopped) {
            giveUpLocked(id);
            return Result::Stopped;
        }
        const int left = msLeft(deadline);
        if (left == 0) {
            giveUpLocked(id);
            return Result::TimedOut;
        }
        // The wait holds no lock: the hook may run the window, which may post a command.
        lock.unlock();
        pollfd fds[2] = {{m_fd, POLLOUT, 0}, {m_stopFd, POLLIN, 0}};
        const int r = ::poll(fds, 2, std::min(left, WriteSliceMs));
        const bool keep = r != 0 || !hook || hook();
        lock.lock();
        if (!keep) {
            if (doneLocked(id))
                return Result::Sent;
            giveUpLocked(id);
            return Result::Refused;
        }
        if (r > 0 && fds[0].revents != 0)
            flushLocked();
    }
}

// ---- the Telnet link

bool TelnetLink::send(const rfc2217::Bytes &bytes)
{
    return m_writer.post(bytes.data(), bytes.size());
}

bool TelnetLink::writeByte(uint8_t byte, const WaitHook &hook)
{
    rfc2217::Bytes wire;
    rfc2217::appendData(&byte, 1, wire);
    return m_writer.write(wire.data(), wire.size(), hook) == SocketWriter::Result::Sent;
}

void TelnetLink::take(const rfc2217::Answer &answer)
{
    using rfc2217::Command;
    if (answer.command == Command::NotifyModemState) {
        m_inputs = rfc2217::modemLinesFromWire(uint8_t(answer.value));
        const std::lock_guard lock(m_countMutex);
        const uint8_t deltas = uint8_t(answer.value);
        m_interrupts.cts += (deltas & 0x01) ? 1 : 0;
        m_interrupts.dsr += (deltas & 0x02) ? 1 : 0;
        m_interrupts.ri += (deltas & 0x04) ? 1 : 0;
        m_interrupts.dcd += (deltas & 0x08) ? 1 : 0;
        return;
    }
    if (answer.command == Command::NotifyLineState) {
        const std::lock_guard lock(m_countMutex);
        const uint8_t state = uint8_t(answer.value);
        m_errors.overrun += (state & rfc2217::linestate::Overrun) ? 1 : 0;
        m_errors.parity += (state & rfc2217::linestate::Parity) ? 1 : 0;
        m_errors.frame += (state & rfc2217::linestate::Framing) ? 1 : 0;
        m_errors.breaks += (state & rfc2217::linestate::Break) ? 1 : 0;
        return;
    }
    const std::lock_guard lock(m_countMutex);
    // Only configure() reads them, right after asking; the answers to the line's controls
    // during a mode would otherwise pile up.
    if (m_answers.size() >= 64)
        m_answers.erase(m_answers.begin());
    m_answers.push_back(answer);
}

void TelnetLink::incoming(const uint8_t *bytes, size_t count, std::vector<uint8_t> &data)
{
    std::vector<rfc2217::Answer> answers;
    rfc2217::Bytes reply;
    m_decoder.feed(bytes, count, data, answers, reply);
    if (!reply.empty())
        send(reply);
    for (const rfc2217::Answer &a : answers)
        take(a);
}

namespace {

// The four parameters, and the flow control unless the line keeps its own.
rfc2217::Bytes parameterCommands(const LineParams &params)
{
    rfc2217::Bytes out;
    const auto add = [&out](const rfc2217::Bytes &command) {
        out.insert(out.end(), command.begin(), command.end());
    };
    add(rfc2217::setBaudRate(uint32_t(std::max(params.baudRate, 0))));
    add(rfc2217::setDataSize(params.dataBits));
    add(rfc2217::setParity(params.parity));
    add(rfc2217::setStopSize(params.stopBits));
    if (params.flow != FlowControl::Keep) {
        add(rfc2217::setControl(params.flow == FlowControl::RtsCts ? rfc2217::control::Hardware
                                        : params.flow == FlowControl::XonXoff
                                        ? rfc2217::control::XonXoff
                                        : rfc2217::control::NoFlow));
    }
    return out;
}

} // namespace

bool TelnetLink::sendParameters(const LineParams &params)
{
    return params.baudRate > 0 && send(parameterCommands(params));
}

std::string TelnetLink::configure(const LineParams &params, int timeoutMs,
                                  const WaitHook &keepWaiting, std::vector<uint8_t> &early,
                                  bool &calledOff)
{
    calledOff = false;
    using rfc2217::Command;
    rfc2217::Bytes out = rfc2217::greeting();
    const auto add = [&out](const rfc2217::Bytes &command) {
        out.insert(out.end(), command.begin(), command.end());
    };
    add(parameterCommands(params));
    std::vector<Command> awaited {Command::SetBaudRate, Command::SetDataSize, Command::SetParity,
                                  Command::SetStopSize};
    if (params.flow != FlowControl::Keep)
        awaited.push_back(Command::SetControl);
    // Every change of the handshake lines, and the errors, as notifications.
    add(rfc2217::setModemStateMask(0xFF));
    add(rfc2217::setLineStateMask(rfc2217::linestate::Overrun | rfc2217::linestate::Parity
                                  | rfc2217::linestate::Framing | rfc2217::linestate::Break));
    {
        const std::lock_guard lock(m_countMutex);
        m_answers.clear();
    }
    switch (m_writer.write(out.data(), out.size(), keepWaiting, timeoutMs)) {
    case SocketWriter::Result::Sent:
        break;
    case SocketWriter::Result::Refused:
        calledOff = true;
        return "已取消";
    case SocketWriter::Result::TimedOut:
        return "伺服器在 " + std::to_string(timeoutMs / 1000) + " 秒內沒有收下線路參數";
    case SocketWriter::Result::Stopped:
    case SocketWriter::Result::Broken:
        return "無法送出線路參數給伺服器";
    }

    const auto answered = [this, &awaited] {
        const std::lock_guard lock(m_countMutex);
        for (Command c : awaited) {
            if (std::none_of(m_answers.begin(), m_answers.end(),
                             [c](const rfc2217::Answer &a) { return a.command == c; })) {
                return false;
            }
        }
        return true;
    };
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    uint8_t buffer[4096];
    while (!answered()) {
        if (m_decoder.comPort() == rfc2217::Decoder::ComPortState::Refused)
            return "伺服器不接受 RFC 2217 的串列埠設定 (COM-PORT-OPTION)";
        const int left = msLeft(deadline);
        if (left == 0)
            return "伺服器在 " + std::to_string(timeoutMs / 1000) + " 秒內沒有回覆線路參數";
        pollfd p {m_fd, POLLIN, 0};
        const int r = ::poll(&p, 1, std::min(left, SliceMs));
        if (r > 0) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n == 0)
                return "伺服器關閉了連線";
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                Logging::failedCall(lcSerial, "recv", m_fd);
                return withErrno("伺服器的連線中斷", errno);
            }
            if (n > 0)
                incoming(buffer, size_t(n), early);
        } else if (keepWaiting && !keepWaiting()) {
            calledOff = true;
            return "已取消";
        }
    }

    // The server answers with what it set: anything else is a parameter it did not take.
    const std::lock_guard lock(m_countMutex);
    const auto value = [this](Command c) {
        for (auto it = m_answers.rbegin(); it != m_answers.rend(); ++it) {
            if (it->command == c)
                return it->value;
        }
        return uint32_t(0);
    };
    if (value(Command::SetBaudRate) != uint32_t(params.baudRate))
        return "伺服器的速率是 " + std::to_string(value(Command::SetBaudRate)) + ",不是 "
                + std::to_string(params.baudRate);
    if (value(Command::SetDataSize) != params.dataBits)
        return "伺服器的資料位元是 " + std::to_string(value(Command::SetDataSize)) + ",不是 "
                + std::to_string(params.dataBits);
    if (rfc2217::parityFromWire(uint8_t(value(Command::SetParity))) != params.parity)
        return "伺服器不接受這個同位檢查設定";
    if (rfc2217::stopBitsCodeFromWire(uint8_t(value(Command::SetStopSize))) != params.stopBits)
        return "伺服器不接受這個停止位元設定";
    return {};
}

// ---- the far line's controls

class TelnetLineControl : public LineControl
{
public:
    explicit TelnetLineControl(TelnetLink &link) : m_link(link) { }

    bool modemLines(uint8_t &lines) override
    {
        lines = uint8_t(m_link.m_inputs.load() | m_link.m_outputs.load());
        return true;
    }
    bool setLine(ModemLine line, bool on) override
    {
        using namespace rfc2217::control;
        if (line != Dtr && line != Rts) {
            errno = EINVAL;
            return false;
        }
        const uint8_t value = line == Dtr ? (on ? DtrOn : DtrOff) : (on ? RtsOn : RtsOff);
        if (!m_link.send(rfc2217::setControl(value))) {
            errno = EIO;
            return false;
        }
        if (on)
            m_link.m_outputs |= line;
        else
            m_link.m_outputs &= uint8_t(~line);
        return true;
    }
    // The server tells changes as they come; there is nothing to wait on here.
    bool waitForChange(uint8_t) override
    {
        errno = ENOTTY;
        return false;
    }
    bool errorCounts(ErrorCounts &counts) override
    {
        const std::lock_guard lock(m_link.m_countMutex);
        counts = m_link.m_errors;
        return true;
    }
    bool lineInterrupts(LineInterrupts &counts) override
    {
        const std::lock_guard lock(m_link.m_countMutex);
        counts = m_link.m_interrupts;
        return true;
    }
    bool sendBreak(int durationMs) override
    {
        using namespace rfc2217::control;
        // The break is held from the moment its start leaves, so it waits for that; a server
        // that takes nothing gets no break, and the line panel is told so.
        const rfc2217::Bytes on = rfc2217::setControl(BreakOn);
        const rfc2217::Bytes off = rfc2217::setControl(BreakOff);
        SocketWriter &writer = m_link.m_writer;
        const SocketWriter::Result started =
                writer.write(on.data(), on.size(), {}, TelnetLink::BreakStartTimeoutMs);
        if (started != SocketWriter::Result::Sent) {
            // A start taken back needs no end; one begun does, and a lone end is harmless.
            writer.post(off.data(), off.size());
            errno = started == SocketWriter::Result::TimedOut ? ETIMEDOUT : EIO;
            return false;
        }
        if (!writer.pause(durationMs) || !m_link.send(off)) {
            errno = EIO;
            return false;
        }
        return true;
    }

private:
    TelnetLink &m_link;
};

std::unique_ptr<LineControl> TelnetLink::makeControl()
{
    return std::make_unique<TelnetLineControl>(*this);
}

} // namespace serial
