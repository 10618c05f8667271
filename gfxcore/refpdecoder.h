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

// Takes a piece of output; 0 to stop.
using PieceSink = int (*)(void *context, const void *piece, size_t length);

enum class Pieces
{
    Done,
    Damaged,
    Stopped, // the sink answered 0
};

// The same for an output of `outLen` bytes that need not fit in memory: it
// is made in `buffer` (more than kWindow bytes, plus room for the largest
// command) and handed to `sink` a piece at a time, in order, each piece
// once; the last kWindow bytes stay behind for the matches after them. The
// pieces handed out before a failure are the output as far as it went.
Pieces decodePieces(const uint8_t *src, size_t srcLen, uint64_t outLen, bool prefix,
                    uint8_t *buffer, size_t bufferLen, PieceSink sink, void *context);

} // namespace refp
