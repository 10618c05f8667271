#pragma once

#include "heldfile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

// Files from disk on their way into an archive, with the paths they are
// stored under.
//
// A stored path is 8-bit, its components separated by "\", and must be one
// that extraction accepts (safeEntryPath): a name that is not valid in the
// system's file-name encoding, has characters beyond U+00FF, holds a "\" (the
// format's separator) or a control character is refused, never dropped or
// altered.
struct DiskFile
{
    QString file;     // where it is on disk
    QByteArray path;  // where it goes in the archive
    quint64 size = 0; // its size when it was collected
};

class FileCollector
{
public:
    // A file never collected (the archive being written or changed, when it
    // lies inside a folder being packed).
    void exclude(const QString &path);

    // Every regular file below `folder`, recursively, stored as `prefix`
    // followed by its path relative to `folder`. Symbolic links are not
    // followed and are left out. False, with `problem` naming the file or
    // folder, when a folder cannot be read or a name cannot be stored.
    bool addFolder(const QString &folder, const QByteArray &prefix, QString &problem);
    // One regular file, stored as `path`.
    bool addFile(const QString &file, const QByteArray &path, QString &problem);

    std::vector<DiskFile> files;
    // One line for each symbolic link or special file left out.
    QStringList warnings;

private:
    bool isExcluded(const FileIdentity &identity) const;

    std::vector<std::pair<quint64, quint64>> excluded; // device and inode
};

// Why `name`, a file or folder name, cannot be a component of a stored path;
// empty when it can. `stored` gets its 8-bit form.
QString storedNameProblem(const QString &name, QByteArray &stored);

// Why `path` (8-bit, "\" separated) cannot be stored; empty when it can.
QString storedPathProblem(const QByteArray &path);

// The stored path of a file or folder as the user names it on disk: "/"
// (and on Windows "\\") separated parts written with "\", a leading "./"
// and a trailing "/" left out ("." alone stores as the empty path). False, with `problem` set, for
// an absolute path and for a name that cannot be stored.
bool storedPathOfGiven(const QString &given, QByteArray &stored, QString &problem);
