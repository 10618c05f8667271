// Shared facts about the Refp stream layout, for the decoder and the encoder.
#pragma once

#include <cstddef>
#include <cstdint>

namespace refp {

// Byte 1 of every stream.
constexpr uint8_t kMagic = 0xFB;
// Flag bits of byte 0. 0x10 is always set.
constexpr uint8_t kFlagBase = 0x10;
constexpr uint8_t kFlagCompressedSize = 0x01;
constexpr uint8_t kFlagWideSizes = 0x80;

// Largest match offset: a 17-bit field plus one.
constexpr uint32_t kWindow = 131072;
// The most output one input byte can produce (a 4-byte command copying 1028
// bytes). A declared size above this bound for the bytes present is damage.
constexpr uint64_t kMaxExpansion = 257;

struct Header
{
    size_t length = 0; // bytes before the first command
    uint32_t size = 0; // declared unpacked size
};

// Parses the header at `p`. False when the bytes are not a Refp stream or the
// header is cut short.
bool parseHeader(const uint8_t *p, size_t n, Header &header);

// True when `header` declares no more than the payload after it can produce.
inline bool plausible(const Header &header, uint64_t streamLength)
{
    return uint64_t(header.size) <= (streamLength - header.length) * kMaxExpansion;
}

} // namespace refp
