// extract: entries of an archive into files below a folder.

#include "verbs.h"

#include "archiveaccess.h"
#include "atomicfile.h"
#include "cliutil.h"
#include "entrydata.h"
#include "safeoutput.h"
#include "safepath.h"

#include <cstdio>

namespace cli {

int runExtract(const QStringList &arguments)
{
    VerbParser verb(
        QStringLiteral("extract"),
        QStringLiteral("Writes all entries, or those the names or patterns pick (\"*\", \"?\",\n"
                       "\"[...]\" over the whole path, ignoring case), unpacked, into folders\n"
                       "under DIR (the current folder without -o). A name or pattern that\n"
                       "picks nothing is an error. Files that exist are kept, and counted\n"
                       "in one line, unless --overwrite.\n"
                       "Entries whose path is absolute, has a drive letter, an empty, \".\" or\n"
                       "\"..\" component or a control character are skipped with a warning;\n"
                       "on Windows, so are names it would misread (CON, \"a:b\", \"name.\")\n"
                       "and a path that differs only in case from one written before.\n"
                       "Nothing is written outside DIR, symbolic links in it are not\n"
                       "followed, and the archive being read is never replaced. An entry\n"
                       "that reaches past the end of the archive is written as the bytes\n"
                       "that exist, with a warning; one that looks Refp-compressed but does\n"
                       "not decode is written as stored, with a warning. Exit status 1 when\n"
                       "any entry was not written whole and unpacked."));
    const QCommandLineOption outOption({QStringLiteral("o"), QStringLiteral("output")},
                                       QStringLiteral("Folder to extract into (default: the "
                                                      "current folder)."),
                                       QStringLiteral("DIR"), QStringLiteral("."));
    const QCommandLineOption overwriteOption(QStringLiteral("overwrite"),
                                             QStringLiteral("Replace existing files."));
    const QCommandLineOption quietOption({QStringLiteral("q"), QStringLiteral("quiet")},
                                         QStringLiteral("No progress and no warnings."));
    const QCommandLineOption rawOption(QStringLiteral("raw"),
                                       QStringLiteral("Write the bytes as stored, unpacking "
                                                      "nothing."));
    verb.addOptions({outOption, overwriteOption, rawOption, quietOption});
    verb.addPositional(QStringLiteral("ARCHIVE"), QStringLiteral("BIG archive."));
    verb.addPositional(QStringLiteral("ENTRY"),
                       QStringLiteral("Entries or patterns to extract (default: all)."),
                       QStringLiteral("[ENTRY...]"));
    if (auto done = verb.parse(arguments, 1, -1))
        return *done;
    QStringList names = verb.parser.positionalArguments();
    const QString archivePath = names.takeFirst();
    const bool overwrite = verb.parser.isSet(overwriteOption);
    const bool quiet = verb.parser.isSet(quietOption);
    const bool raw = verb.parser.isSet(rawOption);

    BigArchive archive;
    if (!openArchive(archivePath, archive))
        return Failure;
    int status = Success;
    auto warn = [&](const QString &message) {
        status = Failure;
        if (!quiet)
            printError(message);
    };

    bool complete = true;
    const std::vector<const BigEntry *> chosen =
        selectEntries(archive, archivePath, names, complete);
    if (!complete)
        status = Failure;

    SafeOutput output;
    QString problem;
    if (!output.open(verb.parser.value(outOption), problem)) {
        printError(problem);
        return Failure;
    }
    output.protect(archivePath);
    ProgressLine line(quiet);
    quint64 totalBytes = 0, bytes = 0;
    for (const BigEntry *entry : chosen)
        totalBytes += quint32(entry->size);
    size_t done = 0, kept = 0;
    CaseClashes clashes(CaseClashes::systemFoldsCase());
    for (const BigEntry *entry : chosen) {
        line.update(++done, chosen.size(), bytes, totalBytes);
        bytes += quint32(entry->size);
        const std::optional<QStringList> parts = safeEntryPath(entry->path);
        if (!parts) {
            warn(QStringLiteral("skipped %1: unsafe path").arg(entry->pathText()));
            continue;
        }
        const QString misread = systemNameProblem(*parts);
        if (!misread.isEmpty()) {
            warn(QStringLiteral("skipped %1: %2").arg(entry->pathText(), misread));
            continue;
        }
        const QString clash = clashes.clash(*parts);
        if (!clash.isEmpty()) {
            warn(QStringLiteral("skipped %1: it differs only in case from %2, and folders here "
                                "ignore case")
                     .arg(entry->pathText(), escapedForTerminal(clash)));
            continue;
        }
        AtomicFile file;
        if (!output.start(*parts, overwrite, file, problem)) {
            if (output.existed)
                ++kept;
            else
                warn(QStringLiteral("skipped %1: %2").arg(entry->pathText(), problem));
            continue;
        }
        const EntryResult result = sendEntry(
            archive, *entry, raw, [&](const char *p, size_t n) { return file.write(p, n); });
        if (result.kind == EntryResult::Stopped) {
            warn(QStringLiteral("skipped %1: %2").arg(entry->pathText(), file.problem()));
        } else if (result.kind != EntryResult::Done && result.kind != EntryResult::Truncated &&
                   result.kind != EntryResult::Undecodable) {
            warn(QStringLiteral("skipped %1: %2")
                     .arg(entry->pathText(), describeEntryResult(result, *entry)));
        } else if (!file.commit()) {
            warn(QStringLiteral("skipped %1: %2").arg(entry->pathText(), file.problem()));
        } else if (result.kind == EntryResult::Truncated) {
            warn(QStringLiteral("%1 written short: %2")
                     .arg(entry->pathText(), describeEntryResult(result, *entry)));
        } else if (result.kind == EntryResult::Undecodable) {
            warn(QStringLiteral("%1 written as stored: %2")
                     .arg(entry->pathText(), describeEntryResult(result, *entry)));
        }
    }
    line.update(done, chosen.size(), bytes, totalBytes);
    line.finish();
    if (kept > 0)
        warn(QStringLiteral("kept %1 files that exist already; --overwrite replaces them")
                 .arg(kept));
    return status;
}

} // namespace cli
