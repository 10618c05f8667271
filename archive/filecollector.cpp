#include "filecollector.h"

#include "atomicfile.h"
#include "safepath.h"

#include <QFile>
#include <QStringList>

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

QString storedNameProblem(const QByteArray &name, QByteArray &stored)
{
    const QString decoded = QFile::decodeName(name);
    if (QFile::encodeName(decoded) != name)
        return QStringLiteral("the name is not valid in the system's file-name encoding");
    for (const QChar c : decoded) {
        if (c.unicode() > 0xFF)
            return QStringLiteral("the name has characters beyond 8 bits");
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return QStringLiteral("the name holds a control character");
        if (c == QLatin1Char('\\'))
            return QStringLiteral("the name holds a \\, which archives read as a folder separator");
    }
    stored = decoded.toLatin1();
    return QString();
}

QString storedPathProblem(const QByteArray &path)
{
    if (!safeEntryPath(path))
        return QStringLiteral("extraction would refuse the path (empty, \".\" or \"..\" "
                              "components, a drive letter, a leading separator or a control "
                              "character)");
    return QString();
}

bool storedPathOfGiven(const QString &given, QByteArray &stored, QString &problem)
{
    if (given.startsWith(QLatin1Char('/'))) {
        problem = QStringLiteral("cannot store %1: it is an absolute path (name it relative to "
                                 "the current folder, or give its entry name with --as)")
                      .arg(given);
        return false;
    }
    QStringList parts = given.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    while (!parts.isEmpty() && parts.first() == QLatin1String("."))
        parts.removeFirst();
    stored.clear();
    for (const QString &part : qAsConst(parts)) {
        QByteArray name;
        const QString refusal = storedNameProblem(QFile::encodeName(part), name);
        if (!refusal.isEmpty()) {
            problem = QStringLiteral("cannot store %1: %2").arg(given, refusal);
            return false;
        }
        stored += (stored.isEmpty() ? QByteArray() : QByteArray("\\")) + name;
    }
    const QString refusal = stored.isEmpty() ? QString() : storedPathProblem(stored);
    if (refusal.isEmpty())
        return true;
    problem = QStringLiteral("cannot store %1: %2").arg(given, refusal);
    return false;
}

void FileCollector::exclude(const QString &path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) == 0)
        excluded.push_back({quint64(info.st_dev), quint64(info.st_ino)});
}

bool FileCollector::isExcluded(quint64 device, quint64 inode) const
{
    for (const auto &file : excluded) {
        if (file.first == device && file.second == inode)
            return true;
    }
    return false;
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
            problem = storedNameProblem(name, stored);
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
