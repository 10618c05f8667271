#include "heldfile.h"

#include "windowsfs.h"

HeldFile::~HeldFile()
{
    close();
}

void HeldFile::close()
{
    if (open_)
        CloseHandle(fd);
    open_ = false;
}

bool HeldFile::open(const QString &path, bool followLinks)
{
    // Others may read, write, rename and delete it meanwhile, as on other
    // systems: what is read still comes from the file that was opened.
    const HANDLE opening = CreateFileW(
        windowsfs::longPath(path).c_str(), GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
    if (opening == INVALID_HANDLE_VALUE) {
        failure = windowsfs::message(GetLastError());
        return false;
    }
    DWORD attributes = 0;
    const FileIdentity identity = windowsfs::identityOf(opening, &attributes);
    if (!followLinks && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(opening);
        failure = QStringLiteral("it is a symbolic link");
        return false;
    }
    close();
    fd = opening;
    open_ = true;
    regular = GetFileType(fd) == FILE_TYPE_DISK && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    opened = identity;
    failure.clear();
    return true;
}

int64_t HeldFile::readAt(void *out, size_t n, quint64 offset) const
{
    size_t done = 0;
    while (done < n) {
        OVERLAPPED at = {};
        const quint64 position = offset + done;
        at.Offset = DWORD(position);
        at.OffsetHigh = DWORD(position >> 32);
        DWORD got = 0;
        const DWORD want = DWORD(qMin<size_t>(n - done, 1u << 30));
        if (!ReadFile(fd, static_cast<char *>(out) + done, want, &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            return -1;
        }
        if (got == 0)
            break;
        done += got;
    }
    return int64_t(done);
}

bool HeldFile::isNamedBy(const QString &path) const
{
    if (!open_)
        return false;
    const HANDLE named = CreateFileW(windowsfs::longPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE)
        return false;
    const bool same = windowsfs::identityOf(named) == opened && windowsfs::identityOf(fd) == opened;
    CloseHandle(named);
    return same;
}

bool HeldFile::isUnchanged() const
{
    return open_ && windowsfs::identityOf(fd) == opened;
}

HeldFile::Lock HeldFile::lockExclusive() const
{
    // Windows locks keep others from reading the bytes they cover: one byte
    // far past any end is locked, so readers of the file go on reading.
    OVERLAPPED at = {};
    at.Offset = 0xFFFFFFFF;
    at.OffsetHigh = 0x7FFFFFFF;
    if (LockFileEx(fd, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return Lock::Taken;
    return GetLastError() == ERROR_LOCK_VIOLATION ? Lock::Busy : Lock::Failed;
}
