// SPDX-License-Identifier: MIT
#include "ModbusFrames.h"

#include "traffic/Checksum.h"
#include "traffic/LogFormat.h"

#include <QStringList>

#include <algorithm>
#include <array>

namespace modbus {

namespace {

constexpr qsizetype MinRtu = 4; // address, function, CRC
constexpr qsizetype MaxRtu = 256;
constexpr qsizetype MaxAscii = 513; // ':', 252 bytes in hex, LRC, CR LF
// What ASCII allows between two characters of a frame before it is given up.
constexpr int64_t AsciiSilenceUs = 1000000;

struct Named
{
    uint8_t code;
    const char *name;
};

constexpr std::array Functions {
        Named {0x01, "讀取線圈"},         Named {0x02, "讀取離散輸入"},
        Named {0x03, "讀取保持暫存器"},   Named {0x04, "讀取輸入暫存器"},
        Named {0x05, "寫入單一線圈"},     Named {0x06, "寫入單一暫存器"},
        Named {0x07, "讀取例外狀態"},     Named {0x08, "診斷"},
        Named {0x0B, "取得通訊事件計數"}, Named {0x0C, "取得通訊事件記錄"},
        Named {0x0F, "寫入多個線圈"},     Named {0x10, "寫入多個暫存器"},
        Named {0x11, "回報從站識別碼"},   Named {0x14, "讀取檔案記錄"},
        Named {0x15, "寫入檔案記錄"},     Named {0x16, "遮罩寫入暫存器"},
        Named {0x17, "讀寫多個暫存器"},   Named {0x18, "讀取 FIFO 佇列"},
        Named {0x2B, "封裝介面傳輸"},
};

constexpr std::array Exceptions {
        Named {0x01, "非法功能"},           Named {0x02, "非法資料位址"},
        Named {0x03, "非法資料值"},         Named {0x04, "從站裝置故障"},
        Named {0x05, "已接受,處理中"},      Named {0x06, "從站裝置忙碌"},
        Named {0x08, "記憶體同位錯誤"},     Named {0x0A, "閘道路徑無法使用"},
        Named {0x0B, "閘道目標裝置無回應"},
};

const char *nameIn(const auto &table, uint8_t code)
{
    for (const Named &n : table) {
        if (n.code == code)
            return n.name;
    }
    return nullptr;
}

// The lengths a request and a reply of the function at `b` have, as far as the `n` bytes
// there tell them; 0 where the function has no such form, or it is not known.
struct Lengths
{
    qsizetype request = 0;
    qsizetype reply = 0;
    bool needMore = false; // a length depends on a byte not yet there
};

Lengths lengthsOf(const uint8_t *b, qsizetype n)
{
    Lengths l;
    if (n < 2) {
        l.needMore = true;
        return l;
    }
    // A count byte at `at` gives the length `base + count`.
    const auto counted = [&](qsizetype at, qsizetype base) -> qsizetype {
        if (n <= at) {
            l.needMore = true;
            return 0;
        }
        return base + b[at];
    };
    const uint8_t function = b[1];
    if (function & 0x80) {
        if (nameIn(Functions, function & 0x7F))
            l.reply = 5;
        return l;
    }
    switch (function) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
        l.request = 8;
        l.reply = counted(2, 5);
        break;
    case 0x05:
    case 0x06:
    case 0x08:
        l.request = l.reply = 8;
        break;
    case 0x07:
        l.request = 4;
        l.reply = 5;
        break;
    case 0x0B:
        l.request = 4;
        l.reply = 8;
        break;
    case 0x0C:
    case 0x11:
        l.request = 4;
        l.reply = counted(2, 5);
        break;
    case 0x0F:
    case 0x10:
        l.request = counted(6, 9);
        l.reply = 8;
        break;
    case 0x14:
    case 0x15:
        l.request = l.reply = counted(2, 5);
        break;
    case 0x16:
        l.request = l.reply = 10;
        break;
    case 0x17:
        l.request = counted(10, 13);
        l.reply = counted(2, 5);
        break;
    case 0x18:
        l.request = 6;
        if (n < 4)
            l.needMore = true;
        else
            l.reply = 6 + ((qsizetype(b[2]) << 8) | b[3]);
        break;
    default:
        break;
    }
    return l;
}

bool crcHolds(const uint8_t *b, qsizetype length)
{
    const uint16_t crc =
            Checksum::crc16Modbus(QByteArrayView(reinterpret_cast<const char *>(b), length - 2));
    return (crc & 0xFF) == b[length - 2] && (crc >> 8) == b[length - 1];
}

// Could these bytes begin a frame of any function: an address a slave may have (or the
// broadcast) and a function code in the public range.
bool headerPlausible(const uint8_t *b, qsizetype n)
{
    return n >= 2 && b[0] <= 247 && (b[1] & 0x7F) >= 1;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The bytes an ASCII frame's digits spell, between ':' and CR LF; nothing when a digit is
// not one, or they are odd in number.
std::optional<QByteArray> asciiBytes(const QByteArray &frame)
{
    qsizetype end = frame.size();
    if (frame.endsWith("\r\n"))
        end -= 2;
    const qsizetype digits = end - 1;
    if (frame.isEmpty() || frame[0] != ':' || digits < 0 || digits % 2 != 0)
        return std::nullopt;
    QByteArray bytes;
    bytes.reserve(digits / 2);
    for (qsizetype i = 1; i < end; i += 2) {
        const int hi = hexDigit(frame[i]);
        const int lo = hexDigit(frame[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        bytes += char(hi * 16 + lo);
    }
    return bytes;
}

uint8_t lrcOf(QByteArrayView bytes)
{
    uint8_t sum = 0;
    for (char c : bytes)
        sum = uint8_t(sum + uint8_t(c));
    return uint8_t(-sum);
}

constexpr char Digits[] = "0123456789ABCDEF";

// The text is made by appending: a frame a line at a million frames a second leaves no room
// for QString::arg.
void appendHex(QString &out, unsigned v, int digits)
{
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out += QLatin1Char(Digits[(v >> shift) & 15]);
}

// "00" to "FF", made once: an address and a function are named at every frame.
QString hex2(uint8_t v)
{
    static const std::array<QString, 256> all = [] {
        std::array<QString, 256> made;
        for (int i = 0; i < 256; ++i)
            appendHex(made[size_t(i)], unsigned(i), 2);
        return made;
    }();
    return all[v];
}

uint16_t be16(const QByteArray &d, qsizetype at)
{
    return uint16_t((uint8_t(d[at]) << 8) | uint8_t(d[at + 1]));
}

QString registers(const QByteArray &d, qsizetype from)
{
    QString out;
    out.reserve((d.size() - from) / 2 * 5);
    for (qsizetype i = from; i + 1 < d.size(); i += 2) {
        if (i > from)
            out += u' ';
        appendHex(out, be16(d, i), 4);
    }
    return out;
}

QString address(const QByteArray &d, qsizetype at)
{
    QString out = QStringLiteral("0x");
    appendHex(out, be16(d, at), 4);
    return out;
}

QString startCount(const QByteArray &d, qsizetype at)
{
    return QStringLiteral("起始 ") + address(d, at) + QStringLiteral(" 數量 ")
            + QString::number(be16(d, at + 2));
}

QString counted(const QByteArray &d, qsizetype countAt, bool words)
{
    return QString::number(uint8_t(d[countAt])) + QStringLiteral(" 位元組 : ")
            + (words ? registers(d, countAt + 1) : LogFormat::hexOf(d.mid(countAt + 1)));
}

enum class Role { Unknown, Request, Reply };

// The fields of the common functions; empty where the data is not of the form its role has.
QString fieldsOf(uint8_t function, Role role, const QByteArray &d)
{
    const qsizetype n = d.size();
    const bool request = role == Role::Request;
    const bool reply = role == Role::Reply;
    const bool countedReply = reply && n >= 1 && uint8_t(d[0]) == n - 1;
    switch (function) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
        if (request && n == 4)
            return startCount(d, 0);
        if (countedReply)
            return counted(d, 0, function >= 0x03);
        break;
    case 0x05:
        if (n == 4) {
            const uint16_t v = be16(d, 2);
            const QString value = v == 0xFF00 ? QStringLiteral("ON")
                    : v == 0x0000             ? QStringLiteral("OFF")
                                              : address(d, 2);
            return QStringLiteral("位址 %1 值 %2").arg(address(d, 0), value);
        }
        break;
    case 0x06:
        if (n == 4)
            return QStringLiteral("位址 %1 值 %2 (%3)")
                    .arg(address(d, 0), address(d, 2))
                    .arg(be16(d, 2));
        break;
    case 0x0F:
    case 0x10:
        if (request && n >= 5 && uint8_t(d[4]) == n - 5)
            return startCount(d, 0) + u' ' + counted(d, 4, function == 0x10);
        if (reply && n == 4)
            return startCount(d, 0);
        break;
    case 0x17:
        if (request && n >= 9 && uint8_t(d[8]) == n - 9)
            return QStringLiteral("讀取 %1 寫入 %2 %3")
                    .arg(startCount(d, 0), startCount(d, 4), counted(d, 8, true));
        if (countedReply)
            return counted(d, 0, true);
        break;
    default:
        break;
    }
    return n ? QStringLiteral("資料 : ") + LogFormat::hexOf(d) : QString();
}

} // namespace

int64_t silenceUs(int baudRate, int bitsPerCharacter)
{
    if (baudRate > 19200 || baudRate <= 0)
        return 1750;
    return int64_t(3.5 * 1e6 * bitsPerCharacter / baudRate + 0.5);
}

int64_t characterUs(int baudRate, int bitsPerCharacter)
{
    return baudRate > 0 ? int64_t(1e6 * bitsPerCharacter / baudRate + 0.5) : 0;
}

Framer::Framer(Protocol protocol, int64_t silenceUs, int64_t characterUs)
    : m_protocol(protocol), m_silenceUs(std::max<int64_t>(1, silenceUs)),
      m_characterUs(std::max<int64_t>(0, characterUs))
{ }

void Framer::feed(QByteArrayView bytes, int64_t timeUs, std::vector<Frame> &out)
{
    if (bytes.isEmpty())
        return;
    if (m_run.size() > m_begin) {
        // The silence before this read: from the last read's arrival to when this one's first
        // byte began, the bytes having taken their time on the line.
        const int64_t began = timeUs - m_characterUs * bytes.size();
        const int64_t silence = m_protocol == Protocol::Rtu ? m_silenceUs : AsciiSilenceUs;
        if (began - m_lastUs > silence)
            resolve(true, out);
    }
    if (m_run.size() == m_begin) {
        m_run.resize(0);
        m_begin = 0;
        m_reads.clear();
    }
    m_reads.push_back({m_run.size(), timeUs});
    m_run.append(bytes);
    m_lastUs = timeUs;
    resolve(false, out);
}

std::optional<int64_t> Framer::dueUs() const
{
    if (m_run.size() == m_begin)
        return std::nullopt;
    return m_lastUs + (m_protocol == Protocol::Rtu ? m_silenceUs : AsciiSilenceUs);
}

void Framer::flush(int64_t nowUs, std::vector<Frame> &out)
{
    if (const auto due = dueUs(); due && nowUs >= *due)
        resolve(true, out);
}

void Framer::finish(std::vector<Frame> &out)
{
    if (m_run.size() > m_begin)
        resolve(true, out);
}

void Framer::resolve(bool final, std::vector<Frame> &out)
{
    if (m_protocol == Protocol::Ascii)
        resolveAscii(final, out);
    else
        resolveRtu(final, out);
    // What was taken leaves the buffer once a pass is done, not frame by frame.
    if (m_begin > 0 && (m_begin == m_run.size() || m_begin >= 4096)) {
        m_run.remove(0, m_begin);
        for (Read &r : m_reads)
            r.offset -= m_begin;
        m_begin = 0;
        const auto firstKept = std::find_if(m_reads.begin(), m_reads.end(),
                                            [](const Read &r) { return r.offset > 0; });
        if (firstKept != m_reads.begin())
            m_reads.erase(m_reads.begin(), firstKept - 1);
        if (m_run.isEmpty())
            m_reads.clear();
    }
}

void Framer::resolveRtu(bool final, std::vector<Frame> &out)
{
    const auto *b = reinterpret_cast<const uint8_t *>(m_run.constData());
    // A whole run its silence ends, with a check that holds, is a frame whatever its function.
    const qsizetype whole = m_run.size() - m_begin;
    if (final && whole >= MinRtu && whole <= MaxRtu && headerPlausible(b + m_begin, whole)
        && crcHolds(b + m_begin, whole)) {
        take(whole, true, true, out);
        return;
    }
    qsizetype p = m_begin; // bytes before p are no frame's start
    while (p < m_run.size()) {
        const qsizetype n = m_run.size() - p;
        bool waiting = false;
        qsizetype found = 0;
        if (n < 2) {
            waiting = true;
        } else if (b[p] <= 247) {
            const Lengths l = lengthsOf(b + p, n);
            waiting = l.needMore;
            const auto fits = [&](qsizetype length) {
                return length >= MinRtu && length <= MaxRtu;
            };
            const auto holds = [&](qsizetype length) {
                return fits(length) && length <= n && crcHolds(b + p, length);
            };
            const auto later = [&](qsizetype length) { return fits(length) && length > n; };
            // A request and a reply may both have a check that holds at their lengths, one by
            // chance (once in 65,536): the one the line is due to carry goes first. On a line
            // that carries both, that is the reply to an open request; on one that has carried
            // mostly replies (one direction of a link), a reply.
            const bool replyFirst = (m_replies > 0 && m_requestOpen && m_requestAddress == b[p]
                                     && m_requestFunction == b[p + 1])
                    || m_replies > m_requests;
            const qsizetype first = replyFirst ? l.reply : l.request;
            const qsizetype second = replyFirst ? l.request : l.reply;
            if (holds(first))
                found = first;
            else if (later(first))
                waiting = true;
            else if (holds(second))
                found = second;
            else if (later(second))
                waiting = true;
            if (found) {
                const bool request = found == l.request && found != l.reply;
                const bool reply = found == l.reply && found != l.request;
                m_requests += request;
                m_replies += reply;
                m_requestOpen = request;
                m_requestAddress = b[p];
                m_requestFunction = b[p + 1];
            }
        }
        if (found) {
            if (p > m_begin)
                leftover(p - m_begin, out);
            take(found, true, true, out);
            p = m_begin;
            continue;
        }
        if (waiting && !final)
            break;
        ++p;
    }
    if (final) {
        if (m_run.size() > m_begin)
            leftover(m_run.size() - m_begin, out);
    } else if (m_run.size() - m_begin > RunLimit) {
        // A run this long holds no frame at its start: what cannot begin one in the last
        // frame's length goes out as bytes, lest the search grow without end.
        leftover(m_run.size() - m_begin - MaxRtu, out);
    }
}

void Framer::resolveAscii(bool final, std::vector<Frame> &out)
{
    for (;;) {
        const qsizetype colon = m_run.indexOf(':', m_begin);
        if (colon < 0) {
            if (m_run.size() > m_begin && (final || m_run.size() - m_begin > RunLimit))
                take(m_run.size() - m_begin, false, false, out);
            return;
        }
        if (colon > m_begin)
            take(colon - m_begin, false, false, out);
        const qsizetype lf = m_run.indexOf('\n', colon);
        const qsizetype next = m_run.indexOf(':', colon + 1);
        if (next >= 0 && (lf < 0 || next < lf)) {
            // A frame cut short by the next one's start.
            take(next - colon, true, false, out);
            continue;
        }
        if (lf < 0) {
            if (final || m_run.size() - colon > MaxAscii)
                take(m_run.size() - colon, true, false, out);
            return;
        }
        const QByteArray frame = m_run.mid(colon, lf + 1 - colon);
        const std::optional<QByteArray> bytes = asciiBytes(frame);
        const bool ok = frame.endsWith("\r\n") && bytes && bytes->size() >= 3
                && lrcOf(QByteArrayView(*bytes).chopped(1)) == uint8_t(bytes->back());
        take(frame.size(), true, ok, out);
    }
}

void Framer::leftover(qsizetype count, std::vector<Frame> &out)
{
    const auto *b = reinterpret_cast<const uint8_t *>(m_run.constData()) + m_begin;
    // Bytes with a header, as long as a frame: a frame whose check failed. Anything else is
    // bytes that fit no frame.
    const bool frame = count >= MinRtu && count <= MaxRtu && headerPlausible(b, count)
            && nameIn(Functions, b[1] & 0x7F);
    take(count, frame, false, out);
}

void Framer::take(qsizetype count, bool framed, bool checkOk, std::vector<Frame> &out)
{
    Frame f;
    f.bytes = m_run.mid(m_begin, count);
    f.timeUs = timeAt(m_begin);
    f.framed = framed;
    f.checkOk = checkOk;
    out.push_back(std::move(f));
    m_begin += count;
}

int64_t Framer::timeAt(qsizetype offset) const
{
    // The last read that began at or before the offset.
    const auto after = std::upper_bound(m_reads.begin(), m_reads.end(), offset,
                                        [](qsizetype o, const Read &r) { return o < r.offset; });
    return after == m_reads.begin() ? m_lastUs : std::prev(after)->timeUs;
}

Decoded decode(const Frame &frame, Protocol protocol)
{
    Decoded d;
    QByteArray bytes;
    if (protocol == Protocol::Ascii) {
        const std::optional<QByteArray> spelled = asciiBytes(frame.bytes);
        if (!spelled || spelled->size() < 3)
            return d;
        bytes = *spelled;
        d.check = uint8_t(bytes.back());
        d.expectedCheck = lrcOf(QByteArrayView(bytes).chopped(1));
        bytes.chop(1);
    } else {
        if (frame.bytes.size() < MinRtu)
            return d;
        bytes = frame.bytes;
        const qsizetype n = bytes.size();
        d.check = uint16_t(uint8_t(bytes[n - 2]) | (uint8_t(bytes[n - 1]) << 8));
        d.expectedCheck = Checksum::crc16Modbus(QByteArrayView(bytes).chopped(2));
        bytes.chop(2);
    }
    d.readable = true;
    d.address = uint8_t(bytes[0]);
    d.function = uint8_t(bytes[1]);
    d.data = bytes.mid(2);
    return d;
}

QString functionName(uint8_t function)
{
    // Made once: a name is asked for at every frame.
    static const std::array<QString, 256> names = [] {
        std::array<QString, 256> all;
        for (const Named &n : Functions)
            all[n.code] = QString::fromUtf8(n.name);
        return all;
    }();
    return names[function];
}

QString exceptionName(uint8_t code)
{
    const char *name = nameIn(Exceptions, code);
    return name ? QString::fromUtf8(name) : QString();
}

QString Description::line() const
{
    if (!framed)
        return QStringLiteral("無法解析 : ") + fields;
    QString text;
    text.reserve(24 + name.size() + role.size() + fields.size() + check.size());
    text += QStringLiteral("站號 ");
    text += address;
    if (address == u"00")
        text += QStringLiteral(" (廣播)");
    if (!function.isEmpty()) {
        text += QStringLiteral("  ");
        text += function;
        if (!name.isEmpty()) {
            text += u' ';
            text += name;
        }
    }
    if (!role.isEmpty() || !fields.isEmpty()) {
        text += QStringLiteral("  ");
        text += role;
        if (!role.isEmpty() && !fields.isEmpty())
            text += u' ';
        text += fields;
    }
    text += QStringLiteral("  ");
    text += check;
    return text;
}

Description Describer::describe(const Frame &frame)
{
    Description out;
    out.checkOk = frame.checkOk;
    const Decoded d = frame.framed ? decode(frame, m_protocol) : Decoded {};
    if (!d.readable) {
        out.framed = false;
        out.fields = m_protocol == Protocol::Ascii
                ? QString::fromLatin1(frame.bytes.toPercentEncoding(":"))
                : LogFormat::hexOf(frame.bytes);
        return out;
    }
    out.address = hex2(d.address);
    out.function = hex2(d.function);
    const uint8_t function = d.function & 0x7F;
    out.name = functionName(function);
    const bool rtu = m_protocol == Protocol::Rtu;
    if (frame.checkOk) {
        out.check = rtu ? QStringLiteral("CRC 正確") : QStringLiteral("LRC 正確");
    } else {
        QString expected = hex2(uint8_t(d.expectedCheck & 0xFF));
        if (rtu)
            expected += u' ' + hex2(uint8_t(d.expectedCheck >> 8));
        out.check = (rtu ? QStringLiteral("CRC") : QStringLiteral("LRC"))
                + QStringLiteral(" 錯誤 (應為 ") + expected + u')';
    }

    if (d.function & 0x80) {
        out.role = QStringLiteral("例外");
        if (!d.data.isEmpty()) {
            const QString name = exceptionName(uint8_t(d.data[0]));
            out.fields = hex2(uint8_t(d.data[0])) + (name.isEmpty() ? QString() : u' ' + name);
        }
        m_requestOpen = false;
        return out;
    }
    // The length this frame would have on an RTU line tells a request from a reply.
    std::array<uint8_t, MaxAscii> header {};
    const qsizetype length = std::min<qsizetype>(d.data.size() + 4, qsizetype(header.size()));
    header[0] = d.address;
    header[1] = d.function;
    std::copy_n(d.data.constData(), length - 4, header.begin() + 2);
    const Lengths l = lengthsOf(header.data(), length);
    const bool asRequest = l.request == length;
    const bool asReply = l.reply == length;
    Role role = Role::Unknown;
    if (asRequest && asReply)
        role = m_requestOpen && m_requestAddress == d.address && m_requestFunction == d.function
                ? Role::Reply
                : Role::Request;
    else if (asRequest)
        role = Role::Request;
    else if (asReply)
        role = Role::Reply;
    if (role == Role::Request) {
        m_requestOpen = true;
        m_requestAddress = d.address;
        m_requestFunction = d.function;
        out.role = QStringLiteral("要求");
    } else if (role == Role::Reply) {
        m_requestOpen = false;
        out.role = QStringLiteral("回應");
    }
    out.fields = fieldsOf(d.function, role, d.data);
    return out;
}

} // namespace modbus
