#include "pathrules.h"

#include <QStringList>

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
