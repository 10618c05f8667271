// Refp decoder.
//
// A stream is a header and a list of commands. Each command copies 0 to 112
// literal bytes from the stream, then optionally copies a match: `length`
// bytes that stand `offset` bytes back in the output. Copies may overlap what
// they write (offset 1 repeats the last byte).
//
// The fast loop does not branch on the command kind: one table, keyed by the
// first byte and the top two bits of the second, gives the command's size
// and literal count; the offset and length of every kind are worked out side
// by side and picked by the kind. Literals and matches are copied in wide
// chunks that may write past the command's end, which the loop allows only
// while both buffers have room for the largest command and that slack.
// Everything rare (the stop command, an offset before the output's start,
// either buffer's end) goes to the exact decoder of one command, which checks
// everything and is where every damaged stream is refused.

#include "refpdecoder.h"

#include <array>
#include <cstring>

namespace refp {

bool parseHeader(const uint8_t *p, size_t n, Header &header)
{
    if (n < 2 || p[1] != kMagic)
        return false;
    const uint8_t flags = p[0];
    if ((flags & ~(kFlagCompressedSize | kFlagWideSizes)) != kFlagBase)
        return false;
    const size_t width = (flags & kFlagWideSizes) ? 4 : 3;
    const size_t length = 2 + ((flags & kFlagCompressedSize) ? width : 0) + width;
    if (n < length)
        return false;
    uint32_t size = 0;
    for (const uint8_t *s = p + length - width; s < p + length; ++s)
        size = (size << 8) | *s;
    header.length = length;
    header.size = size;
    return true;
}

namespace {

constexpr size_t kMaxLiterals = 112;
constexpr size_t kMaxMatch = 1028;
// The fast loop reads a command and its literals in 32-byte chunks, and
// writes literals and a match in chunks that overrun by at most 31 bytes.
constexpr size_t kInputSlack = 4 + 128;
constexpr size_t kOutputSlack = 128 + kMaxMatch + 32;

// How to read a command's fields, by its first byte b0, from the 32-bit
// little-endian word at the command (bytes b0 b1 b2 b3), without branching
// on its kind:
//   literals = literalBase + (b1 >> 6 & literalMask)
//   length   = lengthBase + (b3 & lengthMask)
//   offset   = offsetBase + ((b1 b2 as big-endian & pairMask) | (b1 & b1Mask))
// A literal run's match is empty, and its offset 16 reads only bytes already
// written, so its wide copy does nothing harmful. The stop command's offset
// is out of reach, which sends it to the exact decoder.
struct Fields
{
    uint32_t offsetBase;
    uint16_t pairMask;
    uint16_t lengthBase;
    uint8_t b1Mask;
    uint8_t lengthMask;
    uint8_t literalBase;
    uint8_t literalMask;
    uint8_t size;
};

constexpr uint32_t kNeverAnOffset = 0x7FFFFFFF;

constexpr std::array<Fields, 256> makeFields()
{
    std::array<Fields, 256> fields{};
    for (unsigned b0 = 0; b0 < 256; ++b0) {
        Fields &f = fields[b0];
        if (b0 < 0x80) { // 2 bytes: offset 10 bits, length 3 to 10
            f = {((b0 & 0x60u) << 3) + 1,
                 0,
                 uint16_t(((b0 >> 2) & 7) + 3),
                 0xFF,
                 0,
                 uint8_t(b0 & 3),
                 0,
                 2};
        } else if (b0 < 0xC0) { // 3 bytes: offset 14 bits, length 4 to 67
            f = {1, 0x3FFF, uint16_t((b0 & 0x3F) + 4), 0, 0, 0, 3, 3};
        } else if (b0 < 0xE0) { // 4 bytes: offset 17 bits, length 5 to 1028
            f = {((b0 & 0x10u) << 12) + 1,
                 0xFFFF,
                 uint16_t(((b0 & 0x0C) << 6) + 5),
                 0,
                 0xFF,
                 uint8_t(b0 & 3),
                 0,
                 4};
        } else if (b0 < 0xFC) { // a run of 4 to 112 literals
            f = {16, 0, 0, 0, 0, uint8_t(((b0 & 0x1F) + 1) * 4), 0, 1};
        } else { // the stop command
            f = {kNeverAnOffset, 0, 0, 0, 0, uint8_t(b0 & 3), 0, 1};
        }
    }
    return fields;
}

constexpr std::array<Fields, 256> fieldTable = makeFields();

inline uint32_t load32(const uint8_t *p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return v;
}

// Chunks are loaded whole before they are stored, so a chunk may overlap
// the one it is copied from.
inline void copy16(uint8_t *d, const uint8_t *s)
{
    uint8_t chunk[16];
    std::memcpy(chunk, s, 16);
    std::memcpy(d, chunk, 16);
}

inline void copy32(uint8_t *d, const uint8_t *s)
{
    uint8_t chunk[32];
    std::memcpy(chunk, s, 32);
    std::memcpy(d, chunk, 32);
}

inline void copy8(uint8_t *d, const uint8_t *s)
{
    std::memcpy(d, s, 8);
}

// Copies `length` bytes from `offset` back, writing up to 31 bytes past the
// end, in chunks that each read only bytes already written: 32 or 16 bytes
// at a time for long offsets, 8 for the others. Offsets below 8 first write
// their period repeated over 8 bytes, from a register; after that any
// multiple of the period of at least 8 reads the same bytes.
inline uint8_t *copyMatchWide(uint8_t *op, size_t offset, size_t length)
{
    uint8_t *const end = op + length;
    const uint8_t *from = op - offset;
    if (offset >= 8) {
        // Most matches are done in these four copies.
        copy8(op, from);
        copy8(op + 8, from + 8);
        copy8(op + 16, from + 16);
        copy8(op + 24, from + 24);
        if (length > 32) {
            op += 32;
            from += 32;
            do {
                copy8(op, from);
                op += 8;
                from += 8;
            } while (op < end);
        }
        return end;
    }
    if (offset < 8) {
        static const uint8_t widened[8] = {0, 8, 8, 9, 8, 10, 12, 14};
        uint64_t pattern = 0;
        for (size_t i = 0; i < offset; ++i)
            pattern |= uint64_t(from[i]) << (8 * i);
        const unsigned bits = unsigned(offset) * 8;
        for (unsigned shift = bits; shift < 64; shift += bits)
            pattern |= pattern << shift;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        pattern = __builtin_bswap64(pattern);
#endif
        std::memcpy(op, &pattern, 8);
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

    // The fast loop runs while both buffers have room for its wide copies.
    const uint8_t *const ilimit = srcLen >= kInputSlack ? iend - kInputSlack : src;
    uint8_t *const olimit = dstLen >= kOutputSlack ? oend - kOutputSlack : dst;
    for (;;) {
        // Fast loop: no check but the one that sends rare commands below.
        while (ip < ilimit && op < olimit) {
            const uint32_t w = load32(ip);
            const Fields &f = fieldTable[w & 0xFF];
            const uint32_t b1 = (w >> 8) & 0xFF;
            const uint32_t pair = (w & 0xFF00) | ((w >> 16) & 0xFF);
            const size_t literals = f.literalBase + ((b1 >> 6) & f.literalMask);
            const size_t length = f.lengthBase + ((w >> 24) & f.lengthMask);
            const size_t offset = f.offsetBase + ((pair & f.pairMask) | (b1 & f.b1Mask));
            if (offset > size_t(op - dst) + literals)
                break; // the stop command, or a match before the start
            const uint8_t *lit = ip + f.size;
            copy8(op, lit);
            copy8(op + 8, lit + 8);
            copy8(op + 16, lit + 16);
            copy8(op + 24, lit + 24);
            if (literals > 32) {
                for (size_t i = 32; i < literals; i += 32)
                    copy32(op + i, lit + i);
            }
            op += literals;
            ip = lit + literals;
            op = copyMatchWide(op, offset, length);
        }

        // One command, every field checked against both ends.
        if (ip >= iend)
            return false; // the stream ended without its stop command
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
}

} // namespace refp
