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

} // namespace largetable
