#pragma once

// What a folder holds, as the system lists it: one folder at a time, its
// items with their kind and size, symbolic links never followed (on
// Windows, nor junctions or other reparse points). One implementation per
// system: folderwalk_posix.cpp, folderwalk_windows.cpp.

#include "heldfile.h"

#include <QString>

#include <functional>

struct FolderItem
{
    enum Kind
    {
        File,   // a regular file
        Folder, // a folder, not a link to one
        Link,   // a symbolic link (on Windows, any reparse point)
        Other,  // a device, pipe or socket
    };
    QString name; // as the system's file-name encoding decodes it
    // False when the name's bytes are not valid in that encoding, so that
    // the decoded name would name another file (POSIX); true on Windows.
    bool exactName = true;
    Kind kind = Other;
    // Its size, and where asked for, which file it is (device and inode).
    FileIdentity identity;
};

// Hands each item of `folder` but "." and ".." to `visit`, in the system's
// order; `visit` answers false to stop. With `identify`, each file's device
// and inode are known too (Windows opens every file for them; POSIX always
// knows them). False when the folder or one of its items cannot be read,
// with `problem` saying which and why ("cannot read folder F: reason"), and
// when `visit` stopped it.
bool listFolder(const QString &folder, bool identify,
                const std::function<bool(const FolderItem &item)> &visit, QString &problem);

// What stands at `path`, its name aside: a link at the end of the path is
// followed only with `followLinks`. False, with `problem` ("cannot read
// PATH: reason"), when nothing can be looked at there.
bool lookAt(const QString &path, bool followLinks, FolderItem &item, QString &problem);
