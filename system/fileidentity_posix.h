#pragma once

// What a POSIX stat says of a file, as a FileIdentity: for the POSIX
// implementations of held and atomic files alone.

#include "heldfile.h"

#include <sys/stat.h>

inline FileIdentity identityOf(const struct stat &info)
{
    FileIdentity id;
    id.device = quint64(info.st_dev);
    id.inode = quint64(info.st_ino);
    id.size = quint64(info.st_size);
    id.modified = qint64(info.st_mtim.tv_sec) * 1000000000 + qint64(info.st_mtim.tv_nsec);
    return id;
}
