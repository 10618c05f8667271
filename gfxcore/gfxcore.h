/*
 * GfxCore: the Refp compression library.
 *
 * A plain C interface so that any program can load it by name at run time.
 * Every function takes the length of the buffers it is given and never reads
 * or writes outside them, whatever the bytes hold.
 */
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(GFXCORE_BUILDING)
#define GFXCORE_API __declspec(dllexport)
#else
#define GFXCORE_API __declspec(dllimport)
#endif
#else
#define GFXCORE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Length of the Refp header at the start of `src` (5, 6, 8 or 10), or 0 when
 * the bytes do not start a Refp stream or the header is cut short. */
GFXCORE_API size_t GfxCore_HeaderLength(const void *src, size_t srcLen);

/* Declared unpacked size of the stream at `src`. 0 when the bytes are not a
 * Refp stream, when the header is cut short, and when the declared size is
 * more than the stream could possibly produce (a damaged header), so that no
 * caller allocates for it. An empty stream also answers 0. */
GFXCORE_API uint32_t GfxCore_UnpackedSize(const void *src, size_t srcLen);

/* The same for a stream of `streamLen` bytes of which only the first `srcLen`
 * (at least its header) are at `src`: what an archive's listing needs to
 * know of an entry without reading all of it. */
GFXCORE_API uint32_t GfxCore_StreamUnpackedSize(const void *src, size_t srcLen, uint64_t streamLen);

/* Unpacks the stream at `src` into `dst`. Returns the number of bytes written,
 * which is exactly the declared size, or -1 when the bytes are not a Refp
 * stream, the stream is damaged, or `dstCapacity` is smaller than the declared
 * size. On failure `dst` may hold part of the output, never more than the
 * declared size. */
GFXCORE_API int64_t GfxCore_Unpack(const void *src, size_t srcLen, void *dst, size_t dstCapacity);

/* Unpacks only the first `want` bytes of the stream's output (all of it when
 * it declares fewer) into `dst`, which holds `want` bytes, and stops there:
 * for a reader that needs no more. Returns the number written, or -1 when
 * the bytes are not a Refp stream or are damaged before that many exist. */
GFXCORE_API int64_t GfxCore_UnpackPrefix(const void *src, size_t srcLen, void *dst, size_t want);

/* Receives a piece of output from GfxCore_UnpackPieces; answers 0 to stop. */
typedef int (*GfxCore_PieceSink)(void *context, const void *piece, size_t length);

/* Unpacks the first `want` bytes of the stream's output (all of it when it
 * declares fewer) without holding them: they are made in a buffer of about
 * 1 MiB that GfxCore allocates, and handed to `sink` in pieces, in order,
 * for a reader that looks at the output once and keeps little of it.
 * Returns the number handed out; -1 when the bytes are not a Refp stream or
 * are damaged before that many exist (the pieces handed out until then are
 * the output as far as it went), -2 when `sink` answered 0, -3 when the
 * buffer cannot be allocated. */
GFXCORE_API int64_t GfxCore_UnpackPieces(const void *src, size_t srcLen, uint64_t want,
                                         GfxCore_PieceSink sink, void *context);

/* Largest stream that GfxCore_Compress can produce for `srcLen` bytes. */
GFXCORE_API size_t GfxCore_CompressBound(size_t srcLen);

/* Compresses `srcLen` bytes into `dst` at the default level. Returns the
 * stream's length, or 0 when `srcLen` is 4 GiB or more (the format cannot
 * declare it), `dstCapacity` is below GfxCore_CompressBound(srcLen) or the
 * encoder's tables (a few MiB) cannot be allocated. */
GFXCORE_API size_t GfxCore_Compress(const void *src, size_t srcLen, void *dst, size_t dstCapacity);

/* The levels of GfxCore_CompressLevel. Every level's stream unpacks with
 * GfxCore_Unpack, and a stream decodes the faster the fewer its commands. */
#define GFXCORE_LEVEL_STORE 0   /* literal runs only: about 1% larger, at copying speed */
#define GFXCORE_LEVEL_FAST 1    /* greedy: several times faster, a larger stream */
#define GFXCORE_LEVEL_DEFAULT 2 /* lazy, weighing each match against decode time */
#define GFXCORE_LEVEL_BEST 3    /* an optimal parse: the smallest stream, slowly */

/* GfxCore_Compress at `level` (0 to 3; other values are taken as the nearest). */
GFXCORE_API size_t GfxCore_CompressLevel(const void *src, size_t srcLen, void *dst,
                                         size_t dstCapacity, int level);

/* One part of a stream compressed in parts, on as many threads as the
 * caller likes, each part with a buffer of its own: the `partLen` bytes at
 * `src + historyLen`, which stand at `offset` in a stream of `streamLen`
 * bytes (under 4 GiB), right after the `historyLen` bytes before them (of
 * which the last 128 KiB are matched against; no more than `offset`). The
 * part at offset 0 starts with the header, the one that ends at `streamLen`
 * ends with the stop command, and the parts written one after another, in
 * order, are the stream. Every part but the last is a multiple of 4 bytes
 * long. Returns the part's length, or 0 as GfxCore_CompressLevel does for a
 * capacity below GfxCore_CompressBound(partLen), and for parts that break
 * these rules. */
GFXCORE_API size_t GfxCore_CompressPart(const void *src, size_t historyLen, size_t partLen,
                                        uint64_t offset, uint64_t streamLen, void *dst,
                                        size_t dstCapacity, int level);

#ifdef __cplusplus
}
#endif
