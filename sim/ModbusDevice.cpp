// SPDX-License-Identifier: MIT
#include "ModbusDevice.h"

#include <modbus.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

namespace {

size_t waiting(int fd)
{
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 && n > 0 ? size_t(n) : 0;
}

std::string takeAll(int fd)
{
    std::string taken;
    char buffer[512];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0)
            taken.append(buffer, size_t(n));
        else if (!(n < 0 && errno == EINTR))
            return taken;
    }
}

struct ContextFree
{
    void operator()(modbus_t *context) const { modbus_free(context); }
};
struct MappingFree
{
    void operator()(modbus_mapping_t *mapping) const { modbus_mapping_free(mapping); }
};

// libmodbus reads requests from and writes replies to a descriptor of its own: one end of a
// socket pair, whose other end the device feeds with what came from the line. libmodbus waits
// with select() for each missing byte, so it is only asked once everything that has arrived
// is in the socket, and a request split over several reads is offered again, whole, with each
// new piece until it is complete.
class ModbusDevice : public Device
{
public:
    explicit ModbusDevice(const SimOptions &o)
        : m_slave(o.slave), m_badCrcEvery(o.badCrcEvery),
          m_late(std::chrono::milliseconds(o.lateMs)), m_silentEvery(o.silentEvery),
          m_exceptionEvery(o.exceptionEvery)
    { }

    ~ModbusDevice() override
    {
        m_context.reset();
        for (int fd : {m_line, m_library}) {
            if (fd >= 0)
                close(fd);
        }
    }

    bool start(std::string &error)
    {
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) {
            error = std::string("socketpair: ") + std::strerror(errno);
            return false;
        }
        m_line = pair[0];
        m_library = pair[1];
        m_mapping.reset(modbus_mapping_new(kModbusTableSize, kModbusTableSize, kModbusTableSize,
                                           kModbusTableSize));
        if (!m_mapping || !newContext()) {
            error = std::string("libmodbus: ") + modbus_strerror(errno);
            return false;
        }
        for (int i = 0; i < kModbusTableSize; ++i) {
            m_mapping->tab_registers[i] = uint16_t(i);
            m_mapping->tab_input_registers[i] = uint16_t(1000 + i);
            m_mapping->tab_input_bits[i] = uint8_t(i % 2);
        }
        return true;
    }

    void connected(Clock::time_point) override
    {
        m_requests = 0;
        m_replies = 0;
    }

    void disconnected() override
    {
        m_pending.clear();
        m_held.clear();
        takeAll(m_line);
        takeAll(m_library);
    }

    void received(const uint8_t *data, size_t size, Clock::time_point at, std::string &out) override
    {
        dropUnfinished(at);
        m_pending.append(reinterpret_cast<const char *>(data), size);
        m_lastByte = at;
        serve(at, out);
    }

    std::optional<Clock::time_point> produce(Clock::time_point now, std::string &out) override
    {
        dropUnfinished(now);
        while (!m_held.empty() && m_held.front().due <= now) {
            out += m_held.front().bytes;
            m_held.pop_front();
        }
        std::optional<Clock::time_point> wake;
        if (!m_held.empty())
            wake = m_held.front().due;
        if (!m_pending.empty() && (!wake || m_lastByte + kModbusFrameGap < *wake))
            wake = m_lastByte + kModbusFrameGap;
        return wake;
    }

private:
    struct Held
    {
        Clock::time_point due;
        std::string bytes;
    };

    // Keeps the context there is when no new one can be made.
    bool newContext()
    {
        // Never connected: the name only has to be one libmodbus accepts.
        std::unique_ptr<modbus_t, ContextFree> context(
                modbus_new_rtu("telvix-sim", 9600, 'N', 8, 1));
        // What has arrived is in the socket before libmodbus is asked, so any wait of its own
        // would only stall the loop; the gap that ends an unfinished request is kept here.
        if (!context || modbus_set_slave(context.get(), m_slave) != 0
            || modbus_set_socket(context.get(), m_library) != 0
            || modbus_set_indication_timeout(context.get(), 0, 1) != 0
            || modbus_set_byte_timeout(context.get(), 0, 1) != 0)
            return false;
        m_context = std::move(context);
        return true;
    }

    void dropUnfinished(Clock::time_point now)
    {
        if (!m_pending.empty() && now - m_lastByte >= kModbusFrameGap)
            m_pending.clear();
    }

    void serve(Clock::time_point at, std::string &out)
    {
        takeAll(m_library); // what libmodbus read of an unfinished request is offered anew
        size_t offered = 0;
        while (offered < m_pending.size()) {
            const ssize_t n = write(m_line, m_pending.data() + offered, m_pending.size() - offered);
            if (n > 0)
                offered += size_t(n);
            else if (!(n < 0 && errno == EINTR))
                break;
        }
        uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
        while (const size_t before = waiting(m_library)) {
            const int length = modbus_receive(m_context.get(), request);
            const int error = errno;
            size_t used = before - std::min(before, waiting(m_library));
            if (length < 0 && error == ETIMEDOUT)
                break; // the rest of the request has not arrived yet
            if (used == 0) { // cannot happen, but the loop must move on whatever libmodbus does
                char byte;
                used = read(m_library, &byte, 1) == 1 ? 1 : 0;
                if (used == 0)
                    break;
            }
            m_pending.erase(0, used);
            if (length == 0) {
                // Another slave's request. libmodbus would now take the next frame for that
                // slave's reply and skip it, but on this line no other slave answers: the next
                // frame is a request again, which a fresh context reads as one.
                newContext();
            } else if (length > 0) {
                answer(request, length, at, out);
            }
            // Otherwise a broken frame (bad CRC, too long): dropped unanswered, as on a line.
        }
        takeAll(m_library);
    }

    void answer(const uint8_t *request, int length, Clock::time_point at, std::string &out)
    {
        modbus_t *context = m_context.get();
        const int header = modbus_get_header_length(context);
        if (request[0] == MODBUS_BROADCAST_ADDRESS) {
            // libmodbus carries it out and sends nothing; its exception replies, though, would
            // go out, so a broadcast is never given one.
            modbus_reply(context, request, length, m_mapping.get());
            takeAll(m_line);
            return;
        }
        const uint64_t n = ++m_requests;
        if (m_silentEvery != 0 && n % m_silentEvery == 0)
            return;
        if (m_exceptionEvery != 0 && n % m_exceptionEvery == 0)
            modbus_reply_exception(context, request, MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE);
        else
            modbus_reply(context, request, length, m_mapping.get());
        std::string reply = takeAll(m_line);
        if (reply.size() <= size_t(header))
            return;
        const bool refused = (uint8_t(reply[size_t(header)]) & 0x80) != 0;
        if (!refused)
            countOn(request[header]);
        if (m_badCrcEvery != 0 && ++m_replies % m_badCrcEvery == 0)
            reply.back() = char(reply.back() ^ 0x01);
        if (m_late == Clock::duration::zero() && m_held.empty())
            out += reply;
        else
            m_held.push_back({at + m_late, std::move(reply)});
    }

    // Values that change with every read show a master's display updating, and a reply that
    // repeats an old one stands out.
    void countOn(int function)
    {
        uint16_t *table = nullptr;
        if (function == MODBUS_FC_READ_HOLDING_REGISTERS
            || function == MODBUS_FC_WRITE_AND_READ_REGISTERS)
            table = m_mapping->tab_registers;
        else if (function == MODBUS_FC_READ_INPUT_REGISTERS)
            table = m_mapping->tab_input_registers;
        if (!table)
            return;
        for (int i = 0; i < kModbusTableSize; ++i)
            table[i] = uint16_t(table[i] + 1);
    }

    int m_slave;
    uint64_t m_badCrcEvery;
    Clock::duration m_late;
    uint64_t m_silentEvery;
    uint64_t m_exceptionEvery;

    int m_line = -1; // the line's end of the socket pair
    int m_library = -1; // libmodbus's end
    std::unique_ptr<modbus_t, ContextFree> m_context;
    std::unique_ptr<modbus_mapping_t, MappingFree> m_mapping;

    std::string m_pending; // from the start of the request not yet complete
    Clock::time_point m_lastByte;
    std::deque<Held> m_held; // replies held back by --late, in order
    uint64_t m_requests = 0;
    uint64_t m_replies = 0;
};

} // namespace

std::unique_ptr<Device> makeModbusDevice(const SimOptions &options, std::string &error)
{
    auto device = std::make_unique<ModbusDevice>(options);
    if (!device->start(error))
        return nullptr;
    return device;
}

} // namespace sim
