#include "treebuilder.h"

ArchiveFile *addPath(ArchiveFolder &root, const QString &path, qint32 size, qint32 offset)
{
    const QStringList parts = path.split(QLatin1Char('\\'), Qt::KeepEmptyParts);
    ArchiveFolder *folder = &root;
    for (int i = 0; i + 1 < parts.size(); ++i)
        folder = folder->obtainFolder(parts.at(i));
    auto *file = new ArchiveFile(folder, parts.last(), size, offset);
    folder->files.append(file);
    return file;
}

void addPaths(ArchiveFolder &root, const QStringList &paths)
{
    for (const QString &path : paths)
        addPath(root, path);
}
