// SPDX-License-Identifier: MIT
#include "TrafficText.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <new>
#include <sys/mman.h>
#include <utility>

namespace {

// Lines up to this size are packed into the shared blocks; a longer one keeps a heap block of
// its own, cut to its size, whose header is nothing beside it.
constexpr qsizetype PackLimit = 4096;
// The shared blocks start small, so that a short session pays little, and double up to this.
constexpr qsizetype FirstBlockSize = 16 << 10;
constexpr qsizetype LargestBlockSize = 256 << 10;
// Past this much text the blocks are huge pages: the kernel hands memory out a page at a time,
// one fault each, and at three characters a byte in the HEX form the faults of 4 KiB pages
// cost more than writing the text. A huge block is aligned to its size and asked for as one
// huge page. Before, the one block still filling would be too much of what is held.
constexpr qsizetype HugeBlockSize = 2 << 20;
constexpr qsizetype HugeBlocksAfter = 16 << 20;

// The variable-width form, one character (UTF-16 unit) at a time. ASCII is one byte. The
// blocks of 256 characters that traffic shows beyond it, Latin-1 and the other alphabets,
// the symbols and CJK punctuation, the unified ideographs and the full-width forms, are two:
// a lead byte that names the block, then the low byte. Anything else, a surrogate half
// included, is the escape FFh and the character's two bytes.
struct TwoByteBlocks
{
    uint8_t leadOf[256] = {}; // by high byte; 0: no two-byte form
    uint8_t highOf[256] = {}; // by lead byte
    constexpr TwoByteBlocks()
    {
        const std::pair<int, int> ranges[] = {
                {0x00, 0x07}, {0x20, 0x33}, {0x4E, 0x9F}, {0xFF, 0xFF}};
        int lead = 0x80;
        for (const auto &[first, last] : ranges) {
            for (int high = first; high <= last; ++high, ++lead) {
                leadOf[high] = uint8_t(lead);
                highOf[lead] = uint8_t(high);
            }
        }
    }
};
constexpr TwoByteBlocks Blocks;
constexpr uint8_t Escape = 0xFF;
static_assert(Blocks.leadOf[0xFF] < Escape, "the lead bytes run into the escape");

constexpr int encodedLength(char16_t c) { return c < 0x80 ? 1 : Blocks.leadOf[c >> 8] ? 2 : 3; }
constexpr int leadLength(uint8_t b) { return b < 0x80 ? 1 : b == Escape ? 3 : 2; }

inline uint8_t *encode(char16_t c, uint8_t *out)
{
    if (c < 0x80) {
        *out++ = uint8_t(c);
    } else if (const uint8_t lead = Blocks.leadOf[c >> 8]) {
        *out++ = lead;
        *out++ = uint8_t(c);
    } else {
        *out++ = Escape;
        *out++ = uint8_t(c >> 8);
        *out++ = uint8_t(c);
    }
    return out;
}

inline char16_t decodeOne(const uint8_t *&p)
{
    const uint8_t b = *p;
    if (b < 0x80) {
        ++p;
        return b;
    }
    if (b != Escape) {
        const char16_t c = char16_t((Blocks.highOf[b] << 8) | p[1]);
        p += 2;
        return c;
    }
    const char16_t c = char16_t((p[1] << 8) | p[2]);
    p += 3;
    return c;
}

// True when the variable-width bytes hold nothing past Latin-1.
bool onlyLatin1(const uint8_t *p, const uint8_t *end)
{
    const uint8_t latin1Lead = Blocks.leadOf[0];
    while (p < end) {
        if (*p < 0x80) {
            ++p;
        } else if (*p == latin1Lead) {
            p += 2;
        } else {
            return false;
        }
    }
    return true;
}

bool beyondLatin1(QStringView s)
{
    // No early exit: a loop the compiler can vectorise beats one that stops at the first.
    char16_t any = 0;
    for (QChar c : s)
        any |= c.unicode();
    return any > 0xFF;
}

qsizetype encodedSize(QStringView s, bool wide)
{
    if (!wide)
        return s.size();
    qsizetype n = 0;
    for (QChar c : s)
        n += encodedLength(c.unicode());
    return n;
}

void write(QStringView s, bool wide, uint8_t *out)
{
    const char16_t *in = s.utf16();
    const qsizetype n = s.size();
    if (!wide) {
        for (qsizetype i = 0; i < n; ++i)
            out[i] = uint8_t(in[i]);
        return;
    }
    for (qsizetype i = 0; i < n; ++i)
        out = encode(in[i], out);
}

// The marks of a line cut at `column`: those behind it, and those from it on (moved to start at
// 0). A mark the column falls inside is cut in two, so that text inserted there is unmarked.
std::vector<MarkedRange> splitMarks(std::vector<MarkedRange> &marks, qsizetype column)
{
    std::vector<MarkedRange> after;
    if (marks.empty())
        return after;
    size_t keep = 0;
    for (const MarkedRange &m : marks) {
        if (m.to <= column)
            marks[keep++] = m;
        else if (m.from >= column)
            after.push_back({m.from - column, m.to - column});
        else {
            after.push_back({0, m.to - column});
            marks[keep++] = {m.from, column};
        }
    }
    marks.resize(keep);
    return after;
}

// Appends marks moved by `shift`, joining one that touches the last.
void appendMarks(std::vector<MarkedRange> &marks, const std::vector<MarkedRange> &added,
                 qsizetype shift)
{
    for (const MarkedRange &m : added) {
        if (m.to <= m.from)
            continue;
        if (!marks.empty() && marks.back().to == m.from + shift)
            marks.back().to = m.to + shift;
        else
            marks.push_back({m.from + shift, m.to + shift});
    }
}

// The marks of the piece that fall on its part [from, to), relative to `from`.
std::vector<MarkedRange> marksOfPart(const std::vector<MarkedRange> *marks, qsizetype from,
                                     qsizetype to)
{
    std::vector<MarkedRange> out;
    if (!marks)
        return out;
    for (const MarkedRange &m : *marks) {
        const qsizetype a = std::max(m.from, from);
        const qsizetype b = std::min(m.to, to);
        if (a < b)
            out.push_back({a - from, b - from});
    }
    return out;
}

} // namespace

TrafficText::Block::Block(qsizetype size) : m_size(size)
{
    if (size == HugeBlockSize) {
        // Mapped at twice the size, so that an aligned huge page lies inside; the rest goes
        // back at once. From the heap the alignment would cost a second block's worth.
        const size_t span = 2 * size_t(HugeBlockSize);
        void *map = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map != MAP_FAILED) {
            const auto start = uintptr_t(map);
            const uintptr_t aligned =
                    (start + uintptr_t(HugeBlockSize) - 1) & ~uintptr_t(HugeBlockSize - 1);
            const uintptr_t end = aligned + uintptr_t(HugeBlockSize);
            if (aligned > start)
                munmap(map, aligned - start);
            if (start + span > end)
                munmap(reinterpret_cast<void *>(end), start + span - end);
            // Only advice: without transparent huge pages the block is ordinary pages.
            madvise(reinterpret_cast<void *>(aligned), size_t(HugeBlockSize), MADV_HUGEPAGE);
            m_data = reinterpret_cast<uint8_t *>(aligned);
            m_mapped = true;
            return;
        }
    }
    m_data = static_cast<uint8_t *>(std::malloc(size_t(size)));
    if (!m_data)
        throw std::bad_alloc();
}

TrafficText::Block::~Block()
{
    if (m_mapped)
        munmap(m_data, size_t(m_size));
    else
        std::free(m_data);
}

TrafficText::Line::Line(Line &&other) noexcept
    : data(std::exchange(other.data, nullptr)), extra(std::move(other.extra)),
      m_length(other.m_length), m_bytesLow(other.m_bytesLow), m_width(other.m_width),
      m_bytesHigh(other.m_bytesHigh), wide(other.wide), owned(other.owned)
{
    other.m_length = other.m_bytesLow = other.m_width = other.m_bytesHigh = 0;
    other.wide = other.owned = 0;
}

TrafficText::Line &TrafficText::Line::operator=(Line &&other) noexcept
{
    if (this != &other) {
        if (owned)
            std::free(data);
        data = std::exchange(other.data, nullptr);
        extra = std::move(other.extra);
        m_length = other.m_length;
        m_bytesLow = other.m_bytesLow;
        m_width = other.m_width;
        m_bytesHigh = other.m_bytesHigh;
        wide = other.wide;
        owned = other.owned;
        other.m_length = other.m_bytesLow = other.m_width = other.m_bytesHigh = 0;
        other.wide = other.owned = 0;
    }
    return *this;
}

TrafficText::Line::~Line()
{
    if (owned)
        std::free(data);
}

TrafficText::TrafficText() : m_lines(1), m_nextBlockSize(FirstBlockSize)
{
    setAdvance([](char16_t) { return 1; });
}

TrafficText::~TrafficText() = default;

void TrafficText::setAdvance(Advance advance)
{
    m_advance = std::move(advance);
    // Received text is nearly all Latin-1: its widths are looked up, not asked for.
    for (int c = 0; c < 256; ++c)
        m_latin1Advance[c] = m_advance(char16_t(c));
    m_asciiAdvance = m_latin1Advance[0x20];
    for (int c = 0x21; c < 0x7F; ++c) {
        if (m_latin1Advance[c] != m_asciiAdvance)
            m_asciiAdvance = -1;
    }
    for (Line &l : m_lines) {
        if (l.extra) {
            l.extra->widthMarks.clear();
            l.extra->byteMarks.clear();
        }
        remeasure(l, 0);
    }
    widthsChanged();
}

int64_t TrafficText::maxWidth() const
{
    if (m_maxWidthStale) {
        m_maxWidth = 0;
        for (const Line &l : m_lines)
            m_maxWidth = std::max(m_maxWidth, l.width());
        m_maxWidthStale = false;
    }
    return m_maxWidth;
}

int64_t TrafficText::mappedBytes() const
{
    int64_t bytes = 0;
    for (const Block &b : m_blocks)
        bytes += b.mapped() ? int64_t(b.size()) : 0;
    return bytes;
}

int64_t TrafficText::memoryBytes() const
{
    int64_t bytes = int64_t(m_lines.size()) * int64_t(sizeof(Line));
    for (const Block &b : m_blocks)
        bytes += b.mapped() ? int64_t(b.size()) : int64_t(malloc_usable_size(b.data()));
    for (const Line &l : m_lines) {
        if (l.owned)
            bytes += int64_t(malloc_usable_size(l.data));
        if (l.extra)
            bytes += int64_t(sizeof(Extra) + l.extra->widthMarks.capacity() * sizeof(int64_t)
                             + l.extra->byteMarks.capacity() * sizeof(qsizetype)
                             + l.extra->marked.capacity() * sizeof(MarkedRange));
    }
    return bytes;
}

void TrafficText::widthsChanged()
{
    m_maxWidthStale = true;
    ++m_revision;
}

qsizetype TrafficText::byteOffset(const Line &l, qsizetype column) const
{
    if (!l.wide)
        return column;
    if (column >= l.length())
        return qsizetype(l.bytes()); // the end, where received text goes
    qsizetype k = column / MarkStride;
    if (k > 0 && (!l.extra || qsizetype(l.extra->byteMarks.size()) < k))
        k = l.extra ? qsizetype(l.extra->byteMarks.size()) : 0;
    qsizetype b = k > 0 ? l.extra->byteMarks[size_t(k - 1)] : 0;
    for (qsizetype i = k * MarkStride; i < column; ++i)
        b += leadLength(l.data[b]);
    return b;
}

char16_t TrafficText::charAt(const Line &l, qsizetype column) const
{
    if (column < 0 || column >= l.length())
        return 0;
    if (!l.wide)
        return l.data[column];
    const uint8_t *p = l.data + byteOffset(l, column);
    return decodeOne(p);
}

char16_t TrafficText::charAt(qsizetype i, qsizetype column) const
{
    return charAt(m_lines[size_t(i)], column);
}

void TrafficText::decode(const Line &l, qsizetype from, qsizetype to, char16_t *out) const
{
    if (!l.wide) {
        for (qsizetype i = from; i < to; ++i)
            *out++ = l.data[i];
        return;
    }
    const uint8_t *p = l.data + byteOffset(l, from);
    for (qsizetype i = from; i < to; ++i)
        *out++ = decodeOne(p);
}

QString TrafficText::lineText(const Line &l, qsizetype from, qsizetype to) const
{
    from = std::clamp<qsizetype>(from, 0, l.length());
    to = std::clamp<qsizetype>(to, from, l.length());
    if (!l.wide)
        return QString::fromLatin1(reinterpret_cast<const char *>(l.data) + from, to - from);
    QString out(to - from, Qt::Uninitialized);
    decode(l, from, to, reinterpret_cast<char16_t *>(out.data()));
    return out;
}

QString TrafficText::lineText(qsizetype i, qsizetype from, qsizetype to) const
{
    return lineText(m_lines[size_t(i)], from, to);
}

const std::vector<MarkedRange> &TrafficText::markedRanges(qsizetype i) const
{
    static const std::vector<MarkedRange> none;
    const Line &l = m_lines[size_t(i)];
    return l.extra ? l.extra->marked : none;
}

std::vector<MarkedRange> &TrafficText::marksOf(Line &l)
{
    if (!l.extra)
        l.extra = std::make_unique<Extra>();
    return l.extra->marked;
}

template<typename Char>
int64_t TrafficText::latin1Width(const Char *s, qsizetype n) const
{
    // HEX and ASCII text in the display's monospaced font is a run of printable ASCII
    // characters of one advance: its width is its length times that. Telling so takes a pass
    // the compiler vectorises, where the look-up of each character's advance would not be.
    if (m_asciiAdvance >= 0) {
        Char low = 0x7F;
        Char high = 0;
        for (qsizetype i = 0; i < n; ++i) {
            low = std::min(low, s[i]);
            high = std::max(high, s[i]);
        }
        if (low >= 0x20 && high < 0x7F)
            return int64_t(n) * m_asciiAdvance;
    }
    int64_t w = 0;
    for (qsizetype i = 0; i < n; ++i)
        w += m_latin1Advance[uint8_t(s[i])];
    return w;
}

void TrafficText::remeasure(Line &l, qsizetype from, int64_t widthAt, qsizetype byteAt) const
{
    // Everything before `from` is unchanged, so the marks up to it still hold.
    qsizetype k = from / MarkStride;
    if (l.extra) {
        k = std::min(k, qsizetype(l.extra->widthMarks.size()));
        l.extra->widthMarks.resize(size_t(k));
        if (l.wide)
            l.extra->byteMarks.resize(size_t(k));
    } else {
        k = 0;
    }
    qsizetype i = k * MarkStride;
    int64_t w = k > 0 ? l.extra->widthMarks[size_t(k - 1)] : 0;
    qsizetype b = !l.wide ? i : k > 0 ? l.extra->byteMarks[size_t(k - 1)] : 0;
    if (widthAt >= 0 && from >= i) {
        i = from;
        w = widthAt;
        b = byteAt;
    }
    const qsizetype n = l.length();
    const uint8_t *data = l.data;
    while (i < n) {
        const qsizetype strideEnd = std::min(n, (i / MarkStride + 1) * MarkStride);
        if (!l.wide) {
            w += latin1Width(data + i, strideEnd - i);
            i = strideEnd;
            b = i;
        } else {
            const uint8_t *p = data + b;
            for (; i < strideEnd; ++i)
                w += advance(decodeOne(p));
            b = p - data;
        }
        if (i % MarkStride == 0) {
            if (!l.extra)
                l.extra = std::make_unique<Extra>();
            l.extra->widthMarks.push_back(w);
            if (l.wide)
                l.extra->byteMarks.push_back(b);
        }
    }
    l.setWidth(w);
    if (!m_maxWidthStale)
        m_maxWidth = std::max(m_maxWidth, w);
}

uint8_t *TrafficText::packedBytes(qsizetype bytes)
{
    if (bytes == 0)
        return nullptr;
    if (m_blockLeft < bytes) {
        const qsizetype size = std::max(bytes, m_nextBlockSize);
        m_blockBytes += size;
        m_nextBlockSize = m_blockBytes >= HugeBlocksAfter
                ? HugeBlockSize
                : std::min(m_nextBlockSize * 2, LargestBlockSize);
        m_blocks.emplace_back(size);
        m_blockFree = m_blocks.back().data();
        m_blockLeft = size;
    }
    uint8_t *p = m_blockFree;
    m_blockFree += bytes;
    m_blockLeft -= bytes;
    return p;
}

void TrafficText::reserveBytes(Line &l, qsizetype bytes)
{
    const qsizetype capacity = l.owned ? qsizetype(malloc_usable_size(l.data)) : 0;
    if (bytes <= capacity)
        return;
    // Growth room in proportion, but not twice the line: a line of a hundred megabytes would
    // keep a hundred spare.
    const qsizetype size = qsizetype(l.bytes());
    const qsizetype grown = std::max(bytes, size + std::max<qsizetype>(size / 8, 256));
    void *p = l.owned ? std::realloc(l.data, size_t(grown)) : std::malloc(size_t(grown));
    if (!p)
        throw std::bad_alloc();
    if (!l.owned && l.bytes() > 0)
        std::memcpy(p, l.data, size_t(l.bytes()));
    l.data = static_cast<uint8_t *>(p);
    l.owned = 1;
}

void TrafficText::makeWide(Line &l)
{
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < l.length(); ++i)
        bytes += l.data[i] < 0x80 ? 1 : 2;
    auto *p = static_cast<uint8_t *>(std::malloc(size_t(std::max<qsizetype>(bytes + 256, 1))));
    if (!p)
        throw std::bad_alloc();
    uint8_t *out = p;
    for (qsizetype i = 0; i < l.length(); ++i)
        out = encode(l.data[i], out);
    if (l.owned)
        std::free(l.data);
    l.data = p;
    l.owned = 1;
    l.wide = 1;
    l.setBytes(bytes);
    // Widths stay; the byte marks are new.
    if (l.extra) {
        l.extra->byteMarks.clear();
        const uint8_t *q = l.data;
        for (qsizetype k = 1; k <= qsizetype(l.extra->widthMarks.size()); ++k) {
            for (qsizetype i = 0; i < MarkStride; ++i)
                q += leadLength(*q);
            l.extra->byteMarks.push_back(q - l.data);
        }
    }
}

void TrafficText::replaceInLine(Line &l, qsizetype from, qsizetype to, QStringView piece)
{
    if (!l.wide && beyondLatin1(piece))
        makeWide(l);
    const bool appended = from == l.length() && to == from;
    const qsizetype byteFrom = byteOffset(l, from);
    const qsizetype byteTo = to == from ? byteFrom : byteOffset(l, to);
    const qsizetype added = encodedSize(piece, l.wide);
    const qsizetype size = qsizetype(l.bytes()) - (byteTo - byteFrom) + added;
    reserveBytes(l, size);
    if (byteTo < qsizetype(l.bytes()))
        std::memmove(l.data + byteFrom + added, l.data + byteTo,
                     size_t(qsizetype(l.bytes()) - byteTo));
    write(piece, l.wide, l.data + byteFrom);
    l.setBytes(size);
    l.setLength(l.length() + piece.size() - (to - from));
    if (appended)
        remeasure(l, from, l.width(), byteFrom);
    else
        remeasure(l, from);
}

void TrafficText::finishLine(Line &l)
{
    // A line cut before its first wide character, or edited back to Latin-1, is narrowed
    // while it is copied anyway.
    if (l.wide && onlyLatin1(l.data, l.data + l.bytes())) {
        uint8_t *out = l.data;
        for (const uint8_t *p = l.data; p < l.data + l.bytes();)
            *out++ = uint8_t(decodeOne(p));
        l.setBytes(l.length());
        l.wide = 0;
        if (l.extra)
            l.extra->byteMarks.clear();
    }
    if (l.owned) {
        if (qsizetype(l.bytes()) <= PackLimit) {
            uint8_t *p = packedBytes(qsizetype(l.bytes()));
            if (p)
                std::memcpy(p, l.data, l.bytes());
            std::free(l.data);
            l.data = p;
            l.owned = 0;
        } else if (void *p = std::realloc(l.data, l.bytes())) {
            l.data = static_cast<uint8_t *>(p);
        }
    }
    if (l.extra) {
        if (l.extra->widthMarks.empty() && l.extra->marked.empty()) {
            l.extra.reset();
        } else {
            l.extra->widthMarks.shrink_to_fit();
            l.extra->byteMarks.shrink_to_fit();
            l.extra->marked.shrink_to_fit();
        }
    }
}

TrafficText::Line TrafficText::makeLine(QStringView text)
{
    Line l;
    l.wide = beyondLatin1(text);
    // A line without marks to make is measured from the text at hand, in the pass that sizes
    // it, rather than decoded again.
    const bool measured = text.size() < MarkStride;
    qsizetype size = text.size();
    int64_t w = 0;
    if (l.wide && measured) {
        size = 0;
        for (QChar c : text) {
            size += encodedLength(c.unicode());
            w += advance(c.unicode());
        }
    } else if (l.wide) {
        size = encodedSize(text, true);
    } else if (measured) {
        w = latin1Width(text.utf16(), text.size());
    }
    if (size <= PackLimit) {
        l.data = packedBytes(size);
    } else {
        l.data = static_cast<uint8_t *>(std::malloc(size_t(size)));
        if (!l.data)
            throw std::bad_alloc();
        l.owned = 1;
    }
    if (size > 0)
        write(text, l.wide, l.data);
    l.setBytes(size);
    l.setLength(text.size());
    if (measured) {
        l.setWidth(w);
        if (!m_maxWidthStale)
            m_maxWidth = std::max(m_maxWidth, w);
    } else {
        remeasure(l, 0, 0, 0);
    }
    return l;
}

QString TrafficText::text() const
{
    QString out(characterCount(), Qt::Uninitialized);
    auto *p = reinterpret_cast<char16_t *>(out.data());
    for (size_t i = 0; i < m_lines.size(); ++i) {
        if (i)
            *p++ = u'\n';
        decode(m_lines[i], 0, m_lines[i].length(), p);
        p += m_lines[i].length();
    }
    return out;
}

void TrafficText::clear()
{
    m_lines.clear();
    m_lines.emplace_back();
    m_blocks.clear();
    m_blockFree = nullptr;
    m_blockLeft = 0;
    m_nextBlockSize = FirstBlockSize;
    m_blockBytes = 0;
    m_caret = m_anchor = {};
    m_maxWidth = 0;
    m_maxWidthStale = false;
    m_characters = 0;
    m_lineStarts = {};
    m_lineStartsValid = 0;
    ++m_revision;
}

void TrafficText::setText(const QString &text)
{
    clear();
    insertAt(m_caret, text);
    m_anchor = m_caret;
}

TextPosition TrafficText::clamp(TextPosition p) const
{
    p.line = std::clamp<qsizetype>(p.line, 0, lineCount() - 1);
    p.column = std::clamp<qsizetype>(p.column, 0, lineLength(p.line));
    return p;
}

void TrafficText::setCaret(TextPosition caret, bool keepAnchor)
{
    m_caret = clamp(caret);
    if (!keepAnchor)
        m_anchor = m_caret;
    ++m_revision;
}

void TrafficText::selectAll()
{
    m_anchor = {};
    m_caret = endPosition();
    ++m_revision;
}

qsizetype TrafficText::selectedTextLength(TextPosition from, TextPosition to) const
{
    // Characters between the two positions, line breaks not counted.
    if (from.line == to.line)
        return to.column - from.column;
    qsizetype n = lineLength(from.line) - from.column + to.column;
    for (qsizetype i = from.line + 1; i < to.line; ++i)
        n += lineLength(i);
    return n;
}

QString TrafficText::textBetween(TextPosition from, TextPosition to) const
{
    from = clamp(from);
    to = clamp(to);
    if (to < from)
        std::swap(from, to);
    if (from.line == to.line)
        return lineText(from.line, from.column, to.column);
    QString out(selectedTextLength(from, to) + (to.line - from.line), Qt::Uninitialized);
    auto *p = reinterpret_cast<char16_t *>(out.data());
    const Line &first = m_lines[size_t(from.line)];
    decode(first, from.column, first.length(), p);
    p += first.length() - from.column;
    for (qsizetype i = from.line + 1; i < to.line; ++i) {
        *p++ = u'\n';
        decode(m_lines[size_t(i)], 0, lineLength(i), p);
        p += lineLength(i);
    }
    *p++ = u'\n';
    decode(m_lines[size_t(to.line)], 0, to.column, p);
    return out;
}

QString TrafficText::selectedText() const { return textBetween(m_caret, m_anchor); }

void TrafficText::insertAt(TextPosition &at, QStringView piece,
                           const std::vector<MarkedRange> *marks)
{
    if (marks && marks->empty())
        marks = nullptr;
    linesMovedAfter(at.line);
    const qsizetype breaks = piece.count(u'\n');
    m_characters += piece.size() - breaks;
    qsizetype start = 0;
    qsizetype nl = piece.indexOf(u'\n');
    Line *l = &m_lines[size_t(at.line)];
    // Only lines that hold marks, or get some, do any work for them.
    std::vector<MarkedRange> tailMarks =
            l->extra ? splitMarks(l->extra->marked, at.column) : std::vector<MarkedRange> {};
    if (nl < 0) {
        replaceInLine(*l, at.column, at.column, piece);
        if (marks)
            appendMarks(marksOf(*l), *marks, at.column);
        if (!tailMarks.empty())
            appendMarks(marksOf(*l), tailMarks, at.column + piece.size());
        at.column += piece.size();
        ++m_revision;
        return;
    }
    // The rest of the line after the insertion point ends up behind the piece's last part.
    const QString tail = lineText(*l, at.column, l->length());
    if (!tail.isEmpty())
        replaceInLine(*l, at.column, l->length(), {});
    {
        const std::vector<MarkedRange> part = marksOfPart(marks, 0, nl);
        replaceInLine(*l, at.column, at.column, piece.left(nl));
        if (!part.empty())
            appendMarks(marksOf(*l), part, at.column);
        finishLine(*l);
    }
    // The lines between the first and the last part are made whole, straight into place.
    std::vector<Line> added;
    added.reserve(size_t(breaks));
    start = nl + 1;
    nl = piece.indexOf(u'\n', start);
    while (nl >= 0) {
        added.push_back(makeLine(piece.mid(start, nl - start)));
        const std::vector<MarkedRange> part = marksOfPart(marks, start, nl);
        if (!part.empty())
            appendMarks(marksOf(added.back()), part, 0);
        start = nl + 1;
        nl = piece.indexOf(u'\n', start);
    }
    added.emplace_back();
    Line &last = added.back();
    replaceInLine(last, 0, 0, piece.mid(start));
    const qsizetype lastColumn = last.length();
    if (!tail.isEmpty())
        replaceInLine(last, lastColumn, lastColumn, tail);
    const std::vector<MarkedRange> part = marksOfPart(marks, start, piece.size());
    if (!part.empty())
        appendMarks(marksOf(last), part, 0);
    if (!tailMarks.empty())
        appendMarks(marksOf(last), tailMarks, lastColumn);
    const qsizetype count = qsizetype(added.size());
    m_lines.insert(m_lines.begin() + at.line + 1, std::make_move_iterator(added.begin()),
                   std::make_move_iterator(added.end()));
    at.line += count;
    at.column = lastColumn;
    ++m_revision;
}

void TrafficText::removeRange(TextPosition from, TextPosition to)
{
    if (from > to)
        std::swap(from, to);
    linesMovedAfter(from.line);
    m_characters -= qsizetype(selectedTextLength(from, to));
    Line &first = m_lines[size_t(from.line)];
    Line &last = m_lines[size_t(to.line)];
    std::vector<MarkedRange> lastMarks;
    if ((first.extra && !first.extra->marked.empty())
        || (last.extra && !last.extra->marked.empty())) {
        // What stays of the marks: before `from` on the first line, after `to` on the last.
        lastMarks = splitMarks(marksOf(last), to.column);
        splitMarks(marksOf(first), from.column);
    }
    if (from.line == to.line) {
        replaceInLine(first, from.column, to.column, {});
    } else {
        const QString rest = lineText(last, to.column, last.length());
        replaceInLine(first, from.column, first.length(), rest);
    }
    if (!lastMarks.empty())
        appendMarks(marksOf(first), lastMarks, from.column);
    if (from.line != to.line)
        m_lines.erase(m_lines.begin() + from.line + 1, m_lines.begin() + to.line + 1);
    m_caret = m_anchor = from;
    widthsChanged();
}

const MarkedRange *TrafficText::markAt(TextPosition p) const
{
    p = clamp(p);
    for (const MarkedRange &m : markedRanges(p.line))
        if (m.from <= p.column && p.column < m.to)
            return &m;
    return nullptr;
}

void TrafficText::insertAtCaret(QStringView piece)
{
    // The selected text stays: the piece goes in where the selection ends.
    TextPosition at = std::max(m_caret, m_anchor);
    insertAt(at, piece);
    m_caret = m_anchor = at;
}

void TrafficText::insertAtCaret(QStringView piece, const std::vector<MarkedRange> &marks)
{
    TextPosition at = std::max(m_caret, m_anchor);
    insertAt(at, piece, &marks);
    m_caret = m_anchor = at;
}

void TrafficText::replaceSelection(QStringView piece) { replaceRange(m_caret, m_anchor, piece); }

void TrafficText::replaceRange(TextPosition from, TextPosition to, QStringView piece)
{
    from = clamp(from);
    to = clamp(to);
    if (to < from)
        std::swap(from, to);
    if (from != to)
        removeRange(from, to);
    insertAt(from, piece);
    m_caret = m_anchor = from;
}

TextPosition TrafficText::previousPosition(TextPosition p) const
{
    p = clamp(p);
    if (p.column == 0)
        return p.line > 0 ? TextPosition {p.line - 1, lineLength(p.line - 1)} : p;
    --p.column;
    if (p.column > 0 && QChar::isLowSurrogate(charAt(p.line, p.column))
        && QChar::isHighSurrogate(charAt(p.line, p.column - 1)))
        --p.column;
    return p;
}

TextPosition TrafficText::nextPosition(TextPosition p) const
{
    p = clamp(p);
    const qsizetype n = lineLength(p.line);
    if (p.column == n)
        return p.line + 1 < lineCount() ? TextPosition {p.line + 1, 0} : p;
    p.column += QChar::isHighSurrogate(charAt(p.line, p.column)) && p.column + 1 < n
                    && QChar::isLowSurrogate(charAt(p.line, p.column + 1))
            ? 2
            : 1;
    return p;
}

void TrafficText::deleteBackward()
{
    if (hasSelection())
        removeRange(m_caret, m_anchor);
    else
        removeRange(previousPosition(m_caret), m_caret);
}

void TrafficText::deleteForward()
{
    if (hasSelection())
        removeRange(m_caret, m_anchor);
    else
        removeRange(m_caret, nextPosition(m_caret));
}

void TrafficText::linesMovedAfter(qsizetype lineIndex) const
{
    m_lineStartsValid = std::min(m_lineStartsValid, size_t(lineIndex) + 1);
}

void TrafficText::updateLineStarts() const
{
    const size_t n = m_lines.size();
    if (m_lineStartsValid >= n && m_lineStarts.size() == n)
        return;
    m_lineStarts.resize(n);
    if (m_lineStartsValid == 0) {
        m_lineStarts[0] = 0;
        m_lineStartsValid = 1;
    }
    for (size_t i = m_lineStartsValid; i < n; ++i)
        m_lineStarts[i] = m_lineStarts[i - 1] + m_lines[i - 1].length() + 1;
    m_lineStartsValid = n;
}

qsizetype TrafficText::offsetOf(TextPosition p) const
{
    p = clamp(p);
    updateLineStarts();
    return m_lineStarts[size_t(p.line)] + p.column;
}

TextPosition TrafficText::positionOf(qsizetype offset) const
{
    offset = std::clamp<qsizetype>(offset, 0, characterCount());
    updateLineStarts();
    const auto it = std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), offset);
    const qsizetype lineIndex = qsizetype(it - m_lineStarts.begin()) - 1;
    return {lineIndex, std::min(offset - m_lineStarts[size_t(lineIndex)], lineLength(lineIndex))};
}

void TrafficText::appendLine(QStringView text)
{
    TextPosition end = endPosition();
    insertAt(end, text);
    insertAt(end, u"\n");
    m_caret = m_anchor = end;
}

int64_t TrafficText::xOfColumn(qsizetype lineIndex, qsizetype column) const
{
    const Line &l = m_lines[size_t(lineIndex)];
    column = std::clamp<qsizetype>(column, 0, l.length());
    qsizetype k = column / MarkStride;
    k = l.extra ? std::min(k, qsizetype(l.extra->widthMarks.size())) : 0;
    int64_t w = k > 0 ? l.extra->widthMarks[size_t(k - 1)] : 0;
    qsizetype i = k * MarkStride;
    if (!l.wide)
        return w + latin1Width(l.data + i, column - i);
    const uint8_t *p = l.data + (k > 0 ? l.extra->byteMarks[size_t(k - 1)] : 0);
    for (; i < column; ++i)
        w += advance(decodeOne(p));
    return w;
}

qsizetype TrafficText::columnAtX(qsizetype lineIndex, int64_t x) const
{
    const Line &l = m_lines[size_t(lineIndex)];
    if (x <= 0)
        return 0;
    // The last mark at or before x; the mark of column 0 is the width 0.
    size_t k = 0;
    if (l.extra) {
        const std::vector<int64_t> &marks = l.extra->widthMarks;
        k = size_t(std::upper_bound(marks.begin(), marks.end(), x) - marks.begin());
    }
    int64_t w = k > 0 ? l.extra->widthMarks[k - 1] : 0;
    const uint8_t *p = l.data + (k > 0 ? byteOffset(l, qsizetype(k) * MarkStride) : 0);
    for (qsizetype i = qsizetype(k) * MarkStride; i < l.length(); ++i) {
        const int a = advance(l.wide ? decodeOne(p) : *p++);
        if (w + a / 2 >= x)
            return i;
        w += a;
    }
    return l.length();
}

TextSearch::TextSearch(QStringView needle, TextPosition from, Options options)
    : m_needle(needle.toString()), m_from(from), m_at(from), m_options(options)
{
    for (QChar &c : m_needle)
        c = QChar(fold(c.unicode()));
    if (options.backward)
        std::reverse(m_needle.begin(), m_needle.end());
    const qsizetype n = m_needle.size();
    m_fail.assign(size_t(n), 0);
    for (qsizetype i = 1, k = 0; i < n; ++i) {
        while (k > 0 && m_needle[i] != m_needle[k])
            k = m_fail[size_t(k - 1)];
        if (m_needle[i] == m_needle[k])
            ++k;
        m_fail[size_t(i)] = k;
    }
    m_seen.resize(size_t(n));
    if (n == 0)
        m_state = State::NotFound;
}

char16_t TextSearch::fold(char16_t c) const
{
    return m_options.caseSensitive ? c : QChar::toCaseFolded(c);
}

bool TextSearch::pastTheStart(TextPosition next) const
{
    if (!m_wrapped)
        return false;
    const qsizetype n = m_needle.size();
    if (m_matched > 0) {
        // The partial match's first character read is its start forward, its end backward.
        const TextPosition first = m_seen[(m_seenNext + size_t(n - m_matched)) % size_t(n)];
        return m_options.backward ? TextPosition {first.line, first.column + 1} <= m_from
                                  : first >= m_from;
    }
    return m_options.backward ? TextPosition {next.line, next.column + 1} <= m_from
                              : next >= m_from;
}

bool TextSearch::feed(const TrafficText &text, char16_t c, TextPosition at)
{
    const qsizetype n = m_needle.size();
    c = fold(c);
    while (m_matched > 0 && c != m_needle[m_matched])
        m_matched = m_fail[size_t(m_matched - 1)];
    if (c == m_needle[m_matched])
        ++m_matched;
    m_seen[m_seenNext] = at;
    m_seenNext = m_seenNext + 1 == size_t(n) ? 0 : m_seenNext + 1;
    if (m_matched < n)
        return false;
    // The ring holds exactly the match now, its oldest entry next in turn.
    const TextPosition first = m_seen[m_seenNext];
    m_match = m_options.backward ? TextRange {at, {first.line, first.column + 1}}
                                 : TextRange {first, {at.line, at.column + 1}};
    m_matched = m_fail[size_t(n - 1)];
    return holds(text, m_match);
}

bool TextSearch::holds(const TrafficText &text, TextRange range) const
{
    if (range.from.line >= text.lineCount() || range.to.line >= text.lineCount())
        return false;
    QString found = text.textBetween(range.from, range.to);
    found.remove(u'\n');
    if (found.size() != m_needle.size())
        return false;
    for (qsizetype i = 0, n = found.size(); i < n; ++i) {
        const qsizetype j = m_options.backward ? n - 1 - i : i;
        if (fold(found[i].unicode()) != m_needle[j])
            return false;
    }
    return true;
}

TextSearch::State TextSearch::run(const TrafficText &text, qsizetype budget)
{
    if (m_state != State::Running)
        return m_state;
    // Wide lines are decoded a piece at a time into this; Latin-1 lines are read where they are.
    constexpr qsizetype Piece = 1024;
    char16_t buffer[Piece];
    m_at = text.clamp(m_at);
    const bool backward = m_options.backward;
    while (budget > 0) {
        const TrafficText::Line &l = text.m_lines[size_t(m_at.line)];
        const qsizetype length = l.length();
        if (backward ? m_at.column == 0 : m_at.column >= length) {
            const bool atEnd = backward ? m_at.line == 0 : m_at.line + 1 >= text.lineCount();
            if (!atEnd) {
                // A line break: skipped, the partial match goes on over it.
                m_at = backward ? TextPosition {m_at.line - 1, text.lineLength(m_at.line - 1)}
                                : TextPosition {m_at.line + 1, 0};
                --budget; // a display of empty lines is work too
                continue;
            }
            if (!m_options.wrap || m_wrapped)
                return m_state = State::NotFound;
            m_wrapped = true;
            m_matched = 0; // no match runs from the end into the start
            m_at = backward ? text.endPosition() : TextPosition {};
            continue;
        }
        const qsizetype n =
                std::min({budget, Piece, backward ? m_at.column : length - m_at.column});
        const qsizetype from = backward ? m_at.column - n : m_at.column;
        const char16_t *wide = nullptr;
        if (l.wide) {
            text.decode(l, from, from + n, buffer);
            wide = buffer;
        }
        for (qsizetype i = 0; i < n; ++i) {
            const qsizetype k = backward ? n - 1 - i : i;
            const TextPosition at {m_at.line, from + k};
            if (pastTheStart(at))
                return m_state = State::NotFound;
            const char16_t c = wide ? wide[k] : char16_t(l.data[from + k]);
            if (feed(text, c, at)) {
                m_at = backward ? at : TextPosition {at.line, at.column + 1};
                return m_state = State::Found;
            }
        }
        m_at.column = backward ? from : from + n;
        budget -= n;
    }
    return m_state;
}

std::optional<TextRange> TrafficText::find(QStringView needle, TextPosition from,
                                           TextSearch::Options options) const
{
    TextSearch search(needle, from, options);
    while (search.run(*this, 1 << 20) == TextSearch::State::Running) { }
    if (search.state() == TextSearch::State::Found)
        return search.match();
    return std::nullopt;
}
