// vorland-cli mount beside the tools it stands in for, in the same run:
// ls -lR of the 200,000-entry archive through the mount, and reading a
// 256 MiB stored entry through the mount beside vorland-cli cat of it.

#include "benchutil.h"
#include "bigwriter.h"
#include "largearchive.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
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
    const double mb = double(kEntrySize) / 1e6;
    std::printf("Best of 3, taken in turns, each on a fresh mount\n\n");
    std::printf("%-44s %10s %10s\n", "figure", "measured", "target");
    std::printf("%-44s %10.2f %10s\n", "ls -lR of 200,000 entries, mounted (s)", list, "< 3");
    std::printf("%-44s %10.0f\n", "256 MiB entry read through the mount (MB/s)", mb / throughMount);
    std::printf("%-44s %10.0f\n", "the same entry by vorland-cli cat (MB/s)", mb / cat);
    std::printf("%-44s %10.2f %10s\n", "mount rate / cat rate", cat / throughMount, ">= 0.5");
    return 0;
}
