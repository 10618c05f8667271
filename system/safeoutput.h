#pragma once

#include "atomicfile.h"

#include <QString>
#include <QStringList>

// A folder to write files below without ever leaving it: every step down is
// opened without following symbolic links (on Windows, nor junctions, and a
// folder held open cannot be renamed meanwhile), and each file is an AtomicFile,
// written to a temporary name and renamed into place, so it lands whole or
// not at all.
class SafeOutput
{
public:
    ~SafeOutput();

    // Creates the folder if needed and opens it. False, with `problem` set,
    // when it cannot.
    bool open(const QString &folder, QString &problem);
    // The file at `path` is never replaced: a file started at its name is
    // refused with `reason` (the file being read, say).
    void protect(const QString &path, const QString &reason);

    // Starts `file` at `components` below the folder, creating the folders
    // between. An existing file may be replaced only with `overwrite`. False,
    // with `problem` set, when the file cannot be started. The file uses the
    // folder this object holds: it is committed or cancelled before the
    // next start() and before this object goes.
    bool start(const QStringList &components, bool overwrite, AtomicFile &file, QString &problem);
    // Whether the last start() was refused only because the file exists.
    bool existed = false;

private:
    // Steps down from `dir` to the folder `name`, creating it if needed.
    bool enter(const OpenFolder &dir, const QString &name, OpenFolder &next, QString &problem);
    // What stands at `name` in `dir`: false when nothing does.
    bool look(const OpenFolder &dir, const QString &name, bool &isFolder, FileIdentity &identity);
    void release(const OpenFolder &folder);

    OpenFolder root;
    OpenFolder lastFolder; // the folder of the last file started, below root
    bool hasRoot = false;
    bool hasLast = false;
    QStringList lastFolders;
    bool guarded = false;
    FileIdentity guardedFile; // device and inode only
    QString guardedReason;
};
