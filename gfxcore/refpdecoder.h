#pragma once

#include "refpformat.h"

namespace refp {

// Runs the commands of a stream (the bytes after its header) and fills
// exactly `dstLen` bytes of `dst`. False when the commands are damaged: they
// end before the stop command, reach past `srcLen`, point before the start of
// the output, or produce more or fewer than `dstLen` bytes. Never reads or
// writes outside the two buffers. With `prefix`, the first `dstLen` bytes of
// a longer output are enough: decoding stops once they exist.
bool decode(const uint8_t *src, size_t srcLen, uint8_t *dst, size_t dstLen, bool prefix = false);

} // namespace refp
