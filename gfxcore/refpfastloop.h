// The decoder's fast loop, shared by the portable build of it and the one
// that uses byte shuffles (compiled apart, with those instructions allowed).
// Everything here has internal linkage, so each of the two translation units
// keeps its own copy, compiled with its own instruction set.
#pragma once

#include "refpformat.h"

#include <array>
#include <cstring>

namespace refp {

// How to read a command's fields, by its first byte b0, from the big-endian
// word v = b0 b1 b2 b3 at the command, without branching on its kind:
//   offset = offsetBase + (v >> offsetShift & offsetMask)
//   length = lengthBase + (v & lengthMask)
// A literal run's match is empty, and its offset 16 reads only bytes already
// written, so its wide copy does nothing harmful. The stop command's offset
// is out of reach, which sends it to the exact decoder.
struct CommandFields
{
    uint32_t offsetBase;
    uint16_t offsetMask;
    uint16_t lengthBase;
    uint8_t size; // bytes of the command itself, before its literals
    uint8_t offsetShift;
    uint8_t lengthMask;
};

// The distance to the next command (its size and literals), keyed by the
// command's first two bytes masked with kStepKeyMask: the first byte and the
// literal count a 3-byte command keeps in the top of its second. The table is
// sparse, but only 4 x 256 of its bytes are ever read; keying it by one AND
// keeps the chain from one command to the next as short as it can be.
constexpr uint32_t kStepKeyMask = 0xC0FF;
extern const std::array<uint8_t, kStepKeyMask + 1> commandSteps;
extern const std::array<CommandFields, 256> commandFields;

namespace {

constexpr size_t kFastMaxMatch = 1028;
// A command, its literals and 16-byte chunks of them: the most the fast
// loop reads from a command's start.
constexpr size_t kFastInputSlack = 8 + 128;
// The most it writes from a command's start: 112 literals, then a match in
// 16-byte chunks, the first 48 bytes always.
constexpr size_t kFastOutputSlack = 128 + kFastMaxMatch + 64;

inline uint64_t loadLittle64(const uint8_t *p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

// Chunks are loaded whole before they are stored, so a chunk may overlap the
// one it is copied from.
inline void copy16(uint8_t *d, const uint8_t *s)
{
    uint8_t chunk[16];
    std::memcpy(chunk, s, 16);
    std::memcpy(d, chunk, 16);
}

// Runs commands while both buffers have room for the widest command and its
// slack, and stops before one that needs the exact decoder: the stop command,
// or a match that reaches before the output's start. MatchCopy::copy(op,
// offset, length) writes a match of any length at `op`, writing no more than
// 48 bytes or the length rounded up to 16 past it.
template <typename MatchCopy>
inline void runCommands(const uint8_t *&ipRef, const uint8_t *ilimit, uint8_t *&opRef,
                        const uint8_t *olimit, const uint8_t *dst)
{
    const uint8_t *ip = ipRef;
    uint8_t *op = opRef;
    while (ip < ilimit && op < olimit) {
        const uint64_t w = loadLittle64(ip);
        const size_t step = commandSteps[w & kStepKeyMask];
        const CommandFields &f = commandFields[w & 0xFF];
        const uint32_t v = __builtin_bswap32(uint32_t(w));
        const size_t literals = step - f.size;
        const size_t offset = f.offsetBase + ((v >> f.offsetShift) & f.offsetMask);
        const size_t length = f.lengthBase + (v & f.lengthMask);
        if (offset > size_t(op - dst) + literals)
            break;
        const uint8_t *lit = ip + f.size;
        copy16(op, lit);
        if (literals > 16) {
            for (size_t i = 16; i < literals; i += 16)
                copy16(op + i, lit + i);
        }
        ip += step;
        op += literals;
        MatchCopy::copy(op, offset, length);
        op += length;
    }
    ipRef = ip;
    opRef = op;
}

// Copies the rest of a match past its first 32 bytes, in 16-byte chunks that
// each read `back` bytes behind (a multiple of the offset of at least 16), so
// only bytes already written.
inline void copyMatchTail(uint8_t *op, size_t back, size_t length)
{
    for (size_t i = 32; i < length; i += 16)
        copy16(op + i, op + i - back);
}

} // namespace

// The fast loop of each build: the portable one, and the one with byte
// shuffles where the processor has them.
using CommandRunner = void (*)(const uint8_t *&ip, const uint8_t *ilimit, uint8_t *&op,
                               const uint8_t *olimit, const uint8_t *dst);
void runCommandsPortable(const uint8_t *&ip, const uint8_t *ilimit, uint8_t *&op,
                         const uint8_t *olimit, const uint8_t *dst);
void runCommandsShuffled(const uint8_t *&ip, const uint8_t *ilimit, uint8_t *&op,
                         const uint8_t *olimit, const uint8_t *dst);

} // namespace refp
