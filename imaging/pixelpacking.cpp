#include "pixelpacking.h"

#include "decoder.h"

#include <array>
#include <cstdlib>

namespace {

// For each 8-bit value, the stored value of `bits` bits whose expansion
// lies nearest (the lower one on a tie).
template <int bits> std::array<uint8_t, 256> nearestTable(uint8_t (*expand)(unsigned))
{
    std::array<uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        int best = 0;
        for (int v = 1; v < (1 << bits); ++v) {
            if (std::abs(expand(unsigned(v)) - c) < std::abs(expand(unsigned(best)) - c))
                best = v;
        }
        table[size_t(c)] = uint8_t(best);
    }
    return table;
}

} // namespace

// Made on first use, once the expansion tables they are made from exist.
uint8_t nearest4(uint8_t c)
{
    static const std::array<uint8_t, 256> table = nearestTable<4>(expand4);
    return table[c];
}

uint8_t nearest5(uint8_t c)
{
    static const std::array<uint8_t, 256> table = nearestTable<5>(expand5);
    return table[c];
}

uint8_t nearest6(uint8_t c)
{
    static const std::array<uint8_t, 256> table = nearestTable<6>(expand6);
    return table[c];
}

uint16_t pack4444(const uint8_t *p)
{
    return uint16_t(nearest4(p[3]) << 12 | nearest4(p[2]) << 8 | nearest4(p[1]) << 4 |
                    nearest4(p[0]));
}

uint16_t pack1555(const uint8_t *p)
{
    return uint16_t((p[3] >= 128 ? 0x8000 : 0) | nearest5(p[2]) << 10 | nearest5(p[1]) << 5 |
                    nearest5(p[0]));
}

uint16_t pack565(const uint8_t *p)
{
    return uint16_t(nearest5(p[2]) << 11 | nearest6(p[1]) << 5 | nearest5(p[0]));
}
