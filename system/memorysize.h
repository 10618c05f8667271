#pragma once

#include <cstddef>
#include <cstdint>

// Sizes and offsets read from files are 64-bit everywhere, while one object
// in a process is at most PTRDIFF_MAX bytes: 2 GiB in a 32-bit program. A
// size from a file is checked with fits() before it is allocated or
// narrowed to size_t, so that it is refused as too large, never wrapped.
namespace memorysize {

// True when `n` bytes and `extra` more can be one object here.
constexpr bool fits(uint64_t n, uint64_t extra = 0)
{
    return extra <= uint64_t(PTRDIFF_MAX) && n <= uint64_t(PTRDIFF_MAX) - extra;
}

} // namespace memorysize
