#include "heldfile.h"

#include "atomicfile.h"
#include "fileidentity_posix.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

HeldFile::~HeldFile()
{
    close();
}

void HeldFile::close()
{
    if (open_)
        ::close(fd);
    open_ = false;
}

bool HeldFile::open(const QString &path, bool followLinks)
{
    const int opening = ::open(QFile::encodeName(path).constData(),
                               O_RDONLY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
    struct stat info;
    if (opening < 0 || ::fstat(opening, &info) != 0) {
        failure = systemError();
        if (opening >= 0)
            ::close(opening);
        return false;
    }
    close();
    fd = opening;
    open_ = true;
    regular = S_ISREG(info.st_mode);
    opened = identityOf(info);
    failure.clear();
    return true;
}

int64_t HeldFile::readAt(void *out, size_t n, quint64 offset) const
{
    size_t done = 0;
    while (done < n) {
        const ssize_t got =
            ::pread(fd, static_cast<char *>(out) + done, n - done, off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += size_t(got);
    }
    return int64_t(done);
}

bool HeldFile::isNamedBy(const QString &path) const
{
    struct stat named, held;
    return open_ && ::stat(QFile::encodeName(path).constData(), &named) == 0 &&
           ::fstat(fd, &held) == 0 && identityOf(named) == opened && identityOf(held) == opened;
}

bool HeldFile::isUnchanged() const
{
    struct stat held;
    return open_ && ::fstat(fd, &held) == 0 && identityOf(held) == opened;
}

HeldFile::Lock HeldFile::lockExclusive() const
{
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        return errno == EWOULDBLOCK ? Lock::Busy : Lock::Failed;
    }
    return Lock::Taken;
}
