// add, remove and rename: changing an archive, written whole to a new file
// that replaces it (or to -o OUT).

#include "verbs.h"

#include "archiveaccess.h"
#include "archiveedit.h"
#include "cliutil.h"
#include "gfxcorecodec.h"
#include "heldfile.h"

#include <QFileInfo>

#include <cstdio>

namespace cli {
namespace {

const QCommandLineOption outOption({QStringLiteral("o"), QStringLiteral("output")},
                                   QStringLiteral("Write the changed archive to OUT and leave "
                                                  "ARCHIVE as it is."),
                                   QStringLiteral("OUT"));

const QString editNote =
    QStringLiteral("\nWithout -o, ARCHIVE is replaced whole: the new archive is written\n"
                   "beside it and renamed over it, so a failure leaves it untouched. Entries\n"
                   "not changed keep their stored bytes and their place in the directory;\n"
                   "the archive keeps its owner and mode. An edit locks the archive: a\n"
                   "second one at the same time fails at once, and nothing is written\n"
                   "when another program replaced the archive meanwhile.");

QString beingChanged(const QString &path)
{
    return QStringLiteral("%1 is being changed by another vorland-cli; nothing was written")
        .arg(path);
}

// Opens the archive to change, refusing one that is damaged, and says where
// the changed archive goes: OUT, or the archive itself, which must then not
// be a symbolic link (it would be replaced by a file). Answers an exit
// status when the verb is done.
std::optional<int> openForEditing(const VerbParser &verb, const QString &path, BigArchive &archive,
                                  QString &out)
{
    // The archive is locked for the whole edit, and must still be the file
    // under its name once locked: an edit that finished meanwhile replaced it.
    for (int attempt = 0;; ++attempt) {
        if (!openArchive(path, archive))
            return Failure;
        if (archive.file()->lockExclusive() == HeldFile::Lock::Busy) {
            printError(beingChanged(path));
            return Failure;
        }
        if (archive.file()->isNamedBy(path))
            break;
        if (attempt == 2) {
            printError(beingChanged(path));
            return Failure;
        }
    }
    const QString damage = archiveDamage(archive);
    if (!damage.isEmpty()) {
        printError(QStringLiteral("%1 is damaged, and is not rewritten: %2").arg(path, damage));
        return Failure;
    }
    if (verb.parser.isSet(outOption)) {
        out = verb.parser.value(outOption);
    } else if (QFileInfo(path).isSymLink()) {
        printError(QStringLiteral("%1 is a symbolic link; write the changed archive with -o OUT")
                       .arg(path));
        return Failure;
    } else {
        out = path;
    }
    return std::nullopt;
}

// Writes the edit of `archive` to `path`; when that is the archive itself,
// only while it is still the file that was read. Answers the exit status;
// `written` says whether the archive was written, also when a file added
// changed while it was read (a warning, and status 1).
int writeEdit(ArchiveBuilder &edit, const BigArchive &archive, const QString &path, bool quiet,
              bool *written = nullptr)
{
    ProgressLine line(quiet);
    if (line.shown())
        edit.progress = [&](size_t done, size_t total, quint64 bytes, quint64 totalBytes) {
            line.update(done, total, bytes, totalBytes);
        };
    if (path == archive.path)
        edit.replaces = archive.file();
    QString problem;
    const bool done = edit.write(path, problem);
    line.finish();
    if (written)
        *written = done;
    if (!done) {
        printError(problem);
        return Failure;
    }
    if (!edit.caveat.isEmpty())
        printError(QStringLiteral("warning: ") + edit.caveat);
    return reportChangedFiles(edit.changed);
}

} // namespace

int runAdd(const QStringList &arguments)
{
    VerbParser verb(
        QStringLiteral("add"),
        QStringLiteral("Adds files to an archive. A PATH that is a folder adds its files,\n"
                       "recursively. Each entry is named by the path as given, \"/\" written\n"
                       "as \"\\\" (a leading \"./\" left out), with --prefix in front, or by --as\n"
                       "for a single file. New entries go at the end of the directory; an\n"
                       "entry that exists already is an error unless --replace, which puts\n"
                       "the new bytes in its place. Absolute paths and names that extract\n"
                       "would refuse (\"..\", control characters, characters beyond 8 bits,\n"
                       "a \"\\\" in a file name) stop it with a message; nothing is written.") +
            editNote);
    const QCommandLineOption prefixOption(QStringLiteral("prefix"),
                                          QStringLiteral("Folder of the archive to add into."),
                                          QStringLiteral("FOLDER"));
    const QCommandLineOption asOption(QStringLiteral("as"),
                                      QStringLiteral("Entry name for a single file."),
                                      QStringLiteral("ENTRY"));
    const QCommandLineOption compressOption(
        QStringLiteral("compress"),
        QStringLiteral("Store new entries Refp-compressed when that makes them smaller."));
    const QCommandLineOption replaceOption(QStringLiteral("replace"),
                                           QStringLiteral("Replace entries that exist."));
    const QCommandLineOption quietOption({QStringLiteral("q"), QStringLiteral("quiet")},
                                         QStringLiteral("No progress and no summary."));
    const QCommandLineOption folderOption(
        QStringLiteral("C"),
        QStringLiteral("Read the PATHs from DIR, naming the entries from there (as tar -C)."),
        QStringLiteral("DIR"));
    verb.addOptions({prefixOption, asOption, compressOption, replaceOption, outOption, folderOption,
                     quietOption});
    CompressionOptions compression;
    compression.addTo(verb, true);
    verb.addPositional(QStringLiteral("ARCHIVE"), QStringLiteral("BIG archive to change."));
    verb.addPositional(QStringLiteral("PATH"), QStringLiteral("Files or folders to add."),
                       QStringLiteral("PATH..."));
    if (auto done = verb.parse(arguments, 2, -1))
        return *done;
    QStringList paths = verb.parser.positionalArguments();
    const QString archivePath = paths.takeFirst();
    const bool compress = verb.parser.isSet(compressOption);
    int level;
    unsigned threads;
    if (auto done = compression.read(verb, level, threads))
        return *done;
    if (verb.parser.isSet(asOption) && verb.parser.isSet(prefixOption))
        return verb.usageError(QStringLiteral("--as and --prefix exclude each other"));
    // With -C the paths are found below DIR and named as given.
    const QString base = verb.parser.value(folderOption);
    auto onDisk = [&](const QString &path) {
        return base.isEmpty() ? path : base + QLatin1Char('/') + path;
    };
    if (verb.parser.isSet(asOption) && (paths.size() != 1 || QFileInfo(onDisk(paths[0])).isDir()))
        return verb.usageError(QStringLiteral("--as names a single file"));
    if (compress && !GfxCoreCodec::isLoaded()) {
        printError(QStringLiteral("the Refp codec (GfxCore) is not available"));
        return Failure;
    }

    BigArchive archive;
    QString out;
    if (auto done = openForEditing(verb, archivePath, archive, out))
        return *done;

    QString problem;
    QByteArray prefix;
    if (verb.parser.isSet(prefixOption) &&
        !storedEntryPath(verb.parser.value(prefixOption), prefix, problem)) {
        printError(problem);
        return Failure;
    }
    FileCollector collector;
    collector.exclude(archivePath);
    collector.exclude(out);
    for (const QString &path : qAsConst(paths)) {
        QByteArray stored;
        bool ok = verb.parser.isSet(asOption)
                      ? storedEntryPath(verb.parser.value(asOption), stored, problem)
                      : storedPathOfGiven(path, stored, problem);
        if (ok && !prefix.isEmpty())
            stored = stored.isEmpty() ? prefix : prefix + '\\' + stored;
        const QFileInfo file(onDisk(path));
        if (ok && file.isDir() && !file.isSymLink())
            ok = collector.addFolder(onDisk(path), stored, problem);
        else if (ok)
            ok = collector.addFile(onDisk(path), stored, problem);
        if (!ok) {
            printError(problem);
            return Failure;
        }
    }
    for (const QString &warning : qAsConst(collector.warnings))
        printError(QStringLiteral("warning: ") + warning);
    ArchiveBuilder edit = editOf(archive);
    edit.level = level;
    edit.threads = threads;
    int replaced = 0;
    const bool replace = verb.parser.isSet(replaceOption);
    if (!addFiles(edit, collector.files, replace, compress, problem, &replaced)) {
        printError(problem);
        return Failure;
    }
    const bool quiet = verb.parser.isSet(quietOption);
    bool written = false;
    const int status = writeEdit(edit, archive, out, quiet, &written);
    if (!written)
        return status;
    if (!quiet)
        printError(QStringLiteral("added %1, replaced %2")
                       .arg(int(collector.files.size()) - replaced)
                       .arg(replaced));
    if (replace && replaced == 0)
        printError(QStringLiteral("warning: --replace replaced nothing: no entry has the path of "
                                  "a file given (entries are named by the paths as given; -C DIR "
                                  "names them from DIR)"));
    return status;
}

int runRemove(const QStringList &arguments)
{
    VerbParser verb(
        QStringLiteral("remove"),
        QStringLiteral("Removes the entries that the patterns match (a name, or\n"
                       "\"*\", \"?\" and \"[...]\" over the whole path, ignoring case).\n"
                       "A pattern that matches nothing is an error, and nothing is\n"
                       "written.") +
            editNote);
    verb.addOption(outOption);
    verb.addPositional(QStringLiteral("ARCHIVE"), QStringLiteral("BIG archive to change."));
    verb.addPositional(QStringLiteral("PATTERN"), QStringLiteral("Entries to remove."),
                       QStringLiteral("PATTERN..."));
    if (auto done = verb.parse(arguments, 2, -1))
        return *done;
    QStringList names = verb.parser.positionalArguments();
    const QString archivePath = names.takeFirst();
    BigArchive archive;
    QString out;
    if (auto done = openForEditing(verb, archivePath, archive, out))
        return *done;
    QList<EntryPattern> patterns;
    for (const QString &name : qAsConst(names))
        patterns.append(EntryPattern::forEntries(name, archive.entries));
    ArchiveBuilder edit = editOf(archive);
    int removed = 0;
    QString problem;
    if (!removeEntries(edit, patterns, removed, problem)) {
        printError(QStringLiteral("%1: %2").arg(archivePath, problem));
        return Failure;
    }
    return writeEdit(edit, archive, out, true);
}

int runRename(const QStringList &arguments)
{
    VerbParser verb(QStringLiteral("rename"),
                    QStringLiteral("Gives the entry OLD the path NEW (\"/\" stands for \"\\\").\n"
                                   "An error when OLD is missing or NEW exists.") +
                        editNote);
    verb.addOption(outOption);
    verb.addPositional(QStringLiteral("ARCHIVE"), QStringLiteral("BIG archive to change."));
    verb.addPositional(QStringLiteral("OLD"), QStringLiteral("Path of the entry."));
    verb.addPositional(QStringLiteral("NEW"), QStringLiteral("Its new path."));
    if (auto done = verb.parse(arguments, 3, 3))
        return *done;
    const QStringList positional = verb.parser.positionalArguments();
    BigArchive archive;
    QString out;
    if (auto done = openForEditing(verb, positional[0], archive, out))
        return *done;
    ArchiveBuilder edit = editOf(archive);
    QString problem;
    if (!renameEntry(edit, positional[1], positional[2], problem)) {
        printError(QStringLiteral("%1: %2").arg(positional[0], problem));
        return Failure;
    }
    return writeEdit(edit, archive, out, true);
}

} // namespace cli
