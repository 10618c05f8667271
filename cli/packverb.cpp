// pack: a folder's files into a new archive.

#include "verbs.h"

#include "archivebuilder.h"
#include "cliutil.h"
#include "filecollector.h"
#include "gfxcorecodec.h"

#include <QFileInfo>

#include <algorithm>
#include <cstdio>

namespace cli {

int runPack(const QStringList &arguments)
{
    VerbParser verb(
        QStringLiteral("pack"),
        QStringLiteral("Packs every regular file under DIR into a new archive, paths\n"
                       "relative to DIR with \"\\\" separators, in sorted order. With -C FOLDER,\n"
                       "DIR is found in FOLDER and the paths start with DIR, as in tar.\n"
                       "Symbolic links are left out, with a warning for each. A name that\n"
                       "could not be extracted again (not valid in the file-name encoding,\n"
                       "characters beyond 8 bits, a \"\\\" or a control character), a folder\n"
                       "that cannot be read or an archive over 4 GiB stops it with a\n"
                       "message; nothing is written. A file that changes while it is read\n"
                       "is named (\"changed while it was read\", exit status 1) and stored\n"
                       "as read, no larger than when it was chosen."));
    const QCommandLineOption outOption({QStringLiteral("o"), QStringLiteral("output")},
                                       QStringLiteral("Archive to write."),
                                       QStringLiteral("ARCHIVE"));
    const QCommandLineOption compressOption(
        QStringLiteral("compress"),
        QStringLiteral("Store an entry Refp-compressed when that makes it smaller."));
    const QCommandLineOption quietOption({QStringLiteral("q"), QStringLiteral("quiet")},
                                         QStringLiteral("No progress."));
    const QCommandLineOption folderOption(
        QStringLiteral("C"), QStringLiteral("Find DIR in FOLDER and name the entries from there."),
        QStringLiteral("FOLDER"));
    verb.addOptions({outOption, compressOption, folderOption, quietOption});
    CompressionOptions compression;
    compression.addTo(verb, true);
    verb.addPositional(QStringLiteral("DIR"), QStringLiteral("Folder to pack."));
    if (auto done = verb.parse(arguments, 1, 1))
        return *done;
    if (!verb.parser.isSet(outOption))
        return verb.usageError(QStringLiteral("-o ARCHIVE is required"));
    int level;
    unsigned threads;
    if (auto done = compression.read(verb, level, threads))
        return *done;
    const QString given = verb.parser.positionalArguments().at(0);
    const bool fromFolder = verb.parser.isSet(folderOption);
    const QString folder =
        fromFolder ? verb.parser.value(folderOption) + QLatin1Char('/') + given : given;
    const QString output = verb.parser.value(outOption);
    const bool compress = verb.parser.isSet(compressOption);
    if (!QFileInfo(folder).isDir()) {
        printError(QStringLiteral("%1 is not a folder").arg(folder));
        return Failure;
    }
    if (compress && !GfxCoreCodec::isLoaded()) {
        printError(QStringLiteral("the Refp codec (GfxCore) is not available"));
        return Failure;
    }

    // An earlier archive written inside the folder is not packed into the new one.
    FileCollector collector;
    collector.exclude(output);
    QString problem;
    QByteArray prefix;
    if ((fromFolder && !storedPathOfGiven(given, prefix, problem)) ||
        !collector.addFolder(folder, prefix, problem)) {
        printError(problem);
        return Failure;
    }
    for (const QString &warning : qAsConst(collector.warnings))
        printError(QStringLiteral("warning: ") + warning);
    std::sort(collector.files.begin(), collector.files.end(),
              [](const DiskFile &a, const DiskFile &b) { return a.path < b.path; });

    ArchiveBuilder builder;
    builder.level = level;
    builder.threads = threads;
    for (const DiskFile &file : collector.files)
        builder.entries.push_back({file.path, file.file, nullptr, compress, file.size});
    ProgressLine line(verb.parser.isSet(quietOption));
    if (line.shown())
        builder.progress = [&](size_t done, size_t total, quint64 bytes, quint64 totalBytes) {
            line.update(done, total, bytes, totalBytes);
        };
    const bool written = builder.write(output, problem);
    line.finish();
    if (!written) {
        printError(problem);
        return Failure;
    }
    return reportChangedFiles(builder.changed);
}

} // namespace cli
