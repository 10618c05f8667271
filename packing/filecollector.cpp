#include "filecollector.h"

#include "folderwalk.h"
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

bool FileCollector::isExcluded(const FileIdentity &identity) const
{
    for (const auto &file : excluded) {
        if (file.first == identity.device && file.second == identity.inode)
            return true;
    }
    return false;
}

void FileCollector::exclude(const QString &path)
{
    FolderItem item;
    QString problem;
    if (lookAt(path, true, item, problem))
        excluded.push_back({item.identity.device, item.identity.inode});
}

bool FileCollector::addFile(const QString &file, const QByteArray &path, QString &problem)
{
    FolderItem item;
    if (!lookAt(file, false, item, problem))
        return false;
    if (item.kind != FolderItem::File) {
        problem = QStringLiteral("%1 is not a regular file").arg(file);
        return false;
    }
    if (isExcluded(item.identity)) {
        problem = QStringLiteral("%1 is the archive being written").arg(file);
        return false;
    }
    problem = storedPathProblem(path);
    if (!problem.isEmpty()) {
        problem = QStringLiteral("cannot store %1: %2").arg(file, problem);
        return false;
    }
    files.push_back({file, path, item.identity.size});
    return true;
}

bool FileCollector::addFolder(const QString &folder, const QByteArray &prefix, QString &problem)
{
    // Folders still to read, with the stored path of what they hold.
    struct Pending
    {
        QString folder;
        QByteArray stored;
    };
    std::vector<Pending> pending{{folder, prefix}};
    while (!pending.empty()) {
        const Pending current = pending.back();
        pending.pop_back();
        std::vector<Pending> below;
        auto take = [&](const FolderItem &item) {
            const QString shown = current.folder + QLatin1Char('/') + item.name;
            // Symbolic links and special files are not packed, and that
            // is said.
            if (item.kind == FolderItem::Link || item.kind == FolderItem::Other) {
                warnings << (item.kind == FolderItem::Link
                                 ? QStringLiteral("left out symbolic link %1").arg(shown)
                                 : QStringLiteral("left out %1: not a regular file").arg(shown));
                return true;
            }
            if (isExcluded(item.identity))
                return true;
            QByteArray stored;
            problem = item.exactName ? storedNameProblem(item.name, stored)
                                     : QStringLiteral("the name is not valid in the system's "
                                                      "file-name encoding");
            if (!problem.isEmpty()) {
                problem = QStringLiteral("cannot store %1: %2").arg(shown, problem);
                return false;
            }
            const QByteArray path =
                current.stored.isEmpty() ? stored : current.stored + '\\' + stored;
            if (item.kind == FolderItem::Folder) {
                below.push_back({shown, path});
                return true;
            }
            problem = storedPathProblem(path);
            if (!problem.isEmpty()) {
                problem = QStringLiteral("cannot store %1: %2").arg(shown, problem);
                return false;
            }
            files.push_back({shown, path, item.identity.size});
            return true;
        };
        if (!listFolder(current.folder, !excluded.empty(), take, problem))
            return false;
        pending.insert(pending.end(), below.rbegin(), below.rend());
    }
    return true;
}
