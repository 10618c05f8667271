#include "archiveedit.h"

#include "bigwriter.h"
#include "safepath.h"

#include <QHash>

namespace {

QByteArray normalised(QByteArray path)
{
    return path.replace('/', '\\');
}

} // namespace

QString archiveDamage(const BigArchive &archive)
{
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
              QString &problem)
{
    // The first entry of each path, and the files that take one.
    QHash<QByteArray, size_t> first;
    for (size_t i = edit.entries.size(); i-- > 0;)
        first.insert(normalised(edit.entries[i].path), i);
    for (const DiskFile &file : files) {
        const ArchiveBuilder::Entry added{file.path, file.file, nullptr, compress, file.size};
        const auto existing = first.constFind(normalised(file.path));
        if (existing == first.constEnd()) {
            first.insert(normalised(file.path), edit.entries.size());
            edit.entries.push_back(added);
        } else if (!edit.entries[*existing].kept) {
            problem = QStringLiteral("%1 is given twice").arg(QString::fromLatin1(file.path));
            return false;
        } else if (replace) {
            edit.entries[*existing] = added;
        } else {
            problem = QStringLiteral("the archive holds %1 already (--replace replaces it)")
                          .arg(QString::fromLatin1(file.path));
            return false;
        }
    }
    return true;
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
    const EntryPattern old(from), target(QString::fromLatin1(stored));
    ArchiveBuilder::Entry *found = nullptr;
    for (ArchiveBuilder::Entry &entry : edit.entries) {
        if (!found && !old.isWildcard() && old.matches(entry.path))
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
    return true;
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
