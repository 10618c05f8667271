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

// One part of a stream compressed in parts, which may run on several
// threads: the bytes [start, end) of `src`, which stand at `offset` in a
// stream of `streamSize` bytes, right after the bytes before `start` (the
// last kWindow of them are matched against). The first part (offset 0)
// starts with the header, the last (ending at streamSize) ends with the stop
// command, and the parts written in order are the stream. Every part but the
// last is a multiple of 4 bytes long. `dst` holds encodeBound(end - start)
// bytes. Returns the part's length; 0 for parts that break these rules.
size_t encodePart(const uint8_t *src, size_t start, size_t end, uint64_t offset,
                  uint64_t streamSize, uint8_t *dst, int level = kDefaultLevel);

} // namespace refp
