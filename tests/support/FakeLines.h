// SPDX-License-Identifier: MIT
// The test's side of the fakelines interposer: creates the shared state in a temporary folder,
// points TELVIX_FAKELINES at it (so pty slaves of this process and of its children gain lines,
// counters, break and RS-485) and plays the far end and the driver. Needs the test to run with
// the interposer preloaded (telvix_test(... PRELOAD)); active() tells whether it is.
// Lines are serial::ModemLine bits, as the port sees them. Only the program's own ioctl() and
// read() calls are seen: those the C library makes inside tcsendbreak() or tcdrain() are not.
#pragma once

#include "traffic/LineState.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>

namespace fakelines {
struct State;
}

class FakeLines
{
public:
    enum Refuse : uint32_t {
        ModemGet = 1,
        ModemSet = 2,
        WaitForChange = 4,
        Counts = 8,
        Break = 16,
        Speed = 32, // a speed outside the classic list
        SpeedIgnored = 64, // taken without an error, and not set
        Rs485Set = 128, // TIOCSRS485
        Rs485Get = 256, // TIOCGRS485
        Rs485Altered = 512, // RS-485 taken, with RTS after send kept the other way while on
    };
    enum Wire : uint32_t { RtsToCts = 1, DtrToDsr = 2, DtrToDcd = 4 };

    FakeLines(); // sets TELVIX_FAKELINES
    // Drives the state another process made (a far end in a process of its own); leaves the
    // variable as it is.
    explicit FakeLines(const QString &existingPath);
    ~FakeLines(); // unsets it, when this one set it
    FakeLines(const FakeLines &) = delete;
    FakeLines &operator=(const FakeLines &) = delete;

    bool isValid() const { return m_state != nullptr; }
    QString path() const;
    // Whether the interposer is in this process (it serves TIOCMGET on a pty slave).
    static bool active();

    // The far end's outputs: the input lines CTS, DSR, DCD, RI; other bits are ignored.
    void setInputs(uint8_t lines);
    void setInput(serial::ModemLine line, bool on);
    // What the port drives, DTR and RTS.
    uint8_t outputs() const;
    void setWiring(uint32_t wires);
    // Calls to turn away from now on, with `error`.
    void setRefused(uint32_t calls, int error = 0);
    // Adds to the driver's counters, as a UART's interrupts would.
    void addErrors(const serial::ErrorCounts &more);
    // The input line interrupts counted so far (TIOCGICOUNT's cts, dsr, dcd and rng).
    uint32_t lineInterrupts() const;

    // Bytes the port's next read returns before the pty's own; false when they do not fit.
    bool inject(const QByteArray &bytes);
    qsizetype injectedLeft() const;

    struct BreakRecord
    {
        uint32_t count = 0;
        uint32_t lastMs = 0;
        bool on = false;
    };
    BreakRecord breaks() const;

    // struct serial_rs485 as the driver holds it (its flags and delays), and how often the port
    // set it and asked for it.
    struct Rs485Record
    {
        uint32_t flags = 0;
        uint32_t delayBeforeMs = 0;
        uint32_t delayAfterMs = 0;
        uint32_t sets = 0;
        uint32_t gets = 0;
    };
    Rs485Record rs485() const;
    // The setting the driver has before the port opens (a board's own, say).
    void setRs485(uint32_t flags, uint32_t delayBeforeMs = 0, uint32_t delayAfterMs = 0);

private:
    QTemporaryDir m_dir;
    QString m_path;
    fakelines::State *m_state = nullptr;
    bool m_owner = false;
};
