// pack: a folder's files into a new archive.

#include "verbs.h"

#include "archivebuilder.h"
#include "cliutil.h"
#include "filecollector.h"
#include "gfxcorecodec.h"

#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace cli {

int runPack(const QStringList &arguments)
{
    VerbParser verb(
        QStringLiteral("pack"),
        QStringLiteral("Packs every regular file under DIR into a new archive, paths\n"
                       "relative to DIR with \"\\\" separators, in sorted order. Symbolic\n"
                       "links are left out. A name that could not be extracted again (not\n"
                       "valid in the file-name encoding, characters beyond 8 bits, a \"\\\"\n"
                       "or a control character), a folder that cannot be read or an\n"
                       "archive over 4 GiB stops it with a message; nothing is written."));
    const QCommandLineOption outOption({QStringLiteral("o"), QStringLiteral("output")},
                                       QStringLiteral("Archive to write."),
                                       QStringLiteral("ARCHIVE"));
    const QCommandLineOption compressOption(
        QStringLiteral("compress"),
        QStringLiteral("Store an entry Refp-compressed when that makes it smaller."));
    const QCommandLineOption quietOption({QStringLiteral("q"), QStringLiteral("quiet")},
                                         QStringLiteral("No progress."));
    verb.addOptions({outOption, compressOption, quietOption});
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
    const QString folder = verb.parser.positionalArguments().at(0);
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
    if (!collector.addFolder(folder, QByteArray(), problem)) {
        printError(problem);
        return Failure;
    }
    std::sort(collector.files.begin(), collector.files.end(),
              [](const DiskFile &a, const DiskFile &b) { return a.path < b.path; });

    ArchiveBuilder builder;
    builder.level = level;
    builder.threads = threads;
    for (const DiskFile &file : collector.files)
        builder.entries.push_back({file.path, file.file, nullptr, compress, file.size});
    if (!verb.parser.isSet(quietOption) && ::isatty(STDERR_FILENO))
        builder.progress = [](size_t done, size_t total) {
            std::fprintf(stderr, "\r%zu/%zu%s", done, total, done == total ? "\n" : "");
        };
    if (!builder.write(output, problem)) {
        if (builder.progress)
            std::fprintf(stderr, "\n");
        printError(problem);
        return Failure;
    }
    return Success;
}

} // namespace cli
