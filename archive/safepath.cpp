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

QString windowsNameProblem(const QString &component)
{
    for (const QChar c : component) {
        if (c == QLatin1Char(':'))
            return QStringLiteral("Windows reads a \":\" in a name as a drive or a data stream");
        if (QStringLiteral("<>\"|?*").contains(c))
            return QStringLiteral("Windows names cannot hold \"%1\"").arg(c);
    }
    if (component.endsWith(QLatin1Char('.')) || component.endsWith(QLatin1Char(' ')))
        return QStringLiteral("Windows drops a name's trailing dots and spaces");
    if (isWindowsDeviceName(component))
        return QStringLiteral("%1 is a device name on Windows")
            .arg(component.section(QLatin1Char('.'), 0, 0).trimmed().toUpper());
    return QString();
}

bool isWindowsDeviceName(const QString &component)
{
    // A device name stays one with any extension ("nul.txt") and with
    // spaces before it.
    const QString stem = component.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    static const QStringList devices = {QStringLiteral("CON"),    QStringLiteral("PRN"),
                                        QStringLiteral("AUX"),    QStringLiteral("NUL"),
                                        QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
    const bool numbered =
        stem.size() == 4 &&
        (stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT"))) &&
        ((stem.at(3) >= QLatin1Char('1') && stem.at(3) <= QLatin1Char('9')) ||
         stem.at(3) == QChar(0xB9) || stem.at(3) == QChar(0xB2) || stem.at(3) == QChar(0xB3));
    return numbered || devices.contains(stem);
}

CaseClashes::CaseClashes(bool foldsCase) : folds(foldsCase)
{
}

QString CaseClashes::clash(const QStringList &components)
{
    if (!folds)
        return QString();
    const QString path = components.join(QLatin1Char('\\'));
    const QString folded = path.toCaseFolded();
    const auto found = seen.constFind(folded);
    if (found == seen.constEnd()) {
        seen.insert(folded, path);
        return QString();
    }
    return *found == path ? QString() : *found;
}
