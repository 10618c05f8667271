#include "safeoutput.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool writeAll(int fd, const QByteArray &data)
{
    const char *p = data.constData();
    size_t left = size_t(data.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= size_t(n);
    }
    return true;
}

} // namespace

SafeOutput::~SafeOutput()
{
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

bool SafeOutput::write(const QStringList &components, const QByteArray &data, bool overwrite,
                       QString &problem)
{
    int dir = root;
    auto leave = [&] {
        if (dir != root)
            ::close(dir);
    };
    for (int i = 0; i + 1 < components.size(); ++i) {
        const QByteArray name = QFile::encodeName(components.at(i));
        if (::mkdirat(dir, name.constData(), 0777) != 0 && errno != EEXIST) {
            problem =
                QStringLiteral("cannot create folder %1: %2").arg(components.at(i), systemError());
            leave();
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
            leave();
            return false;
        }
        leave();
        dir = next;
    }

    const QByteArray name = QFile::encodeName(components.last());
    struct stat existing;
    if (::fstatat(dir, name.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(existing.st_mode)) {
            problem = QStringLiteral("a folder is in the way");
            leave();
            return false;
        }
        if (!overwrite) {
            problem = QStringLiteral("already exists (--overwrite replaces it)");
            leave();
            return false;
        }
    }

    char temporary[64];
    std::snprintf(temporary, sizeof temporary, ".vorland-%ld-%u.part", long(::getpid()), counter++);
    const int fd =
        ::openat(dir, temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        problem = QStringLiteral("cannot create a file: %1").arg(systemError());
        leave();
        return false;
    }
    const bool written = writeAll(fd, data);
    const bool closed = ::close(fd) == 0;
    // renameat replaces a symbolic link itself, never what it points to.
    const bool placed =
        written && closed &&
        (overwrite ? ::renameat(dir, temporary, dir, name.constData()) == 0
                   : ::renameat2(dir, temporary, dir, name.constData(), RENAME_NOREPLACE) == 0);
    if (!placed) {
        problem = !written || !closed ? QStringLiteral("cannot write: %1").arg(systemError())
                  : errno == EEXIST   ? QStringLiteral("already exists (--overwrite replaces it)")
                                      : QStringLiteral("cannot write: %1").arg(systemError());
        ::unlinkat(dir, temporary, 0);
    }
    leave();
    return placed;
}
