#pragma once

#include <QString>
#include <QStringList>

#include <sys/types.h>

class AtomicFile;

// A folder to write files below without ever leaving it: every step down is
// opened without following symbolic links, and each file is an AtomicFile,
// written to a temporary name and renamed into place, so it lands whole or
// not at all.
class SafeOutput
{
public:
    ~SafeOutput();

    // Creates the folder if needed and opens it. False, with `problem` set,
    // when it cannot.
    bool open(const QString &folder, QString &problem);
    // The file at `path` (the archive being read) is never replaced.
    void protect(const QString &path);

    // Starts `file` at `components` below the folder, creating the folders
    // between. An existing file may be replaced only with `overwrite`. False,
    // with `problem` set, when the file cannot be started.
    bool start(const QStringList &components, bool overwrite, AtomicFile &file, QString &problem);
    // Whether the last start() was refused only because the file exists.
    bool existed = false;

private:
    int root = -1;
    int lastFolder = -1; // the folder of the last file started, below root
    QStringList lastFolders;
    bool guarded = false;
    dev_t guardedDevice = 0;
    ino_t guardedInode = 0;
};
