// SPDX-License-Identifier: MIT
// Modbus frames found in a line's bytes, and the line a frame is shown as. Pure bytes and
// times: the display, the frames CSV and the benchmark all read the capture's records through
// it, so what is shown, what is exported and what is measured are one reading.
//
// RTU has no delimiters: a frame ends where the line is silent for 3.5 characters. Arrival
// times are those of whole reads, and a USB adapter hands its bytes over in batches, so a
// request and its reply may come in one read: within a run the framer also takes a frame
// wherever a plausible header is followed, at the length its function gives, by a CRC that
// holds. What fits no frame stays bytes, shown as such and marked; a run that looks like a
// frame but whose check fails is a frame with a wrong check.
//
// ASCII is ':' ... CR LF, the hex digits checked by their LRC.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace modbus {

enum class Protocol : uint8_t { None, Rtu, Ascii };

// What ends an RTU frame at this speed: 3.5 characters of `bitsPerCharacter` (start, data,
// parity, stop), and 1.75 ms at any speed above 19,200 baud, as the protocol fixes it.
int64_t silenceUs(int baudRate, int bitsPerCharacter);
// How long one character takes on the line.
int64_t characterUs(int baudRate, int bitsPerCharacter);

struct Frame
{
    QByteArray bytes; // as on the line, the check (RTU) or ':' ... CR LF (ASCII) included
    int64_t timeUs = 0; // the arrival of the read that held its first byte
    bool framed = true; // false: bytes that fit no frame
    bool checkOk = false;
};

class Framer
{
public:
    Framer(Protocol protocol, int64_t silenceUs, int64_t characterUs);

    // The bytes of one read, which arrived at `timeUs`; frames complete by now go to `out`.
    void feed(QByteArrayView bytes, int64_t timeUs, std::vector<Frame> &out);
    // When what waits becomes a frame by the line's silence alone; nothing when nothing waits.
    std::optional<int64_t> dueUs() const;
    // What waits, ended by the silence if `nowUs` is past dueUs().
    void flush(int64_t nowUs, std::vector<Frame> &out);
    // The end of the traffic: what waits goes out as it stands.
    void finish(std::vector<Frame> &out);

    // Bytes an RTU run may hold while no frame is found in it before they go out as bytes:
    // well past the longest frame (256 bytes).
    static constexpr qsizetype RunLimit = 1024;

private:
    // Takes the frames the run holds; `final`: the run has ended, nothing more joins it.
    void resolve(bool final, std::vector<Frame> &out);
    void resolveRtu(bool final, std::vector<Frame> &out);
    void resolveAscii(bool final, std::vector<Frame> &out);
    // The next `count` bytes of the run leave it as one frame or as bytes.
    void take(qsizetype count, bool framed, bool checkOk, std::vector<Frame> &out);
    // The next `count` bytes, in which no frame with a sound check was found.
    void leftover(qsizetype count, std::vector<Frame> &out);
    int64_t timeAt(qsizetype offset) const;

    Protocol m_protocol;
    int64_t m_silenceUs;
    int64_t m_characterUs;
    QByteArray m_run;
    qsizetype m_begin = 0; // what comes before this in m_run has been taken
    // Where each read's bytes begin in m_run, and when it arrived.
    struct Read
    {
        qsizetype offset;
        int64_t timeUs;
    };
    std::vector<Read> m_reads;
    // What the run's frames have been, to tell a request from a reply where both would fit.
    int64_t m_requests = 0;
    int64_t m_replies = 0;
    bool m_requestOpen = false;
    uint8_t m_requestAddress = 0;
    uint8_t m_requestFunction = 0;
    int64_t m_lastUs = 0;
};

// A frame's bytes read as Modbus.
struct Decoded
{
    bool readable = false; // at least an address and a function
    uint8_t address = 0;
    uint8_t function = 0; // with the exception bit
    QByteArray data; // after the function, before the check
    uint16_t expectedCheck = 0; // what the check should be
    uint16_t check = 0; // what it is
};
Decoded decode(const Frame &frame, Protocol protocol);

// "讀取保持暫存器" for 03; an empty text for a function this does not name.
QString functionName(uint8_t function);
// "非法資料位址" for 02.
QString exceptionName(uint8_t code);

// What a frame says, in the display's words, a field each (the frames CSV has them as its
// columns).
struct Description
{
    bool framed = true; // false: bytes that fit no frame; `fields` holds them in hex
    bool checkOk = false;
    QString address; // "01"
    QString function; // "03", "83" for its exception
    QString name; // "讀取保持暫存器"
    QString role; // "要求", "回應", "例外", or empty where the length tells neither
    QString fields; // "起始 0x0000 數量 10"
    QString check; // "CRC 正確", "CRC 錯誤 (應為 C5 CD)"

    // One line of the display: "站號 01  03 讀取保持暫存器  要求 起始 0x0000 數量 10  CRC 正確".
    QString line() const;
};

// Requests and replies of one function may have the same length, so the describer remembers
// the last request it saw: what answers it is a reply.
class Describer
{
public:
    explicit Describer(Protocol protocol) : m_protocol(protocol) { }
    Description describe(const Frame &frame);

private:
    Protocol m_protocol;
    bool m_requestOpen = false;
    uint8_t m_requestAddress = 0;
    uint8_t m_requestFunction = 0;
};

} // namespace modbus
