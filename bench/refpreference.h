// The Refp decoder and encoder before the present ones, for the benchmark's
// comparisons only.
#pragma once

#include "refpformat.h"

namespace refpreference {

// Runs the commands of a stream (the bytes after its header) into exactly
// `dstLen` bytes of `dst`; false for a damaged stream.
bool decode(const uint8_t *src, size_t srcLen, uint8_t *dst, size_t dstLen);

// Writes a complete stream for `n` bytes into `dst` (refp::encodeBound(n)
// bytes); its length.
size_t encode(const uint8_t *src, size_t n, uint8_t *dst);

} // namespace refpreference
