#pragma once

// The Refp commands an encoder writes: what a match can carry and costs,
// where a part of a stream stands, and the writer of a stream's header,
// literal runs, matches and stop command. For the encoder alone.

#include "refpformat.h"

#include <algorithm>
#include <cstring>

namespace refp {

constexpr size_t kMaxMatch = 1028;

// Where a part stands in its stream: the bytes [start, end) of the input,
// after the history before `start`, at `offset` in a stream of `streamSize`.
struct Part
{
    size_t start;
    size_t end;
    uint64_t offset;
    uint64_t streamSize;
    bool first() const { return offset == 0; }
    bool last() const { return offset + (end - start) == streamSize; }
};

inline uint32_t read32(const uint8_t *p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline uint64_t read64(const uint8_t *p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

inline bool encodable(size_t length, size_t offset)
{
    return (length >= 3 && offset <= 1024) || (length >= 4 && offset <= 16384) ||
           (length >= 5 && offset <= kWindow);
}

// Bytes of commands needed for a match (long matches take several commands).
inline size_t matchCost(size_t length, size_t offset)
{
    if (offset <= 1024 && length <= 10)
        return 2;
    if (offset <= 16384 && length <= 67)
        return 3;
    return 4 * ((length + kMaxMatch - 1) / kMaxMatch);
}

struct Match
{
    size_t length = 0;
    size_t offset = 0;
    // Bytes saved against storing the same bytes as literals.
    long score() const { return length ? long(length) - long(matchCost(length, offset)) : 0; }
};

// The stream being written: its header, commands and literals. A part that
// is not the last ends with no literals left over, so that the next part,
// encoded on its own, starts its commands afresh.
class Writer
{
public:
    Writer(const uint8_t *src, const Part &part, uint8_t *dst)
        : in(src), size(part.end), last(part.last()), out(dst), op(dst), literalStart(part.start)
    {
        if (part.first()) {
            const size_t n = size_t(part.streamSize);
            if (n < (size_t(1) << 24)) {
                *op++ = kFlagBase;
                *op++ = kMagic;
            } else {
                *op++ = kFlagBase | kFlagWideSizes;
                *op++ = kMagic;
                *op++ = uint8_t(n >> 24);
            }
            *op++ = uint8_t(n >> 16);
            *op++ = uint8_t(n >> 8);
            *op++ = uint8_t(n);
        }
        begin = {op, literalStart, 0, {}};
    }

    size_t pending(size_t pos) const { return pos - literalStart; }

    // A match at `pos`, after the literals since the last one.
    void match(size_t pos, const Match &match)
    {
        if (!last)
            recent[taken++ % kRecent] = {op, literalStart, pos, match};
        write(pos, match);
    }

    // The last literals and the stop command, or for a part that is not the
    // last, the literals that end it; the length written.
    size_t finish()
    {
        if (!last) {
            endEven();
            literalRuns(size);
            return size_t(op - out);
        }
        literalRuns(size);
        *op++ = uint8_t(0xFC | (size - literalStart));
        std::memcpy(op, in + literalStart, size - literalStart);
        op += size - literalStart;
        return size_t(op - out);
    }

private:
    void write(size_t pos, const Match &match)
    {
        literalRuns(pos);
        size_t literals = pos - literalStart;
        const uint8_t *lit = in + literalStart;
        const size_t offset = match.offset;
        const size_t o = offset - 1;
        size_t length = match.length;
        while (length > 0) {
            size_t chunk;
            if (offset <= 1024 && length <= 10) {
                chunk = length;
                *op++ = uint8_t(((o >> 3) & 0x60) | ((chunk - 3) << 2) | literals);
                *op++ = uint8_t(o);
            } else if (offset <= 16384 && length <= 67) {
                chunk = length;
                *op++ = uint8_t(0x80 | (chunk - 4));
                *op++ = uint8_t((literals << 6) | (o >> 8));
                *op++ = uint8_t(o);
            } else {
                chunk = std::min<size_t>(length, kMaxMatch);
                // Leave a remainder long enough for a command of its own.
                if (length > chunk && length - chunk < 5)
                    chunk = length - 5;
                const size_t l = chunk - 5;
                *op++ = uint8_t(0xC0 | ((o >> 12) & 0x10) | ((l >> 6) & 0x0C) | literals);
                *op++ = uint8_t(o >> 8);
                *op++ = uint8_t(o);
                *op++ = uint8_t(l);
            }
            std::memcpy(op, lit, literals);
            op += literals;
            literals = 0;
            length -= chunk;
        }
        literalStart = pos + match.length;
    }

    // Literal runs of four or more go out in commands of up to 112; the 0 to 3
    // bytes left over ride on the next match or the stop command.
    void literalRuns(size_t end)
    {
        while (end - literalStart >= 4) {
            const size_t run = std::min<size_t>(112, (end - literalStart) & ~size_t(3));
            *op++ = uint8_t(0xE0 + run / 4 - 1);
            std::memcpy(op, in + literalStart, run);
            op += run;
            literalStart += run;
        }
    }

    // Makes the literals after the last match a multiple of 4: that match
    // is written again, shorter by up to 3 bytes, and when it would be too
    // short to encode, the one before it is, the later ones becoming
    // literals; past the last kRecent matches, the part is all literals
    // (its length is a multiple of 4).
    void endEven()
    {
        for (size_t back = 0; back < std::min(taken, kRecent); ++back) {
            const Taken &t = recent[(taken - 1 - back) % kRecent];
            const size_t tail = size - (t.pos + t.match.length);
            const size_t shorter = (4 - tail % 4) % 4;
            if (shorter == 0 && back == 0)
                return;
            if (t.match.length - shorter < 3 ||
                !encodable(t.match.length - shorter, t.match.offset))
                continue;
            op = t.op;
            literalStart = t.literalStart;
            write(t.pos, {t.match.length - shorter, t.match.offset});
            return;
        }
        op = begin.op;
        literalStart = begin.literalStart;
    }

    // A match as it was written, to be taken back.
    struct Taken
    {
        uint8_t *op;
        size_t literalStart;
        size_t pos;
        Match match;
    };
    static constexpr size_t kRecent = 16;

    const uint8_t *in;
    size_t size;
    bool last;
    uint8_t *out;
    uint8_t *op;
    size_t literalStart;
    Taken begin;
    Taken recent[kRecent];
    size_t taken = 0;
};

} // namespace refp
