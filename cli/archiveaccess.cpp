#include "archiveaccess.h"

#include "cliutil.h"
#include "entrydata.h"
#include "entrypattern.h"

#include <QFile>

namespace cli {

bool openArchive(const QString &path, BigArchive &archive)
{
    switch (archive.open(path)) {
    case BigArchive::Status::Ok:
        if (archive.longPaths > 0)
            printError(QStringLiteral("warning: %1: %2 entries have paths longer than 64 KiB, "
                                      "which no archive needs; they are left out")
                           .arg(path)
                           .arg(archive.longPaths));
        return true;
    case BigArchive::Status::CannotOpen: {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        printError(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return false;
    }
    case BigArchive::Status::NotBig:
        printError(QStringLiteral("%1: Not a proper BIG file. 'BIGF' signature missed.").arg(path));
        return false;
    case BigArchive::Status::DamagedCompression:
        printError(QStringLiteral("%1: the archive is Refp-compressed, but its data is damaged")
                       .arg(path));
        return false;
    case BigArchive::Status::TooLarge:
        printError(QStringLiteral("%1: the archive unpacks to more than this allows").arg(path));
        return false;
    case BigArchive::Status::NoMemory:
        printError(
            QStringLiteral("%1: Not enough memory to read its directory or unpack it").arg(path));
        return false;
    }
    return false;
}

const BigEntry *pickEntry(const BigArchive &archive, const QString &archivePath,
                          const QString &name)
{
    const EntryPattern pattern = EntryPattern::forEntries(name, archive.entries);
    const BigEntry *found = nullptr;
    int count = 0;
    for (const BigEntry &entry : archive.entries) {
        if (!pattern.matches(entry.path))
            continue;
        if (!pattern.isWildcard())
            return &entry;
        found = &entry;
        ++count;
    }
    if (count == 1)
        return found;
    printError(count == 0 ? QStringLiteral("%1: no entry %2").arg(archivePath, name)
                          : QStringLiteral("%1: %2 matches %3 entries; give one")
                                .arg(archivePath, name)
                                .arg(count));
    return nullptr;
}

std::vector<const BigEntry *> selectEntries(const BigArchive &archive, const QString &archivePath,
                                            const QStringList &names, bool &complete)
{
    complete = true;
    std::vector<const BigEntry *> chosen;
    if (names.isEmpty()) {
        chosen.reserve(archive.entries.size());
        for (const BigEntry &entry : archive.entries)
            chosen.push_back(&entry);
        return chosen;
    }
    std::vector<bool> picked(archive.entries.size(), false);
    for (const QString &name : names) {
        const EntryPattern pattern = EntryPattern::forEntries(name, archive.entries);
        bool any = false;
        for (size_t i = 0; i < archive.entries.size(); ++i) {
            if (pattern.matches(archive.entries[i].path)) {
                picked[i] = true;
                any = true;
                if (!pattern.isWildcard())
                    break; // a name is the first entry of that path
            }
        }
        if (!any) {
            printError(QStringLiteral("%1: no entry matches %2").arg(archivePath, name));
            complete = false;
        }
    }
    for (size_t i = 0; i < archive.entries.size(); ++i) {
        if (picked[i])
            chosen.push_back(&archive.entries[i]);
    }
    return chosen;
}

bool storageOf(const BigArchive &archive, const std::vector<const BigEntry *> &chosen,
               std::vector<EntryStorage> &storage)
{
    if (entryStorage(archive, chosen, storage)) {
        for (size_t i = 0; i < chosen.size(); ++i) {
            if (storage[i].form == EntryForm::Undecodable)
                printError(QStringLiteral("warning: %1 %2; it is counted as stored")
                               .arg(chosen[i]->pathText(), undecodableText()));
        }
        return true;
    }
    if (archive.compressed && !archive.keptImage())
        printError(QStringLiteral("%1: the archive is Refp-compressed, but its data is damaged")
                       .arg(archive.path));
    else
        printError(QStringLiteral("%1: cannot be read any more").arg(archive.path));
    return false;
}

bool entryBytes(const BigArchive &archive, const BigEntry &entry, bool raw, QByteArray &out,
                QString &problem)
{
    EntryResult result;
    result.present = archive.presentBytes(entry);
    switch (archive.readEntry(entry, out)) {
    case EntryRead::Whole: break;
    case EntryRead::Truncated: result.kind = EntryResult::Truncated; break;
    case EntryRead::Unreadable: result.kind = EntryResult::Unreadable; break;
    case EntryRead::TooLarge:
        problem =
            QStringLiteral("it is too large to hold in memory (%1 bytes)").arg(result.present);
        return false;
    case EntryRead::NoMemory:
    case EntryRead::Stopped: result.kind = EntryResult::NoMemory; break;
    }
    if (result.kind == EntryResult::Done && !raw) {
        switch (unpackIfCompressed(out)) {
        case UnpackResult::Plain:
        case UnpackResult::Unpacked: break;
        case UnpackResult::Undecodable: result.kind = EntryResult::Undecodable; break;
        case UnpackResult::TooLarge:
            problem = QStringLiteral("it unpacks to more than 2 GiB");
            return false;
        case UnpackResult::NoMemory: result.kind = EntryResult::NoMemory; break;
        }
    }
    problem = describeEntryResult(result, entry);
    return result.kind == EntryResult::Done;
}

bool readNamedEntry(const QString &archivePath, const QString &name, bool raw, QByteArray &out,
                    QString *storedPath)
{
    BigArchive archive;
    if (!openArchive(archivePath, archive))
        return false;
    const BigEntry *entry = pickEntry(archive, archivePath, name);
    if (!entry)
        return false;
    QString problem;
    if (!entryBytes(archive, *entry, raw, out, problem)) {
        printError(QStringLiteral("%1: %2").arg(name, problem));
        return false;
    }
    if (storedPath)
        *storedPath = entry->pathText();
    return true;
}

} // namespace cli
