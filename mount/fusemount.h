#pragma once

#include "archivefs.h"

#include <QString>

#include <functional>

// Serves an ArchiveFs at a mount point through FUSE, read-only: folders
// 0555 and files 0444, owned by the mounting user, with the archive file's
// modification time; every change is refused with EROFS. `finish` runs on a
// thread of its own as soon as the mount answers (to build the rest of the
// tree and say what it found); when it answers false the mount ends.
// Without `foreground` the process goes to the background once the mount is
// there, as FUSE tools do, and the caller's process exits when `finish` has
// returned, 0 or 1 as it answered; either way this returns when the mount is
// gone (fusermount3 -u, or Ctrl+C in the foreground). Answers the exit
// status; `problem` says why the mount could not be made.
int serveArchive(ArchiveFs &fs, qint64 modified, const QString &mountPoint, bool foreground,
                 const std::function<bool()> &finish, QString &problem);
