#include "atomicfile.h"

#include "fileidentity_posix.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// The temporary files alive at any moment, for the signal handler: a fixed
// table it can read without allocating or locking.
struct Temporary
{
    std::atomic<bool> used{false};
    int folder = -1;
    char name[64] = {};
};
constexpr int kSlots = 64;
Temporary temporaries[kSlots];
std::atomic<unsigned> counter{0};

int registerTemporary(int folder, const QByteArray &name)
{
    for (int i = 0; i < kSlots; ++i) {
        bool expected = false;
        if (temporaries[i].used.load() || size_t(name.size()) >= sizeof temporaries[i].name)
            continue;
        temporaries[i].folder = folder;
        std::memcpy(temporaries[i].name, name.constData(), size_t(name.size()) + 1);
        if (temporaries[i].used.compare_exchange_strong(expected, true))
            return i;
    }
    return -1; // not cleaned up on a signal, but still removed on failure
}

void unregisterTemporary(int slot)
{
    if (slot >= 0)
        temporaries[slot].used.store(false);
}

extern "C" void removeTemporariesAndStop(int signal)
{
    for (Temporary &t : temporaries) {
        if (t.used.load())
            ::unlinkat(t.folder, t.name, 0);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// The name of this process's temporary files, and how a left-over one is
// recognised.
constexpr char kTemporaryPattern[] = ".vorland-%ld-%u.part";

// Removes the temporary files in `folder` whose process is gone: those of a
// process that was killed before it could. Once per folder and process.
void removeLeftOvers(int folder)
{
    static std::mutex lock;
    static std::set<std::pair<dev_t, ino_t>> swept;
    struct stat info;
    if (::fstat(folder, &info) != 0)
        return;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!swept.insert({info.st_dev, info.st_ino}).second)
            return;
    }
    const int copy = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!dir) {
        if (copy >= 0)
            ::close(copy);
        return;
    }
    const long self = long(::getpid());
    while (const dirent *item = ::readdir(dir)) {
        long pid = 0;
        unsigned number = 0;
        int length = 0;
        if (std::strncmp(item->d_name, ".vorland-", 9) != 0 ||
            std::sscanf(item->d_name, ".vorland-%ld-%u.part%n", &pid, &number, &length) != 2 ||
            item->d_name[length] != '\0' || pid <= 0 || pid == self)
            continue;
        struct stat file;
        if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH &&
            ::fstatat(folder, item->d_name, &file, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(file.st_mode) && file.st_uid == ::geteuid())
            ::unlinkat(folder, item->d_name, 0);
    }
    ::closedir(dir);
}

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
    removeLeftOvers(folder);

    char buffer[64];
    std::snprintf(buffer, sizeof buffer, kTemporaryPattern, long(::getpid()), counter++);
    temporary = buffer;
    fd = ::openat(folder, temporary.constData(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    isOpen = fd >= 0;
    if (!isOpen) {
        fail();
        return false;
    }
    slot = registerTemporary(folder, temporary);
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

// Gives the unnamed file `fd` the name `name` in `folder`, never replacing
// anything. Linking a descriptor by itself takes a capability most
// processes lack; its /proc name serves the others.
static bool linkUnnamed(int fd, int folder, const char *name)
{
    static std::atomic<bool> byDescriptor{true};
    if (byDescriptor.load(std::memory_order_relaxed)) {
        if (::linkat(fd, "", folder, name, AT_EMPTY_PATH) == 0)
            return true;
        if (errno != ENOENT && errno != EPERM)
            return false;
        byDescriptor.store(false, std::memory_order_relaxed);
    }
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, path, folder, name, AT_SYMLINK_FOLLOW) == 0;
}

bool AtomicFile::commitUnnamed()
{
    // Something may have come to the name since the file was started: it is
    // replaced (as a named temporary file would replace it) or refused.
    bool placed = linkUnnamed(fd, folder, target.constData());
    if (!placed && errno == EEXIST && replace) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, kTemporaryPattern, long(::getpid()), counter++);
        temporary = buffer;
        placed = linkUnnamed(fd, folder, temporary.constData()) &&
                 ::renameat(folder, temporary.constData(), folder, target.constData()) == 0;
        if (!placed) {
            const int reason = errno; // what failed, not the clean-up
            ::unlinkat(folder, temporary.constData(), 0);
            errno = reason;
        }
    }
    if (!placed)
        failure = errno == EEXIST ? QStringLiteral("cannot write %1: it already exists").arg(shown)
                                  : QStringLiteral("cannot write %1: %2").arg(shown, systemError());
    if (::close(fd) != 0 && placed) {
        fail();
        ::unlinkat(folder, target.constData(), 0);
        placed = false;
    }
    return placed;
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

bool AtomicFile::commit(const HeldFile *replaced)
{
    if (!isOpen)
        return false;
    if (!failure.isEmpty()) {
        cancel();
        return false;
    }
    const int closing = fd;
    isOpen = false;
    if (std::exchange(unnamed, false))
        return commitUnnamed();
    if (direct) {
        direct = false;
        if (::close(closing) == 0)
            return true;
        fail();
        return false;
    }
    if (::close(closing) != 0) {
        fail();
        ::unlinkat(folder, temporary.constData(), 0);
        unregisterTemporary(std::exchange(slot, -1));
        return false;
    }
    if (replaced) {
        const bool placed = replaceChecked(replaced->identity());
        unregisterTemporary(std::exchange(slot, -1));
        return placed;
    }
    // Renaming replaces a symbolic link itself, never what it points to.
    bool placed;
    struct stat existing;
    if (!replace) {
        placed = ::renameat2(folder, temporary.constData(), folder, target.constData(),
                             RENAME_NOREPLACE) == 0;
    } else if (::fstatat(folder, target.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISREG(existing.st_mode) &&
               ::renameat2(folder, temporary.constData(), folder, target.constData(),
                           RENAME_EXCHANGE) == 0) {
        // A file renamed over another makes some file systems (ext4) write
        // all of its data out before the rename returns, which doubles the
        // cost of replacing a large archive. Exchanging the two names is as
        // atomic and leaves the writing to happen in the background, as for
        // any new file; the old file, now under the temporary name, goes.
        ::unlinkat(folder, temporary.constData(), 0);
        placed = true;
    } else {
        placed = ::renameat(folder, temporary.constData(), folder, target.constData()) == 0;
    }
    if (!placed) {
        failure = errno == EEXIST ? QStringLiteral("cannot write %1: it already exists").arg(shown)
                                  : QStringLiteral("cannot write %1: %2").arg(shown, systemError());
        ::unlinkat(folder, temporary.constData(), 0);
    }
    unregisterTemporary(std::exchange(slot, -1));
    return placed;
}

namespace {

// Whether `name` in `folder` is the regular file `expected`, as it was.
bool holds(int folder, const char *name, const FileIdentity &expected)
{
    struct stat info;
    return ::fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
           identityOf(info) == expected;
}

// Gives the file `from` the name `to`, never replacing a file that is
// there (a link, then the old name removed), where the file system has
// links; renamed where it has none.
bool moveWithoutReplacing(int folder, const char *from, const char *to)
{
    if (::linkat(folder, from, folder, to, 0) == 0) {
        ::unlinkat(folder, from, 0);
        return true;
    }
    return errno != EEXIST && (errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK) &&
           ::renameat(folder, from, folder, to) == 0;
}

} // namespace

bool AtomicFile::replaceChecked(const FileIdentity &expected)
{
    const char *const name = target.constData(), *const ours = temporary.constData();
    auto raced = [&] {
        failure = QStringLiteral("%1 was changed by another program meanwhile; nothing was written")
                      .arg(shown);
        ::unlinkat(folder, ours, 0);
        return false;
    };
    auto failed = [&] {
        fail();
        ::unlinkat(folder, ours, 0);
        return false;
    };
    if (!holds(folder, name, expected))
        return raced();
    if (::renameat2(folder, ours, folder, name, RENAME_EXCHANGE) == 0) {
        // Another program may have renamed a file of its own over the name
        // since the look above: what came out is checked, and put back if
        // it is not the file that was read.
        if (holds(folder, ours, expected)) {
            ::unlinkat(folder, ours, 0);
            return true;
        }
        if (::renameat2(folder, ours, folder, name, RENAME_EXCHANGE) == 0)
            return raced();
        failure = QStringLiteral("cannot write %1: another program changed it meanwhile, and "
                                 "its file could not be put back: it is %2 beside it (%3)")
                      .arg(shown, QString::fromLocal8Bit(temporary), systemError());
        return false;
    }
    if (errno != EINVAL && errno != ENOSYS)
        return failed();
    // A file system that cannot exchange names: the file at the name is
    // moved aside, checked, and the new one linked in where it stood, so
    // that for a moment no file has the name. A name that a crash would
    // leave to the original is not one the clean-up of temporary files
    // removes.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, ".vorland-%ld-%u.old", long(::getpid()), counter++);
    const char *const aside = buffer;
    if (::renameat(folder, name, folder, aside) != 0)
        return failed();
    if (!holds(folder, aside, expected)) {
        if (moveWithoutReplacing(folder, aside, name))
            return raced();
        failure = QStringLiteral("cannot write %1: another program changed it meanwhile, and "
                                 "its file could not be put back: it is %2 beside it")
                      .arg(shown, QString::fromLocal8Bit(aside));
        ::unlinkat(folder, ours, 0);
        return false;
    }
    if (moveWithoutReplacing(folder, ours, name)) {
        ::unlinkat(folder, aside, 0);
        return true;
    }
    if (errno == EEXIST) { // another program's file came to the name meanwhile
        ::unlinkat(folder, aside, 0);
        return raced();
    }
    const int reason = errno;
    moveWithoutReplacing(folder, aside, name);
    errno = reason;
    return failed();
}

void AtomicFile::cancel()
{
    if (!std::exchange(isOpen, false))
        return;
    ::close(fd);
    if (std::exchange(direct, false) || std::exchange(unnamed, false))
        return;
    ::unlinkat(folder, temporary.constData(), 0);
    unregisterTemporary(std::exchange(slot, -1));
}

void removeTemporariesOnSignals()
{
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action = {}, previous = {};
        action.sa_handler = removeTemporariesAndStop;
        sigemptyset(&action.sa_mask);
        // A signal the caller chose to ignore stays ignored.
        if (::sigaction(signal, &action, &previous) == 0 && previous.sa_handler == SIG_IGN)
            ::sigaction(signal, &previous, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);
}
