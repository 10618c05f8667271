// The exported C interface of GfxCore.

#include "gfxcore.h"

#include "refpdecoder.h"
#include "refpencoder.h"

#include <algorithm>
#include <memory>
#include <new>

using refp::Header;

namespace {

// The buffer GfxCore_UnpackPieces makes its pieces in: the history that
// matches reach back to, and a piece.
constexpr size_t kPieceBuffer = refp::kWindow + 1024 * 1024;

} // namespace

extern "C" {

size_t GfxCore_HeaderLength(const void *src, size_t srcLen)
{
    Header header;
    if (!src || !refp::parseHeader(static_cast<const uint8_t *>(src), srcLen, header))
        return 0;
    return header.length;
}

uint32_t GfxCore_UnpackedSize(const void *src, size_t srcLen)
{
    return GfxCore_StreamUnpackedSize(src, srcLen, srcLen);
}

uint32_t GfxCore_StreamUnpackedSize(const void *src, size_t srcLen, uint64_t streamLen)
{
    Header header;
    if (!src || streamLen < srcLen ||
        !refp::parseHeader(static_cast<const uint8_t *>(src), srcLen, header) ||
        !refp::plausible(header, streamLen))
        return 0;
    return header.size;
}

int64_t GfxCore_Unpack(const void *src, size_t srcLen, void *dst, size_t dstCapacity)
{
    Header header;
    const auto *bytes = static_cast<const uint8_t *>(src);
    if (!src || !refp::parseHeader(bytes, srcLen, header) || !refp::plausible(header, srcLen) ||
        dstCapacity < header.size || (!dst && header.size > 0))
        return -1;
    uint8_t scratch = 0;
    uint8_t *out = dst ? static_cast<uint8_t *>(dst) : &scratch;
    if (!refp::decode(bytes + header.length, srcLen - header.length, out, header.size))
        return -1;
    return int64_t(header.size);
}

int64_t GfxCore_UnpackPrefix(const void *src, size_t srcLen, void *dst, size_t want)
{
    Header header;
    const auto *bytes = static_cast<const uint8_t *>(src);
    if (!src || !refp::parseHeader(bytes, srcLen, header) || !refp::plausible(header, srcLen) ||
        (!dst && want > 0))
        return -1;
    const size_t n = std::min<size_t>(want, header.size);
    if (n == 0)
        return 0;
    if (!refp::decode(bytes + header.length, srcLen - header.length, static_cast<uint8_t *>(dst), n,
                      n < header.size))
        return -1;
    return int64_t(n);
}

int64_t GfxCore_UnpackPieces(const void *src, size_t srcLen, uint64_t want, GfxCore_PieceSink sink,
                             void *context)
{
    Header header;
    const auto *bytes = static_cast<const uint8_t *>(src);
    if (!src || !sink || !refp::parseHeader(bytes, srcLen, header) ||
        !refp::plausible(header, srcLen))
        return -1;
    const uint64_t n = std::min<uint64_t>(want, header.size);
    if (n == 0) {
        // All of an empty output is wanted when the stream ends as it should.
        uint8_t scratch = 0;
        return header.size > 0 ||
                       refp::decode(bytes + header.length, srcLen - header.length, &scratch, 0)
                   ? 0
                   : -1;
    }
    // No larger than the output: a small one costs no mapping of its own.
    const size_t room = size_t(std::min<uint64_t>(n, kPieceBuffer));
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[room]);
    if (!buffer)
        return -3;
    switch (refp::decodePieces(bytes + header.length, srcLen - header.length, n, n < header.size,
                               buffer.get(), room, sink, context)) {
    case refp::Pieces::Done: return int64_t(n);
    case refp::Pieces::Stopped: return -2;
    case refp::Pieces::Damaged: break;
    }
    return -1;
}

size_t GfxCore_CompressBound(size_t srcLen)
{
    return refp::encodeBound(srcLen);
}

size_t GfxCore_Compress(const void *src, size_t srcLen, void *dst, size_t dstCapacity)
{
    return GfxCore_CompressLevel(src, srcLen, dst, dstCapacity, GFXCORE_LEVEL_DEFAULT);
}

size_t GfxCore_CompressLevel(const void *src, size_t srcLen, void *dst, size_t dstCapacity,
                             int level)
{
    const uint64_t length = srcLen; // (a size_t of 32 bits never is too long)
    if (length > 0xFFFFFFFFull || !dst || dstCapacity < refp::encodeBound(srcLen) ||
        (!src && srcLen > 0))
        return 0;
    static const uint8_t empty = 0;
    const auto *in = src ? static_cast<const uint8_t *>(src) : &empty;
    // The encoder's tables are the only thing it allocates; without the
    // memory for them, the caller hears of it as of any other failure.
    try {
        return refp::encode(in, srcLen, static_cast<uint8_t *>(dst), level);
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

size_t GfxCore_CompressPart(const void *src, size_t historyLen, size_t partLen, uint64_t offset,
                            uint64_t streamLen, void *dst, size_t dstCapacity, int level)
{
    if (streamLen > 0xFFFFFFFFull || !src || !dst || dstCapacity < refp::encodeBound(partLen) ||
        historyLen > offset || partLen > streamLen - std::min(offset, streamLen))
        return 0;
    try {
        return refp::encodePart(static_cast<const uint8_t *>(src), historyLen, historyLen + partLen,
                                offset, streamLen, static_cast<uint8_t *>(dst), level);
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

} // extern "C"
