// extract: entries of an archive into files below a folder.

#include "verbs.h"

#include "archiveaccess.h"
#include "atomicfile.h"
#include "cliutil.h"
#include "entrydata.h"
#include "pathrules.h"
#include "safeoutput.h"
#include "safepath.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace cli {
namespace {

// What became of one entry: a warning to print (empty when it was written
// whole), or that it was kept because a file exists at its name.
struct Outcome
{
    QString warning;
    bool kept = false;
    bool written = false; // a file was committed, whole or not
};

Outcome extractOne(const BigArchive &archive, const BigEntry &entry, SafeOutput &output,
                   bool overwrite, bool raw)
{
    auto skipped = [&](const QString &why) {
        return Outcome{QStringLiteral("skipped %1: %2").arg(entry.pathText(), why)};
    };
    const std::optional<QStringList> parts = safeEntryPath(entry.path);
    if (!parts)
        return skipped(QStringLiteral("unsafe path"));
    const QString misread = systemNameProblem(*parts);
    if (!misread.isEmpty())
        return skipped(misread);
    AtomicFile file;
    QString problem;
    if (!output.start(*parts, overwrite, file, problem))
        return output.existed ? Outcome{QString(), true} : skipped(problem);
    const EntryResult result =
        sendEntry(archive, entry, raw, [&](const char *p, size_t n) { return file.write(p, n); });
    if (result.kind == EntryResult::Stopped)
        return skipped(file.problem());
    if (result.kind != EntryResult::Done && result.kind != EntryResult::Truncated &&
        result.kind != EntryResult::Undecodable)
        return skipped(describeEntryResult(result, entry));
    if (!file.commit())
        return skipped(file.problem());
    if (result.kind == EntryResult::Truncated)
        return {QStringLiteral("%1 written short: %2")
                    .arg(entry.pathText(), describeEntryResult(result, entry)),
                false, true};
    if (result.kind == EntryResult::Undecodable)
        return {QStringLiteral("%1 written as stored: %2")
                    .arg(entry.pathText(), describeEntryResult(result, entry)),
                false, true};
    return {QString(), false, true};
}

// Where case does not count, a name is checked against those before it in
// directory order: one pass, before the writing. The reasons to skip, by
// position in `chosen`; empty where case counts.
std::vector<QString> caseClashes(const std::vector<const BigEntry *> &chosen)
{
    if (!CaseClashes::systemFoldsCase())
        return {};
    std::vector<QString> skipped(chosen.size());
    CaseClashes clashes(true);
    for (size_t i = 0; i < chosen.size(); ++i) {
        const std::optional<QStringList> parts = safeEntryPath(chosen[i]->path);
        if (!parts || !systemNameProblem(*parts).isEmpty())
            continue;
        const QString clash = clashes.clash(*parts);
        if (!clash.isEmpty())
            skipped[i] = QStringLiteral("skipped %1: it differs only in case from %2, and "
                                        "folders here ignore case")
                             .arg(chosen[i]->pathText(), escapedForTerminal(clash));
    }
    return skipped;
}

// The later copies of a path given twice: the first copy is the one
// written, the one cat and the mount read, whatever the threads do. One
// warning for each such path, at its first copy's position in `chosen`;
// the later copies are marked `leftOut`. Entries are numbered from 1 in
// directory order, `entries` being the directory.
std::vector<QString> laterCopies(const std::vector<const BigEntry *> &chosen,
                                 const BigEntry *entries, std::vector<bool> &leftOut)
{
    std::vector<QString> warnings(chosen.size());
    leftOut.assign(chosen.size(), false);
    QHash<QByteArray, size_t> first;
    QHash<size_t, QStringList> later; // by the first copy's position
    for (size_t i = 0; i < chosen.size(); ++i) {
        const QByteArray path = QByteArray(chosen[i]->path).replace('/', '\\');
        const auto found = first.constFind(path);
        if (found == first.constEnd()) {
            first.insert(path, i);
            continue;
        }
        leftOut[i] = true;
        later[*found].append(QString::number(chosen[i] - entries + 1));
    }
    for (auto it = later.constBegin(); it != later.constEnd(); ++it) {
        const bool one = it.value().size() == 1;
        // One substitution: a path may hold "%1" itself.
        warnings[it.key()] =
            QStringLiteral("left out %1 of %2 (%3): the first, entry %4, is written, as cat "
                           "reads it")
                .arg(one ? QStringLiteral("a later copy")
                         : QStringLiteral("%1 later copies").arg(it.value().size()),
                     chosen[it.key()]->pathText(),
                     (one ? QStringLiteral("entry ") : QStringLiteral("entries ")) +
                         it.value().join(QStringLiteral(", ")),
                     QString::number(chosen[it.key()] - entries + 1));
    }
    return warnings;
}

// The folders that making `folder` creates, the deepest first.
QStringList foldersMadeFor(const QString &folder)
{
    QStringList made;
    for (QString at = QDir::cleanPath(QDir(folder).absolutePath()); !QFileInfo::exists(at);
         at = QFileInfo(at).path())
        made.append(at);
    return made;
}

} // namespace

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
                       "not decode is written as stored, with a warning. Of a path given\n"
                       "twice the first copy is written, as cat reads it. A replaced file\n"
                       "keeps its permissions, never set-user, set-group or sticky bits.\n"
                       "Exit status 1 when any entry was not written whole and unpacked."));
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
    // Entries left out for their long paths were asked for too.
    if (!complete || (names.isEmpty() && archive.longPaths > 0))
        status = Failure;

    const QString folder = verb.parser.value(outOption);
    const QStringList made = foldersMadeFor(folder);
    {
        // Made and checked once here, so that a folder that cannot be made
        // fails once.
        SafeOutput output;
        QString problem;
        if (!output.open(folder, problem)) {
            printError(problem);
            return Failure;
        }
    }
    const size_t count = chosen.size();
    std::vector<bool> leftOut;
    std::vector<QString> firstCopies = laterCopies(chosen, archive.entries.data(), leftOut);
    const std::vector<QString> clashes = caseClashes(chosen);
    std::atomic<size_t> written{0};

    // The threads take runs of consecutive entries, so that each mostly
    // stays in one folder, each through a SafeOutput of its own. This thread
    // is one of them; between runs it prints the warnings of the entries
    // finished so far, in directory order, and the progress.
    std::vector<Outcome> outcomes(count);
    std::unique_ptr<std::atomic<bool>[]> finished(new std::atomic<bool>[count]);
    for (size_t i = 0; i < count; ++i)
        finished[i].store(false, std::memory_order_relaxed);
    constexpr size_t kRun = 64;
    std::atomic<size_t> nextRun{0};
    auto work = [&](const std::function<void()> &betweenRuns) {
        SafeOutput output;
        QString problem;
        const bool opened = output.open(folder, problem);
        if (opened)
            output.protect(archivePath, QStringLiteral("it is the archive being read"));
        for (size_t first; (first = nextRun.fetch_add(kRun)) < count;) {
            for (size_t i = first; i < std::min(count, first + kRun); ++i) {
                if (leftOut[i]) // its first copy's warning says so
                    outcomes[i] = Outcome();
                else if (!clashes.empty() && !clashes[i].isEmpty())
                    outcomes[i].warning = clashes[i];
                else if (!opened)
                    outcomes[i].warning =
                        QStringLiteral("skipped %1: %2").arg(chosen[i]->pathText(), problem);
                else
                    outcomes[i] = extractOne(archive, *chosen[i], output, overwrite, raw);
                if (outcomes[i].written)
                    written.fetch_add(1, std::memory_order_relaxed);
                finished[i].store(true, std::memory_order_release);
            }
            if (betweenRuns)
                betweenRuns();
        }
    };
    ProgressLine line(quiet);
    quint64 totalBytes = 0, bytes = 0;
    for (const BigEntry *entry : chosen)
        totalBytes += quint32(entry->size);
    size_t done = 0, kept = 0;
    auto report = [&] {
        for (; done < count && finished[done].load(std::memory_order_acquire); ++done) {
            bytes += quint32(chosen[done]->size);
            kept += outcomes[done].kept;
            for (const QString *warning : {&outcomes[done].warning, &firstCopies[done]}) {
                if (warning->isEmpty())
                    continue;
                line.finish();
                warn(*warning);
            }
            firstCopies[done].clear();
            outcomes[done] = Outcome();
        }
        line.update(done, count, bytes, totalBytes);
    };
    const size_t threads = std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()),
                                            (count + kRun - 1) / kRun);
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < threads; ++t)
        helpers.emplace_back([&] { work(nullptr); });
    work(report);
    for (std::thread &helper : helpers)
        helper.join();
    report();
    line.finish();
    if (kept > 0)
        warn(QStringLiteral("kept %1 files that exist already; --overwrite replaces them")
                 .arg(kept));
    // Nothing written: no new folder either.
    if (written.load() == 0)
        for (const QString &folderMade : made)
            if (!QDir().rmdir(folderMade))
                break;
    return status;
}

} // namespace cli
