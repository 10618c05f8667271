// Refp's encoder as it stood before the levels and the decode-time weighing:
// kept here, and only here, as the benchmark's reference for ratio and speed.

#include "refpreference.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace refpreference {

using namespace refp;
namespace {

constexpr int kHashBits = 16;
constexpr int kHash3Bits = 12;
constexpr uint32_t kNone = 0xFFFFFFFFu;
// How many chain links one search follows, and the length at which a match is
// taken without looking further.
constexpr int kMaxChain = 32;
constexpr size_t kNiceLength = 64;
// Matches at least this long are taken without trying the next position.
constexpr size_t kLazyLimit = 16;

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

inline uint32_t hash4(const uint8_t *p)
{
    return (read32(p) * 2654435761u) >> (32 - kHashBits);
}

inline uint32_t hash3(const uint8_t *p)
{
    return ((read32(p) & 0xFFFFFFu) * 2654435761u) >> (32 - kHash3Bits);
}

// Number of equal bytes at `a` and `b`, at most `limit`.
inline size_t matchLength(const uint8_t *a, const uint8_t *b, size_t limit)
{
    size_t n = 0;
    while (n + 8 <= limit) {
        const uint64_t diff = read64(a + n) ^ read64(b + n);
        if (diff != 0)
            return n + size_t(__builtin_ctzll(diff) >> 3);
        n += 8;
    }
    while (n < limit && a[n] == b[n])
        ++n;
    return n;
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
    return 4 * ((length + 1027) / 1028);
}

struct Match
{
    size_t length = 0;
    size_t offset = 0;
    // Bytes saved against storing the same bytes as literals.
    long score() const { return length ? long(length) - long(matchCost(length, offset)) : 0; }
};

class Encoder
{
public:
    Encoder(const uint8_t *src, size_t n, uint8_t *dst)
        : in(src), size(n), out(dst), head(new uint32_t[size_t(1) << kHashBits]),
          head3(new uint32_t[size_t(1) << kHash3Bits]), chain(new uint32_t[kWindow])
    {
        std::fill_n(head.get(), size_t(1) << kHashBits, kNone);
        std::fill_n(head3.get(), size_t(1) << kHash3Bits, kNone);
    }

    size_t run()
    {
        writeHeader();
        // Positions from which 4 bytes can be hashed.
        const size_t searchEnd = size >= 4 ? size - 3 : 0;
        size_t pos = 0;
        while (pos < searchEnd) {
            Match match = find(pos);
            if (match.score() <= 0) {
                ++pos;
                continue;
            }
            while (match.length < kLazyLimit && pos + 1 < searchEnd) {
                const Match next = find(pos + 1);
                if (next.score() <= match.score())
                    break;
                ++pos;
                match = next;
            }
            emitMatch(pos, match);
            pos += match.length;
        }
        emitLiteralRuns(size);
        *op++ = uint8_t(0xFC | (size - literalStart));
        std::memcpy(op, in + literalStart, size - literalStart);
        op += size - literalStart;
        return size_t(op - out);
    }

private:
    void writeHeader()
    {
        if (size < (size_t(1) << 24)) {
            *op++ = kFlagBase;
            *op++ = kMagic;
        } else {
            *op++ = kFlagBase | kFlagWideSizes;
            *op++ = kMagic;
            *op++ = uint8_t(size >> 24);
        }
        *op++ = uint8_t(size >> 16);
        *op++ = uint8_t(size >> 8);
        *op++ = uint8_t(size);
    }

    // Enters every position before `pos` into the tables.
    void insertUpTo(size_t pos)
    {
        for (; inserted < pos; ++inserted) {
            const uint32_t h = hash4(in + inserted);
            chain[inserted & (kWindow - 1)] = head[h];
            head[h] = uint32_t(inserted);
            head3[hash3(in + inserted)] = uint32_t(inserted);
        }
    }

    // Best match for the bytes at `pos` among earlier positions.
    Match find(size_t pos)
    {
        insertUpTo(pos);
        const uint8_t *cur = in + pos;
        const size_t limit = size - pos;
        Match best;

        const uint32_t near = head3[hash3(cur)];
        if (near != kNone && pos - near <= 1024) {
            const size_t length = matchLength(in + near, cur, limit);
            if (length >= 3)
                best = {length, pos - near};
        }

        const uint32_t first = read32(cur);
        uint32_t candidate = head[hash4(cur)];
        for (int steps = kMaxChain; steps > 0 && candidate != kNone && best.length < limit;
             --steps) {
            const size_t offset = pos - candidate;
            if (offset > kWindow)
                break;
            const uint8_t *from = in + candidate;
            candidate = chain[candidate & (kWindow - 1)];
            // A longer match must also agree at the byte just past the best so far.
            if (from[best.length] != cur[best.length] || read32(from) != first)
                continue;
            const Match m{matchLength(from, cur, limit), offset};
            if (encodable(m.length, offset) && m.score() > best.score()) {
                best = m;
                if (m.length >= kNiceLength)
                    break;
            }
        }
        return best;
    }

    // Literal runs of four or more go out in commands of up to 112; the 0 to 3
    // bytes left over ride on the next match or the stop command.
    void emitLiteralRuns(size_t end)
    {
        while (end - literalStart >= 4) {
            const size_t run = std::min<size_t>(112, (end - literalStart) & ~size_t(3));
            *op++ = uint8_t(0xE0 + run / 4 - 1);
            std::memcpy(op, in + literalStart, run);
            op += run;
            literalStart += run;
        }
    }

    void emitMatch(size_t pos, const Match &match)
    {
        emitLiteralRuns(pos);
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
                chunk = std::min<size_t>(length, 1028);
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

    const uint8_t *in;
    size_t size;
    uint8_t *out;
    uint8_t *op = out;
    size_t literalStart = 0;
    size_t inserted = 0;
    std::unique_ptr<uint32_t[]> head;
    std::unique_ptr<uint32_t[]> head3;
    std::unique_ptr<uint32_t[]> chain;
};

} // namespace

size_t encode(const uint8_t *src, size_t n, uint8_t *dst)
{
    return Encoder(src, n, dst).run();
}

} // namespace refpreference
