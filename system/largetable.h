#pragma once

#include <cstddef>

// Large tables built in one go, such as an archive's directory and its
// entries: the system is asked to back them with large pages where it can.
// With 4 KiB pages, filling the 18 MiB of a 200,000-entry directory took a
// fault per page, which cost more than parsing it. Only advice: nothing
// changes when the system does not follow it.
// One implementation per system: largetable_posix.cpp, largetable_windows.cpp.
namespace largetable {

// The size of a large page where the system has them.
constexpr size_t kPageSize = size_t(2) << 20;

// How many elements of `size` bytes to set aside for `count` of them: a
// large page more for a table of large pages, so that advice covers all of
// it wherever the allocation lands (only what is written is backed).
inline size_t room(size_t count, size_t size)
{
    return count * size >= kPageSize ? count + kPageSize / size : count;
}

// Advises the whole large pages that lie within `size` bytes from `data`.
void advise(const void *data, size_t size);

} // namespace largetable
