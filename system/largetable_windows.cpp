#include "largetable.h"

namespace largetable {

// Large pages on Windows need a privilege that users do not hold and memory
// committed up front: nothing to advise.
void advise(const void *, size_t)
{
}

} // namespace largetable
