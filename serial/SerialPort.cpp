// SPDX-License-Identifier: MIT
#include "SerialPort.h"

#include "serial/PortDirectory.h"
#include "traffic/LineEvents.h"
#include "traffic/Logging.h"
#include "traffic/SystemError.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

std::mutex openMutex;
SerialPort::ControlFactory &controlFactory()
{
    static SerialPort::ControlFactory factory;
    return factory;
}
std::vector<SerialPort *> &livePorts()
{
    static std::vector<SerialPort *> ports;
    return ports;
}

// Enough for 50 ms at 12 Mbaud in one read, so that a fast line costs few wake-ups.
constexpr size_t ReadSize = 64 * 1024;

// While the window has not taken what is queued for this long (a modal dialog holds the mode's
// loop), nothing reaches the display anyway: a line that trickles in small reads is then taken
// every few milliseconds instead of at every arrival, which cuts the reader's wake-ups on a
// line that delivers every millisecond. A read of more than a trickle is followed by the next
// one at once, so a fast line is never left in the driver, which holds 4 KiB plus 64 KiB.
constexpr int64_t HeldUs = 20000;
constexpr ssize_t TrickleBytes = 1024;
constexpr long HeldReadIntervalNs = 5000000;

void signal(int eventFd)
{
    const uint64_t one = 1;
    while (::write(eventFd, &one, sizeof one) < 0 && errno == EINTR) { }
}

void drain(int eventFd)
{
    uint64_t count = 0;
    while (::read(eventFd, &count, sizeof count) < 0 && errno == EINTR) { }
}

std::atomic<size_t> networkQueueBound {SerialPort::NetworkQueueBytes};

// Why the driver did not take RS-485: named as such, since the rest of the line was taken.
std::string rs485FaultText(const serial::ConfigFault &fault)
{
    if (fault.field == serial::ConfigField::Rs485ReadBack)
        return "RS-485:無法讀回設定 (" + SystemError::words(fault.error).toStdString() + ')';
    if (fault.error == 0)
        return "RS-485:讀回的設定不同";
    // From an ioctl, ENOTTY says the driver knows no such request, not that the device is no
    // terminal, as its usual words would.
    const std::string cause = fault.error == ENOTTY ? std::string("這個埠沒有 RS-485 模式")
                                                    : SystemError::words(fault.error).toStdString();
    return "RS-485:驅動程式不支援 (" + cause + ')';
}

// Why the driver did not take the line, for the second line of the message.
std::string configFaultText(const serial::ConfigFault &fault, const serial::LineParams &params)
{
    using serial::ConfigField;
    if (fault.field == ConfigField::Rs485 || fault.field == ConfigField::Rs485ReadBack)
        return rs485FaultText(fault);
    if (fault.error != 0)
        return SystemError::words(fault.error).toStdString();
    if (fault.invalid) {
        switch (fault.field) {
        case ConfigField::Speed:
            return "速率不正確";
        case ConfigField::Parity:
            return "同位檢查設定不正確";
        default:
            return "資料位元不正確";
        }
    }
    switch (fault.field) {
    case ConfigField::Speed:
        return "驅動程式不接受速率 " + std::to_string(params.baudRate);
    case ConfigField::DataBits:
        return "驅動程式不接受 " + std::to_string(params.dataBits) + " 個資料位元";
    case ConfigField::Parity:
        return "驅動程式不接受這個同位檢查設定";
    case ConfigField::StopBits:
        return "驅動程式不接受這個停止位元設定";
    case ConfigField::Flow:
        return "驅動程式不接受這個流量控制設定";
    case ConfigField::RawMode:
        return "驅動程式不接受原始模式 (raw) 的線路設定";
    case ConfigField::Rs485:
    case ConfigField::Rs485ReadBack: // told above, with or without an errno
    case ConfigField::None:
        break;
    }
    return {};
}

// Why a device could not be opened, for the second line of the message. The call and the
// system's own words are in the logging category already.
std::string openFailureText(const std::string &path, int error)
{
    struct stat st
    { };
    const bool exists = ::stat(path.c_str(), &st) == 0;
    switch (error) {
    case ENOENT:
        return "找不到裝置 " + serial::quotedHost(path);
    case EBUSY:
        return "裝置忙碌中 (另一個程式正在使用它)";
    case ENXIO:
        // A pipe no one reads and a socket are no devices, though the system calls them so.
        if (exists && S_ISFIFO(st.st_mode))
            return "這是一個沒有程式在讀取的管道, 不是裝置";
        if (exists && S_ISSOCK(st.st_mode))
            return "這是一個 socket, 不是裝置";
        break;
    default:
        break;
    }
    return SystemError::words(error).toStdString();
}

} // namespace

SerialPort::LineOpening SerialPort::openLine(const std::string &path,
                                             const serial::LineParams &params, int connectTimeoutMs,
                                             const serial::WaitHook &keepWaiting)
{
    LineOpening line;
    if (!serial::isNetworkPath(path)) {
        const serial::OpenResult opened = serial::openPort(path);
        if (opened.fd < 0) {
            line.failure = Failure::Open;
            line.error = opened.error;
            line.reason = openFailureText(path, opened.error);
            return line;
        }
        serial::LineConfig current;
        serial::ConfigFault fault;
        line.failure = !serial::readConfig(opened.fd, current, &fault) ? Failure::ReadConfig
                : !serial::writeConfig(opened.fd, params, &fault)      ? Failure::WriteConfig
                : !serial::writeRs485(opened.fd, params.rs485, &fault) ? Failure::WriteConfig
                                                                       : Failure::None;
        if (line.failure != Failure::None) {
            line.error = fault.error;
            line.reason = configFaultText(fault, params);
            serial::closePort(opened.fd);
        } else {
            line.fd = opened.fd;
        }
        return line;
    }

    line.network = true;
    const std::optional<serial::NetworkAddress> address =
            serial::parseNetworkAddress(path, line.reason);
    if (!address) {
        line.failure = Failure::Open;
        line.error = EINVAL;
        return line;
    }
    serial::Connected connected = serial::connectTo(*address, connectTimeoutMs, keepWaiting);
    if (connected.fd < 0) {
        line.failure = Failure::Open;
        line.error = connected.error;
        line.reason = connected.reason;
        line.calledOff = connected.calledOff;
        return line;
    }
    if (address->protocol == serial::NetworkAddress::Protocol::Rfc2217) {
        auto telnet = std::make_unique<serial::TelnetLink>(connected.fd);
        line.reason = params.baudRate <= 0
                ? std::string("速率不正確")
                : telnet->configure(params, ConfigureTimeoutMs, keepWaiting, line.early,
                                    line.calledOff);
        if (!line.reason.empty()) {
            ::close(connected.fd);
            line.failure = Failure::WriteConfig;
            return line;
        }
        line.telnet = std::move(telnet);
    }
    line.fd = connected.fd;
    return line;
}

SerialPort::Opened SerialPort::open(const std::string &path, const serial::LineParams &params,
                                    const serial::WaitHook &keepWaiting)
{
    LineOpening line = openLine(path, params, ConnectTimeoutMs, keepWaiting);
    if (line.fd < 0)
        return {nullptr, line.failure, line.error, line.reason, line.calledOff};
    std::unique_ptr<SerialPort> port(
            new SerialPort(line.fd, path, std::move(line.telnet), line.network));
    port->m_params = params;
    if (params.markErrors && !line.network)
        port->m_markErrors = true;
    // What the device sent while the line was being set is the line's, like every byte after.
    if (!line.early.empty()) {
        port->queue({TrafficKind::Received, monotonicMicroseconds(),
                     QByteArray(reinterpret_cast<const char *>(line.early.data()),
                                qsizetype(line.early.size()))});
    }
    return {std::move(port), Failure::None, 0, {}, false};
}

void SerialPort::setNetworkQueueBound(size_t bytes)
{
    networkQueueBound = bytes != 0 ? bytes : NetworkQueueBytes;
}

SerialPort::EventFd::EventFd() : fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) { }

SerialPort::EventFd::~EventFd() { ::close(fd); }

void SerialPort::setControlFactory(ControlFactory factory)
{
    const std::lock_guard lock(openMutex);
    controlFactory() = std::move(factory);
}

SerialPort::SerialPort(int fd, std::string path, std::unique_ptr<serial::TelnetLink> telnet,
                       bool network)
    : m_fd(fd), m_path(std::move(path)), m_network(network), m_telnet(std::move(telnet)),
      m_pseudoTerminal(!network && serial::isPseudoTerminal(fd)),
      m_wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      m_stopFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    makeControl();
    const std::lock_guard lock(openMutex);
    livePorts().push_back(this);
}

void SerialPort::closeLine(int fd) const
{
    if (fd < 0)
        return;
    // A socket has no exclusive claim to give back.
    if (m_network)
        ::close(fd);
    else
        serial::closePort(fd);
}

void SerialPort::makeControl()
{
    const std::lock_guard lock(openMutex);
    if (m_telnet)
        m_control = m_telnet->makeControl();
    else if (m_network)
        m_control = serial::refusingLineControl(ENOTTY);
    else
        m_control = controlFactory() ? controlFactory()(m_fd) : serial::kernelLineControl(m_fd);
}

SerialPort::~SerialPort()
{
    // Before anything else: a write waiting for a server that takes nothing gives up now.
    if (m_telnet)
        m_telnet->stop();
    if (m_rawWriter)
        m_rawWriter->stop();
    m_watcher.reset();
    if (m_reader.joinable()) {
        signal(m_stopFd);
        m_reader.join();
    }
    m_control.reset();
    closeLine(m_fd);
    // A device that came back while nobody took the news.
    closeLine(m_returned.fd);
    ::close(m_wakeFd);
    ::close(m_stopFd);
    const std::lock_guard lock(openMutex);
    std::erase(livePorts(), this);
}

int SerialPort::openCount()
{
    const std::lock_guard lock(openMutex);
    return int(livePorts().size());
}

std::vector<SerialPort *> SerialPort::openPorts()
{
    const std::lock_guard lock(openMutex);
    return livePorts();
}

void SerialPort::startReading()
{
    if (m_reader.joinable())
        return;
    // Who the device is, asked now while it is there: once it is gone, sysfs no longer says.
    m_identity = serial::identify(m_path, serial::CurrentScanRoots);
    m_reader = std::thread(&SerialPort::readerMain, this);
}

bool SerialPort::stopRequested() const
{
    pollfd stop {m_stopFd, POLLIN, 0};
    return ::poll(&stop, 1, 0) != 0;
}

SerialPort::LineOpening SerialPort::reopen(const std::string &path)
{
    serial::LineParams params;
    {
        std::lock_guard lock(m_mutex);
        params = m_params;
    }
    LineOpening line =
            openLine(path, params, ReturnConnectTimeoutMs, [this] { return !stopRequested(); });
    // Marking may have been switched on since the opening.
    if (line.fd >= 0 && !line.network && m_markErrors.load()
        && !serial::setMarkErrors(line.fd, true)) {
        line.error = errno;
        line.reason = SystemError::words(line.error).toStdString();
        serial::closePort(line.fd);
        line.fd = -1;
        line.failure = Failure::WriteConfig;
    }
    return line;
}

std::string SerialPort::failureReason(const LineOpening &line)
{
    // A network port's reason says it all; a device's comes after what failed.
    if (line.network && !line.reason.empty())
        return line.reason;
    const std::string cause = line.reason.empty() ? std::string() : " (" + line.reason + ")";
    switch (line.failure) {
    case Failure::Open:
        return "埠無法開啟" + cause;
    case Failure::ReadConfig:
        return "埠目前不供存取權" + cause;
    case Failure::WriteConfig:
    case Failure::None:
        break;
    }
    return "埠無法寫入參數值" + cause;
}

bool SerialPort::waitForReturn(int &fd, serial::TelnetLink *&telnet)
{
    int failures = 0;
    std::string told; // why it cannot be opened, as last recorded
    const auto tell = [&](std::string why) {
        if (why == told)
            return;
        told = std::move(why);
        queue({TrafficKind::LineGone, monotonicMicroseconds(), QByteArray::fromStdString(told)});
    };
    qCDebug(lcSerial).nospace() << "waiting for " << m_path.c_str()
                                << " to return: serial number \"" << m_identity.serialNumber.c_str()
                                << "\", by-id name \"" << m_identity.byIdName.c_str() << '"';
    for (;;) {
        pollfd stop {m_stopFd, POLLIN, 0};
        if (::poll(&stop, 1, serial::returnDelayMs(failures)) != 0)
            return false;
        const std::string path = serial::findReturned(m_identity, serial::CurrentScanRoots);
        if (path.empty()) {
            failures = 0;
            tell({});
            continue;
        }
        LineOpening r = reopen(path);
        if (r.fd < 0) {
            if (stopRequested())
                return false;
            qCDebug(lcSerial) << "reopening" << path.c_str() << "failed, attempt" << failures + 1
                              << "errno" << r.error << ':' << failureReason(r).c_str();
            ++failures;
            tell(failureReason(r));
            continue;
        }
        qCDebug(lcSerial) << "line back at" << path.c_str() << "after" << failures
                          << "failed attempts";
        fd = r.fd;
        telnet = r.telnet.get();
        std::vector<uint8_t> early = std::move(r.early);
        LineOpening gone;
        {
            const std::lock_guard lock(m_mutex);
            // A line that came back and went away again before take() moved the writing over.
            gone = std::move(m_returned);
            m_returned = std::move(r);
        }
        closeLine(gone.fd);
        m_decoder.reset();
        const int64_t now = monotonicMicroseconds();
        queue({TrafficKind::LineBack, now, QByteArray::fromStdString(path)});
        if (!early.empty()) {
            queue({TrafficKind::Received, now,
                   QByteArray(reinterpret_cast<const char *>(early.data()),
                              qsizetype(early.size()))});
        }
        return true;
    }
}

void SerialPort::adoptReturned()
{
    LineOpening r;
    {
        const std::lock_guard lock(m_mutex);
        r = std::move(m_returned);
        m_returned = {};
    }
    if (r.fd < 0)
        return;
    // The reader reads the new line already; the writing, the controls and the watcher, which
    // follows the old line's controls, change over here.
    const bool watching = m_watcher != nullptr;
    m_watcher.reset();
    m_control.reset();
    closeLine(m_fd);
    m_fd = r.fd;
    m_telnet = std::move(r.telnet);
    makeControl();
    if (watching)
        startWatching();
}

void SerialPort::queue(TrafficRecord record)
{
    record.side = m_side;
    // Only the reader makes received records.
    if (m_forward && (record.kind == TrafficKind::Received || record.kind == TrafficKind::Flawed))
        m_forward(record.bytes);
    bool wake = false;
    {
        const std::lock_guard lock(m_mutex);
        if (!m_signalled)
            m_signalledAtUs = record.timeUs;
        m_queuedBytes += size_t(record.bytes.size());
        // In time order: bytes written on another thread are recorded once the write is back,
        // and an answer the device gave meanwhile may have come in first. The reader's own
        // records are in order already and go at the end.
        auto at = m_queue.end();
        while (at != m_queue.begin() && (at - 1)->timeUs > record.timeUs)
            --at;
        m_queue.insert(at, std::move(record));
        wake = !m_signalled;
        m_signalled = true;
    }
    if (wake)
        signal(m_wakeFd);
}

int64_t SerialPort::heldSince(int64_t nowUs)
{
    const std::lock_guard lock(m_mutex);
    return m_signalled ? nowUs - m_signalledAtUs : 0;
}

size_t SerialPort::queuedBytes()
{
    const std::lock_guard lock(m_mutex);
    return m_queuedBytes;
}

bool SerialPort::holdReading()
{
    if (!m_network)
        return false;
    const std::lock_guard lock(m_mutex);
    m_held = m_queuedBytes >= networkQueueBound.load();
    return m_held;
}

void SerialPort::readerMain()
{
    int fd = m_fd;
    serial::TelnetLink *telnet = m_telnet.get();
    while (readLine(fd, telnet) && waitForReturn(fd, telnet)) { }
}

bool SerialPort::readLine(int fd, serial::TelnetLink *telnet)
{
    const std::unique_ptr<char[]> buffer(new char[ReadSize]);
    std::vector<TrafficRecord> decoded;
    for (;;) {
        // A line held off is not polled (a negative descriptor is skipped) until take() says
        // there is room again.
        pollfd fds[3] = {{holdReading() ? -1 : fd, POLLIN, 0},
                         {m_stopFd, POLLIN, 0},
                         {m_resume.fd, POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            Logging::failedCall(lcSerial, "poll", QString::fromStdString(m_path));
            return false;
        }
        if (fds[1].revents != 0)
            return false;
        if (fds[2].revents != 0)
            drain(m_resume.fd);
        if (fds[0].revents == 0)
            continue;
        ssize_t n = ::read(fd, buffer.get(), ReadSize);
        const int64_t now = monotonicMicroseconds();
        if (n > 0 && telnet) {
            // The server's answers and notifications leave only the line's bytes.
            std::vector<uint8_t> data;
            telnet->incoming(reinterpret_cast<const uint8_t *>(buffer.get()), size_t(n), data);
            if (data.empty())
                continue;
            std::memcpy(buffer.get(), data.data(), data.size());
            n = ssize_t(data.size());
        }
        if (n > 0 && (m_markErrors.load() || m_decoder.pending() > 0)) {
            decoded.clear();
            m_decoder.decode(reinterpret_cast<const uint8_t *>(buffer.get()), size_t(n), now,
                             decoded);
            for (TrafficRecord &r : decoded)
                queue(std::move(r));
            continue;
        }
        if (n > 0) {
            // A record of exactly its size: a slow line gives many small ones.
            queue({TrafficKind::Received, now, QByteArray(buffer.get(), qsizetype(n))});
            if (n < TrickleBytes && heldSince(now) > HeldUs) {
                timespec pause {0, HeldReadIntervalNs};
                nanosleep(&pause, nullptr);
            }
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        // 0 or EIO, ENXIO, ENODEV: the other side hung up or the device is gone. A hung-up
        // tty polls readable for ever, so the reader leaves it here instead of watching it.
        if (n < 0)
            Logging::failedCall(lcSerial, "read", QString::fromStdString(m_path));
        else
            qCDebug(lcSerial) << "line" << m_path.c_str() << "hung up: read gave end of file";
        decoded.clear();
        m_decoder.finish(now, decoded);
        for (TrafficRecord &r : decoded)
            queue(std::move(r));
        queue({TrafficKind::LineGone, now, {}});
        return true;
    }
}

std::vector<TrafficRecord> SerialPort::take()
{
    // The signal goes first: a record queued after it signals anew, one queued before it is
    // in what is taken now.
    drain(m_wakeFd);
    std::vector<TrafficRecord> taken;
    bool resume = false;
    {
        const std::lock_guard lock(m_mutex);
        taken.swap(m_queue);
        m_queuedBytes = 0;
        m_signalled = false;
        resume = std::exchange(m_held, false);
    }
    if (resume)
        signal(m_resume.fd);
    for (const TrafficRecord &r : taken) {
        if (r.kind == TrafficKind::LineBack) {
            adoptReturned();
            break;
        }
    }
    return taken;
}

void SerialPort::clearWake() { drain(m_wakeFd); }

bool SerialPort::writeByte(uint8_t byte, const serial::WaitHook &hook)
{
    if (m_telnet)
        return m_telnet->writeByte(byte, hook);
    if (m_network)
        return rawWriter().write(&byte, 1, hook) == serial::SocketWriter::Result::Sent;
    return serial::writeByte(m_fd, byte, hook);
}

serial::SocketWriter &SerialPort::rawWriter()
{
    // A line that came back has a socket of its own; it was open before the old one closed,
    // so its number tells it apart.
    if (!m_rawWriter || m_rawWriterFd != m_fd) {
        m_rawWriter = std::make_unique<serial::SocketWriter>(m_fd);
        m_rawWriterFd = m_fd;
    }
    return *m_rawWriter;
}

qsizetype SerialPort::write(QByteArrayView bytes, const serial::WaitHook &hook)
{
    const auto *data = reinterpret_cast<const uint8_t *>(bytes.data());
    if (m_telnet) {
        // Telnet doubles the IAC bytes on the way: byte by byte through its writer.
        qsizetype done = 0;
        while (done < bytes.size() && m_telnet->writeByte(data[done], hook))
            ++done;
        return done;
    }
    if (m_network) {
        // The socket writer takes a run whole or not at all.
        return rawWriter().write(data, size_t(bytes.size()), hook) == serial::SocketWriter::Result::Sent
                ? bytes.size()
                : 0;
    }
    return qsizetype(serial::writeBytes(m_fd, data, size_t(bytes.size()), hook));
}

qsizetype SerialPort::writeRecorded(QByteArrayView bytes, const serial::WaitHook &hook)
{
    const int64_t startedUs = monotonicMicroseconds();
    const qsizetype sent = write(bytes, hook);
    if (sent > 0)
        record({TrafficKind::Sent, startedUs, bytes.first(sent).toByteArray()});
    return sent;
}

void SerialPort::drainOutput()
{
    // A server sends on at its own pace; there is no UART here to wait for.
    if (!m_pseudoTerminal && !m_network)
        serial::drainOutput(m_fd);
}

bool SerialPort::reconfigure(const serial::LineParams &params)
{
    if (m_network) {
        // Raw TCP has no parameters to set; RFC 2217 sets them as the opening did. The reader
        // takes the server's answers then, so they are not waited for here.
        if (m_telnet && !m_telnet->sendParameters(params))
            return false;
    } else {
        if (!serial::writeConfig(m_fd, params))
            return false;
        m_markErrors = params.markErrors;
    }
    // The reader opens a device that comes back with them. RS-485 stays as the opening set it:
    // a reconfiguration changes the framing and the speed, and the driver keeps the rest.
    std::lock_guard lock(m_mutex);
    const serial::Rs485Config rs485 = m_params.rs485;
    m_params = params;
    m_params.rs485 = rs485;
    return true;
}

bool SerialPort::setOutputLine(serial::ModemLine line, bool on)
{
    if (!m_control->setLine(line, on))
        return false;
    if (m_watcher && m_watcher->readNow())
        return true;
    uint8_t lines = 0;
    if (!m_control->modemLines(lines))
        lines = on ? line : 0; // the driver sets lines it cannot report: say what was asked
    queue(LineEvents::modemLines(monotonicMicroseconds(), lines, line));
    return true;
}

bool SerialPort::sendBreak(int durationMs)
{
    // Recorded at its end: what arrived while the line was held comes before it in time, and
    // only the end tells that the driver took it.
    if (!m_control->sendBreak(durationMs))
        return false;
    queue(LineEvents::breakSent(monotonicMicroseconds(), durationMs));
    return true;
}

void SerialPort::startWatching()
{
    if (m_watcher)
        return;
    m_watcher = std::make_unique<serial::LineWatcher>(
            *m_control, [this](TrafficRecord record) { queue(std::move(record)); });
    m_watcher->start();
}

void SerialPort::stopWatching() { m_watcher.reset(); }

bool SerialPort::setMarkErrors(bool on)
{
    // The server tells errors as counts, not marks in the bytes.
    if (m_network) {
        errno = ENOTTY;
        return false;
    }
    if (!serial::setMarkErrors(m_fd, on))
        return false;
    // Bytes the tty marked before the switch still reach the decoder: it finishes a mark it
    // has begun (pending) whatever the switch says.
    m_markErrors = on;
    return true;
}
