// mount: an archive, or several as one, as a read-only folder tree, through FUSE.

#include "verbs.h"

#include "archiveaccess.h"
#include "cliutil.h"
#include "fusemount.h"
#include "overlayfs.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace cli {

namespace {

// The attribute of a file: its archive's path, made absolute, as the file
// system names it.
MountSource sourceOf(const QString &path)
{
    const QFileInfo info(path);
    return {QFile::encodeName(info.absoluteFilePath()), info.lastModified().toMSecsSinceEpoch()};
}

// Several archives as one tree, built whole before it is mounted: the
// archives are read and their trees built on every processor there is, and
// laid over each other in the order given as they come.
int mountOverlay(const QStringList &archives, const QString &point, bool raw, bool firstWins,
                 bool foreground)
{
    // Each archive holds its descriptor while mounted: as many as the
    // system allows, for a game of a thousand archives.
    struct rlimit files;
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    const size_t count = size_t(archives.size());
    std::vector<std::unique_ptr<BigArchive>> opened(count);
    std::vector<std::unique_ptr<ArchiveFs>> trees(count);
    const auto cache = std::make_shared<UnpackCache>(256ull << 20);
    std::mutex lock;
    std::condition_variable builtOne;
    std::vector<bool> built(count);
    size_t next = 0;
    bool failed = false, noMemory = false;
    const auto work = [&] {
        std::unique_lock<std::mutex> guard(lock);
        while (!failed && next < count) {
            const size_t i = next++;
            const QString path = archives[int(i)];
            guard.unlock();
            bool done = false, memory = true;
            try {
                opened[i] = std::make_unique<BigArchive>();
                done = openArchive(path, *opened[i]);
                if (done)
                    trees[i] = std::make_unique<ArchiveFs>(
                        *opened[i], raw, cache, [path](const QString &warning) {
                            printError(path + QStringLiteral(": ") + warning);
                        });
            } catch (const std::bad_alloc &) {
                done = memory = false;
            }
            guard.lock();
            built[i] = done;
            failed = failed || !done;
            noMemory = noMemory || !memory;
            builtOne.notify_all();
        }
    };
    std::vector<std::thread> builders;
    for (unsigned n = std::max(std::thread::hardware_concurrency(), 1u); n > 0; --n) {
        try {
            builders.emplace_back(work);
        } catch (const std::system_error &) {
            break;
        }
    }
    if (builders.empty())
        work();

    OverlayFs overlay(firstWins ? Overlay::Rule::FirstWins : Overlay::Rule::LaterWins);
    try {
        size_t laid = 0;
        for (; laid < count; ++laid) {
            std::unique_lock<std::mutex> guard(lock);
            builtOne.wait(guard, [&] { return built[laid] || failed; });
            if (!built[laid])
                break;
            guard.unlock();
            overlay.add({archives[int(laid)], opened[laid].get(), trees[laid].get()});
        }
        if (laid == count)
            overlay.finish();
    } catch (const std::bad_alloc &) {
        std::lock_guard<std::mutex> guard(lock);
        noMemory = failed = true;
    }
    for (std::thread &builder : builders)
        builder.join();
    if (noMemory)
        printError(QStringLiteral("not enough memory for the folders of %1 archives").arg(count));
    if (failed)
        return Failure;
    std::vector<MountSource> sources;
    for (const QString &path : archives)
        sources.push_back(sourceOf(path));
    for (const QString &warning : qAsConst(overlay.warnings))
        printError(warning);
    for (const auto &archive : opened)
        archive->releaseDirectory(); // the trees hold what they need
    flushOut();
    QString problem;
    const int status = serveTree(
        overlay, sources, point, foreground, [] { return true; }, problem);
    if (status != 0 && !problem.isEmpty())
        printError(problem);
    return status == 0 ? Success : Failure;
}

} // namespace

int runMount(const QStringList &arguments)
{
    VerbParser verb(
        QStringLiteral("mount"),
        QStringLiteral("Mounts ARCHIVE read-only at MOUNTPOINT, an empty folder: folders\n"
                       "are its entry paths' folders, files its entries, unpacked (sizes\n"
                       "from their Refp headers) unless --raw. Entries whose names extract\n"
                       "would refuse are left out, and a name that is taken (a file named\n"
                       "like a folder, two entries of one path) gets \"~1\", \"~2\", ..., each\n"
                       "with a warning. An entry's first bytes are read when it is first\n"
                       "looked up: one too large for the cache or that does not decode is\n"
                       "then a warning (on stderr with -f). The root answers as soon as the\n"
                       "mount is there; the rest of the tree is built meanwhile, folders\n"
                       "first: a name below the root answers once it is made, a listing\n"
                       "below the root once the whole tree is. Without -f it returns once\n"
                       "the whole tree is built and its warnings said; \"fusermount3 -u\n"
                       "MOUNTPOINT\" (or Ctrl+C with -f) unmounts.\n"
                       "With several archives, one tree of them all, as a game reads them:\n"
                       "where two hold a path (case ignored) the later archive's copy is\n"
                       "the file (--first-wins: the first's), and within an archive the\n"
                       "first entry of the path; folders of the same name are one. It is\n"
                       "built whole before it mounts. Each file gives the archive it comes\n"
                       "from in the attribute user.vorland.archive (getfattr -n\n"
                       "user.vorland.archive FILE)."));
    const QCommandLineOption foregroundOption({QStringLiteral("f"), QStringLiteral("foreground")},
                                              QStringLiteral("Stay in the foreground."));
    const QCommandLineOption rawOption(QStringLiteral("raw"),
                                       QStringLiteral("Show compressed entries as stored."));
    const QCommandLineOption firstWinsOption(
        QStringLiteral("first-wins"),
        QStringLiteral("The first archive that holds a path wins, not the last."));
    verb.addOptions({foregroundOption, rawOption, firstWinsOption});
    verb.addPositional(QStringLiteral("ARCHIVE"), QStringLiteral("BIG archives."),
                       QStringLiteral("ARCHIVE..."));
    verb.addPositional(QStringLiteral("MOUNTPOINT"), QStringLiteral("Folder to mount them at."));
    if (auto done = verb.parse(arguments, 2, -1))
        return *done;
    QStringList paths = verb.parser.positionalArguments();
    const QStringList archives = paths.mid(0, paths.size() - 1);
    paths = QStringList{archives.first(), paths.last()};
    if (!QFileInfo(paths[1]).isDir()) {
        printError(QStringLiteral("%1 is not a folder").arg(paths[1]));
        return Failure;
    }
    // A mount hides what the folder holds: only an empty folder that is not
    // a mount already.
    if (!QDir(paths[1]).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden |
                                QDir::System)) {
        printError(QStringLiteral("%1 is not empty: mount into an empty folder").arg(paths[1]));
        return Failure;
    }
    struct stat point, parent;
    if (::stat(QFile::encodeName(paths[1]).constData(), &point) == 0 &&
        ::stat(QFile::encodeName(paths[1] + QStringLiteral("/..")).constData(), &parent) == 0 &&
        (point.st_dev != parent.st_dev || point.st_ino == parent.st_ino)) {
        printError(QStringLiteral("%1 is a mount point already").arg(paths[1]));
        return Failure;
    }
    const bool raw = verb.parser.isSet(rawOption);
    const bool foreground = verb.parser.isSet(foregroundOption);
    if (archives.size() > 1)
        return mountOverlay(archives, paths[1], raw, verb.parser.isSet(firstWinsOption),
                            foreground);
    BigArchive archive;
    if (!openArchive(paths[0], archive))
        return Failure;
    // Everything the mount reads comes through a descriptor opened here,
    // since the process moves to "/" when it goes to the background. The
    // root's children are there before it mounts; the rest of the tree is
    // built while it answers.
    ArchiveFs fs(
        archive, raw, 256ull << 20, [](const QString &warning) { printError(warning); },
        ArchiveFs::Build::Later);
    flushOut();
    const auto finish = [&] {
        try {
            fs.build();
        } catch (const std::bad_alloc &) {
            printError(QStringLiteral("not enough memory for the folders of %1").arg(paths[0]));
            return false;
        }
        for (const QString &warning : qAsConst(fs.warnings))
            printError(warning);
        archive.releaseDirectory(); // the tree holds what it needs
        return true;
    };
    QString problem;
    const int status = serveTree(fs, {sourceOf(paths[0])}, paths[1], foreground, finish, problem);
    if (status != 0 && !problem.isEmpty())
        printError(problem);
    return status == 0 ? Success : Failure;
}

} // namespace cli
