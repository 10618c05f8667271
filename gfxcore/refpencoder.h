#pragma once

#include "refpformat.h"

namespace refp {

// Longest stream that encode() writes for `n` input bytes: the input itself,
// one command byte per 112 literals, the header and the stop command.
inline size_t encodeBound(size_t n)
{
    return n + n / 112 + 16;
}

// The levels: 0 stores (literal runs only, no search), 1 fast (greedy), 2 the default (lazy), 3
// best (an optimal parse, slow). Every level's stream decodes with the one decoder.
constexpr int kStoreLevel = 0;
constexpr int kFastLevel = 1;
constexpr int kDefaultLevel = 2;
constexpr int kBestLevel = 3;

// Writes a complete stream (header included) for `n` bytes (n < 4 GiB) into
// `dst`, which must hold encodeBound(n) bytes. Returns the stream's length.
size_t encode(const uint8_t *src, size_t n, uint8_t *dst, int level = kDefaultLevel);

} // namespace refp
