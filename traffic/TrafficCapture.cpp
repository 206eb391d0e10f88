// SPDX-License-Identifier: MIT
#include "TrafficCapture.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The two bits of a record's kind in its header: the bytes of the line, and everything else
// (the line's events, rare, and the second line's bytes) as 3 with the kind in a byte before
// the record's own, its high bit set for the second line.
constexpr uint8_t OtherKind = 3;
constexpr uint8_t SecondSide = 0x80;

uint8_t kindCode(const TrafficRecord &record)
{
    if (record.side != 0)
        return OtherKind;
    switch (record.kind) {
    case TrafficKind::Received:
        return 0;
    case TrafficKind::Sent:
        return 1;
    case TrafficKind::Flawed:
        return 2;
    case TrafficKind::LineGone:
    case TrafficKind::ModemLines:
    case TrafficKind::BreakSent:
    case TrafficKind::LineErrors:
    case TrafficKind::Report:
    case TrafficKind::LineBack:
    case TrafficKind::Sides:
    case TrafficKind::Params:
        break;
    }
    return OtherKind;
}

TrafficKind kindOf(uint64_t code)
{
    switch (code) {
    case 0:
        return TrafficKind::Received;
    case 1:
        return TrafficKind::Sent;
    default:
        return TrafficKind::Flawed;
    }
}

TrafficKind otherKindOf(uint8_t stored)
{
    switch (TrafficKind(stored & ~SecondSide)) {
    case TrafficKind::Received:
    case TrafficKind::Sent:
    case TrafficKind::Flawed:
    case TrafficKind::Sides:
    case TrafficKind::Params:
    case TrafficKind::ModemLines:
    case TrafficKind::BreakSent:
    case TrafficKind::LineErrors:
    case TrafficKind::Report:
    case TrafficKind::LineBack:
        return TrafficKind(stored & ~SecondSide);
    default:
        return TrafficKind::LineGone;
    }
}

// Times can step back (a terminal's reply that arrived during a send is published after it):
// the difference is signed, kept small either way.
uint64_t zigzag(int64_t v) { return (uint64_t(v) << 1) ^ uint64_t(v >> 63); }
int64_t unzigzag(uint64_t v) { return int64_t(v >> 1) ^ -int64_t(v & 1); }

} // namespace

TrafficCapture::TrafficCapture(int64_t memoryLimit, QString spillFolder)
    : m_memoryLimit(memoryLimit), m_spillFolder(std::move(spillFolder))
{ }

TrafficCapture::~TrafficCapture() { closeSpillFile(); }

void TrafficCapture::closeSpillFile()
{
    if (m_spillFd >= 0)
        ::close(m_spillFd);
    m_spillFd = -1;
    m_spillFailed = false;
    m_spilled = 0;
}

void TrafficCapture::clear()
{
    closeSpillFile();
    m_blocks.clear();
    m_used = 0;
    m_lastUnits = 0;
    m_received[0] = m_received[1] = m_sent = m_records = 0;
    m_sides = {};
}

int64_t TrafficCapture::memoryBytes() const
{
    return int64_t((m_blocks.size() - m_spilled) * BlockSize
                   + m_blocks.capacity() * sizeof(m_blocks[0]));
}

int64_t TrafficCapture::storedBytes() const
{
    return m_blocks.empty() ? 0 : int64_t((m_blocks.size() - 1) * BlockSize + m_used);
}

bool TrafficCapture::spill(size_t index)
{
    if (m_spillFd < 0 && !m_spillFailed) {
        const QString folder = m_spillFolder.isEmpty() ? QDir::tempPath() : m_spillFolder;
        m_spillFd =
                ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        m_spillFailed = m_spillFd < 0;
    }
    if (m_spillFd < 0)
        return false;
    const uint8_t *data = m_blocks[index].get();
    size_t done = 0;
    while (done < BlockSize) {
        const ssize_t n =
                ::pwrite(m_spillFd, data + done, BlockSize - done, off_t(index * BlockSize + done));
        if (n > 0)
            done += size_t(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return false; // disk full: this block and the next ones stay in memory
    }
    return true;
}

void TrafficCapture::newBlock()
{
    // The block just filled goes to the file when memory is at the limit, and its buffer takes
    // the new bytes; one that could not be written stays where it is.
    std::unique_ptr<uint8_t[]> block;
    const size_t inMemory = m_blocks.size() - m_spilled;
    if (!m_blocks.empty() && int64_t(inMemory * BlockSize) >= m_memoryLimit
        && spill(m_blocks.size() - 1)) {
        block = std::move(m_blocks.back());
        ++m_spilled;
    } else {
        // Not zeroed first: every byte of it is written before it is read.
        block = std::make_unique_for_overwrite<uint8_t[]>(BlockSize);
    }
    m_blocks.push_back(std::move(block));
    m_used = 0;
}

void TrafficCapture::append(const uint8_t *bytes, size_t count)
{
    while (count > 0) {
        if (m_blocks.empty() || m_used == BlockSize)
            newBlock();
        const size_t n = std::min(count, BlockSize - m_used);
        std::memcpy(m_blocks.back().get() + m_used, bytes, n);
        m_used += n;
        bytes += n;
        count -= n;
    }
}

void TrafficCapture::appendNumber(uint64_t value)
{
    uint8_t buffer[10];
    size_t n = 0;
    do {
        buffer[n] = uint8_t(value & 0x7F);
        value >>= 7;
        if (value != 0)
            buffer[n] |= 0x80;
        ++n;
    } while (value != 0);
    append(buffer, n);
}

void TrafficCapture::take(const TrafficRecord &record)
{
    const int64_t units = record.timeUs / TimeUnitUs;
    const uint8_t code = kindCode(record);
    const uint64_t length = uint64_t(record.bytes.size()) + (code == OtherKind ? 1 : 0);
    appendNumber((length << 2) | code);
    appendNumber(zigzag(units - m_lastUnits));
    m_lastUnits = units;
    if (code == OtherKind) {
        const auto stored = uint8_t(uint8_t(record.kind) | (record.side ? SecondSide : 0));
        append(&stored, 1);
    }
    append(reinterpret_cast<const uint8_t *>(record.bytes.constData()),
           size_t(record.bytes.size()));
    ++m_records;
    if (record.kind == TrafficKind::Received || record.kind == TrafficKind::Flawed)
        m_received[record.side ? 1 : 0] += record.bytes.size();
    else if (record.kind == TrafficKind::Sent)
        m_sent += record.bytes.size();
    else if (record.kind == TrafficKind::Sides)
        m_sides = SideNames::of(record);
}

bool TrafficCapture::forEach(const std::function<void(const TrafficRecord &)> &visit) const
{
    // A block in the file is read into a buffer of its own while it is walked.
    std::unique_ptr<uint8_t[]> loaded;
    bool failed = false;
    size_t block = 0;
    size_t at = 0;
    const uint8_t *data = nullptr;
    const auto enter = [&](size_t index) {
        block = index;
        at = 0;
        if (index >= m_blocks.size() || failed)
            return;
        if (m_blocks[index]) {
            data = m_blocks[index].get();
            return;
        }
        if (!loaded)
            loaded = std::make_unique_for_overwrite<uint8_t[]>(BlockSize);
        size_t done = 0;
        while (done < BlockSize) {
            const ssize_t n = ::pread(m_spillFd, loaded.get() + done, BlockSize - done,
                                      off_t(index * BlockSize + done));
            if (n > 0) {
                done += size_t(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                failed = true;
                std::memset(loaded.get(), 0, BlockSize);
                break;
            }
        }
        data = loaded.get();
    };
    const auto end = [&] {
        return block >= m_blocks.size() || (block == m_blocks.size() - 1 && at >= m_used);
    };
    const auto next = [&]() -> uint8_t {
        if (at == BlockSize)
            enter(block + 1);
        return data[at++];
    };
    const auto number = [&] {
        uint64_t value = 0;
        for (int shift = 0;; shift += 7) {
            const uint8_t b = next();
            value |= uint64_t(b & 0x7F) << shift;
            if (!(b & 0x80))
                return value;
        }
    };
    if (m_blocks.empty())
        return true;
    enter(0);
    int64_t units = 0;
    TrafficRecord record;
    for (int64_t i = 0; i < m_records && !end() && !failed; ++i) {
        const uint64_t head = number();
        units += unzigzag(number());
        qsizetype length = qsizetype(head >> 2);
        if ((head & 3) == OtherKind && length > 0) {
            if (at == BlockSize)
                enter(block + 1);
            record.side = (data[at] & SecondSide) ? 1 : 0;
            record.kind = otherKindOf(data[at++]);
            --length;
        } else {
            record.side = 0;
            record.kind = kindOf(head & 3);
        }
        record.timeUs = units * TimeUnitUs;
        record.bytes.resize(length);
        char *out = record.bytes.data();
        qsizetype done = 0;
        while (done < length && !failed) {
            if (at == BlockSize)
                enter(block + 1);
            const qsizetype n = std::min<qsizetype>(length - done, qsizetype(BlockSize - at));
            std::memcpy(out + done, data + at, size_t(n));
            at += size_t(n);
            done += n;
        }
        if (failed)
            break;
        visit(record);
    }
    return !failed;
}
