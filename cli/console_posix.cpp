#include "console.h"

#include <unistd.h>

namespace cli {

void setUpStreams()
{
}

bool isTerminal(std::FILE *stream)
{
    return ::isatty(::fileno(stream));
}

} // namespace cli
