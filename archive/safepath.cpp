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
