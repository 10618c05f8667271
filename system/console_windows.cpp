#include "console.h"

#include "windowsfs.h"

#include <fcntl.h>
#include <initializer_list>
#include <io.h>
#include <new>
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

bool readStandardInput(QByteArray &bytes, QString &problem)
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[1 << 16];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(input, buffer, sizeof buffer, &got, nullptr)) {
            // The writing end of a pipe closed: its end.
            const DWORD error = GetLastError();
            if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF)
                return true;
            problem = windowsfs::message(error);
            return false;
        }
        if (got == 0)
            return true;
        try {
            bytes.append(buffer, int(got));
        } catch (const std::bad_alloc &) {
            problem = QStringLiteral("not enough memory");
            return false;
        }
    }
}

QByteArray outputText(const QString &text)
{
    return text.toUtf8();
}

bool isTerminal(std::FILE *stream)
{
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode);
}

} // namespace cli
