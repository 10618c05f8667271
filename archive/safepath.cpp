#include "safepath.h"

bool isSafeEntryPath(const char *p, size_t size)
{
    if (size == 0 || p[0] == '\\' || p[0] == '/')
        return false;
    const bool driveLetter =
        size >= 2 && p[1] == ':' && ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
    if (driveLetter)
        return false;
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i < size && p[i] != '\\' && p[i] != '/') {
            const uchar c = uchar(p[i]);
            if (c < 0x20 || c == 0x7F)
                return false;
            continue;
        }
        const size_t length = i - start;
        if (length == 0 ||
            (p[start] == '.' && (length == 1 || (length == 2 && p[start + 1] == '.'))))
            return false;
        start = i + 1;
    }
    return true;
}

std::optional<QStringList> safeEntryPath(const QByteArray &storedPath)
{
    if (!isSafeEntryPath(storedPath.constData(), size_t(storedPath.size())))
        return std::nullopt;
    QStringList parts;
    int start = 0;
    for (int i = 0; i <= storedPath.size(); ++i) {
        if (i == storedPath.size() || storedPath.at(i) == '\\' || storedPath.at(i) == '/') {
            parts << QString::fromLatin1(storedPath.constData() + start, i - start);
            start = i + 1;
        }
    }
    return parts;
}

QString escapedForTerminal(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u >= 0x20 && u != 0x7F && (u < 0x80 || u > 0x9F)) {
            out += c;
            continue;
        }
        switch (u) {
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\t': out += QLatin1String("\\t"); break;
        default: out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        }
    }
    return out;
}
