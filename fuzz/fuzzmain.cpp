// A libFuzzer program for one target, chosen at build time.

#include "fuzztargets.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInitialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return VORLAND_FUZZ_FUNCTION(data, size);
}
