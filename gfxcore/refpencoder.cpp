// Refp encoder: LZ77 over a 128 KiB window, at three levels.
//
// Matches are found through two tables: chains of 4-byte hashes reaching over
// the whole window, and the latest position of each 3-byte hash for the short
// matches that only the 2-byte command can carry (offsets up to 1024).
//
// The fast and default levels parse greedily (the default also lazily, one
// byte ahead) and weigh each match against what it costs the decoder: every
// command costs it far more than a byte of literals, so a match that saves a
// byte is worth taking beside other matches, but not in the middle of a
// stretch of literals that one run command would carry. Incompressible data
// thus decodes as long literal runs. The best level parses optimally for the
// format's own command sizes: a shortest path over match and literal costs,
// block by block.

#include "refpencoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace refp {
namespace {

constexpr int kHashBits = 16;
constexpr int kHash3Bits = 12;
constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr size_t kMaxMatch = 1028;

// How a level searches and what it pays for a command.
struct Tuning
{
    int maxChain;        // chain links followed per search
    size_t niceLength;   // a match this long is taken without looking further
    bool lazy;           // try the next position before taking a match
    long penalty;        // a command's cost to the decoder, in quarter bytes
    long cutPenalty;     // what cutting a stretch of literals adds to it
    size_t cutStretch;   // literals pending from which a match cuts a stretch
    long loneCutPenalty; // the cut's cost instead when literals follow the match too
};

constexpr Tuning kDefault{256, 128, true, 2, 5, 16, 7};

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

inline uint32_t hash4(const uint8_t *p, int bits)
{
    return (read32(p) * 2654435761u) >> (32 - bits);
}

// Bits of the 4-byte hash for `n` bytes of input: twice as many slots as
// positions, up to kHashBits. A table far larger than the input would cost
// more to clear than the input to encode, for each of many small files.
int hashBitsFor(size_t n)
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

// The fast level: one candidate per position, the last position of the same
// 4 bytes, and a search that strides faster the longer it finds nothing, as
// through data that does not compress.
size_t encodeFast(const uint8_t *src, const Part &part, uint8_t *dst)
{
    Writer writer(src, part, dst);
    const size_t n = part.end, from = historyStart(part);
    const int bits = hashBitsFor(n - from);
    std::unique_ptr<uint32_t[]> last(new uint32_t[size_t(1) << bits]);
    std::fill_n(last.get(), size_t(1) << bits, kNone);
    const size_t searchEnd = n >= 4 ? n - 3 : 0;
    for (size_t p = from; p < part.start && p < searchEnd; ++p)
        last[hash4(src + p, bits)] = uint32_t(p);
    size_t pos = part.start, misses = 0;
    while (pos < searchEnd) {
        const uint32_t h = hash4(src + pos, bits);
        const uint32_t candidate = last[h];
        last[h] = uint32_t(pos);
        Match match;
        if (candidate != kNone && pos - candidate <= kWindow &&
            read32(src + candidate) == read32(src + pos)) {
            const size_t length = matchLength(src + candidate, src + pos, n - pos);
            if (encodable(length, pos - candidate))
                match = {length, pos - candidate};
        }
        // As at the default level, a match that saves a byte is not worth
        // cutting a stretch of literals for.
        const bool cuts = writer.pending(pos) >= kDefault.cutStretch;
        if (4 * match.score() - kDefault.penalty - (cuts ? kDefault.cutPenalty : 0) <= 0) {
            pos += 1 + (misses++ >> 5);
            continue;
        }
        misses = 0;
        writer.match(pos, match);
        pos += match.length;
        if (pos - 2 < searchEnd)
            last[hash4(src + pos - 2, bits)] = uint32_t(pos - 2);
    }
    return writer.finish();
}

// Greedy (and at the default level lazy) parsing, decode time in mind.
size_t encodeGreedy(const uint8_t *src, const Part &part, uint8_t *dst, const Tuning &tuning)
{
    Writer writer(src, part, dst);
    const size_t n = part.end;
    Finder finder(src, historyStart(part), n);
    // Positions from which 4 bytes can be hashed.
    const size_t searchEnd = n >= 4 ? n - 3 : 0;
    // A match's worth, in quarter bytes: the bytes it saves, less the time
    // the decoder spends on its command, and more when it cuts a stretch of
    // literals that a run would have carried on.
    auto worth = [&](const Match &match, size_t pos) {
        if (!match.length)
            return 0L;
        const bool cuts = writer.pending(pos) >= tuning.cutStretch;
        return 4 * match.score() - tuning.penalty - (cuts ? tuning.cutPenalty : 0);
    };
    // A short match in the middle of a stretch of literals, with no match
    // worth taking at its end either, splits one run command into two and
    // adds its own, to save a byte or two: through noise-like data, that is
    // most of the decoder's work for almost none of the bytes.
    auto lone = [&](const Match &match, size_t pos) {
        if (4 * match.score() - tuning.penalty - tuning.loneCutPenalty > 0 ||
            writer.pending(pos) < tuning.cutStretch)
            return false;
        const size_t end = pos + match.length;
        return end >= searchEnd ||
               finder.best(end, tuning.maxChain, tuning.niceLength).score() <= 0;
    };
    size_t pos = part.start;
    while (pos < searchEnd) {
        Match match = finder.best(pos, tuning.maxChain, tuning.niceLength);
        if (worth(match, pos) <= 0) {
            ++pos;
            continue;
        }
        while (tuning.lazy && match.length < 16 && pos + 1 < searchEnd) {
            const Match next = finder.best(pos + 1, tuning.maxChain, tuning.niceLength);
            if (worth(next, pos + 1) <= worth(match, pos))
                break;
            ++pos;
            match = next;
        }
        if (lone(match, pos)) {
            ++pos;
            continue;
        }
        writer.match(pos, match);
        pos += match.length;
    }
    return writer.finish();
}

// Optimal parsing: for each block, the cheapest way to write it as literals
// and matches, costs counted in 1/64 of a byte. A stretch of literals costs
// its bytes and the run commands that carry all but the last 0 to 3 (which
// ride on the next command); each position remembers how many literals its
// cheapest way ends with, so that a literal costs what it adds to that. A
// match costs its command bytes and a token more, so that of two ways of one
// size the one with fewer commands wins.
constexpr size_t kBlock = 1 << 18;
constexpr uint32_t kUnit = 64;
constexpr uint32_t kCommandToken = 2;

// Bytes that a stretch of `n` literals costs, run commands included.
inline uint32_t literalCost(size_t n)
{
    const size_t carried = n & ~size_t(3);
    return uint32_t(n + (carried + 111) / 112);
}
constexpr int kBestChain = 256;
// Lengths tried per candidate: all up to this, then only the whole match.
constexpr size_t kTriedLengths = 80;
// A match this long is taken as it stands, without parsing inside it.
constexpr size_t kTakenWhole = 512;

size_t encodeBest(const uint8_t *src, const Part &part, uint8_t *dst)
{
    Writer writer(src, part, dst);
    const size_t n = part.end;
    Finder finder(src, historyStart(part), n);
    const size_t searchEnd = n >= 4 ? n - 3 : 0;
    // The cheapest way to each position: its price, the match or literal
    // that ends it, and how many literals it ends with.
    std::vector<uint32_t> price, length, offset, literals;
    std::vector<size_t> starts;
    std::vector<Match> matches;
    for (size_t blockStart = part.start; blockStart < n; blockStart += kBlock) {
        const size_t span = std::min(n, blockStart + kBlock) - blockStart;
        price.assign(span + 1, 0xFFFFFFFFu);
        length.assign(span + 1, 0);
        offset.assign(span + 1, 0);
        literals.assign(span + 1, 0);
        price[0] = 0;
        for (size_t i = 0; i < span; ++i) {
            const uint32_t here = price[i];
            const uint32_t literal =
                here + (literalCost(literals[i] + 1) - literalCost(literals[i])) * kUnit;
            if (literal < price[i + 1]) {
                price[i + 1] = literal;
                length[i + 1] = 1;
                offset[i + 1] = 0;
                literals[i + 1] = literals[i] + 1;
            }
            const size_t pos = blockStart + i;
            if (pos >= searchEnd)
                continue;
            size_t longest = 0;
            finder.candidates(pos, span - i, kBestChain, [&](size_t l, size_t o) {
                if (l <= longest)
                    return true; // farther, so no cheaper than one already tried
                longest = l;
                auto relax = [&](size_t take) {
                    const uint32_t cost =
                        here + uint32_t(matchCost(take, o)) * kUnit + kCommandToken;
                    if (cost < price[i + take]) {
                        price[i + take] = cost;
                        length[i + take] = uint32_t(take);
                        offset[i + take] = uint32_t(o);
                        literals[i + take] = 0;
                    }
                };
                for (size_t take = 3; take <= std::min(l, kTriedLengths); ++take) {
                    if (encodable(take, o))
                        relax(take);
                }
                if (l > kTriedLengths)
                    relax(l);
                return l < kTakenWhole;
            });
            // A very long match is taken whole: parsing inside it would cost
            // time for nothing, so the search goes on from its end.
            if (longest >= kTakenWhole)
                i += longest - 1;
        }
        // Back from the block's end, then forward: the matches where they start.
        starts.clear();
        matches.clear();
        for (size_t i = span; i > 0;) {
            if (offset[i] == 0) {
                --i;
                continue;
            }
            starts.push_back(blockStart + i - length[i]);
            matches.push_back({length[i], offset[i]});
            i -= length[i];
        }
        for (size_t k = starts.size(); k-- > 0;)
            writer.match(starts[k], matches[k]);
    }
    return writer.finish();
}

size_t encodeAt(const uint8_t *src, const Part &part, uint8_t *dst, int level)
{
    if (level <= kStoreLevel)
        return Writer(src, part, dst).finish();
    if (level == 1)
        return encodeFast(src, part, dst);
    if (level >= 3)
        return encodeBest(src, part, dst);
    return encodeGreedy(src, part, dst, kDefault);
}

} // namespace

size_t encode(const uint8_t *src, size_t n, uint8_t *dst, int level)
{
    return encodeAt(src, {0, n, 0, n}, dst, level);
}

size_t encodePart(const uint8_t *src, size_t start, size_t end, uint64_t offset,
                  uint64_t streamSize, uint8_t *dst, int level)
{
    const Part part{start, end, offset, streamSize};
    if (start > end || start > offset || offset + (end - start) > streamSize ||
        (!part.last() && (end - start) % 4 != 0))
        return 0;
    return encodeAt(src, part, dst, level);
}

} // namespace refp
