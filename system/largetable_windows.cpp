#include "largetable.h"

#include <windows.h>

namespace largetable {

// Large pages on Windows need a privilege that users do not hold and memory
// committed up front: nothing to advise.
void advise(const void *, size_t)
{
}

// Committed as it is touched, zeroed, like a mapping elsewhere.
void *allocate(size_t bytes)
{
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void release(void *data, size_t)
{
    if (data)
        VirtualFree(data, 0, MEM_RELEASE);
}

} // namespace largetable
