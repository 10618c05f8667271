#include "archiveaccess.h"

#include "cliutil.h"
#include "entrydata.h"

#include <QFile>

namespace cli {

bool openArchive(const QString &path, BigArchive &archive)
{
    switch (archive.open(path)) {
    case BigArchive::Status::Ok: return true;
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
    case BigArchive::Status::NoMemory:
        printError(
            QStringLiteral("%1: Not enough memory to read its directory or unpack it").arg(path));
        return false;
    }
    return false;
}

namespace {

QByteArray normalised(QByteArray path)
{
    return path.replace('/', '\\');
}

} // namespace

const BigEntry *findEntry(const BigArchive &archive, const QString &name)
{
    for (QChar c : name) {
        if (c.unicode() > 0xFF)
            return nullptr;
    }
    const QByteArray wanted = normalised(name.toLatin1());
    for (const BigEntry &entry : archive.entries) {
        if (entry.path == wanted || normalised(entry.path) == wanted)
            return &entry;
    }
    return nullptr;
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
        case UnpackResult::Damaged: result.kind = EntryResult::Damaged; break;
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
    const BigEntry *entry = findEntry(archive, name);
    if (!entry) {
        printError(QStringLiteral("%1: no entry %2").arg(archivePath, name));
        return false;
    }
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
