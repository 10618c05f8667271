#include "archivefolder.h"

#include <vector>

ArchiveFolder::ArchiveFolder(bool isRoot, ArchiveFolder *parent, const QString &name)
    : isRoot(isRoot), parent(parent), name(name)
{
}

ArchiveFolder::~ArchiveFolder()
{
    clear();
}

ArchiveFolder *ArchiveFolder::findFolder(const QString &name) const
{
    for (ArchiveFolder *folder : folders) {
        if (folder->name == name)
            return folder;
    }
    return nullptr;
}

ArchiveFolder *ArchiveFolder::obtainFolder(const QString &name)
{
    if (ArchiveFolder *found = findFolder(name))
        return found;
    auto *folder = new ArchiveFolder(false, this, name);
    folders.append(folder);
    return folder;
}

void ArchiveFolder::clear()
{
    // Every folder taken off the stack hands its subfolders to the stack and
    // is deleted empty, so no destructor recurses.
    std::vector<ArchiveFolder *> pending(folders.cbegin(), folders.cend());
    folders.clear();
    qDeleteAll(files);
    files.clear();
    while (!pending.empty()) {
        ArchiveFolder *folder = pending.back();
        pending.pop_back();
        pending.insert(pending.end(), folder->folders.cbegin(), folder->folders.cend());
        folder->folders.clear();
        qDeleteAll(folder->files);
        folder->files.clear();
        delete folder;
    }
}
