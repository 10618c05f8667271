// Committing an AtomicFile on POSIX systems: linking in a file made without
// a name, renaming a temporary file over its target, and the checked
// replacement of a file that was read.

#include "atomicfile.h"

#include "fileidentity_posix.h"
#include "temporaryfiles_posix.h"

#include <QString>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// Gives the unnamed file `fd` the name `name` in `folder`, never replacing
// anything. Linking a descriptor by itself takes a capability most
// processes lack; its /proc name serves the others.
bool linkUnnamed(int fd, int folder, const char *name)
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

} // namespace

bool AtomicFile::commitUnnamed()
{
    // Something may have come to the name since the file was started: it is
    // replaced (as a named temporary file would replace it) or refused.
    bool placed = linkUnnamed(fd, folder, target.constData());
    if (!placed && errno == EEXIST && replace) {
        temporary = temporaryfiles::newName("part");
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
        temporaryfiles::remove(std::exchange(slot, -1));
        return false;
    }
    if (replaced) {
        const bool placed = replaceChecked(replaced->identity());
        temporaryfiles::remove(std::exchange(slot, -1));
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
        // cost of replacing a large file. Exchanging the two names is as
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
    temporaryfiles::remove(std::exchange(slot, -1));
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
    const QByteArray asideName = temporaryfiles::newName("old");
    const char *const aside = asideName.constData();
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
    temporaryfiles::remove(std::exchange(slot, -1));
}
