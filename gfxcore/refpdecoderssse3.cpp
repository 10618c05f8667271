// The decoder's fast loop with byte shuffles (SSSE3), compiled apart with
// those instructions allowed and chosen at run time on processors that have
// them. A match's first 32 bytes are two shuffles of the 32 source bytes, for
// every offset: below 16 the shuffle repeats the offset's bytes, from 16 to
// 31 it joins the bytes before the match with its own first ones, and from 32
// on it copies. No branch depends on the offset, so none is mispredicted.

#include "refpfastloop.h"

#include <tmmintrin.h>

namespace refp {
namespace {

// Shuffle masks by offset (32 for every offset from 32 on): bytes 0-15 of
// the match are v0 shuffled by `first`; bytes 16-31 are v1 shuffled by
// `secondHigh` joined with v0 shuffled by `secondLow`, where v0 and v1 are
// the 16-byte chunks at the match's source and 16 bytes after it. A mask byte
// with its top bit set yields 0. `back` is how far behind the chunks past the
// first 32 bytes read.
struct alignas(16) ShuffleMasks
{
    uint8_t first[16];
    uint8_t secondHigh[16];
    uint8_t secondLow[16];
    uint32_t back;
};

constexpr std::array<ShuffleMasks, 33> makeShuffleMasks()
{
    std::array<ShuffleMasks, 33> masks{};
    for (unsigned offset = 1; offset <= 32; ++offset) {
        ShuffleMasks &m = masks[offset];
        for (unsigned i = 0; i < 16; ++i) {
            if (offset < 16) {
                // Only the offset's own bytes exist: repeat them.
                m.first[i] = uint8_t(i % offset);
                m.secondHigh[i] = 0x80;
                m.secondLow[i] = uint8_t((16 + i) % offset);
            } else if (offset < 32) {
                // The bytes before the match, then its own first bytes again.
                const unsigned before = offset - 16;
                m.first[i] = uint8_t(i);
                m.secondHigh[i] = i < before ? uint8_t(i) : 0x80;
                m.secondLow[i] = i < before ? 0x80 : uint8_t(i - before);
            } else {
                m.first[i] = uint8_t(i);
                m.secondHigh[i] = uint8_t(i);
                m.secondLow[i] = 0x80;
            }
        }
        unsigned back = offset;
        while (back < 16)
            back += offset;
        m.back = back;
    }
    return masks;
}

constexpr std::array<ShuffleMasks, 33> shuffleMasks = makeShuffleMasks();

inline __m128i load128(const void *p)
{
    return _mm_loadu_si128(static_cast<const __m128i *>(p));
}

struct ShuffledCopy
{
    static void copy(uint8_t *op, size_t offset, size_t length)
    {
        const uint8_t *from = op - offset;
        const ShuffleMasks &m = shuffleMasks[offset < 32 ? offset : 32];
        // v1 may hold bytes at or past `op`, not yet written; the masks of
        // offsets below 32 take none of those.
        const __m128i v0 = load128(from);
        const __m128i v1 = load128(from + 16);
        const __m128i first =
            _mm_shuffle_epi8(v0, _mm_load_si128(reinterpret_cast<const __m128i *>(m.first)));
        const __m128i second = _mm_or_si128(
            _mm_shuffle_epi8(v1, _mm_load_si128(reinterpret_cast<const __m128i *>(m.secondHigh))),
            _mm_shuffle_epi8(v0, _mm_load_si128(reinterpret_cast<const __m128i *>(m.secondLow))));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(op), first);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(op + 16), second);
        if (length > 32)
            copyMatchTail(op, offset > m.back ? offset : m.back, length);
    }
};

} // namespace

void runCommandsShuffled(const uint8_t *&ip, const uint8_t *ilimit, uint8_t *&op,
                         const uint8_t *olimit, const uint8_t *dst)
{
    runCommands<ShuffledCopy>(ip, ilimit, op, olimit, dst);
}

} // namespace refp
