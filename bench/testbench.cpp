// vorland-cli test of the 1 GiB / 200,000-entry archive beside the time that
// reading all of its bytes takes (cat of the archive, and vorland-cli cat
// of each entry's bytes as extract reads them), in one run.

#include "benchutil.h"
#include "largearchive.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

bool run(const QString &program, const QStringList &arguments, int expected)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitCode() == expected;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir(QCoreApplication::applicationDirPath() + "/testbench-XXXXXX");
    const QString archive = dir.filePath("large.big");
    quint64 directoryBytes = 0;
    if (!dir.isValid() || !writeLargeArchive(archive, directoryBytes)) {
        std::fprintf(stderr, "testbench: cannot write the archive\n");
        return 1;
    }
    const QString cli = QCoreApplication::applicationDirPath() + "/vorland-cli";
    bool ok = true;
    // Warm the page cache first, so that every run reads from memory.
    ok = ok && run("cat", {archive}, 0);
    const double cat = bench::bestSeconds(5, [&] { ok = ok && run("cat", {archive}, 0); });
    const double extract = bench::bestSeconds(3, [&] {
        ok = ok && run(cli, {"extract", archive, "-o", dir.filePath("x"), "-q", "--overwrite"}, 0);
    });
    const double test = bench::bestSeconds(5, [&] { ok = ok && run(cli, {"test", archive}, 0); });
    if (!ok) {
        std::fprintf(stderr, "testbench: a run failed\n");
        return 1;
    }
    std::printf("Archive: %d entries, %lld bytes\n\n", kLargeEntries, kLargeArchiveSize);
    std::printf("%-36s %9s %9s\n", "work", "seconds", "ratio");
    std::printf("%-36s %9.3f %9s\n", "cat ARCHIVE (anchor)", cat, "1.00");
    std::printf("%-36s %9.3f %9.2f\n", "vorland-cli extract (every entry)", extract, extract / cat);
    std::printf("%-36s %9.3f %9.2f\n", "vorland-cli test", test, test / cat);
    return 0;
}
