// Refp encoder: LZ77 over a 128 KiB window, at three levels. This file holds
// the parses, which choose the matches; refpmatchfinder.h finds candidates,
// and refpcommands.h writes the commands that carry them.
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

#include "refpcommands.h"
#include "refpmatchfinder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace refp {
namespace {

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
