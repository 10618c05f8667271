// Opening a large archive through the main window's own code: a sparse 1 GiB
// file with 200,000 entries in 2,000 folders. Prints the open time, the bytes
// read, the peak memory, and the time `vorland-cli list` takes on it. Then
// the layouts that stress the folder tree: 200,000 folders in the root,
// 200,000 files in one folder, and one path 200,000 folders deep.

#include "benchutil.h"
#include "bigarchive.h"
#include "bigarchivemodel.h"
#include "bigwriter.h"
#include "largearchive.h"
#include "reportrecorder.h"
#include "vorland.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kEntries = kLargeEntries;
constexpr int kFolders = kLargeFolders;

// A value from /proc/self/status or /proc/self/io, in the file's own unit.
qint64 procValue(const char *file, const char *key)
{
    QFile f(QString::fromLatin1(file));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Writes an archive of `paths`, every entry empty.
bool writeLayout(const QString &path, const std::vector<QByteArray> &paths)
{
    BigEntries entries(paths.size());
    for (size_t i = 0; i < paths.size(); ++i)
        entries[i].path = paths[i];
    const quint64 end = bigDirectoryEnd(entries);
    for (BigEntry &entry : entries)
        entry.offset = qint32(end);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(bigHeaderAndDirectory(entries, quint32(end))) == qint64(end);
}

// Milliseconds the window takes to open `path`, best of three.
double openMilliseconds(Vorland &window, const QString &path)
{
    double best = 1e30;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        window.openArchiveFile(path);
        best = qMin(best, double(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

void printLayouts(Vorland &window, const QTemporaryDir &dir)
{
    std::vector<QByteArray> rootFolders, oneFolder;
    for (int i = 0; i < kEntries; ++i) {
        rootFolders.push_back("folder" + QByteArray::number(i) + "\\file.dat");
        oneFolder.push_back("only\\file" + QByteArray::number(i) + ".dat");
    }
    QByteArray deep;
    for (int i = 0; i < kEntries; ++i)
        deep += "d\\";
    const struct
    {
        const char *name;
        std::vector<QByteArray> paths;
    } layouts[] = {{"200,000 folders in the root", rootFolders},
                   {"200,000 files in one folder", oneFolder},
                   {"a path 200,000 folders deep", {deep + "file.dat"}}};
    std::printf("\n%-28s %14s %14s\n", "layout: open (ms)", "measured", "target");
    for (const auto &layout : layouts) {
        const QString path = dir.filePath("layout.big");
        if (!writeLayout(path, layout.paths)) {
            std::fprintf(stderr, "cannot write the %s archive\n", layout.name);
            return;
        }
        std::printf("%-28s %14.1f %14s\n", layout.name, openMilliseconds(window, path), "< 150");
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath("large.big");
    quint64 directoryBytes = 0;
    if (!dir.isValid() || !writeLargeArchive(path, directoryBytes)) {
        std::fprintf(stderr, "cannot write the test archive\n");
        return 1;
    }

    ReportRecorder recorder;
    Vorland window;
    const qint64 peakBefore = procValue("/proc/self/status", "VmHWM:");
    const qint64 readBefore = procValue("/proc/self/io", "rchar:");
    QElapsedTimer timer;
    timer.start();
    window.openArchiveFile(path);
    const double openMs = double(timer.nsecsElapsed()) / 1e6;
    const qint64 readBytes = procValue("/proc/self/io", "rchar:") - readBefore;
    const qint64 peakAfter = procValue("/proc/self/status", "VmHWM:");
    const int rows = window.model->rowCount();

    QProcess list;
    list.setStandardOutputFile(QProcess::nullDevice());
    timer.restart();
    list.start(QCoreApplication::applicationDirPath() + "/vorland-cli", {"list", path});
    list.waitForFinished(-1);
    const double listMs = double(timer.nsecsElapsed()) / 1e6;

    std::printf("Archive: 1 GiB sparse, %d entries in %d folders, directory %llu bytes\n\n",
                kEntries, kFolders, static_cast<unsigned long long>(directoryBytes));
    std::printf("%-28s %14s %14s\n", "figure", "measured", "target");
    std::printf("%-28s %14.1f %14s\n", "open (ms)", openMs, "< 150");
    std::printf("%-28s %14llu %14llu\n", "bytes read by the reader",
                static_cast<unsigned long long>(window.archive->bytesRead),
                static_cast<unsigned long long>(directoryBytes));
    // rchar also counts this program's own reads of /proc.
    std::printf("%-28s %14lld %14s\n", "bytes read (rchar)", static_cast<long long>(readBytes), "");
    std::printf("%-28s %14.1f %14s\n", "peak memory (MiB)", double(peakAfter) / 1024.0, "< 100");
    std::printf("%-28s %14.1f %14s\n", "peak growth by open (MiB)",
                double(peakAfter - peakBefore) / 1024.0, "");
    std::printf("%-28s %14.1f %14s\n", "vorland-cli list (ms)", listMs, "");
    std::printf("\nRoot rows: %d, list exit status %d, messages: %d\n", rows, list.exitCode(),
                int(recorder.messages.size()));
    printLayouts(window, dir);
    return 0;
}
