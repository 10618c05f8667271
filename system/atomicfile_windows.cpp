#include "atomicfile.h"

#include "pathrules.h"
#include "windowsfs.h"

#include <QFileInfo>

#include <atomic>
#include <cwchar>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <utility>

namespace {

// The temporary files alive at any moment, for the console's Ctrl+C handler,
// which runs on a thread of its own.
std::mutex registryLock;
std::set<std::wstring> &registry()
{
    static std::set<std::wstring> names;
    return names;
}
std::atomic<unsigned> counter{0};

BOOL WINAPI removeTemporariesAndStop(DWORD)
{
    std::lock_guard<std::mutex> guard(registryLock);
    for (const std::wstring &name : registry())
        DeleteFileW(name.c_str()); // gone once its handle closes, as the process ends
    return FALSE;                  // the system's own handler then ends the process
}

// Removes the temporary files in `folder` whose process is gone. Once per
// folder and process.
void removeLeftOvers(const std::wstring &folder)
{
    static std::mutex lock;
    static std::set<std::wstring> swept;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!swept.insert(folder).second)
            return;
    }
    WIN32_FIND_DATAW item;
    const HANDLE find = FindFirstFileExW((folder + L"\\.vorland-*.part").c_str(), FindExInfoBasic,
                                         &item, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE)
        return;
    const unsigned long self = GetCurrentProcessId();
    do {
        unsigned long pid = 0;
        unsigned number = 0;
        int length = 0;
        if (std::swscanf(item.cFileName, L".vorland-%lu-%u.part%n", &pid, &number, &length) != 2 ||
            item.cFileName[length] != 0 || pid == 0 || pid == self ||
            (item.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            continue;
        const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        if (process) {
            CloseHandle(process);
            continue;
        }
        if (GetLastError() == ERROR_INVALID_PARAMETER) // no such process
            DeleteFileW((folder + L"\\" + item.cFileName).c_str());
    } while (FindNextFileW(find, &item));
    FindClose(find);
}

// The standard output or error that is the file `target`, or null.
HANDLE standardStreamOf(const FileIdentity &target)
{
    for (DWORD stream : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE handle = GetStdHandle(stream);
        if (handle && handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK) {
            const FileIdentity id = windowsfs::identityOf(handle);
            if (id.device == target.device && id.inode == target.inode)
                return handle;
        }
    }
    return nullptr;
}

HANDLE duplicate(HANDLE handle)
{
    HANDLE copy = nullptr;
    const HANDLE self = GetCurrentProcess();
    return DuplicateHandle(self, handle, self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS) ? copy
                                                                                       : nullptr;
}

} // namespace

QString systemError()
{
    return windowsfs::message(GetLastError());
}

AtomicFile::~AtomicFile()
{
    cancel();
    closeFolder();
}

void AtomicFile::closeFolder()
{
    if (std::exchange(hasFolder, false))
        CloseHandle(folder);
}

bool AtomicFile::open(const QString &path, bool overwrite)
{
    const QFileInfo info(path);
    // Devices (NUL, CON, "\\.\pipe\name") are written as they are.
    if (path.startsWith(QLatin1String("\\\\.\\")) || path.startsWith(QLatin1String("//./")) ||
        isWindowsDeviceName(info.fileName())) {
        const HANDLE device =
            CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        return writeThrough(device, device != INVALID_HANDLE_VALUE, path);
    }
    const HANDLE existing = windowsfs::openForAttributes(windowsfs::longPath(path));
    if (existing != INVALID_HANDLE_VALUE) {
        const FileIdentity id = windowsfs::identityOf(existing);
        CloseHandle(existing);
        // The caller's own output, redirected to this file, is written
        // through its handle.
        if (const HANDLE stream = standardStreamOf(id)) {
            const HANDLE copy = duplicate(stream);
            return writeThrough(copy, copy != nullptr, path);
        }
    }
    const HANDLE dir = CreateFileW(windowsfs::longPath(info.path()).c_str(), FILE_LIST_DIRECTORY,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (dir == INVALID_HANDLE_VALUE) {
        failure = QStringLiteral("cannot write %1: %2").arg(path, systemError());
        return false;
    }
    return start(dir, QString::fromStdWString(windowsfs::longPath(info.path())), info.fileName(),
                 path, overwrite);
}

bool AtomicFile::openInPlace(const QString &path)
{
    const HANDLE opened =
        CreateFileW(windowsfs::longPath(path).c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return open(path);
    DWORD attributes = 0;
    windowsfs::identityOf(opened, &attributes);
    if ((attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        GetFileType(opened) != FILE_TYPE_DISK) {
        CloseHandle(opened);
        return open(path);
    }
    if (!SetEndOfFile(opened)) {
        CloseHandle(opened);
        return writeThrough(nullptr, false, path);
    }
    return writeThrough(opened, true, path);
}

bool AtomicFile::writeThrough(NativeHandle handle, bool opened, const QString &path)
{
    cancel();
    shown = path;
    failure.clear();
    lost.clear();
    size = 0;
    fd = handle;
    isOpen = direct = opened;
    if (!isOpen)
        fail();
    return isOpen;
}

bool AtomicFile::canSeek() const
{
    if (!direct)
        return true;
    LARGE_INTEGER zero = {}, at = {};
    return GetFileType(fd) == FILE_TYPE_DISK && SetFilePointerEx(fd, zero, &at, FILE_CURRENT) &&
           at.QuadPart == 0;
}

bool AtomicFile::openAt(const OpenFolder &folderOpen, const QString &name, const QString &shownName,
                        bool overwrite, bool absent)
{
    const HANDLE dir = duplicate(folderOpen.handle);
    if (!dir) {
        failure = QStringLiteral("cannot write %1: %2").arg(shownName, systemError());
        return false;
    }
    return start(dir, folderOpen.path, name, shownName, overwrite, absent);
}

bool AtomicFile::start(NativeHandle dir, const QString &folderPath, const QString &name,
                       const QString &shownName, bool overwrite, bool)
{
    cancel();
    closeFolder();
    folder = dir;
    hasFolder = true;
    shown = shownName;
    replace = overwrite;
    size = 0;
    failure.clear();
    lost.clear();

    // The folder is held open and cannot be renamed meanwhile, so its path
    // still reaches the folder that was opened.
    const std::wstring where = folderPath.toStdWString();
    removeLeftOvers(where);
    targetPath = QString::fromStdWString(where + L"\\" + name.toStdWString());
    wchar_t temporary[64];
    std::swprintf(temporary, 64, L".vorland-%lu-%u.part", GetCurrentProcessId(), counter++);
    temporaryPath = QString::fromStdWString(where + L"\\" + temporary);
    fd = CreateFileW(temporaryPath.toStdWString().c_str(), GENERIC_WRITE | GENERIC_READ,
                     FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    isOpen = fd != INVALID_HANDLE_VALUE;
    if (!isOpen) {
        fail();
        return false;
    }
    std::lock_guard<std::mutex> guard(registryLock);
    registry().insert(temporaryPath.toStdWString());
    return true;
}

void AtomicFile::keepOwnerAndMode()
{
    // ReplaceFileW keeps the attributes and access rules when committing.
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
        DWORD wrote = 0;
        const DWORD piece = DWORD(qMin<quint64>(n - done, 1u << 30));
        BOOL ok;
        if (direct && !position) {
            ok = WriteFile(fd, data + done, piece, &wrote, nullptr);
        } else {
            // Every write names its place: one at a position moves the
            // file's own pointer.
            const quint64 at = (position ? *position : size) + done;
            OVERLAPPED where = {};
            where.Offset = DWORD(at);
            where.OffsetHigh = DWORD(at >> 32);
            ok = WriteFile(fd, data + done, piece, &wrote, &where);
        }
        if (!ok || wrote == 0) {
            if (ok)
                SetLastError(ERROR_DISK_FULL);
            fail();
            return false;
        }
        done += wrote;
    }
    return true;
}

bool AtomicFile::truncate(quint64 length)
{
    if (!isOpen || length > size)
        return false;
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(length);
    if (!SetFilePointerEx(fd, at, nullptr, FILE_BEGIN) || !SetEndOfFile(fd)) {
        fail();
        return false;
    }
    size = length;
    return true;
}

bool AtomicFile::copyFrom(const HeldFile &source, quint64 offset, quint64 length,
                          const QString &sourceName)
{
    if (!isOpen)
        return false;
    constexpr size_t kBuffer = 1 << 20;
    if (!copyBuffer)
        copyBuffer.reset(new (std::nothrow) char[kBuffer]);
    if (!copyBuffer) {
        failure = QStringLiteral("Not enough memory to copy %1").arg(sourceName);
        return false;
    }
    char *const buffer = copyBuffer.get();
    while (length > 0) {
        const size_t piece = size_t(qMin<quint64>(length, kBuffer));
        const int64_t got = source.readAt(buffer, piece, offset);
        if (got < 0) {
            failure = QStringLiteral("cannot read %1: %2").arg(sourceName, systemError());
            return false;
        }
        if (got == 0) {
            failure = QStringLiteral("cannot read %1: it ended %2 bytes early")
                          .arg(sourceName)
                          .arg(length);
            return false;
        }
        if (!write(buffer, size_t(got)))
            return false;
        offset += quint64(got);
        length -= quint64(got);
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
    isOpen = false;
    if (std::exchange(direct, false)) {
        if (CloseHandle(fd))
            return true;
        fail();
        return false;
    }
    const std::wstring from = temporaryPath.toStdWString(), to = targetPath.toStdWString();
    bool placed = FlushFileBuffers(fd) && CloseHandle(fd);
    if (!placed)
        fail();
    DWORD attributes = 0;
    const HANDLE existing =
        placed && replace ? windowsfs::openForAttributes(to) : INVALID_HANDLE_VALUE;
    if (existing != INVALID_HANDLE_VALUE) {
        windowsfs::identityOf(existing, &attributes);
        CloseHandle(existing);
    }
    if (placed && replaced) {
        placed = replaceChecked(replaced->identity());
        std::lock_guard<std::mutex> guard(registryLock);
        registry().erase(from);
        return placed;
    }
    if (placed) {
        // A regular file is replaced keeping its attributes and access
        // rules; a link is replaced itself, never what it points to.
        const bool regular =
            existing != INVALID_HANDLE_VALUE &&
            !(attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
        placed = (regular &&
                  ReplaceFileW(to.c_str(), from.c_str(), nullptr,
                               REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS,
                               nullptr, nullptr)) ||
                 MoveFileExW(from.c_str(), to.c_str(),
                             MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0));
        if (!placed) {
            const DWORD error = GetLastError();
            failure =
                error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS
                    ? QStringLiteral("cannot write %1: it already exists").arg(shown)
                    : QStringLiteral("cannot write %1: %2").arg(shown, windowsfs::message(error));
        }
    }
    if (!placed)
        DeleteFileW(from.c_str());
    std::lock_guard<std::mutex> guard(registryLock);
    registry().erase(from);
    return placed;
}

namespace {

// Whether `path` is the regular file `expected`, as it was.
bool holds(const std::wstring &path, const FileIdentity &expected)
{
    const HANDLE handle = windowsfs::openForAttributes(path);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD attributes = 0;
    const bool same = windowsfs::identityOf(handle, &attributes) == expected &&
                      !(attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
    CloseHandle(handle);
    return same;
}

constexpr DWORD kReplaceFlags = REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS;

} // namespace

bool AtomicFile::replaceChecked(const FileIdentity &expected)
{
    // The file at the name is replaced with a backup of it kept, and the
    // backup checked: another program may have renamed a file of its own
    // over the name since the look before. If so, that file is put back.
    const std::wstring ours = temporaryPath.toStdWString(), name = targetPath.toStdWString();
    const std::wstring aside = ours + L".old";
    auto raced = [&] {
        failure = QStringLiteral("%1 was changed by another program meanwhile; nothing was written")
                      .arg(shown);
        DeleteFileW(ours.c_str());
        return false;
    };
    if (!holds(name, expected))
        return raced();
    if (!ReplaceFileW(name.c_str(), ours.c_str(), aside.c_str(), kReplaceFlags, nullptr, nullptr)) {
        const DWORD error = GetLastError();
        // The replacement takes two renames, and may fail between them
        // (another program's file came to the name): the file moved to the
        // backup's name then goes back, unless another took its place,
        // which replaced it as that program meant.
        if (GetFileAttributesW(aside.c_str()) != INVALID_FILE_ATTRIBUTES &&
            !MoveFileExW(aside.c_str(), name.c_str(), 0)) {
            if (!holds(aside, expected)) {
                failure = QStringLiteral("cannot write %1: another program changed it meanwhile, "
                                         "and its file could not be put back: it is %2 beside it")
                              .arg(shown, QString::fromStdWString(aside));
                DeleteFileW(ours.c_str());
                return false;
            }
            DeleteFileW(aside.c_str());
        }
        if (!holds(name, expected))
            return raced();
        failure = QStringLiteral("cannot write %1: %2").arg(shown, windowsfs::message(error));
        DeleteFileW(ours.c_str());
        return false;
    }
    if (holds(aside, expected)) {
        DeleteFileW(aside.c_str()); // gone once the last handle to it closes
        return true;
    }
    if (ReplaceFileW(name.c_str(), aside.c_str(), ours.c_str(), kReplaceFlags, nullptr, nullptr))
        return raced();
    failure = QStringLiteral("cannot write %1: another program changed it meanwhile, and its "
                             "file could not be put back: it is %2 beside it")
                  .arg(shown, QString::fromStdWString(aside));
    return false;
}

void AtomicFile::cancel()
{
    if (!std::exchange(isOpen, false))
        return;
    CloseHandle(fd);
    if (std::exchange(direct, false))
        return;
    const std::wstring name = temporaryPath.toStdWString();
    DeleteFileW(name.c_str());
    std::lock_guard<std::mutex> guard(registryLock);
    registry().erase(name);
}

void removeTemporariesOnSignals()
{
    SetConsoleCtrlHandler(removeTemporariesAndStop, TRUE);
}
