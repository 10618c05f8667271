#pragma once

// Where the Refp encoder finds its matches: chains of 4-byte hashes reaching
// over the whole window, and the latest position of each 3-byte hash for
// the short matches that only the 2-byte command can carry (offsets up to
// 1024). For the encoder alone.

#include "refpcommands.h"

#include <algorithm>
#include <memory>

namespace refp {

constexpr int kHashBits = 16;
constexpr int kHash3Bits = 12;
constexpr uint32_t kNone = 0xFFFFFFFFu;

inline uint32_t hash4(const uint8_t *p, int bits)
{
    return (read32(p) * 2654435761u) >> (32 - bits);
}

// Bits of the 4-byte hash for `n` bytes of input: twice as many slots as
// positions, up to kHashBits. A table far larger than the input would cost
// more to clear than the input to encode, for each of many small files.
inline int hashBitsFor(size_t n)
{
    int bits = 8;
    while (bits < kHashBits && (size_t(1) << bits) < 2 * n)
        ++bits;
    return bits;
}

// The first byte of a part's history that a match can reach.
inline size_t historyStart(const Part &part)
{
    return part.start > kWindow ? part.start - kWindow : 0;
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

// The hash tables over the input, filled up to where the search stands.
class Finder
{
public:
    // Over the bytes before `n`, of which those from `from` on are entered.
    Finder(const uint8_t *src, size_t from, size_t n)
        : in(src), size(n), bits(hashBitsFor(n - from)), inserted(from),
          head(new uint32_t[size_t(1) << bits]), head3(new uint32_t[size_t(1) << kHash3Bits]),
          chain(new uint32_t[kWindow])
    {
        std::fill_n(head.get(), size_t(1) << bits, kNone);
        std::fill_n(head3.get(), size_t(1) << kHash3Bits, kNone);
    }

    // Enters every position before `pos` into the tables.
    void insertUpTo(size_t pos)
    {
        for (; inserted < pos; ++inserted) {
            const uint32_t h = hash4(in + inserted, bits);
            chain[inserted & (kWindow - 1)] = head[h];
            head[h] = uint32_t(inserted);
            head3[hash3(in + inserted)] = uint32_t(inserted);
        }
    }

    // Calls `take(length, offset)` for each encodable candidate at `pos`,
    // nearest first, at most `maxChain` of them from the chains, no longer
    // than `limit`; stops once `take` answers false.
    template <typename Take> void candidates(size_t pos, size_t limit, int maxChain, Take take)
    {
        insertUpTo(pos);
        const uint8_t *cur = in + pos;
        // A look-ahead may have entered positions at or past `pos` already;
        // those are skipped.
        const uint32_t near = head3[hash3(cur)];
        if (near != kNone && near < pos && pos - near <= 1024) {
            const size_t length = matchLength(in + near, cur, limit);
            if (length >= 3 && !take(length, pos - near))
                return;
        }
        const uint32_t first = read32(cur);
        uint32_t candidate = head[hash4(cur, bits)];
        for (int steps = maxChain; steps > 0 && candidate != kNone; --steps) {
            if (candidate >= pos) {
                candidate = chain[candidate & (kWindow - 1)];
                continue;
            }
            const size_t offset = pos - candidate;
            if (offset > kWindow)
                break;
            const uint8_t *from = in + candidate;
            candidate = chain[candidate & (kWindow - 1)];
            if (read32(from) != first)
                continue;
            const size_t length = matchLength(from, cur, limit);
            if (encodable(length, offset) && !take(length, offset))
                return;
        }
    }

    // The candidate at `pos` that saves the most.
    Match best(size_t pos, int maxChain, size_t niceLength)
    {
        const size_t limit = size - pos;
        Match found;
        candidates(pos, limit, maxChain, [&](size_t length, size_t offset) {
            const Match m{length, offset};
            if (m.score() > found.score())
                found = m;
            return found.length < niceLength && found.length < limit;
        });
        return found;
    }

private:
    const uint8_t *in;
    size_t size;
    int bits;
    size_t inserted;
    std::unique_ptr<uint32_t[]> head;
    std::unique_ptr<uint32_t[]> head3;
    std::unique_ptr<uint32_t[]> chain;
};

} // namespace refp
