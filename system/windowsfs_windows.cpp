#include "windowsfs.h"

#include <QDir>
#include <QFileInfo>

namespace windowsfs {

std::wstring longPath(const QString &path)
{
    QString native = QDir::toNativeSeparators(path);
    if (native.startsWith(QLatin1String("\\\\?\\")) || native.startsWith(QLatin1String("\\\\.\\")))
        return native.toStdWString();
    native = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (native.startsWith(QLatin1String("\\\\")))
        native = QLatin1String("\\\\?\\UNC\\") + native.mid(2);
    else
        native.prepend(QLatin1String("\\\\?\\"));
    return native.toStdWString();
}

QString message(DWORD error)
{
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString result = n ? QString::fromWCharArray(text, int(n)).trimmed()
                       : QStringLiteral("system error %1").arg(error);
    LocalFree(text);
    if (result.endsWith(QLatin1Char('.')))
        result.chop(1);
    return result;
}

FileIdentity identityOf(HANDLE handle, DWORD *attributes)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    FileIdentity id;
    if (!GetFileInformationByHandle(handle, &info))
        return id;
    id.device = info.dwVolumeSerialNumber;
    id.inode = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    id.size = (quint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    // 100-nanosecond steps since 1601.
    const quint64 ticks =
        (quint64(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
    id.modified = qint64(ticks - 116444736000000000ull) * 100;
    if (attributes)
        *attributes = info.dwFileAttributes;
    return id;
}

HANDLE openForAttributes(const std::wstring &path)
{
    return CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

} // namespace windowsfs
