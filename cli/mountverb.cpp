// mount: an archive as a read-only folder tree, through FUSE.

#include "verbs.h"

#include "archiveaccess.h"
#include "cliutil.h"
#include "fusemount.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

#include <new>

namespace cli {

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
                       "MOUNTPOINT\" (or Ctrl+C with -f) unmounts."));
    const QCommandLineOption foregroundOption({QStringLiteral("f"), QStringLiteral("foreground")},
                                              QStringLiteral("Stay in the foreground."));
    const QCommandLineOption rawOption(QStringLiteral("raw"),
                                       QStringLiteral("Show compressed entries as stored."));
    verb.addOptions({foregroundOption, rawOption});
    verb.addPositional(QStringLiteral("ARCHIVE"), QStringLiteral("BIG archive."));
    verb.addPositional(QStringLiteral("MOUNTPOINT"), QStringLiteral("Folder to mount it at."));
    if (auto done = verb.parse(arguments, 2, 2))
        return *done;
    const QStringList paths = verb.parser.positionalArguments();
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
    BigArchive archive;
    if (!openArchive(paths[0], archive))
        return Failure;
    // Everything the mount reads comes through a descriptor opened here,
    // since the process moves to "/" when it goes to the background. The
    // root's children are there before it mounts; the rest of the tree is
    // built while it answers.
    ArchiveFs fs(
        archive, verb.parser.isSet(rawOption), 256ull << 20,
        [](const QString &warning) { printError(warning); }, ArchiveFs::Build::Later);
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
    const int status = serveArchive(fs, QFileInfo(paths[0]).lastModified().toMSecsSinceEpoch(),
                                    paths[1], verb.parser.isSet(foregroundOption), finish, problem);
    if (status != 0 && !problem.isEmpty())
        printError(problem);
    return status == 0 ? Success : Failure;
}

} // namespace cli
