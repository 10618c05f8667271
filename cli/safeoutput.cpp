#include "safeoutput.h"

#include "atomicfile.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

SafeOutput::~SafeOutput()
{
    if (lastFolder >= 0)
        ::close(lastFolder);
    if (root >= 0)
        ::close(root);
}

bool SafeOutput::open(const QString &folder, QString &problem)
{
    if (!QDir().mkpath(folder)) {
        problem = QStringLiteral("cannot create %1").arg(folder);
        return false;
    }
    root = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        problem = QStringLiteral("cannot open %1: %2").arg(folder, systemError());
        return false;
    }
    return true;
}

void SafeOutput::protect(const QString &path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) == 0) {
        guarded = true;
        guardedDevice = info.st_dev;
        guardedInode = info.st_ino;
    }
}

bool SafeOutput::start(const QStringList &components, bool overwrite, AtomicFile &file,
                       QString &problem)
{
    existed = false;
    // Entries come folder by folder: the folder of the last one is held, and
    // an entry in the same folder starts from it rather than from the top.
    const QStringList folders = components.mid(0, components.size() - 1);
    const bool again = lastFolder >= 0 && folders == lastFolders;
    int dir = again ? lastFolder : root;
    // Half-way down, the folder reached is let go; at the entry's own
    // folder, it is kept for the next entry.
    auto drop = [&] {
        if (dir != root && dir != lastFolder)
            ::close(dir);
    };
    auto leave = [&] {
        if (dir == root || dir == lastFolder)
            return;
        if (lastFolder >= 0)
            ::close(lastFolder);
        lastFolder = dir;
        lastFolders = folders;
    };
    for (int i = again ? int(folders.size()) : 0; i + 1 < components.size(); ++i) {
        const QByteArray name = QFile::encodeName(components.at(i));
        if (::mkdirat(dir, name.constData(), 0777) != 0 && errno != EEXIST) {
            problem =
                QStringLiteral("cannot create folder %1: %2").arg(components.at(i), systemError());
            drop();
            return false;
        }
        const int next =
            ::openat(dir, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            problem =
                errno == ELOOP || errno == ENOTDIR
                    ? QStringLiteral("%1 is not a folder (a file or symbolic link is in the way)")
                          .arg(components.at(i))
                    : QStringLiteral("cannot open folder %1: %2")
                          .arg(components.at(i), systemError());
            drop();
            return false;
        }
        drop();
        dir = next;
    }

    const QByteArray name = QFile::encodeName(components.last());
    struct stat existing;
    const bool present = ::fstatat(dir, name.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (present) {
        QString refusal;
        if (S_ISDIR(existing.st_mode))
            refusal = QStringLiteral("a folder is in the way");
        else if (guarded && existing.st_dev == guardedDevice && existing.st_ino == guardedInode)
            refusal = QStringLiteral("it is the archive being read");
        else if ((existed = !overwrite))
            refusal = QStringLiteral("already exists (--overwrite replaces it)");
        if (!refusal.isEmpty()) {
            problem = refusal;
            leave();
            return false;
        }
    }
    const bool started =
        file.openAt(dir, name, components.join(QLatin1Char('/')), overwrite, !present);
    if (!started)
        problem = file.problem();
    leave();
    return started;
}
