#pragma once

#include "archivefs.h"

#include <QString>

// Serves an ArchiveFs at a mount point through FUSE, read-only: folders
// 0555 and files 0444, owned by the mounting user, with the archive file's
// modification time; every change is refused with EROFS. Without
// `foreground` the process goes to the background once the mount is ready,
// as FUSE tools do; either way it returns when the mount is gone
// (fusermount3 -u, or Ctrl+C in the foreground). Answers the exit status;
// `problem` says why the mount could not be made.
int serveArchive(ArchiveFs &fs, qint64 modified, const QString &mountPoint, bool foreground,
                 QString &problem);
