// SPDX-License-Identifier: MIT
// The program's side of pass-through mode: a pseudo-terminal that another program opens under a
// stable name, as if it were the serial device TELVIX holds. What the program writes, and every
// change of line parameters it makes, arrive on a reader thread of the pty's own; the device's
// bytes go to the program through write(). When the device goes away the program's side hangs
// up as the device's own would, and a fresh pty takes the name when it is back.
//
// The kernel tells of each tcsetattr on the program's side through packet mode and EXTPROC: the
// master reads a status byte with TIOCPKT_IOCTL, and the master's own termios calls read the
// slave's settings. What a pseudo-terminal cannot carry: Linux's pty driver turns every setting
// into 8 data bits without parity before anyone can read it back, so the program's data bits
// and parity are lost (framingVisible() says whether the running kernel does so). Speed (any,
// BOTHER too), stop bits and flow control arrive as the program set them.
//
// While no program has the name open, the device's bytes wait in the pty (some 18 KiB on Linux 6)
// for the next one to read them; beyond that write() waits for room as long as its caller lets it.
#pragma once

#include "serial/SerialLine.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace serial {

class PassThroughPty
{
public:
    // The callbacks run on the reader thread, which hangUp(), restore() and the destructor wait
    // for: they must not call those.
    struct Callbacks
    {
        // What the program wrote, on the pty's own reader thread, with monotonicMicroseconds()
        // of the read.
        std::function<void(const char *data, size_t size, int64_t timeUs)> data;
        // The program changed its line parameters on its side (tcsetattr): those now in force,
        // only when they differ from the last reported. On the reader thread too.
        std::function<void(const LineParams &params, int64_t timeUs)> params;
    };
    enum class Problem { None, NameTaken, NoPty, LinkFailed };
    struct Created
    {
        std::unique_ptr<PassThroughPty> pty; // null on failure
        Problem problem = Problem::None;
        std::string reason; // why it failed, for the user (UTF-8)
    };

    // Makes the pty, the name `linkPath` as a symbolic link to its slave, and starts the reader.
    // The name is taken when it is absent, or when it is a link to a /dev/pts/N that no longer
    // exists (left by a run that crashed), which is replaced. Anything else there, a live link
    // included (another instance may be using it), is NameTaken and stays as it was. The slave
    // starts raw at 9600 8N1 with CLOCAL and CREAD, so that no byte is translated until the
    // program asks for it; params() says so and no callback reports it.
    static Created create(const std::string &linkPath, Callbacks callbacks);

    // Stops the reader, removes the link if it still points at our slave, and closes the pty:
    // a program that still has it open sees a hang-up.
    ~PassThroughPty();
    PassThroughPty(const PassThroughPty &) = delete;
    PassThroughPty &operator=(const PassThroughPty &) = delete;

    const std::string &linkPath() const { return m_linkPath; }
    // The /dev/pts/N the link points at now (while hung up, the locked one that keeps the name).
    std::string slavePath() const;

    // The device's bytes to the program. Waits for room (POLLOUT, asking `keepWaiting` every
    // WaitSliceMs; an empty one waits as long as it takes) and returns how many went: fewer when
    // keepWaiting gave up or the pty is hung up or closing meanwhile, 0 at once while hung up.
    // One thread at a time, another than the reader.
    size_t write(const char *data, size_t size, const std::function<bool()> &keepWaiting);
    static constexpr int WaitSliceMs = 20;

    // The device went away: the program's open descriptors see a hang-up (their reads end or fail
    // with EIO) as a real device's would. The name stays reserved: it points at a pty whose slave
    // is locked, so that opening it fails (EIO) and no other instance takes it as left over.
    void hangUp();
    // The device is back: a fresh pty at the starting parameters (raw 9600 8N1, no callback), the
    // link re-pointed to it in one step (a link under a temporary name renamed over it), the
    // reader started again. True at once when not hung up. False with errno kept when no pty
    // could be made or the name could not be re-pointed (EEXIST: something else than our link
    // is there now); it stays hung up then and may be tried again.
    bool restore();
    bool isHungUp() const { return m_hungUp.load(); }

    // In force on the program's side, as last read.
    LineParams params() const;
    // Whether the data bits and parity in params() are the program's: false where the kernel
    // forces 8 bits without parity on every pty (Linux so far), and they are then always 8 and
    // None whatever the program asked for.
    bool framingVisible() const { return m_framingVisible.load(); }

private:
    struct Pair
    {
        int master = -1;
        int slave = -1; // our own descriptor, -1 on a locked pty
        std::string path;
    };

    PassThroughPty(std::string linkPath, Callbacks callbacks, int stopFd, Pair live,
                   const LineParams &params, bool framingVisible);
    static bool openPair(Pair &pair, bool usable, LineParams *params, bool *framingVisible);
    static void closePair(Pair &pair);

    void startReader(const LineParams &params);
    void readerMain();
    // The program's side changed: what is in force now, EXTPROC put back where it went missing,
    // and the report when the parameters differ from the last one.
    void lineChanged(int64_t timeUs);
    // The master reports an error although our own slave descriptor should prevent it (someone
    // hung the slave up under us): a new descriptor of our own, after a pause. False on stop.
    bool recover();
    bool pointLink(const std::string &target);

    const std::string m_linkPath;
    const Callbacks m_callbacks;
    const int m_stopFd; // wakes the reader and a waiting write for hangUp and the destructor

    std::mutex m_control; // one of hangUp, restore and the destructor at a time
    std::mutex m_writing; // held by write() throughout, and while the live pair changes
    mutable std::mutex m_state; // m_params and m_linkTarget

    Pair m_live; // changed only while the reader is stopped and m_writing is held
    Pair m_standby; // the locked pty that keeps the name while hung up
    std::thread m_reader;
    LineParams m_reported; // the reader's own

    LineParams m_params;
    std::string m_linkTarget;
    std::atomic<bool> m_hungUp {false};
    std::atomic<bool> m_framingVisible {false};
};

} // namespace serial
