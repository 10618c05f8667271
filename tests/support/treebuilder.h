#pragma once

#include "archivefolder.h"

#include <QStringList>

// Adds a file for a backslash-separated path below `root`, creating the
// folders on the way, as opening an archive does for each directory entry.
ArchiveFile *addPath(ArchiveFolder &root, const QString &path, qint32 size = 0, qint32 offset = 0);

// addPath for each path in turn.
void addPaths(ArchiveFolder &root, const QStringList &paths);
