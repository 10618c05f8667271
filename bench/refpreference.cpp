// Refp's decoder as it stood before the table-driven one: kept here, and only
// here, as the benchmark's reference for speed.

#include "refpreference.h"

#include <cstring>

namespace refpreference {

namespace {

constexpr size_t kMaxLiterals = 112;
constexpr size_t kMaxMatch = 1028;
constexpr size_t kChunk = 16;
// Room the wide copies need: a 4-byte command, its literals rounded up to a
// chunk, and a match rounded up to a chunk.
constexpr size_t kInputSlack = 4 + kMaxLiterals + kChunk;
constexpr size_t kOutputSlack = kMaxLiterals + kChunk + kMaxMatch + kChunk;

inline void copy8(uint8_t *d, const uint8_t *s)
{
    std::memcpy(d, s, 8);
}
inline void copy16(uint8_t *d, const uint8_t *s)
{
    std::memcpy(d, s, kChunk);
}

// Copies `length` bytes from `offset` back, writing up to 15 bytes past the
// end. Offsets below 8 are first widened: after the first 8 bytes are copied
// one by one, the output repeats with period `offset`, so any multiple of it
// of at least 8 reads the same bytes with 8-byte copies that do not overlap.
inline uint8_t *copyMatchWide(uint8_t *op, size_t offset, size_t length)
{
    uint8_t *const end = op + length;
    const uint8_t *from = op - offset;
    if (offset >= kChunk) {
        do {
            copy16(op, from);
            op += kChunk;
            from += kChunk;
        } while (op < end);
        return end;
    }
    if (offset < 8) {
        static const uint8_t widened[8] = {0, 8, 8, 9, 8, 10, 12, 14};
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // Repeat the `offset` bytes across a register rather than copying one
        // byte at a time, each waiting for the store before it. Only bytes
        // already written are read.
        uint64_t pattern = 0;
        for (size_t i = 0; i < offset; ++i)
            pattern |= uint64_t(from[i]) << (8 * i);
        const unsigned bits = unsigned(offset) * 8;
        uint64_t v = pattern;
        for (unsigned shift = bits; shift < 64; shift += bits)
            v |= pattern << shift;
        std::memcpy(op, &v, 8);
#else
        for (int i = 0; i < 8; ++i)
            op[i] = from[i];
#endif
        if (length <= 8)
            return end;
        op += 8;
        from = op - widened[offset];
    }
    while (op < end) {
        copy8(op, from);
        op += 8;
        from += 8;
    }
    return end;
}

// Copies `length` bytes from `offset` back without writing past the end.
inline uint8_t *copyMatchExact(uint8_t *op, size_t offset, size_t length)
{
    const uint8_t *from = op - offset;
    if (offset < length) {
        // Overlapping: each byte may be one this copy has just written.
        for (size_t i = 0; i < length; ++i)
            op[i] = from[i];
    } else {
        std::memcpy(op, from, length);
    }
    return op + length;
}

} // namespace

bool decode(const uint8_t *src, size_t srcLen, uint8_t *dst, size_t dstLen)
{
    const uint8_t *ip = src;
    const uint8_t *const iend = src + srcLen;
    uint8_t *op = dst;
    uint8_t *const oend = dst + dstLen;

    // Wide loop, while both buffers have room for the largest command and the
    // slack of the chunked copies. The fields of the three copy commands are
    // worked out side by side and picked without branching on the kind, which
    // changes from one command to the next.
    while (size_t(iend - ip) >= kInputSlack && size_t(oend - op) >= kOutputSlack) {
        const size_t b0 = ip[0];
        if (b0 >= 0xE0) {
            if (b0 >= 0xFC)
                break; // the stop command: checked by the exact loop below
            const size_t literals = ((b0 & 0x1F) + 1) * 4;
            for (size_t i = 0; i < literals; i += kChunk)
                copy16(op + i, ip + 1 + i);
            op += literals;
            ip += 1 + literals;
            continue;
        }
        const size_t b1 = ip[1], b2 = ip[2], b3 = ip[3];
        const bool twoBytes = b0 < 0x80;
        const bool fourBytes = b0 >= 0xC0;
        const size_t command = 2 + size_t(!twoBytes) + size_t(fourBytes);
        const size_t literals = (twoBytes || fourBytes) ? (b0 & 3) : (b1 >> 6);
        size_t length = twoBytes ? ((b0 >> 2) & 7) + 3 : (b0 & 0x3F) + 4;
        size_t offset = twoBytes ? ((b0 & 0x60) << 3) + b1 + 1 : ((b1 & 0x3F) << 8) + b2 + 1;
        if (fourBytes) {
            length = ((b0 & 0x0C) << 6) + b3 + 5;
            offset = ((b0 & 0x10) << 12) + (b1 << 8) + b2 + 1;
        }
        std::memcpy(op, ip + command, 4);
        op += literals;
        ip += command + literals;
        if (offset > size_t(op - dst))
            return false;
        op = copyMatchWide(op, offset, length);
    }

    // Exact loop: every command checked against both ends before it is run.
    while (ip < iend) {
        const uint8_t b0 = ip[0];
        const size_t inLeft = size_t(iend - ip);
        size_t command, literals, length, offset;
        if (b0 < 0x80) {
            if (inLeft < 2)
                return false;
            command = 2;
            literals = b0 & 3;
            length = ((b0 >> 2) & 7) + 3;
            offset = (size_t(b0 & 0x60) << 3) + ip[1] + 1;
        } else if (b0 < 0xC0) {
            if (inLeft < 3)
                return false;
            command = 3;
            literals = ip[1] >> 6;
            length = (b0 & 0x3F) + 4;
            offset = (size_t(ip[1] & 0x3F) << 8) + ip[2] + 1;
        } else if (b0 < 0xE0) {
            if (inLeft < 4)
                return false;
            command = 4;
            literals = b0 & 3;
            length = (size_t(b0 & 0x0C) << 6) + ip[3] + 5;
            offset = (size_t(b0 & 0x10) << 12) + (size_t(ip[1]) << 8) + ip[2] + 1;
        } else if (b0 < 0xFC) {
            command = 1;
            literals = (size_t(b0 & 0x1F) + 1) * 4;
            length = 0;
            offset = 0;
        } else {
            // Stop command: its last literals, then the output must be complete.
            literals = b0 & 3;
            if (inLeft - 1 < literals || size_t(oend - op) != literals)
                return false;
            std::memcpy(op, ip + 1, literals);
            return true;
        }
        if (inLeft - command < literals || size_t(oend - op) < literals + length)
            return false;
        ip += command;
        std::memcpy(op, ip, literals);
        op += literals;
        ip += literals;
        if (length == 0)
            continue;
        if (offset > size_t(op - dst))
            return false;
        op = copyMatchExact(op, offset, length);
    }
    // The stream ended without its stop command.
    return false;
}

} // namespace refpreference
