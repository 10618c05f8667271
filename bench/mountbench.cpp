// vorland-cli mount beside the tools it stands in for, in the same run:
// ls -lR of the 200,000-entry archive through the mount, and reading a
// 256 MiB stored entry through the mount beside vorland-cli cat of it; and
// 40 archives of a game mounted as one, beside one archive of their
// 200,000 entries and one of the paths they make.

#include "benchutil.h"
#include "bigwriter.h"
#include "largearchive.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kEntrySize = 256 << 20;

// Seconds `program` takes, its output thrown away; negative on failure.
double seconds(const QString &program, const QStringList &arguments)
{
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitCode() != 0) {
        std::fprintf(stderr, "%s %s failed: %s\n", qPrintable(program),
                     qPrintable(arguments.join(' ')), process.readAllStandardError().constData());
        return -1;
    }
    return double(timer.nsecsElapsed()) / 1e9;
}

bool writeEntryArchive(const QString &path)
{
    BigEntries entries(1);
    entries[0].path = "data\\big.bin";
    entries[0].offset = qint32(bigDirectoryEnd(entries));
    entries[0].size = kEntrySize;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(bigHeaderAndDirectory(entries, quint32(entries[0].offset + kEntrySize)));
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    uint64_t state = 99;
    for (int i = 0; i < kEntrySize / chunk.size(); ++i) {
        auto *words = reinterpret_cast<uint64_t *>(chunk.data());
        for (int w = 0; w < chunk.size() / 8; ++w) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            words[w] = state;
        }
        if (file.write(chunk) != chunk.size())
            return false;
    }
    return true;
}

// An archive of `paths`, each entry 16 bytes of its own.
bool writeArchive(const QString &path, const QList<QByteArray> &paths)
{
    BigEntries entries(size_t(paths.size()));
    for (int i = 0; i < paths.size(); ++i)
        entries[size_t(i)].path = paths[i];
    const quint64 start = bigDirectoryEnd(entries);
    QByteArray data;
    for (int i = 0; i < paths.size(); ++i) {
        entries[size_t(i)].offset = qint32(start + quint64(data.size()));
        entries[size_t(i)].size = 16;
        data += QByteArray::number(i).rightJustified(16, ' ');
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(bigHeaderAndDirectory(entries, quint32(start + quint64(data.size())))) ==
               qint64(start) &&
           file.write(data) == data.size();
}

// A game's archives: 40 of 5,000 entries in 41 folders, most paths held by
// several (7 versions of each name); `whole` holds all 200,000 under a
// folder for each archive, `merged` the 35,000 paths they make.
bool writeGame(const QTemporaryDir &dir, QStringList &parts, QString &whole, QString &merged)
{
    QList<QByteArray> all;
    QSet<QByteArray> seen;
    QList<QByteArray> unique;
    for (int a = 0; a < 40; ++a) {
        QList<QByteArray> paths;
        for (int i = 0; i < 5000; ++i) {
            static const char *const folders[] = {"data\\ini", "data\\art\\textures", "data\\audio",
                                                  "maps\\m", "data\\ini\\object"};
            QByteArray folder = folders[i % 5];
            if (folder == "maps\\m")
                folder += QByteArray::number(i % 37);
            paths << folder + "\\file" + QByteArray::number(i) + "_" + QByteArray::number(a % 7) +
                         ".dat";
            all << "a" + QByteArray::number(a) + "\\" + paths.last();
            if (!seen.contains(paths.last())) {
                seen.insert(paths.last());
                unique << paths.last();
            }
        }
        parts << dir.filePath(QString("game%1.big").arg(a));
        if (!writeArchive(parts.last(), paths))
            return false;
    }
    whole = dir.filePath("game-whole.big");
    merged = dir.filePath("game-merged.big");
    return writeArchive(whole, all) && writeArchive(merged, unique);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString cli = QCoreApplication::applicationDirPath() + "/vorland-cli";
    QTemporaryDir dir(QCoreApplication::applicationDirPath() + "/mountbench-XXXXXX");
    const QString large = dir.filePath("large.big"), entry = dir.filePath("entry.big");
    const QString point = dir.filePath("mnt");
    quint64 directoryBytes = 0;
    if (!dir.isValid() || !QDir().mkpath(point) || !writeLargeArchive(large, directoryBytes) ||
        !writeEntryArchive(entry)) {
        std::fprintf(stderr, "cannot write the test archives\n");
        return 1;
    }
    auto mount = [&](const QString &archive) {
        return seconds(cli, {"mount", archive, point}) >= 0;
    };
    auto unmount = [&] { return seconds("fusermount3", {"-u", point}) >= 0; };

    // Each round on a fresh mount, so that nothing comes from the kernel's cache of it.
    double list = 1e30, throughMount = 1e30, cat = 1e30;
    for (int round = 0; round < 3; ++round) {
        if (!mount(large))
            return 1;
        list = std::min(list, seconds("ls", {"-lR", point}));
        if (!unmount() || !mount(entry))
            return 1;
        throughMount = std::min(throughMount, seconds("cat", {point + "/data/big.bin"}));
        if (!unmount())
            return 1;
        cat = std::min(cat, seconds(cli, {"cat", entry, "data/big.bin"}));
        if (list < 0 || throughMount < 0 || cat < 0)
            return 1;
    }

    // The game's archives as one, beside one archive of the same entries
    // (the mount's start), and of the same paths (ls -lR).
    QStringList parts;
    QString whole, merged;
    if (!writeGame(dir, parts, whole, merged)) {
        std::fprintf(stderr, "cannot write the game's archives\n");
        return 1;
    }
    double overlay = 1e30, single = 1e30, overlayList = 1e30, mergedList = 1e30;
    for (int round = 0; round < 5; ++round) {
        const double o = seconds(cli, QStringList{"mount"} + parts + QStringList{point});
        overlayList = std::min(overlayList, seconds("ls", {"-lR", point}));
        const double w = unmount() ? seconds(cli, {"mount", whole, point}) : -1;
        if (o < 0 || w < 0 || !unmount() || !mount(merged))
            return 1;
        mergedList = std::min(mergedList, seconds("ls", {"-lR", point}));
        if (!unmount())
            return 1;
        overlay = std::min(overlay, o);
        single = std::min(single, w);
    }

    const double mb = double(kEntrySize) / 1e6;
    std::printf("Best of 3, taken in turns, each on a fresh mount\n\n");
    std::printf("%-44s %10s %10s\n", "figure", "measured", "target");
    std::printf("%-44s %10.2f %10s\n", "ls -lR of 200,000 entries, mounted (s)", list, "< 3");
    std::printf("%-44s %10.0f\n", "256 MiB entry read through the mount (MB/s)", mb / throughMount);
    std::printf("%-44s %10.0f\n", "the same entry by vorland-cli cat (MB/s)", mb / cat);
    std::printf("%-44s %10.2f %10s\n", "mount rate / cat rate", cat / throughMount, ">= 0.5");
    std::printf("\nBest of 5, in turns\n\n");
    std::printf("%-44s %10.3f\n", "40 archives mounted as one (s)", overlay);
    std::printf("%-44s %10.3f\n", "one archive of their 200,000 entries (s)", single);
    std::printf("%-44s %10.2f %10s\n", "overlay / one archive", overlay / single, "<= 1.2");
    std::printf("%-44s %10.3f\n", "ls -lR of the overlay (s)", overlayList);
    std::printf("%-44s %10.3f\n", "ls -lR of one archive of its paths (s)", mergedList);
    std::printf("%-44s %10.2f\n", "overlay / one archive", overlayList / mergedList);
    return 0;
}
