// SPDX-License-Identifier: MIT
// An open serial line: the descriptor with its lock and exclusive claim, the line parameters a
// mode's start gives it, and, for the modes that read, a reader of its own. Closing it (letting
// it go) stops the reader, releases the claim and closes the descriptor.
//
// The reader is a thread: it takes every byte the moment the driver has it, with its time, into
// a queue that the mode drains on the window's thread. When the device goes away (an adapter
// pulled, a server that drops the connection) the reader records it and waits for the same
// device to come back; it opens it again with the same parameters, records that too and reads
// the new line from that moment on; the next take() moves the writing over to it, so the mode
// goes on. So a modal dialog, a long terminal send or a busy moment of the window holds back
// only the display, never the line; a tty keeps a few kilobytes and drops the rest. A tty's
// queue has no bound, since a serial line cannot be held back; a network port stops reading its
// socket while NetworkQueueBytes wait, and TCP holds the sender until take() makes room.
// Everything else about the port happens on the caller's thread.
#pragma once

#include "serial/Comeback.h"
#include "serial/LineControl.h"
#include "serial/LineWatcher.h"
#include "serial/NetworkLine.h"
#include "serial/ParmrkDecoder.h"
#include "serial/SerialLine.h"
#include "traffic/Traffic.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class SerialPort
{
public:
    // The step of opening that failed, as the user is told it.
    enum class Failure {
        None,
        Open, // the device cannot be opened (missing, held by another program, no rights)
        ReadConfig, // it is no serial line: its configuration cannot be read
        WriteConfig, // it refuses the line parameters
    };
    struct Opened
    {
        std::unique_ptr<SerialPort> port; // null on failure
        Failure failure = Failure::None;
        int error = 0; // errno of the failing open or configuration call
        // Why it failed, for the user (UTF-8): a network port's failure, or what the driver
        // of a device did not take
        std::string reason;
        bool calledOff = false; // the user gave up waiting for the connection
    };

    // How long a network port may take to connect, and then to answer the line parameters.
    static constexpr int ConnectTimeoutMs = 5000;
    static constexpr int ConfigureTimeoutMs = 5000;
    // How often a port whose device went away looks for it (failed attempts to open it wait
    // longer, see serial::returnDelayMs), and how long a network port that dropped may take to
    // connect again at each try.
    static constexpr int ReturnPollMs = serial::ReturnLookMs;
    static constexpr int ReturnConnectTimeoutMs = 2000;

    // Opens `path` for this program alone, reads its configuration and writes the parameters.
    // A path rfc2217://HOST:PORT or tcp://HOST:PORT connects to a serial server instead;
    // `keepWaiting` is asked meanwhile and gives up when it returns false.
    static Opened open(const std::string &path, const serial::LineParams &params,
                       const serial::WaitHook &keepWaiting = {});

    ~SerialPort();
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    const std::string &path() const { return m_path; }
    // For the few callers that need the kernel's own view of the line (its configuration).
    int descriptor() const { return m_fd; }

    // ---- reading

    // Starts the reader; it runs until the port is closed.
    void startReading();
    // Which of two lines read at once this one is: every record of its queue carries it. Set
    // before reading starts.
    void setSide(uint8_t side) { m_side = side; }
    uint8_t side() const { return m_side; }
    // Hands every chunk the reader takes on at once, on the reader's thread, before it joins the
    // queue: the pass-through's way to the program, which must not wait for the window. Set
    // before reading starts; it must outlive the reader (the port's end).
    using Forward = std::function<void(const QByteArray &bytes)>;
    void setForward(Forward forward) { m_forward = std::move(forward); }
    bool isReading() const { return m_reader.joinable(); }

    // What the reader took since the last call, in arrival order, as Received records; a
    // LineGone record when the device hung up or went away, and another one, with why in its
    // bytes (UTF-8), each time the reason the device cannot be opened again changes; a
    // LineBack record (with the path it came back at) when the same device is open again.
    // Taking a LineBack moves the writing over to the device's new line.
    std::vector<TrafficRecord> take();

    // The bytes of the records waiting to be taken.
    size_t queuedBytes();
    // What a network port lets wait before it stops reading its socket.
    static constexpr size_t NetworkQueueBytes = size_t(64) << 20;
    // Another bound (a test's); 0 gives NetworkQueueBytes again.
    static void setNetworkQueueBound(size_t bytes);

    // Readable while records wait to be taken (an eventfd for an event loop to watch). It is
    // signalled once when the queue stops being empty and not again until take(): a loop held
    // up by a modal dialog is woken once, not for every chunk.
    int wakeDescriptor() const { return m_wakeFd; }
    // Takes the signal back without taking the records: what a watcher that cannot handle them
    // now does, so that it is not woken again and again.
    void clearWake();

    // ---- writing, on the caller's thread

    // One byte, returning when the driver has taken it (see serial::writeByte).
    bool writeByte(uint8_t byte, const serial::WaitHook &hook = {});
    // A run of bytes as one write where the driver takes it; how many went.
    qsizetype write(QByteArrayView bytes, const serial::WaitHook &hook = {});
    // The same, and what went out recorded in the queue as one Sent record with the time the
    // write began: the command list's, an auto-reply's and a script's sends.
    qsizetype writeRecorded(QByteArrayView bytes, const serial::WaitHook &hook = {});
    // Waits until what was written has left a real UART; nothing on a pseudo-terminal.
    void drainOutput();
    bool isPseudoTerminal() const { return m_pseudoTerminal; }
    // A port on a serial server over the network rather than a device of this machine.
    bool isNetwork() const { return m_network; }

    // Sets the line parameters anew on the open port (the self-test's speeds, a script's
    // port.set); a device that comes back is opened with them. Their RS-485 is not looked at:
    // the opening's stays, on the line and for a device that comes back.
    bool reconfigure(const serial::LineParams &params);
    // Those the port was opened with or last set to; on the caller's thread.
    const serial::LineParams &params() const { return m_params; }

    // ---- the line beyond its bytes: the line panel and the self-test

    serial::LineControl &control() { return *m_control; }
    // Raises or lowers DTR or RTS and records the change (a ModemLines record in the queue).
    // False when the driver refused; nothing is recorded then.
    bool setOutputLine(serial::ModemLine line, bool on);
    // Holds the line in break for `durationMs`, returning after it, and records it (BreakSent)
    // when it ends, with the time it ended: the bytes that arrived during it come before it,
    // and a break the driver refused is not recorded.
    bool sendBreak(int durationMs);
    // Follows the input lines and the error counters into the queue until stopWatching() or
    // the port's end. Null while not watching.
    void startWatching();
    void stopWatching();
    const serial::LineWatcher *watcher() const { return m_watcher.get(); }
    // PARMRK and INPCK at once: while on, the reader gives bytes that came with a parity or
    // framing error as Flawed records, and a real FFh as it came.
    bool setMarkErrors(bool on);
    bool marksErrors() const { return m_markErrors.load(); }
    // A record of the program's own into the queue, in order with the line's: the self-test's
    // report, what the command list, an auto-reply or a script sent outside a mode's own send.
    // From any thread.
    void record(TrafficRecord record) { queue(std::move(record)); }

    // How a port reaches its line's controls; tests give a line model. Empty: the kernel's.
    using ControlFactory = std::function<std::unique_ptr<serial::LineControl>(int fd)>;
    static void setControlFactory(ControlFactory factory);

    // The ports open in this process, oldest first: none is left open after a mode.
    static int openCount();
    static std::vector<SerialPort *> openPorts();

private:
    SerialPort(int fd, std::string path, std::unique_ptr<serial::TelnetLink> telnet = {},
               bool network = false);
    // A line opened and set, not yet a port: what open() makes a port of, and what the reader
    // opens when the device comes back.
    struct LineOpening
    {
        int fd = -1;
        bool network = false;
        std::unique_ptr<serial::TelnetLink> telnet; // RFC 2217 only
        std::vector<uint8_t> early; // what a network port sent while its line was being set
        Failure failure = Failure::None;
        int error = 0;
        std::string reason;
        bool calledOff = false;
    };
    static LineOpening openLine(const std::string &path, const serial::LineParams &params,
                                int connectTimeoutMs, const serial::WaitHook &keepWaiting);
    void readerMain();
    serial::SocketWriter &rawWriter(); // a raw TCP port's, for the socket the port has now
    // Reads `fd` until it hangs up (true, recorded) or the port is being closed (false).
    bool readLine(int fd, serial::TelnetLink *telnet);
    // The reader's part after a hang-up: watches for the device to come back and opens it;
    // `fd` and `telnet` are then the new line's. False when the port is being closed meanwhile.
    bool waitForReturn(int &fd, serial::TelnetLink *&telnet);
    bool stopRequested() const;
    LineOpening reopen(const std::string &path);
    static std::string failureReason(const LineOpening &line);
    // Whether a network port's reader leaves the socket alone now, the queue being full.
    bool holdReading();
    void adoptReturned();
    void makeControl();
    void closeLine(int fd) const;
    void queue(TrafficRecord record);
    // How long what is queued has waited to be taken; 0 when nothing waits.
    int64_t heldSince(int64_t nowUs);

    int m_fd;
    std::string m_path;
    serial::LineParams m_params;
    serial::DeviceIdentity m_identity; // known once reading starts, while the device is there
    // Opened and read by the reader, the writing moved over to it by take(); under m_mutex.
    LineOpening m_returned;
    bool m_network = false;
    uint8_t m_side = 0;
    Forward m_forward;
    std::unique_ptr<serial::TelnetLink> m_telnet; // RFC 2217 only
    std::unique_ptr<serial::SocketWriter> m_rawWriter; // raw TCP, for the socket m_rawWriterFd
    int m_rawWriterFd = -1;
    std::unique_ptr<serial::LineControl> m_control;
    std::unique_ptr<serial::LineWatcher> m_watcher;
    std::atomic<bool> m_markErrors {false};
    serial::ParmrkDecoder m_decoder; // the reader's
    bool m_pseudoTerminal;
    int m_wakeFd = -1;
    int m_stopFd = -1;
    struct EventFd
    {
        EventFd();
        ~EventFd();
        int fd;
    };
    EventFd m_resume; // take() made room for a reader that held off
    std::thread m_reader;
    std::mutex m_mutex;
    std::vector<TrafficRecord> m_queue;
    size_t m_queuedBytes = 0;
    bool m_held = false; // the reader waits for m_resume
    bool m_signalled = false;
    int64_t m_signalledAtUs = 0;
};
