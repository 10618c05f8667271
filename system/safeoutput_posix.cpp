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
    if (hasLast)
        ::close(lastFolder.handle);
    if (hasRoot)
        ::close(root.handle);
}

bool SafeOutput::open(const QString &folder, QString &problem)
{
    if (!QDir().mkpath(folder)) {
        problem = QStringLiteral("cannot create %1").arg(folder);
        return false;
    }
    root.handle = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    hasRoot = root.handle >= 0;
    root.outlivesFiles = true;
    if (!hasRoot) {
        problem = QStringLiteral("cannot open %1: %2").arg(folder, systemError());
        return false;
    }
    return true;
}

void SafeOutput::protect(const QString &path, const QString &reason)
{
    guardedReason = reason;
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) == 0) {
        guarded = true;
        guardedFile.device = quint64(info.st_dev);
        guardedFile.inode = quint64(info.st_ino);
    }
}

bool SafeOutput::enter(const OpenFolder &dir, const QString &name, OpenFolder &next,
                       QString &problem)
{
    const QByteArray encoded = QFile::encodeName(name);
    if (::mkdirat(dir.handle, encoded.constData(), 0777) != 0 && errno != EEXIST) {
        problem = QStringLiteral("cannot create folder %1: %2").arg(name, systemError());
        return false;
    }
    next.handle =
        ::openat(dir.handle, encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    next.outlivesFiles = true;
    if (next.handle >= 0)
        return true;
    problem =
        errno == ELOOP || errno == ENOTDIR
            ? QStringLiteral("%1 is not a folder (a file or symbolic link is in the way)").arg(name)
            : QStringLiteral("cannot open folder %1: %2").arg(name, systemError());
    return false;
}

bool SafeOutput::look(const OpenFolder &dir, const QString &name, bool &isFolder,
                      FileIdentity &identity)
{
    struct stat existing;
    if (::fstatat(dir.handle, QFile::encodeName(name).constData(), &existing,
                  AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    isFolder = S_ISDIR(existing.st_mode);
    identity.device = quint64(existing.st_dev);
    identity.inode = quint64(existing.st_ino);
    return true;
}

void SafeOutput::release(const OpenFolder &folder)
{
    ::close(folder.handle);
}
