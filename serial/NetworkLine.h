// SPDX-License-Identifier: MIT
// The socket side of a network serial port: connecting without hanging the caller, writing
// every byte without SIGPIPE, and for RFC 2217 the Telnet link that sets the far line, follows
// its handshake lines and counts its errors, behind the same LineControl a tty has.
#pragma once

#include "serial/LineControl.h"
#include "serial/NetworkAddress.h"
#include "serial/Rfc2217.h"
#include "serial/SerialLine.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace serial {

struct Connected
{
    int fd = -1; // a non-blocking TCP socket; -1 on failure
    int error = 0; // errno of the failing step
    std::string reason; // for the user (UTF-8), on failure
    bool calledOff = false; // `keepWaiting` said no
};

// Resolves the host and connects, giving up after `timeoutMs`. `keepWaiting` is asked every
// few tens of milliseconds meanwhile (it may run the window's events); false gives up.
Connected connectTo(const NetworkAddress &address, int timeoutMs, const WaitHook &keepWaiting);

// Every byte onto the socket, waiting for room and asking `hook` meanwhile. A peer that has
// gone gives false, never a SIGPIPE.
bool sendAll(int fd, const uint8_t *bytes, size_t count, const WaitHook &hook = {});

class TelnetLink
{
public:
    explicit TelnetLink(int fd) : m_fd(fd) { }

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

    // DTR/RTS, break, the lines and counters the server notifies. The link outlives it.
    std::unique_ptr<LineControl> makeControl();

private:
    friend class TelnetLineControl;
    bool send(const rfc2217::Bytes &bytes, const WaitHook &hook = {});
    void take(const rfc2217::Answer &answer);

    int m_fd;
    std::mutex m_writeMutex;
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
