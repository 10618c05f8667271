// pack: a folder's files into a new archive.

#include "verbs.h"

#include "bigwriter.h"
#include "cliutil.h"
#include "gfxcorecodec.h"

#include <QDir>
#include <QDirIterator>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace cli {
namespace {

constexpr quint64 kMaxArchive = 0xFFFFFFFFull;

struct Source
{
    QString file;
    QByteArray path; // stored path, 8-bit, "\" separated
};

// Every regular file below `folder`, with its stored path, sorted by it.
// False when a name cannot be written as 8-bit characters.
bool collect(const QString &folder, std::vector<Source> &sources)
{
    const QDir base(QFileInfo(folder).absoluteFilePath());
    QDirIterator it(base.path(), QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (!it.fileInfo().isFile())
            continue;
        QString relative = base.relativeFilePath(file);
        for (QChar c : relative) {
            if (c.unicode() > 0xFF) {
                printError(QStringLiteral("cannot store %1: the name has characters beyond 8 bits")
                               .arg(relative));
                return false;
            }
        }
        relative.replace(QLatin1Char('/'), QLatin1Char('\\'));
        sources.push_back({file, relative.toLatin1()});
    }
    std::sort(sources.begin(), sources.end(),
              [](const Source &a, const Source &b) { return a.path < b.path; });
    return true;
}

} // namespace

int runPack(const QStringList &arguments)
{
    VerbParser verb(QStringLiteral("pack"),
                    QStringLiteral("Packs every regular file under DIR into a new archive, paths\n"
                                   "relative to DIR with \"\\\" separators, in sorted order."));
    const QCommandLineOption outOption({QStringLiteral("o"), QStringLiteral("output")},
                                       QStringLiteral("Archive to write."),
                                       QStringLiteral("ARCHIVE"));
    const QCommandLineOption compressOption(
        QStringLiteral("compress"),
        QStringLiteral("Store an entry Refp-compressed when that makes it smaller."));
    const QCommandLineOption quietOption({QStringLiteral("q"), QStringLiteral("quiet")},
                                         QStringLiteral("No progress."));
    verb.parser.addOptions({outOption, compressOption, quietOption});
    verb.addPositional(QStringLiteral("DIR"), QStringLiteral("Folder to pack."));
    if (auto done = verb.parse(arguments, 1, 1))
        return *done;
    if (!verb.parser.isSet(outOption))
        return verb.usageError(QStringLiteral("-o ARCHIVE is required"));
    const QString folder = verb.parser.positionalArguments().at(0);
    const bool compress = verb.parser.isSet(compressOption);
    if (!QFileInfo(folder).isDir()) {
        printError(QStringLiteral("%1 is not a folder").arg(folder));
        return Failure;
    }
    if (compress && !GfxCoreCodec::isLoaded()) {
        printError(QStringLiteral("the Refp codec (GfxCore) is not available"));
        return Failure;
    }

    std::vector<Source> sources;
    if (!collect(folder, sources))
        return Failure;
    std::vector<BigEntry> entries(sources.size());
    for (size_t i = 0; i < sources.size(); ++i)
        entries[i].path = sources[i].path;
    const quint64 dataStart = bigDirectoryEnd(entries);

    QSaveFile out(verb.parser.value(outOption));
    if (!out.open(QIODevice::WriteOnly) || !out.seek(qint64(dataStart))) {
        printError(QStringLiteral("cannot write %1: %2").arg(out.fileName(), out.errorString()));
        return Failure;
    }
    const bool progress = !verb.parser.isSet(quietOption) && ::isatty(STDERR_FILENO);
    quint64 end = dataStart;
    for (size_t i = 0; i < sources.size(); ++i) {
        if (progress)
            std::fprintf(stderr, "\r%zu/%zu", i + 1, sources.size());
        QFile file(sources[i].file);
        if (!file.open(QIODevice::ReadOnly)) {
            printError(
                QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
            return Failure;
        }
        QByteArray data = file.readAll();
        if (compress && !data.isEmpty()) {
            QByteArray packed(int(GfxCoreCodec::compressBound(size_t(data.size()))),
                              Qt::Uninitialized);
            const size_t n = GfxCoreCodec::compress(data.constData(), size_t(data.size()),
                                                    packed.data(), size_t(packed.size()));
            if (n > 0 && n < size_t(data.size()))
                data = packed.left(int(n));
        }
        if (end + quint64(data.size()) > kMaxArchive) {
            printError(QStringLiteral("the archive would be larger than 4 GiB"));
            return Failure;
        }
        entries[i].offset = qint32(quint32(end));
        entries[i].size = qint32(quint32(data.size()));
        if (out.write(data) != data.size()) {
            printError(
                QStringLiteral("cannot write %1: %2").arg(out.fileName(), out.errorString()));
            return Failure;
        }
        end += quint64(data.size());
    }
    if (progress)
        std::fprintf(stderr, "\n");
    const QByteArray directory = bigHeaderAndDirectory(entries, quint32(end));
    if (!out.seek(0) || out.write(directory) != directory.size() || !out.commit()) {
        printError(QStringLiteral("cannot write %1: %2").arg(out.fileName(), out.errorString()));
        return Failure;
    }
    return Success;
}

} // namespace cli
