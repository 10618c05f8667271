#pragma once

#include "mountedtree.h"

#include <QByteArray>

#include <QString>

#include <functional>
#include <vector>

// An archive a mounted tree reads from: its path, and its modification
// time in milliseconds since 1970. With several, each file gives its
// archive's path in the attribute user.vorland.archive.
struct MountSource
{
    QByteArray path;
    qint64 modified = 0;
};

// Serves a tree at a mount point through FUSE, read-only: folders 0555 and
// files 0444, owned by the mounting user, files with their archive's
// modification time and folders with the newest; every change is refused
// with EROFS. `finish` runs on a thread of its own as soon as the mount
// answers (to build the rest of the tree and say what it found); when it
// answers false the mount ends. Without `foreground` the process goes to
// the background once the mount is there, as FUSE tools do, and the
// caller's process exits when `finish` has returned, 0 or 1 as it answered;
// either way this returns when the mount is gone (fusermount3 -u, or Ctrl+C
// in the foreground). Answers the exit status; `problem` says why the mount
// could not be made.
int serveTree(MountedTree &tree, const std::vector<MountSource> &sources, const QString &mountPoint,
              bool foreground, const std::function<bool()> &finish, QString &problem);
