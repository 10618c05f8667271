#include "archivefolder.h"

#include <QHash>

#include <vector>

namespace {

// Folders with at most this many subfolders are searched one by one.
constexpr int kScanned = 8;

} // namespace

ArchiveFolder::ArchiveFolder(bool isRoot, ArchiveFolder *parent, const QString &name)
    : isRoot(isRoot), parent(parent), name(name), nameHash(qHash(name))
{
}

ArchiveFolder::~ArchiveFolder()
{
    clear();
}

ArchiveFolder **ArchiveFolder::slotFor(const QString &wanted, uint hash) const
{
    for (size_t i = hash & folderIndex.mask;; i = (i + 1) & folderIndex.mask) {
        ArchiveFolder **slot = &folderIndex.table[i];
        if (!*slot || ((*slot)->nameHash == hash && (*slot)->name == wanted))
            return slot;
    }
}

void ArchiveFolder::index(ArchiveFolder *folder)
{
    // Kept at most half full, so that every search ends at an empty slot.
    if (size_t(folders.size()) * 2 > folderIndex.mask) {
        folderIndex.mask = folderIndex.mask ? folderIndex.mask * 2 + 1 : 4 * kScanned - 1;
        folderIndex.table.reset(new ArchiveFolder *[folderIndex.mask + 1]());
        for (ArchiveFolder *each : qAsConst(folders))
            *slotFor(each->name, each->nameHash) = each;
        return; // `folder` is in `folders` already
    }
    *slotFor(folder->name, folder->nameHash) = folder;
}

ArchiveFolder *ArchiveFolder::findFolder(const QString &wanted) const
{
    if (!folderIndex.table) {
        for (ArchiveFolder *folder : folders) {
            if (folder->name == wanted)
                return folder;
        }
        return nullptr;
    }
    return *slotFor(wanted, qHash(wanted));
}

ArchiveFolder *ArchiveFolder::obtainFolder(const QString &wanted)
{
    if (ArchiveFolder *found = findFolder(wanted))
        return found;
    auto *folder = new ArchiveFolder(false, this, wanted);
    folders.append(folder);
    if (folders.size() > kScanned)
        index(folder);
    return folder;
}

void ArchiveFolder::clear()
{
    // Every folder taken off the stack hands its subfolders to the stack and
    // is deleted empty, so no destructor recurses.
    std::vector<ArchiveFolder *> pending(folders.cbegin(), folders.cend());
    folders.clear();
    folderIndex = Index();
    qDeleteAll(files);
    files.clear();
    while (!pending.empty()) {
        ArchiveFolder *folder = pending.back();
        pending.pop_back();
        pending.insert(pending.end(), folder->folders.cbegin(), folder->folders.cend());
        folder->folders.clear();
        folder->folderIndex = Index();
        qDeleteAll(folder->files);
        folder->files.clear();
        delete folder;
    }
}
