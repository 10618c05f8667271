#include "safepath.h"

std::optional<QStringList> safeEntryPath(const QByteArray &storedPath)
{
    if (storedPath.isEmpty() || storedPath.at(0) == '\\' || storedPath.at(0) == '/')
        return std::nullopt;
    const QByteArray &p = storedPath;
    const bool driveLetter =
        p.size() >= 2 && p.at(1) == ':' &&
        ((p.at(0) >= 'A' && p.at(0) <= 'Z') || (p.at(0) >= 'a' && p.at(0) <= 'z'));
    if (driveLetter)
        return std::nullopt;
    QStringList parts;
    int start = 0;
    for (int i = 0; i <= p.size(); ++i) {
        if (i < p.size() && p.at(i) != '\\' && p.at(i) != '/') {
            const uchar c = uchar(p.at(i));
            if (c < 0x20 || c == 0x7F)
                return std::nullopt;
            continue;
        }
        const QByteArray part = p.mid(start, i - start);
        if (part.isEmpty() || part == "." || part == "..")
            return std::nullopt;
        parts << QString::fromLatin1(part);
        start = i + 1;
    }
    return parts;
}
