#include "console.h"

#include <fcntl.h>
#include <initializer_list>
#include <io.h>
#include <windows.h>

namespace cli {

void setUpStreams()
{
    for (std::FILE *stream : {stdin, stdout, stderr})
        _setmode(_fileno(stream), _O_BINARY);
    // Output to a file or a pipe stays UTF-8 bytes; a console shows them as
    // such once told to.
    SetConsoleOutputCP(CP_UTF8);
}

bool isTerminal(std::FILE *stream)
{
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode);
}

} // namespace cli
