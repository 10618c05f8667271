// Refp decoder.
//
// A stream is a header and a list of commands. Each command copies 0 to 112
// literal bytes from the stream, then optionally copies a match: `length`
// bytes that stand `offset` bytes back in the output. Copies may overlap what
// they write (offset 1 repeats the last byte).
//
// The fast loop (refpfastloop.h) does not branch on the command kind: one
// table gives the distance to the next command, another the fields of each
// kind, and literals and matches are copied in wide chunks that may write
// past the command's end, which the loop allows only while both buffers have
// room for the largest command and that slack. Everything rare (the stop
// command, an offset before the output's start, either buffer's end) goes to
// the exact decoder of one command, which checks everything and is where
// every damaged stream is refused.
//
// The fast loop comes in two builds: one with byte shuffles, for processors
// that have them, and a portable one. GFXCORE_DECODER=portable in the
// environment picks the portable one anywhere, so that it can be tested.

#include "refpdecoder.h"

#include "refpfastloop.h"

#include <algorithm>
#include <cstdlib>
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

constexpr uint32_t kNeverAnOffset = 0x7FFFFFFF;

// Command kinds by first byte: 0x00-0x7F two bytes (offset 10 bits, length 3
// to 10), 0x80-0xBF three (offset 14 bits, length 4 to 67, literals in the
// top of the second byte), 0xC0-0xDF four (offset 17 bits, length 5 to
// 1028), 0xE0-0xFB a run of 4 to 112 literals, 0xFC-0xFF the stop command.
constexpr std::array<CommandFields, 256> makeFields()
{
    std::array<CommandFields, 256> fields{};
    for (unsigned b0 = 0; b0 < 256; ++b0) {
        CommandFields &f = fields[b0];
        if (b0 < 0x80)
            f = {((b0 & 0x60u) << 3) + 1, 0xFF, uint16_t(((b0 >> 2) & 7) + 3), 2, 16, 0};
        else if (b0 < 0xC0)
            f = {1, 0x3FFF, uint16_t((b0 & 0x3F) + 4), 3, 8, 0};
        else if (b0 < 0xE0)
            f = {((b0 & 0x10u) << 12) + 1, 0xFFFF, uint16_t(((b0 & 0x0C) << 6) + 5), 4, 8, 0xFF};
        else if (b0 < 0xFC)
            f = {16, 0, 0, 1, 0, 0};
        else
            f = {kNeverAnOffset, 0, 0, 1, 0, 0};
    }
    return fields;
}

constexpr std::array<uint8_t, kStepKeyMask + 1> makeSteps()
{
    std::array<uint8_t, kStepKeyMask + 1> steps{};
    for (unsigned key = 0; key <= kStepKeyMask; ++key) {
        if ((key & ~kStepKeyMask) != 0)
            continue;
        const unsigned b0 = key & 0xFF;
        unsigned step = 0;
        if (b0 < 0x80)
            step = 2 + (b0 & 3);
        else if (b0 < 0xC0)
            step = 3 + (key >> 14);
        else if (b0 < 0xE0)
            step = 4 + (b0 & 3);
        else if (b0 < 0xFC)
            step = 1 + ((b0 & 0x1F) + 1) * 4;
        else
            step = 1 + (b0 & 3);
        steps[key] = uint8_t(step);
    }
    return steps;
}

// How the portable loop rebuilds the first 32 bytes of a match whose offset
// is below 16 in four 64-bit registers, the offset's bytes repeated. Built
// in registers, they are stored once and never read back right away, which
// would make the processor wait for the stores.
struct Period
{
    uint64_t seedMask; // the offset's bytes of the first word (all of them from 8 on)
    uint64_t repeat;   // multiplier that repeats them across the word
    uint64_t nextMask; // bytes 8 on of the source kept for the second word
    uint64_t wrapMask; // the first word kept as the second word's start (below 8)
    uint8_t nextShift; // bits the second word's start is shifted down
    uint8_t wrapShift; // bits the first word is shifted up into the second
    // The third and fourth words repeat the bytes a period P back, P the
    // offset's smallest multiple of at least 8: each is the two words before
    // it shifted down by r = 16 - P bytes (1 to 8), in two steps so that no
    // shift is by 64.
    uint8_t downShift; // 8r - 1
    uint8_t upShift;   // 64 - 8r
    uint8_t back;      // the offset's smallest multiple of at least 16
};

constexpr uint64_t lowBytes(unsigned n)
{
    return n >= 8 ? ~0ull : (1ull << (8 * n)) - 1;
}

// For an offset p below 8, the first word is the p bytes times 1 + 2^8p +
// ..., and the second word is the first one rotated by 8 mod p bytes. From 8
// to 15, the first word is the source's first 8 bytes, and the second its
// bytes 8 to p-1 followed by the first word.
constexpr std::array<Period, 16> makePeriods()
{
    std::array<Period, 16> periods{};
    for (unsigned p = 1; p < 16; ++p) {
        Period &e = periods[p];
        if (p < 8) {
            uint64_t repeat = 0;
            for (unsigned k = 0; k < 8; k += p)
                repeat |= 1ull << (8 * k);
            const unsigned phase = 8 % p;
            e.seedMask = lowBytes(p);
            e.repeat = repeat;
            e.wrapMask = ~0ull;
            e.nextShift = uint8_t(8 * phase);
            e.wrapShift = uint8_t(8 * (p - phase));
        } else {
            e.seedMask = ~0ull;
            e.repeat = 1;
            e.nextMask = lowBytes(p - 8);
            e.wrapShift = uint8_t(8 * (p - 8));
        }
        unsigned period = p;
        while (period < 8)
            period += p;
        e.downShift = uint8_t(8 * (16 - period) - 1);
        e.upShift = uint8_t(64 - 8 * (16 - period));
        unsigned back = p;
        while (back < 16)
            back += p;
        e.back = uint8_t(back);
    }
    return periods;
}

constexpr std::array<Period, 16> periods = makePeriods();

inline void store64(uint8_t *p, uint64_t v)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    std::memcpy(p, &v, 8);
}

// A match's first 32 bytes, none of them read back from what the copy has
// just written: from offset 16 on, the 32 bytes at its source, then (below
// 32) its first 16 bytes again where they repeat; below 16, words built in
// registers.
struct PortableCopy
{
    static void copy(uint8_t *op, size_t offset, size_t length)
    {
        const uint8_t *from = op - offset;
        size_t back = offset;
        if (offset >= 16) {
            uint8_t head[16], next[16];
            std::memcpy(head, from, 16);
            std::memcpy(next, from + 16, 16);
            std::memcpy(op, head, 16);
            std::memcpy(op + 16, next, 16);
            // Past the match's 32 bytes from offset 32 on: overwritten by its
            // tail or by the commands after it.
            std::memcpy(op + (offset < 32 ? offset : 32), head, 16);
        } else {
            const Period &e = periods[offset];
            const uint64_t first = (loadLittle64(from) & e.seedMask) * e.repeat;
            const uint64_t start = (loadLittle64(from + 8) & e.nextMask) | (first & e.wrapMask);
            const uint64_t second = (start >> e.nextShift) | (first << e.wrapShift);
            const uint64_t third = ((first >> e.downShift) >> 1) | (second << e.upShift);
            const uint64_t fourth = ((second >> e.downShift) >> 1) | (third << e.upShift);
            store64(op, first);
            store64(op + 8, second);
            store64(op + 16, third);
            store64(op + 24, fourth);
            back = e.back;
        }
        if (length > 32)
            copyMatchTail(op, back, length);
    }
};

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

CommandRunner chooseRunner()
{
#if defined(GFXCORE_HAVE_SHUFFLED_LOOP)
    const char *choice = std::getenv("GFXCORE_DECODER");
    const bool portable = choice && std::strcmp(choice, "portable") == 0;
    __builtin_cpu_init();
    if (!portable && __builtin_cpu_supports("ssse3"))
        return runCommandsShuffled;
#endif
    return runCommandsPortable;
}

} // namespace

const std::array<uint8_t, kStepKeyMask + 1> commandSteps = makeSteps();
const std::array<CommandFields, 256> commandFields = makeFields();

void runCommandsPortable(const uint8_t *&ip, const uint8_t *ilimit, uint8_t *&op,
                         const uint8_t *olimit, const uint8_t *dst)
{
    runCommands<PortableCopy>(ip, ilimit, op, olimit, dst);
}

namespace {

enum class Run
{
    Done,    // the output (or the prefix wanted) is complete
    Damaged, // the commands are damaged
    Full,    // the next command does not fit before the end of the buffer
};

// Runs commands from `ip` into `op`, matches reaching back no further than
// `dst`, up to `oend`. When `last`, `oend` is the end of the output (with
// `prefix`, of the part of it wanted) and the stream is checked to end
// there; otherwise the output goes on past `oend`, and Full leaves `ip` and
// `op` before the first command that does not fit.
Run runTo(const uint8_t *&ip, const uint8_t *iend, uint8_t *&op, const uint8_t *dst, uint8_t *oend,
          bool last, bool prefix)
{
    static const CommandRunner runFast = chooseRunner();
    const size_t inLen = size_t(iend - ip), outLen = size_t(oend - op);
    // The fast loop runs while both buffers have room for its wide copies.
    const uint8_t *const ilimit = inLen >= kFastInputSlack ? iend - kFastInputSlack : ip;
    const uint8_t *const olimit = outLen >= kFastOutputSlack ? oend - kFastOutputSlack : op;
    for (;;) {
        runFast(ip, ilimit, op, olimit, dst);

        // One command, every field checked against both ends.
        if (last && prefix && op == oend)
            return Run::Done;
        if (ip >= iend)
            return Run::Damaged; // the stream ended without its stop command
        const uint8_t b0 = ip[0];
        const size_t inLeft = size_t(iend - ip);
        size_t command, literals, length, offset;
        if (b0 < 0x80) {
            if (inLeft < 2)
                return Run::Damaged;
            command = 2;
            literals = b0 & 3;
            length = ((b0 >> 2) & 7) + 3;
            offset = (size_t(b0 & 0x60) << 3) + ip[1] + 1;
        } else if (b0 < 0xC0) {
            if (inLeft < 3)
                return Run::Damaged;
            command = 3;
            literals = ip[1] >> 6;
            length = (b0 & 0x3F) + 4;
            offset = (size_t(ip[1] & 0x3F) << 8) + ip[2] + 1;
        } else if (b0 < 0xE0) {
            if (inLeft < 4)
                return Run::Damaged;
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
            // Stop command: its last literals, then the output must be
            // complete, which it cannot be before the last buffer.
            literals = b0 & 3;
            if (!last || inLeft - 1 < literals || size_t(oend - op) > literals ||
                (!prefix && size_t(oend - op) != literals))
                return Run::Damaged;
            std::memcpy(op, ip + 1, size_t(oend - op));
            op = oend;
            return Run::Done;
        }
        if (inLeft - command < literals)
            return Run::Damaged;
        if (size_t(oend - op) < literals + length) {
            if (!last)
                return Run::Full;
            // A prefix ends inside this command: the part of it that fits.
            if (!prefix)
                return Run::Damaged;
            ip += command;
            const size_t fits = std::min(literals, size_t(oend - op));
            std::memcpy(op, ip, fits);
            op += fits;
            if (op == oend)
                return Run::Done;
            if (offset > size_t(op - dst))
                return Run::Damaged;
            op = copyMatchExact(op, offset, size_t(oend - op));
            return Run::Done;
        }
        ip += command;
        std::memcpy(op, ip, literals);
        op += literals;
        ip += literals;
        if (length == 0)
            continue;
        if (offset > size_t(op - dst))
            return Run::Damaged;
        op = copyMatchExact(op, offset, length);
    }
}

} // namespace

bool decode(const uint8_t *src, size_t srcLen, uint8_t *dst, size_t dstLen, bool prefix)
{
    const uint8_t *ip = src;
    uint8_t *op = dst;
    return runTo(ip, src + srcLen, op, dst, dst + dstLen, true, prefix) == Run::Done;
}

Pieces decodePieces(const uint8_t *src, size_t srcLen, uint64_t outLen, bool prefix,
                    uint8_t *buffer, size_t bufferLen, PieceSink sink, void *context)
{
    const uint8_t *ip = src;
    uint64_t base = 0; // where in the output buffer[0] stands
    uint8_t *op = buffer, *handed = buffer;
    for (;;) {
        const bool last = outLen - base <= bufferLen;
        uint8_t *const oend = buffer + (last ? size_t(outLen - base) : bufferLen);
        const Run run = runTo(ip, src + srcLen, op, buffer, oend, last, prefix);
        // A buffer too small for one command would make no progress.
        if (run == Run::Damaged || (run == Run::Full && op == handed))
            return Pieces::Damaged;
        if (op != handed && sink(context, handed, size_t(op - handed)) == 0)
            return Pieces::Stopped;
        if (run == Run::Done)
            return Pieces::Done;
        // What later matches may copy from moves to the front.
        const size_t keep = std::min<size_t>(size_t(op - buffer), kWindow);
        std::memmove(buffer, op - keep, keep);
        base += uint64_t(op - buffer) - keep;
        op = handed = buffer + keep;
    }
}

} // namespace refp
