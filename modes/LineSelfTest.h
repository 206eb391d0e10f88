// SPDX-License-Identifier: MIT
// The cable self-test: patterns sent at each chosen speed and every echoed byte checked, then
// each output line raised and lowered while its partner is watched. With a loopback plug the
// sending and the receiving port are one object; with two ports wired to each other (null
// modem) the bytes go out on one and come in on the other.
//
// It runs on the window's thread and hands the event loop a turn between blocks and while it
// waits, so the window stays live and 停止 can end it; nothing here blocks longer than a few
// milliseconds at a time.
#pragma once

#include "serial/SerialLine.h"
#include "traffic/LineState.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

class SerialPort;

namespace LineSelfTest {

struct Options
{
    serial::LineParams params; // data bits, parity and stop bits; the speed is each in `speeds`
    std::vector<int32_t> speeds;
    uint32_t seed = 1; // of the random blocks, named in the report so a run can be repeated
    // Asked between blocks and while waiting; true ends the test where it is.
    std::function<bool()> stopRequested;
    // A line for the status bar as the test moves on ("速率 9600 …").
    std::function<void(const QString &)> progress;
};

struct SpeedResult
{
    int32_t speed = 0;
    bool passed = false;
    bool configured = true; // false: a port refused the speed
    bool timedOut = false; // the echo stopped before everything was back
    bool lineGone = false;
    bool stopped = false;
    qsizetype sent = 0;
    qsizetype received = 0;
    qsizetype missing = 0;
    qsizetype extra = 0;
    qsizetype altered = 0;
    qsizetype firstMismatch = -1; // offset in what was sent; -1: none
    int expectedByte = -1; // at firstMismatch; -1 when nothing was there to compare
    int receivedByte = -1;
    double lineSeconds = 0; // what the bytes take on a real line at this speed
    double measuredSeconds = 0; // first byte written to last echo
    double bytesPerSecond = 0; // measured
};

enum class PairOutcome { Passed, Failed, Unsupported, Stopped };

struct PairResult
{
    serial::ModemLine output = serial::Rts;
    serial::ModemLine input = serial::Cts;
    PairOutcome outcome = PairOutcome::Unsupported;
    QString detail;
};

struct Results
{
    std::vector<SpeedResult> speeds;
    std::vector<PairResult> pairs;
    bool stopped = false;
    // Every speed passed and no line pair failed (one that cannot be tested fails nothing).
    bool passed() const;
};

// The line pairs a loopback plug or a null-modem cable wires: RTS→CTS, DTR→DSR, DTR→DCD.
std::vector<PairResult> wiredPairs();

// How many bits a character takes on the line: start, data, parity, stop.
double bitsPerCharacter(const serial::LineParams &params);

// What is sent at `speed`: the 256 values in order, then seeded random bytes up to about a
// second of line time (a few KiB at most), each masked to the data bits.
QByteArray patternFor(int32_t speed, const serial::LineParams &params, uint32_t seed);

// Runs the whole test. `receiver` may be `sender` (a loopback plug).
Results run(SerialPort &sender, SerialPort &receiver, const Options &options);

// The table as plain text: a heading, one line per speed and per pair, and the summary.
QString reportText(const Results &results, const Options &options, const QString &portsText);

// Each row of the table, as the dialog shows it.
struct Row
{
    QString item; // "速率 9600", "RTS→CTS"
    QString verdict; // "通過", "失敗", "不支援", "已停止"
    QString detail;
    bool passed = false;
    bool failed = false;
};
std::vector<Row> rows(const Results &results);
// "通過", "失敗", "已停止"; a pass with line pairs the driver could not test says which, so
// that a plug whose handshake wiring nobody looked at does not read as sound.
QString verdictText(const Results &results);
QString summaryText(const Results &results);

// How the report and the dialog name a port: "COM1 (/dev/ttyUSB0)" when the settings name it by
// its number, the path or address alone when they name it by that.
QString portText(const QString &settingsName, const QString &device);

} // namespace LineSelfTest
