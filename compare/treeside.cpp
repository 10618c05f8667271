// The two kinds of side: an archive's entries as extract writes them, and
// what a folder holds.

#include "treecompare.h"

#include "entrydata.h"
#include "folderwalk.h"
#include "pathrules.h"
#include "safepath.h"

#include <algorithm>

namespace {

QString keyOf(const QString &path)
{
    static const bool folds = CaseClashes::systemFoldsCase();
    return folds ? path.toCaseFolded() : path;
}

} // namespace

void TreeSide::sort()
{
    // Stable: of two items of one key, the first listed stays first and
    // is the one kept.
    std::stable_sort(items.begin(), items.end(),
                     [](const TreeItem &a, const TreeItem &b) { return a.key < b.key; });
    items.erase(std::unique(items.begin(), items.end(),
                            [](const TreeItem &a, const TreeItem &b) { return a.key == b.key; }),
                items.end());
}

bool TreeSide::openArchive(const BigArchive &from, QString &problem)
{
    archive = &from;
    std::vector<const BigEntry *> all;
    all.reserve(from.entries.size());
    for (const BigEntry &entry : from.entries)
        all.push_back(&entry);
    std::vector<EntryStorage> storage;
    if (!entryStorage(from, all, storage)) {
        problem = QStringLiteral("%1: cannot be read any more").arg(from.path);
        return false;
    }
    items.reserve(all.size());
    for (size_t i = 0; i < all.size(); ++i) {
        const std::optional<QStringList> parts = safeEntryPath(all[i]->path);
        const QString refusal = !parts ? QStringLiteral("unsafe path") : systemNameProblem(*parts);
        if (!refusal.isEmpty()) {
            warnings.append(QStringLiteral("left out %1 of %2: %3")
                                .arg(all[i]->pathText(), from.path, refusal));
            continue;
        }
        TreeItem item;
        item.path = parts->join(QLatin1Char('/'));
        item.key = keyOf(item.path);
        item.entry = int(i);
        item.size = storage[i].unpackedSize;
        item.compressed = storage[i].compressed();
        items.push_back(std::move(item));
    }
    sort();
    return true;
}

bool TreeSide::openFolder(const QString &root, QString &problem)
{
    folder = root;
    // Folders still to list, by their path below the root; no recursion,
    // however deep the tree.
    QStringList pending{QString()};
    while (!pending.isEmpty()) {
        const QString below = pending.takeLast();
        const QString at = below.isEmpty() ? root : root + QLatin1Char('/') + below;
        const bool listed = listFolder(
            at, false,
            [&](const FolderItem &found) {
                const QString path =
                    below.isEmpty() ? found.name : below + QLatin1Char('/') + found.name;
                if (!found.exactName) {
                    warnings.append(QStringLiteral("left out %1/%2: its name is not valid in "
                                                   "the system's encoding of file names")
                                        .arg(root, path));
                    return true;
                }
                if (found.kind == FolderItem::Folder) {
                    pending.append(path);
                    return true;
                }
                TreeItem item;
                item.path = path;
                item.key = keyOf(path);
                item.file = found.kind == FolderItem::File;
                item.size = found.identity.size;
                items.push_back(std::move(item));
                return true;
            },
            problem);
        if (!listed)
            return false;
    }
    sort();
    return true;
}
