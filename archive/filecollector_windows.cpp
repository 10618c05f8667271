#include "filecollector.h"

#include "windowsfs.h"

namespace {

// The identity and attributes of the file at `path`, not following a link.
bool lookAt(const QString &path, FileIdentity &identity, DWORD &attributes)
{
    const HANDLE handle = windowsfs::openForAttributes(windowsfs::longPath(path));
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    identity = windowsfs::identityOf(handle, &attributes);
    CloseHandle(handle);
    return true;
}

} // namespace

void FileCollector::exclude(const QString &path)
{
    const HANDLE handle = CreateFileW(windowsfs::longPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    const FileIdentity identity = windowsfs::identityOf(handle);
    CloseHandle(handle);
    excluded.push_back({identity.device, identity.inode});
}

bool FileCollector::addFile(const QString &file, const QByteArray &path, QString &problem)
{
    FileIdentity identity;
    DWORD attributes = 0;
    if (!lookAt(file, identity, attributes)) {
        problem =
            QStringLiteral("cannot read %1: %2").arg(file, windowsfs::message(GetLastError()));
        return false;
    }
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        problem = QStringLiteral("%1 is not a regular file").arg(file);
        return false;
    }
    if (isExcluded(identity.device, identity.inode)) {
        problem = QStringLiteral("%1 is the archive being written").arg(file);
        return false;
    }
    problem = storedPathProblem(path);
    if (!problem.isEmpty()) {
        problem = QStringLiteral("cannot store %1: %2").arg(file, problem);
        return false;
    }
    files.push_back({file, path, identity.size});
    return true;
}

bool FileCollector::addFolder(const QString &folder, const QByteArray &prefix, QString &problem)
{
    struct Pending
    {
        QString folder;
        QByteArray stored;
    };
    std::vector<Pending> pending{{folder, prefix}};
    while (!pending.empty()) {
        const Pending current = pending.back();
        pending.pop_back();
        WIN32_FIND_DATAW item;
        const std::wstring pattern = windowsfs::longPath(current.folder) + L"\\*";
        const HANDLE find =
            FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &item, FindExSearchNameMatch,
                             nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (find == INVALID_HANDLE_VALUE) {
            problem = QStringLiteral("cannot read folder %1: %2")
                          .arg(current.folder, windowsfs::message(GetLastError()));
            return false;
        }
        std::vector<Pending> below;
        bool ok = true;
        do {
            const QString name = QString::fromWCharArray(item.cFileName);
            if (name == QLatin1String(".") || name == QLatin1String(".."))
                continue;
            const QString shown = current.folder + QLatin1Char('/') + name;
            if (item.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                // Links and junctions are not packed, and that is said.
                warnings << QStringLiteral("left out symbolic link %1").arg(shown);
                continue;
            }
            const bool isFolder = item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
            if (!isFolder && !excluded.empty()) {
                FileIdentity identity;
                DWORD attributes = 0;
                if (lookAt(shown, identity, attributes) &&
                    isExcluded(identity.device, identity.inode))
                    continue;
            }
            QByteArray stored;
            problem = storedNameProblem(name, stored);
            if (!problem.isEmpty()) {
                problem = QStringLiteral("cannot store %1: %2").arg(shown, problem);
                ok = false;
                break;
            }
            const QByteArray path =
                current.stored.isEmpty() ? stored : current.stored + '\\' + stored;
            if (isFolder) {
                below.push_back({shown, path});
                continue;
            }
            problem = storedPathProblem(path);
            if (!problem.isEmpty()) {
                problem = QStringLiteral("cannot store %1: %2").arg(shown, problem);
                ok = false;
                break;
            }
            const quint64 size = (quint64(item.nFileSizeHigh) << 32) | item.nFileSizeLow;
            files.push_back({shown, path, size});
        } while (FindNextFileW(find, &item));
        const DWORD error = ok ? GetLastError() : ERROR_NO_MORE_FILES;
        FindClose(find);
        if (!ok)
            return false;
        if (error != ERROR_NO_MORE_FILES) {
            problem = QStringLiteral("cannot read folder %1: %2")
                          .arg(current.folder, windowsfs::message(error));
            return false;
        }
        pending.insert(pending.end(), below.rbegin(), below.rend());
    }
    return true;
}
