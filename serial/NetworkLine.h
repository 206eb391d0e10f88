// SPDX-License-Identifier: MIT
// The socket side of a network serial port: connecting without hanging the caller, a socket that
// finds a dead peer, one writer per socket that never waits holding a lock and always has a way
// out, and for RFC 2217 the Telnet link that sets the far line, follows its handshake lines and
// counts its errors, behind the same LineControl a tty has.
#pragma once

#include "serial/LineControl.h"
#include "serial/NetworkAddress.h"
#include "serial/Rfc2217.h"
#include "serial/SerialLine.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace serial {

struct Connected
{
    int fd = -1; // a non-blocking TCP socket; -1 on failure
    int error = 0; // errno of the failing step
    std::string reason; // for the user (UTF-8), on failure
    bool calledOff = false; // `keepWaiting` said no
};

// A connected socket probes a peer that has gone quiet: a server that lost its power or its
// cable is a hang-up after KeepIdleS + KeepIntervalS * KeepCount seconds, and data it has not
// acknowledged (or a window it keeps shut) for UserTimeoutMs ends the connection as well.
inline constexpr int KeepIdleS = 6;
inline constexpr int KeepIntervalS = 3;
inline constexpr int KeepCount = 3;
inline constexpr int UserTimeoutMs = 15000;

// Resolves the host and connects, giving up after `timeoutMs`. `keepWaiting` is asked every
// few tens of milliseconds meanwhile (it may run the window's events); false gives up. A lookup
// of the same host and port still running from an earlier call is waited for instead of
// starting another, so a port that tries again and again keeps one lookup at a time.
Connected connectTo(const NetworkAddress &address, int timeoutMs, const WaitHook &keepWaiting);

// The one way bytes reach a socket. Every writer (the sends, the line's controls, the reader's
// Telnet replies) appends its whole unit to one ordered buffer under a short lock, so a Telnet
// command is never split or interleaved, and the buffer goes out without blocking. What the
// socket has no room for goes out as room comes: written by whoever waits for it, or for the
// units nobody waits for, by a thread of the writer's own. Nobody waits for room holding a lock,
// and every wait ends on the caller's hook, on stop() or on its time-out.
class SocketWriter
{
public:
    enum class Result {
        Sent, // the socket took the whole unit
        Refused, // the hook said no
        Stopped, // stop() was called
        TimedOut, // no room came in time
        Broken, // the peer has gone (or never took a byte: the socket failed)
    };
    // How long a write waits for room unless told otherwise; a server that keeps its window
    // shut is given up by the kernel before (UserTimeoutMs).
    static constexpr int WriteTimeoutMs = 20000;
    // What may wait unsent before a post is refused: a server that reads nothing cannot make
    // replies and commands pile up.
    static constexpr size_t PostedBound = 64 * 1024;

    // Writes to a duplicate of `fd`, which stays the caller's.
    explicit SocketWriter(int fd);
    ~SocketWriter();
    SocketWriter(const SocketWriter &) = delete;
    SocketWriter &operator=(const SocketWriter &) = delete;

    // Appends the unit and returns at once; it goes out behind everything before it. False
    // when it cannot: stopped, the peer gone, or PostedBound bytes already wait.
    bool post(const uint8_t *bytes, size_t count);
    // Appends the unit and returns when the socket has taken all of it, asking `hook` every
    // slice the socket has no room. A write that gives up takes its unit back if none of it
    // went out (a unit begun is finished, or the far side would see half a command).
    Result write(const uint8_t *bytes, size_t count, const WaitHook &hook = {},
                 int timeoutMs = WriteTimeoutMs);
    // Every wait ends now and nothing more is taken; the port calls it before anything else
    // when it closes.
    void stop();
    // Waits `ms` unless stopped meanwhile (false).
    bool pause(int ms);
    // The bytes appended and not yet taken by the socket.
    size_t pending() const;

private:
    struct Unit
    {
        std::vector<uint8_t> bytes;
        size_t offset = 0; // how much of it the socket has taken
        uint64_t id = 0;
    };
    uint64_t appendLocked(const uint8_t *bytes, size_t count);
    void flushLocked();
    bool doneLocked(uint64_t id) const;
    void giveUpLocked(uint64_t id);
    void startFlusherLocked();
    void flusherMain();

    int m_fd;
    int m_stopFd;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Unit> m_units;
    uint64_t m_nextId = 1;
    size_t m_pending = 0;
    int m_error = 0;
    bool m_stopped = false;
    std::thread m_flusher;
};

class TelnetLink
{
public:
    explicit TelnetLink(int fd) : m_fd(fd), m_writer(fd) { }

    // Greets the server, sets the four line parameters (and the flow control unless it is
    // kept) and waits up to `timeoutMs` for the server's answers, which must be what was asked.
    // Line bytes that arrive meanwhile are appended to `early`. Empty on success, else why;
    // `calledOff` tells that `keepWaiting` gave up.
    std::string configure(const LineParams &params, int timeoutMs, const WaitHook &keepWaiting,
                          std::vector<uint8_t> &early, bool &calledOff);

    // The same parameters sent again on the open link, without waiting for the answers.
    bool sendParameters(const LineParams &params);

    // What the server sent, on the reader's thread: the line's bytes appended to `data`; the
    // answers and notifications taken in; what Telnet asks in reply is sent.
    void incoming(const uint8_t *bytes, size_t count, std::vector<uint8_t> &data);

    // One byte of the line, FFh doubled.
    bool writeByte(uint8_t byte, const WaitHook &hook);
    // Every write and wait on the link ends (see SocketWriter::stop).
    void stop() { m_writer.stop(); }
    SocketWriter &writer() { return m_writer; }

    // How long a break waits for its start to leave while the server takes nothing: the window
    // waits for the break, and a mode's end waits for the window.
    static constexpr int BreakStartTimeoutMs = 1000;

    // DTR/RTS, break, the lines and counters the server notifies. The link outlives it.
    std::unique_ptr<LineControl> makeControl();

private:
    friend class TelnetLineControl;
    // A command or reply behind what is queued; it never waits for room.
    bool send(const rfc2217::Bytes &bytes);
    void take(const rfc2217::Answer &answer);

    int m_fd;
    SocketWriter m_writer;
    rfc2217::Decoder m_decoder; // the opener's, then the reader's
    std::atomic<uint8_t> m_inputs {0}; // ModemLine input bits as last notified
    std::atomic<uint8_t> m_outputs {0}; // DTR and RTS as last set
    std::mutex m_countMutex;
    ErrorCounts m_errors;
    LineInterrupts m_interrupts;
    // The answers to configure(), by command code.
    std::vector<rfc2217::Answer> m_answers;
};

} // namespace serial
