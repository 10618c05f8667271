#include "filecollector.h"

#include "atomicfile.h"

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

} // namespace

void FileCollector::exclude(const QString &path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) == 0)
        excluded.push_back({quint64(info.st_dev), quint64(info.st_ino)});
}

bool FileCollector::addFile(const QString &file, const QByteArray &path, QString &problem)
{
    struct stat info;
    if (::lstat(QFile::encodeName(file).constData(), &info) != 0) {
        problem = QStringLiteral("cannot read %1: %2").arg(file, systemError());
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        problem = QStringLiteral("%1 is not a regular file").arg(file);
        return false;
    }
    if (isExcluded(quint64(info.st_dev), quint64(info.st_ino))) {
        problem = QStringLiteral("%1 is the archive being written").arg(file);
        return false;
    }
    problem = storedPathProblem(path);
    if (!problem.isEmpty()) {
        problem = QStringLiteral("cannot store %1: %2").arg(file, problem);
        return false;
    }
    files.push_back({file, path, quint64(info.st_size)});
    return true;
}

bool FileCollector::addFolder(const QString &folder, const QByteArray &prefix, QString &problem)
{
    // Folders still to read, with the stored path of what they hold.
    struct Pending
    {
        QString folder;
        QByteArray stored;
    };
    std::vector<Pending> pending{{folder, prefix}};
    while (!pending.empty()) {
        const Pending current = pending.back();
        pending.pop_back();
        const int fd = ::open(QFile::encodeName(current.folder).constData(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        std::unique_ptr<DIR, DirCloser> dir(fd >= 0 ? ::fdopendir(fd) : nullptr);
        if (!dir) {
            problem =
                QStringLiteral("cannot read folder %1: %2").arg(current.folder, systemError());
            if (fd >= 0)
                ::close(fd);
            return false;
        }
        std::vector<Pending> below;
        for (;;) {
            errno = 0; // readdir's end and its failure differ only in errno
            const dirent *item = ::readdir(dir.get());
            if (!item)
                break;
            const QByteArray name(item->d_name);
            if (name == "." || name == "..")
                continue;
            const QString shown = current.folder + QLatin1Char('/') + QFile::decodeName(name);
            struct stat info;
            if (::fstatat(::dirfd(dir.get()), item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
                problem = QStringLiteral("cannot read %1: %2").arg(shown, systemError());
                return false;
            }
            if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
                // Symbolic links and special files are not packed, and
                // that is said.
                warnings << (S_ISLNK(info.st_mode)
                                 ? QStringLiteral("left out symbolic link %1").arg(shown)
                                 : QStringLiteral("left out %1: not a regular file").arg(shown));
                continue;
            }
            if (isExcluded(quint64(info.st_dev), quint64(info.st_ino)))
                continue;
            QByteArray stored;
            const QString decoded = QFile::decodeName(name);
            problem = QFile::encodeName(decoded) != name
                          ? QStringLiteral("the name is not valid in the system's file-name "
                                           "encoding")
                          : storedNameProblem(decoded, stored);
            if (!problem.isEmpty()) {
                problem = QStringLiteral("cannot store %1: %2").arg(shown, problem);
                return false;
            }
            const QByteArray path =
                current.stored.isEmpty() ? stored : current.stored + '\\' + stored;
            if (S_ISDIR(info.st_mode)) {
                below.push_back({shown, path});
                continue;
            }
            problem = storedPathProblem(path);
            if (!problem.isEmpty()) {
                problem = QStringLiteral("cannot store %1: %2").arg(shown, problem);
                return false;
            }
            files.push_back({shown, path, quint64(info.st_size)});
        }
        if (errno != 0) {
            problem =
                QStringLiteral("cannot read folder %1: %2").arg(current.folder, systemError());
            return false;
        }
        pending.insert(pending.end(), below.rbegin(), below.rend());
    }
    return true;
}
