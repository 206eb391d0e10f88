// SPDX-License-Identifier: MIT
// The thin POSIX layer through which every mode talks to a serial port.
// One descriptor serves reading and writing; everything is non-blocking underneath so the
// single user-interface thread never sleeps inside the kernel without a way back.
#pragma once

#include "traffic/LineState.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace serial {

// The four fields a mode start replaces (stop bits in the numeric codes of the settings: 0 one,
// 1 one and a half, 2 two).
struct LineParams
{
    int32_t baudRate = 9600;
    Parity parity = Parity::None;
    uint8_t dataBits = 8;
    uint8_t stopBits = 0;
    FlowControl flow = FlowControl::Keep;
    bool markErrors = false; // PARMRK and INPCK: errored bytes marked in the stream
    Rs485Config rs485 {}; // a device's only: a network port's is the server's business
};

// What the driver holds after a configuration read.
struct LineConfig
{
    int64_t speed = 0; // bits per second, as the driver reports it
    uint8_t dataBits = 8; // 5..8
    Parity parity = Parity::None;
    uint8_t stopBits = 0; // 0 or 2
    bool hardwareFlow = false; // CRTSCTS
    bool softwareFlow = false; // IXON and IXOFF
};

struct OpenResult
{
    int fd = -1; // -1 on failure
    int error = 0; // errno of the failing step
};

// open(O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC), CLOCAL, then the exclusive claim
// (flock LOCK_EX|LOCK_NB and TIOCEXCL, unless the tty has that flag already). A port that
// another process or another descriptor of ours holds fails with EBUSY/EWOULDBLOCK. The
// descriptor stays non-blocking.
OpenResult openPort(const std::string &path);

// Releases the exclusive claim (the TIOCEXCL flag only where openPort set it) and closes.
// Safe with -1.
void closePort(int fd);

// Why a configuration read or write failed, for the user: the errno of the call the driver
// turned down, or, where no call failed, the field it did not take (read back otherwise than
// written) or that was refused before asking it (`invalid`: no line can have that value).
// RS-485 has a field of its own whether a call failed or not, as it is told apart from the
// rest: Rs485 with the errno of a refusal or none for a read-back that differs, Rs485ReadBack
// for a read-back call that failed.
enum class ConfigField : uint8_t {
    None,
    Speed,
    DataBits,
    Parity,
    StopBits,
    Flow,
    RawMode,
    Rs485,
    Rs485ReadBack,
};
struct ConfigFault
{
    int error = 0;
    ConfigField field = ConfigField::None;
    bool invalid = false;
};

// tcgetattr plus the real speed (TCGETS2). False when the node is no terminal.
bool readConfig(int fd, LineConfig &out, ConfigFault *fault = nullptr);

// Raw line discipline (no echo, no canonical input, no CR/LF translation, no signals,
// no input XON/XOFF, CREAD|CLOCAL, VMIN 1, VTIME 0) plus exactly the four fields.
// CRTSCTS keeps what the driver reported. The result is read back; a field the driver did not
// take makes it false, except that a pseudo-terminal forcing 8 bits and no parity is accepted.
// Speeds <= 0 are refused without touching the port. `fault` gets why it failed.
bool writeConfig(int fd, const LineParams &params, ConfigFault *fault = nullptr);

// RS-485 as `config` asks (TIOCSRS485), then read back (TIOCGRS485) and compared. The driver's
// flags that TELVIX has no row for (receiving while sending, bus termination, addressing) keep
// what the driver had. A config that is off calls nothing. When the driver took it otherwise
// than asked, what it had before is put back, so a port given up is not left half set.
bool writeRs485(int fd, const Rs485Config &config, ConfigFault *fault = nullptr);

// PARMRK and INPCK on or off on the open line, read back.
bool setMarkErrors(int fd, bool on);

// True when fd is the slave side of a pseudo-terminal.
bool isPseudoTerminal(int fd);

enum class ReadStatus { Byte, NoData, Gone };

// One non-blocking read of up to `capacity` bytes. `count` gets how many were read.
// NoData: nothing has arrived yet. Gone: the other side hung up or the device vanished
// (read 0, EIO, ENXIO, ENODEV). Interrupted reads are retried.
ReadStatus readBytes(int fd, uint8_t *buffer, size_t capacity, size_t &count);

// Called while a write waits for the driver to take a byte; return false to give up.
using WaitHook = std::function<bool()>;

// Writes exactly one byte: on EAGAIN waits for POLLOUT (calling `hook` every `sliceMs`
// when given) and tries again, so no byte is ever dropped. False when the device is gone,
// another error occurs, or the hook gave up.
bool writeByte(int fd, uint8_t byte, const WaitHook &hook = {}, int sliceMs = 20);
// The same for a run of bytes, as few writes as the driver allows; how many it took (all of
// them unless the device is gone or the hook gave up).
size_t writeBytes(int fd, const uint8_t *bytes, size_t count, const WaitHook &hook = {},
                  int sliceMs = 20);

// tcdrain on a real port; a no-op on a pseudo-terminal, where it would wait for the reader.
void drainOutput(int fd);

// Blocks up to `timeoutMs` for readable data (or hang-up). True when poll reported the fd ready.
bool waitReadable(int fd, int timeoutMs);

} // namespace serial
