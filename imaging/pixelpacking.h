#pragma once

#include <cstdint>

// The inverse of the decoders' channel expansion (expand4, expand5,
// expand6): the stored value whose expansion is nearest to the 8-bit
// channel `c`, so that packing an expanded value gives it back.
uint8_t nearest4(uint8_t c);
uint8_t nearest5(uint8_t c);
uint8_t nearest6(uint8_t c);

// Blue, green, red, alpha bytes to the 16-bit layouts the decoders read.
uint16_t pack4444(const uint8_t *bgra);
uint16_t pack1555(const uint8_t *bgra);
uint16_t pack565(const uint8_t *bgra);
