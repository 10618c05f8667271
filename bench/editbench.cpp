// Replacing one entry of a 1 GiB archive with vorland-cli add --replace,
// beside cp of the same archive over an earlier copy, taken in turns in the
// same run: both write 1 GiB and let go of the 1 GiB they replace. The entries
// not touched are copied by the kernel, so the two should cost about the same.

#include "benchutil.h"
#include "bigwriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {

constexpr int kEntries = 256;
constexpr int kEntrySize = 4 << 20; // 256 x 4 MiB = 1 GiB

// Incompressible bytes from a fixed seed.
void fill(QByteArray &bytes, uint64_t &state)
{
    auto *words = reinterpret_cast<uint64_t *>(bytes.data());
    for (size_t i = 0; i < size_t(bytes.size()) / 8; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        words[i] = state;
    }
}

bool writeArchive(const QString &path)
{
    BigEntries entries(kEntries);
    for (int i = 0; i < kEntries; ++i)
        entries[size_t(i)].path = "textures\\t" + QByteArray::number(i) + ".tpi";
    const quint64 start = bigDirectoryEnd(entries);
    for (int i = 0; i < kEntries; ++i) {
        entries[size_t(i)].offset = qint32(start + quint64(i) * kEntrySize);
        entries[size_t(i)].size = kEntrySize;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray directory =
        bigHeaderAndDirectory(entries, quint32(start + quint64(kEntries) * kEntrySize));
    if (file.write(directory) != directory.size())
        return false;
    QByteArray data(kEntrySize, Qt::Uninitialized);
    uint64_t state = 88172645463325252ull;
    for (int i = 0; i < kEntries; ++i) {
        fill(data, state);
        if (file.write(data) != data.size())
            return false;
    }
    return file.flush();
}

double runSeconds(const QString &program, const QStringList &arguments)
{
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program),
                     process.readAllStandardError().constData());
        return -1;
    }
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir(QCoreApplication::applicationDirPath() + "/editbench-XXXXXX");
    const QString archive = dir.filePath("large.big");
    const QString copy = dir.filePath("copy.big");
    const QString texture = dir.filePath("new.tpi");
    if (!dir.isValid() || !writeArchive(archive)) {
        std::fprintf(stderr, "cannot write the test archive\n");
        return 1;
    }
    QFile replacement(texture);
    QByteArray bytes(kEntrySize, Qt::Uninitialized);
    uint64_t state = 42;
    fill(bytes, state);
    if (!replacement.open(QIODevice::WriteOnly) || replacement.write(bytes) != bytes.size())
        return 1;
    replacement.close();

    const QString cli = QCoreApplication::applicationDirPath() + "/vorland-cli";
    double cp = 1e30, add = 1e30;
    for (int round = 0; round < 6; ++round) {
        const double c = runSeconds("cp", {archive, copy});
        const double a = runSeconds(
            cli, {"add", "--replace", "--quiet", archive, texture, "--as", "textures/t100.tpi"});
        if (c < 0 || a < 0)
            return 1;
        if (round == 0)
            continue; // the first round fills the page cache and makes the copy
        cp = qMin(cp, c);
        add = qMin(add, a);
    }
    std::printf("Archive: %d entries of %d MiB (1 GiB); best of 5, taken in turns\n\n", kEntries,
                kEntrySize >> 20);
    std::printf("%-40s %10s\n", "figure", "seconds");
    std::printf("%-40s %10.3f\n", "cp of the archive", cp);
    std::printf("%-40s %10.3f\n", "add --replace of one entry", add);
    std::printf("\n%-40s %10.2f   (target: at most 1.5)\n", "add --replace / cp", add / cp);
    return 0;
}
