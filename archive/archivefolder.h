#pragma once

#include "archivefile.h"

#include <QString>
#include <QVector>

#include <memory>

// A folder of an archive's tree. Owns its subfolders and files; the root is
// held by value by the table model and lives as long as it.
//
// Paths in the format may nest without limit, so clearing and destroying a
// tree walk it with an explicit stack rather than one call per level. A
// folder may hold any number of subfolders, so once it has more than a few,
// names are found through a hash index beside the list, which keeps the order
// they were met in.
class ArchiveFolder
{
public:
    ArchiveFolder(bool isRoot, ArchiveFolder *parent, const QString &name);
    // Clears the folder first.
    ~ArchiveFolder();
    ArchiveFolder(const ArchiveFolder &) = delete;
    ArchiveFolder &operator=(const ArchiveFolder &) = delete;

    // The first subfolder named exactly `name` (case-sensitive), or null.
    ArchiveFolder *findFolder(const QString &name) const;
    // The subfolder `name`, created at the end of `folders` when missing.
    ArchiveFolder *obtainFolder(const QString &name);
    // Deletes every folder and file below this one. The folder keeps its own
    // name, parent and root flag.
    void clear();

    bool isRoot;
    ArchiveFolder *parent; // null for the root only
    QString name;
    QVector<ArchiveFolder *> folders; // owned, in the order first met
    QVector<ArchiveFile *> files;     // owned, in directory order

private:
    // Open addressing over the subfolders, keyed by their names' hashes: one
    // allocation per folder that needs it, none per name.
    struct Index
    {
        std::unique_ptr<ArchiveFolder *[]> table; // null or a folder
        size_t mask = 0;                          // slot count - 1
    };
    ArchiveFolder **slotFor(const QString &name, uint hash) const;
    void index(ArchiveFolder *folder);

    uint nameHash;
    Index folderIndex; // empty while a scan of `folders` is as quick
};
