#include "largetable.h"

#include <cstdint>
#include <sys/mman.h>

namespace largetable {

void advise(const void *data, size_t size)
{
#ifdef MADV_HUGEPAGE
    // The transparent large pages of Linux; the advice applies to whole
    // ones only.
    constexpr uintptr_t kLargePage = kPageSize;
    const uintptr_t begin = (uintptr_t(data) + kLargePage - 1) & ~(kLargePage - 1);
    const uintptr_t end = (uintptr_t(data) + size) & ~(kLargePage - 1);
    if (end > begin)
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

void *allocate(size_t bytes)
{
    // Mapped a large page longer and cut to a large-page boundary, so that
    // every large page of the table is a whole one.
    const size_t length = (bytes + kPageSize - 1) & ~(kPageSize - 1);
    if (length < bytes || length > SIZE_MAX - kPageSize)
        return nullptr;
    void *mapped = mmap(nullptr, length + kPageSize, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return nullptr;
    const uintptr_t at = uintptr_t(mapped);
    const uintptr_t start = (at + kPageSize - 1) & ~uintptr_t(kPageSize - 1);
    if (start > at)
        munmap(mapped, start - at);
    munmap(reinterpret_cast<void *>(start + length), at + kPageSize - start);
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void *>(start), length, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void *>(start);
}

void release(void *data, size_t bytes)
{
    if (data)
        munmap(data, (bytes + kPageSize - 1) & ~(kPageSize - 1));
}

} // namespace largetable
