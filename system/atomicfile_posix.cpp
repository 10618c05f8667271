// Writing an AtomicFile on POSIX systems: where its bytes go (a temporary
// file beside the target, a file without a name, or the target itself when
// it is a stream), and how they get there. Committing is in
// atomiccommit_posix.cpp, the temporary files' names and clean-up in
// temporaryfiles_posix.cpp.

#include "atomicfile.h"

#include "temporaryfiles_posix.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// The standard output or error (1 or 2) that is the file `target`, or -1.
int standardStreamOf(const struct stat &target)
{
    for (int stream = 1; stream <= 2; ++stream) {
        struct stat info;
        if (::fstat(stream, &info) == 0 && info.st_dev == target.st_dev &&
            info.st_ino == target.st_ino)
            return stream;
    }
    return -1;
}

} // namespace

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

AtomicFile::~AtomicFile()
{
    cancel();
    closeFolder();
}

void AtomicFile::closeFolder()
{
    if (std::exchange(hasFolder, false))
        ::close(folder);
}

bool AtomicFile::open(const QString &path, bool overwrite)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat target;
    if (::stat(name.constData(), &target) == 0 && !S_ISDIR(target.st_mode)) {
        // The caller's own output (/dev/stdout, /proc/self/fd/1 of a command
        // whose output goes to a file) is written through its descriptor.
        const int stream = standardStreamOf(target);
        if (stream >= 0)
            return writeThrough(::fcntl(stream, F_DUPFD_CLOEXEC, 0), true, path);
        // A device or pipe (a FIFO), and anything under /dev or /proc, is
        // written as it is: it must not be replaced.
        if (!S_ISREG(target.st_mode))
            return writeThrough(::open(name.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY), true,
                                path);
        if (name.startsWith("/dev/") || name.startsWith("/proc/"))
            return writeThrough(::open(name.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY),
                                true, path);
    }
    const QFileInfo info(path);
    const QByteArray folderName = QFile::encodeName(info.path());
    const int dir = ::open(folderName.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        failure = QStringLiteral("cannot write %1: %2").arg(path, systemError());
        return false;
    }
    return start(dir, QString(), info.fileName(), path, overwrite);
}

bool AtomicFile::openInPlace(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat target;
    if (::lstat(name.constData(), &target) == 0 && S_ISREG(target.st_mode)) {
        const int opened = ::open(name.constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
        if (opened >= 0 && ::ftruncate(opened, 0) != 0) {
            ::close(opened);
            return writeThrough(-1, true, path);
        }
        return writeThrough(opened, true, path);
    }
    return open(path);
}

bool AtomicFile::writeThrough(NativeHandle descriptor, bool /*opened*/, const QString &path)
{
    cancel();
    shown = path;
    failure.clear();
    lost.clear();
    size = 0;
    fd = descriptor;
    isOpen = direct = fd >= 0;
    if (!isOpen)
        fail();
    return isOpen;
}

bool AtomicFile::canSeek() const
{
    if (!direct)
        return true;
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && !(flags & O_APPEND) && ::lseek(fd, 0, SEEK_CUR) == 0;
}

bool AtomicFile::openAt(const OpenFolder &folderOpen, const QString &name, const QString &shownName,
                        bool overwrite, bool absent)
{
    const int dir = folderOpen.outlivesFiles ? folderOpen.handle
                                             : ::fcntl(folderOpen.handle, F_DUPFD_CLOEXEC, 0);
    if (dir < 0) {
        failure = QStringLiteral("cannot write %1: %2").arg(shownName, systemError());
        return false;
    }
    const bool started = start(dir, QString(), name, shownName, overwrite, absent);
    hasFolder = !folderOpen.outlivesFiles;
    return started;
}

bool AtomicFile::start(NativeHandle dir, const QString &, const QString &name,
                       const QString &shownName, bool overwrite, bool absent)
{
    cancel();
    closeFolder();
    folder = dir;
    hasFolder = true;
    target = QFile::encodeName(name);
    shown = shownName;
    replace = overwrite;
    size = 0;
    failure.clear();

    lost.clear();
    unnamed = false;
    // Where nothing stands at the name, the file is made without a name and
    // linked in at the end: nothing is left behind whatever stops us, so
    // there is no temporary name to register or sweep.
    if (absent && openUnnamed())
        return true;
    temporaryfiles::removeLeftOvers(folder);
    temporary = temporaryfiles::newName("part");
    fd = ::openat(folder, temporary.constData(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    isOpen = fd >= 0;
    if (!isOpen) {
        fail();
        return false;
    }
    slot = temporaryfiles::add(folder, temporary);
    if (!absent)
        keepOwnerAndMode();
    return true;
}

bool AtomicFile::openUnnamed()
{
    static std::atomic<bool> unsupported{false};
    if (unsupported.load(std::memory_order_relaxed))
        return false;
    fd = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        // A file system without unnamed files (or an old kernel): names then.
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
            unsupported.store(true, std::memory_order_relaxed);
        return false;
    }
    isOpen = unnamed = true;
    return true;
}

void AtomicFile::keepOwnerAndMode()
{
    struct stat existing;
    if (::fstatat(folder, target.constData(), &existing, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(existing.st_mode))
        return;
    // The owner first: changing it clears the set-user and set-group bits.
    if ((existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) &&
        ::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
        const QString reason = systemError();
        ::fchown(fd, uid_t(-1), existing.st_gid); // the group alone, where that is allowed
        struct stat made;
        if (::fstat(fd, &made) == 0 &&
            (made.st_uid != existing.st_uid || made.st_gid != existing.st_gid))
            lost = QStringLiteral("%1 now belongs to uid %2, gid %3: its owner %4 and group %5 "
                                  "could not be kept: %6")
                       .arg(shown)
                       .arg(made.st_uid)
                       .arg(made.st_gid)
                       .arg(existing.st_uid)
                       .arg(existing.st_gid)
                       .arg(reason);
    }
    // The permissions, never the set-user, set-group or sticky bits: the
    // new bytes are not the program or folder those were given to.
    ::fchmod(fd, existing.st_mode & 0777);
}

void AtomicFile::fail()
{
    if (failure.isEmpty())
        failure = QStringLiteral("cannot write %1: %2").arg(shown, systemError());
}

bool AtomicFile::put(const char *data, size_t n, const quint64 *position)
{
    if (!isOpen)
        return false;
    for (quint64 done = 0; done < n;) {
        const ssize_t got = position ? ::pwrite(fd, data + done, n - done, off_t(*position + done))
                                     : ::write(fd, data + done, n - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0)
                errno = ENOSPC;
            fail();
            return false;
        }
        done += quint64(got);
    }
    return true;
}

bool AtomicFile::truncate(quint64 length)
{
    if (!isOpen || length > size)
        return false;
    if (::ftruncate(fd, off_t(length)) != 0 || ::lseek(fd, off_t(length), SEEK_SET) < 0) {
        fail();
        return false;
    }
    size = length;
    return true;
}

bool AtomicFile::copyFrom(const HeldFile &from, quint64 offset, quint64 length,
                          const QString &sourceName)
{
    if (!isOpen)
        return false;
    const int source = from.handle();
    // Once the kernel could not copy between these files, it is not asked
    // again: a pack of many files copies each through the same buffer.
    bool kernel = !noKernelCopy;
    constexpr size_t kBuffer = 1 << 20;
    while (length > 0) {
        const size_t piece = size_t(std::min<quint64>(length, 1u << 30));
        ssize_t done = -1;
        if (kernel) {
            loff_t from = loff_t(offset);
            done = ::copy_file_range(source, &from, fd, nullptr, piece, 0);
            // Not every pair of file systems can: copy through a buffer then.
            if (done < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                             errno == EOPNOTSUPP || errno == EBADF)) {
                kernel = false;
                noKernelCopy = true;
                continue;
            }
            if (done < 0 && errno != EINTR) {
                fail();
                return false;
            }
        } else {
            if (!copyBuffer)
                copyBuffer.reset(new (std::nothrow) char[kBuffer]);
            if (!copyBuffer) {
                failure = QStringLiteral("Not enough memory to copy %1").arg(sourceName);
                return false;
            }
            char *const buffer = copyBuffer.get();
            done = ::pread(source, buffer, std::min(piece, kBuffer), off_t(offset));
            if (done < 0 && errno != EINTR) {
                failure = QStringLiteral("cannot read %1: %2").arg(sourceName, systemError());
                return false;
            }
            if (done > 0 && !write(buffer, size_t(done)))
                return false;
            if (done > 0)
                size -= quint64(done); // counted below, like a kernel copy
        }
        if (done == 0) {
            failure = QStringLiteral("cannot read %1: it ended %2 bytes early")
                          .arg(sourceName)
                          .arg(length);
            return false;
        }
        if (done > 0) {
            offset += quint64(done);
            length -= quint64(done);
            size += quint64(done);
        }
    }
    return true;
}
