#include "archiveedit.h"

#include "bigwriter.h"
#include "safepath.h"

#include <QHash>
#include <QSet>

namespace {

QByteArray normalised(QByteArray path)
{
    return path.replace('/', '\\');
}

// Why the entries at `changed` could not all be extracted beside the others:
// a file where another entry needs a folder of that name, or the other way
// round. Empty when they can.
QString folderClash(const std::vector<ArchiveBuilder::Entry> &entries,
                    const std::vector<size_t> &changed)
{
    QSet<QByteArray> files, folders;
    for (const ArchiveBuilder::Entry &entry : entries) {
        const QByteArray path = normalised(entry.path);
        files.insert(path);
        for (int cut = path.indexOf('\\'); cut >= 0; cut = path.indexOf('\\', cut + 1))
            folders.insert(path.left(cut));
    }
    for (const size_t i : changed) {
        const QByteArray path = normalised(entries[i].path);
        const QString shown = QString::fromLatin1(path);
        if (folders.contains(path))
            return QStringLiteral("cannot store %1: the archive has a folder of that name")
                .arg(shown);
        for (int cut = path.indexOf('\\'); cut >= 0; cut = path.indexOf('\\', cut + 1)) {
            if (files.contains(path.left(cut)))
                return QStringLiteral("cannot store %1: %2 is a file in the archive")
                    .arg(shown, QString::fromLatin1(path.left(cut)));
        }
    }
    return QString();
}

} // namespace

QString archiveDamage(const BigArchive &archive)
{
    if (archive.longPaths > 0)
        return QStringLiteral("%1 of its entries have paths longer than 64 KiB")
            .arg(archive.longPaths);
    if (archive.entries.size() < archive.entryCount)
        return QStringLiteral("its directory is cut short (%1 of %2 entries)")
            .arg(archive.entries.size())
            .arg(archive.entryCount);
    const quint64 directoryEnd = bigDirectoryEnd(archive.entries);
    for (const BigEntry &entry : archive.entries) {
        const quint64 offset = quint32(entry.offset), size = quint32(entry.size);
        if (archive.presentBytes(entry) < size)
            return QStringLiteral("its entry %1 reaches past its end").arg(entry.pathText());
        if (size > 0 && offset < directoryEnd)
            return QStringLiteral("its entry %1 overlaps its directory").arg(entry.pathText());
    }
    return QString();
}

ArchiveBuilder editOf(const BigArchive &archive)
{
    ArchiveBuilder edit;
    edit.source = &archive;
    edit.wholeFile = archive.compressed;
    edit.entries.reserve(archive.entries.size());
    for (const BigEntry &entry : archive.entries)
        edit.entries.push_back({entry.path, QString(), &entry, false});
    return edit;
}

bool addFiles(ArchiveBuilder &edit, const std::vector<DiskFile> &files, bool replace, bool compress,
              QString &problem, int *replaced)
{
    int replacedCount = 0;
    // The first entry of each path, and the files that take one.
    QHash<QByteArray, size_t> first;
    for (size_t i = edit.entries.size(); i-- > 0;)
        first.insert(normalised(edit.entries[i].path), i);
    std::vector<size_t> changed;
    for (const DiskFile &file : files) {
        const ArchiveBuilder::Entry added{file.path, file.file, nullptr, compress, file.size};
        const auto existing = first.constFind(normalised(file.path));
        if (existing == first.constEnd()) {
            first.insert(normalised(file.path), edit.entries.size());
            changed.push_back(edit.entries.size());
            edit.entries.push_back(added);
        } else if (!edit.entries[*existing].kept) {
            problem = QStringLiteral("%1 is given twice").arg(QString::fromLatin1(file.path));
            return false;
        } else if (replace) {
            edit.entries[*existing] = added;
            ++replacedCount;
        } else {
            problem = QStringLiteral("the archive holds %1 already (--replace replaces it)")
                          .arg(QString::fromLatin1(file.path));
            return false;
        }
    }
    if (replaced)
        *replaced = replacedCount;
    problem = folderClash(edit.entries, changed);
    return problem.isEmpty();
}

bool removeEntries(ArchiveBuilder &edit, const QList<EntryPattern> &patterns, int &removed,
                   QString &problem)
{
    std::vector<bool> matched(size_t(patterns.size()), false);
    std::vector<ArchiveBuilder::Entry> kept;
    for (const ArchiveBuilder::Entry &entry : edit.entries) {
        bool remove = false;
        for (int i = 0; i < patterns.size(); ++i) {
            if (patterns[i].matches(entry.path)) {
                matched[size_t(i)] = true;
                remove = true;
            }
        }
        if (!remove)
            kept.push_back(entry);
    }
    for (int i = 0; i < patterns.size(); ++i) {
        if (!matched[size_t(i)]) {
            problem = QStringLiteral("no entry matches %1").arg(patterns[i].text());
            return false;
        }
    }
    removed = int(edit.entries.size() - kept.size());
    edit.entries.swap(kept);
    return true;
}

bool renameEntry(ArchiveBuilder &edit, const QString &from, const QString &to, QString &problem)
{
    QByteArray stored;
    if (!storedEntryPath(to, stored, problem))
        return false;
    // Both are names, never patterns.
    const EntryPattern old(from, EntryPattern::Name),
        target(QString::fromLatin1(stored), EntryPattern::Name);
    ArchiveBuilder::Entry *found = nullptr;
    for (ArchiveBuilder::Entry &entry : edit.entries) {
        if (!found && old.matches(entry.path))
            found = &entry;
        else if (target.matches(entry.path)) {
            problem = QStringLiteral("the archive holds %1 already").arg(to);
            return false;
        }
    }
    if (!found) {
        problem = QStringLiteral("no entry %1").arg(from);
        return false;
    }
    found->path = stored;
    problem = folderClash(edit.entries, {size_t(found - edit.entries.data())});
    return problem.isEmpty();
}

bool storedEntryPath(const QString &name, QByteArray &stored, QString &problem)
{
    for (const QChar c : name) {
        if (c.unicode() > 0xFF) {
            problem =
                QStringLiteral("cannot store %1: the name has characters beyond 8 bits").arg(name);
            return false;
        }
    }
    stored = name.toLatin1().replace('/', '\\');
    const QString refusal = storedPathProblem(stored);
    if (refusal.isEmpty())
        return true;
    problem = QStringLiteral("cannot store %1: %2").arg(name, refusal);
    return false;
}
