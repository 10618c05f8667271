#include "safeoutput.h"

#include "atomicfile.h"
#include "windowsfs.h"

#include <QDir>

namespace {

// A folder opened so that nobody can rename or delete it while it is held,
// and not through a link or junction. INVALID_HANDLE_VALUE otherwise.
HANDLE openFolder(const std::wstring &path, bool followLinks)
{
    return CreateFileW(
        path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
}

} // namespace

SafeOutput::~SafeOutput()
{
    if (hasLast)
        CloseHandle(lastFolder.handle);
    if (hasRoot)
        CloseHandle(root.handle);
}

bool SafeOutput::open(const QString &folder, QString &problem)
{
    if (!QDir().mkpath(folder)) {
        problem = QStringLiteral("cannot create %1").arg(folder);
        return false;
    }
    root.path = QString::fromStdWString(windowsfs::longPath(folder));
    root.handle = openFolder(root.path.toStdWString(), true);
    hasRoot = root.handle != INVALID_HANDLE_VALUE;
    if (!hasRoot) {
        problem = QStringLiteral("cannot open %1: %2").arg(folder, systemError());
        return false;
    }
    return true;
}

void SafeOutput::protect(const QString &path, const QString &reason)
{
    guardedReason = reason;
    const HANDLE file = CreateFileW(windowsfs::longPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    guarded = true;
    guardedFile = windowsfs::identityOf(file);
    CloseHandle(file);
}

bool SafeOutput::enter(const OpenFolder &dir, const QString &name, OpenFolder &next,
                       QString &problem)
{
    // Paths through held folders: none of them can be renamed meanwhile.
    next.path = dir.path + QLatin1Char('\\') + name;
    const std::wstring path = next.path.toStdWString();
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        problem = QStringLiteral("cannot create folder %1: %2").arg(name, systemError());
        return false;
    }
    next.handle = openFolder(path, false);
    if (next.handle == INVALID_HANDLE_VALUE) {
        problem = QStringLiteral("cannot open folder %1: %2").arg(name, systemError());
        return false;
    }
    DWORD attributes = 0;
    windowsfs::identityOf(next.handle, &attributes);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return true;
    CloseHandle(next.handle);
    problem =
        QStringLiteral("%1 is not a folder (a file or symbolic link is in the way)").arg(name);
    return false;
}

bool SafeOutput::look(const OpenFolder &dir, const QString &name, bool &isFolder,
                      FileIdentity &identity)
{
    const HANDLE existing =
        windowsfs::openForAttributes((dir.path + QLatin1Char('\\') + name).toStdWString());
    if (existing == INVALID_HANDLE_VALUE)
        return false;
    DWORD attributes = 0;
    identity = windowsfs::identityOf(existing, &attributes);
    CloseHandle(existing);
    isFolder =
        (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    return true;
}

void SafeOutput::release(const OpenFolder &folder)
{
    CloseHandle(folder.handle);
}
