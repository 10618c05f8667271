#include "folderwalk.h"

#include "atomicfile.h"
#include "fileidentity_posix.h"

#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct DirCloser
{
    void operator()(DIR *dir) const { ::closedir(dir); }
};

void describe(const struct stat &info, FolderItem &item)
{
    item.kind = S_ISREG(info.st_mode)   ? FolderItem::File
                : S_ISDIR(info.st_mode) ? FolderItem::Folder
                : S_ISLNK(info.st_mode) ? FolderItem::Link
                                        : FolderItem::Other;
    item.identity = identityOf(info);
}

} // namespace

bool listFolder(const QString &folder, bool,
                const std::function<bool(const FolderItem &item)> &visit, QString &problem)
{
    const int fd = ::open(QFile::encodeName(folder).constData(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    std::unique_ptr<DIR, DirCloser> dir(fd >= 0 ? ::fdopendir(fd) : nullptr);
    if (!dir) {
        problem = QStringLiteral("cannot read folder %1: %2").arg(folder, systemError());
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    FolderItem item;
    for (;;) {
        errno = 0; // readdir's end and its failure differ only in errno
        const dirent *entry = ::readdir(dir.get());
        if (!entry)
            break;
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        item.name = QFile::decodeName(name);
        item.exactName = QFile::encodeName(item.name) == name;
        struct stat info;
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            problem = QStringLiteral("cannot read %1/%2: %3").arg(folder, item.name, systemError());
            return false;
        }
        describe(info, item);
        if (!visit(item))
            return false;
    }
    if (errno != 0) {
        problem = QStringLiteral("cannot read folder %1: %2").arg(folder, systemError());
        return false;
    }
    return true;
}

bool lookAt(const QString &path, bool followLinks, FolderItem &item, QString &problem)
{
    struct stat info;
    const QByteArray name = QFile::encodeName(path);
    if ((followLinks ? ::stat(name.constData(), &info) : ::lstat(name.constData(), &info)) != 0) {
        problem = QStringLiteral("cannot read %1: %2").arg(path, systemError());
        return false;
    }
    describe(info, item);
    return true;
}
