#include "folderwalk.h"

#include "windowsfs.h"

namespace {

FolderItem::Kind kindOf(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? FolderItem::Link
           : (attributes & FILE_ATTRIBUTE_DIRECTORY)   ? FolderItem::Folder
                                                       : FolderItem::File;
}

} // namespace

bool listFolder(const QString &folder, bool identify,
                const std::function<bool(const FolderItem &item)> &visit, QString &problem)
{
    WIN32_FIND_DATAW found;
    const std::wstring pattern = windowsfs::longPath(folder) + L"\\*";
    const HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        problem = QStringLiteral("cannot read folder %1: %2")
                      .arg(folder, windowsfs::message(GetLastError()));
        return false;
    }
    FolderItem item;
    bool stopped = false;
    do {
        item.name = QString::fromWCharArray(found.cFileName);
        if (item.name == QLatin1String(".") || item.name == QLatin1String(".."))
            continue;
        item.kind = kindOf(found.dwFileAttributes);
        item.identity = FileIdentity();
        item.identity.size = (quint64(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        if (identify && item.kind == FolderItem::File) {
            FolderItem looked;
            QString ignored;
            if (lookAt(folder + QLatin1Char('/') + item.name, false, looked, ignored))
                item.identity = looked.identity;
        }
        stopped = !visit(item);
    } while (!stopped && FindNextFileW(find, &found));
    const DWORD error = stopped ? ERROR_NO_MORE_FILES : GetLastError();
    FindClose(find);
    if (stopped)
        return false;
    if (error != ERROR_NO_MORE_FILES) {
        problem =
            QStringLiteral("cannot read folder %1: %2").arg(folder, windowsfs::message(error));
        return false;
    }
    return true;
}

bool lookAt(const QString &path, bool followLinks, FolderItem &item, QString &problem)
{
    const std::wstring name = windowsfs::longPath(path);
    const HANDLE handle =
        followLinks ? CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)
                    : windowsfs::openForAttributes(name);
    if (handle == INVALID_HANDLE_VALUE) {
        problem =
            QStringLiteral("cannot read %1: %2").arg(path, windowsfs::message(GetLastError()));
        return false;
    }
    DWORD attributes = 0;
    item.identity = windowsfs::identityOf(handle, &attributes);
    item.kind = kindOf(attributes);
    CloseHandle(handle);
    return true;
}
