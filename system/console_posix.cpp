#include "console.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <unistd.h>

namespace cli {

void setUpStreams()
{
}

bool readStandardInput(QByteArray &bytes, QString &problem)
{
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            problem = QString::fromLocal8Bit(std::strerror(errno));
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
    return text.toLocal8Bit();
}

bool isTerminal(std::FILE *stream)
{
    return ::isatty(::fileno(stream));
}

} // namespace cli
