#include "filecollector.h"

#include "safepath.h"

#include <QDir>
#include <QStringList>

QString storedNameProblem(const QString &decoded, QByteArray &stored)
{
    for (const QChar c : decoded) {
        if (c.unicode() > 0xFF)
            return QStringLiteral("the name has characters beyond 8 bits");
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return QStringLiteral("the name holds a control character");
        if (c == QLatin1Char('\\'))
            return QStringLiteral("the name holds a \\, which archives read as a folder separator");
    }
    stored = decoded.toLatin1();
    return QString();
}

QString storedPathProblem(const QByteArray &path)
{
    if (!safeEntryPath(path))
        return QStringLiteral("extraction would refuse the path (empty, \".\" or \"..\" "
                              "components, a drive letter, a leading separator or a control "
                              "character)");
    return QString();
}

bool storedPathOfGiven(const QString &given, QByteArray &stored, QString &problem)
{
    const QString path = QDir::fromNativeSeparators(given);
    if (QDir::isAbsolutePath(path)) {
        problem = QStringLiteral("cannot store %1: it is an absolute path (name it relative to "
                                 "the current folder, or give its entry name with --as)")
                      .arg(given);
        return false;
    }
    QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    while (!parts.isEmpty() && parts.first() == QLatin1String("."))
        parts.removeFirst();
    stored.clear();
    for (const QString &part : qAsConst(parts)) {
        QByteArray name;
        const QString refusal = storedNameProblem(part, name);
        if (!refusal.isEmpty()) {
            problem = QStringLiteral("cannot store %1: %2").arg(given, refusal);
            return false;
        }
        stored += (stored.isEmpty() ? QByteArray() : QByteArray("\\")) + name;
    }
    const QString refusal = stored.isEmpty() ? QString() : storedPathProblem(stored);
    if (refusal.isEmpty())
        return true;
    problem = QStringLiteral("cannot store %1: %2").arg(given, refusal);
    return false;
}

bool FileCollector::isExcluded(quint64 device, quint64 inode) const
{
    for (const auto &file : excluded) {
        if (file.first == device && file.second == inode)
            return true;
    }
    return false;
}
