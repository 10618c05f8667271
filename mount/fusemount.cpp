#define FUSE_USE_VERSION 312
#include "fusemount.h"

#include <QFile>

#include <fuse_lowlevel.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Nothing ever changes: the kernel may keep names, attributes and data.
constexpr double kForever = 86400;

// Where each file says it comes from.
constexpr char kOrigin[] = "user.vorland.archive";

struct timespec timeOf(qint64 milliseconds)
{
    return {time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
}

struct Served
{
    MountedTree *fs;
    const std::vector<MountSource> *sources;
    struct timespec newest; // the folders' time
    uid_t user;
    gid_t group;
};

Served &served(fuse_req_t request)
{
    return *static_cast<Served *>(fuse_req_userdata(request));
}

// Inode numbers are node indexes plus one: the root, node 0, is inode 1.
int nodeOf(fuse_ino_t inode)
{
    return int(inode) - 1;
}

bool valid(const Served &s, fuse_ino_t inode)
{
    return inode >= 1 && inode <= fuse_ino_t(INT32_MAX) && s.fs->exists(nodeOf(inode));
}

// An open file: its node, and for a compressed one the unpacked bytes.
struct Handle
{
    int node;
    std::shared_ptr<const MountedTree::Bytes> bytes;
};

void fill(const Served &s, int index, struct stat *st)
{
    const bool folder = s.fs->isFolder(index);
    const MountedTree::Storage node = folder ? MountedTree::Storage() : s.fs->storage(index);
    std::memset(st, 0, sizeof *st);
    st->st_ino = ino_t(index) + 1;
    st->st_mode = folder ? S_IFDIR | 0555 : S_IFREG | 0444;
    st->st_nlink = folder ? 2 : 1;
    st->st_uid = s.user;
    st->st_gid = s.group;
    st->st_size = off_t(node.size);
    st->st_blksize = 1 << 20;
    st->st_blocks = blkcnt_t((node.size + 511) / 512);
    st->st_atim = st->st_mtim = st->st_ctim =
        folder ? s.newest : timeOf((*s.sources)[size_t(s.fs->source(index))].modified);
}

struct fuse_entry_param entryOf(const Served &s, int index)
{
    struct fuse_entry_param entry = {};
    entry.ino = fuse_ino_t(index) + 1;
    entry.attr_timeout = kForever;
    entry.entry_timeout = kForever;
    fill(s, index, &entry.attr);
    return entry;
}

void initialise(void *, struct fuse_conn_info *connection)
{
    // Listings carry each entry's attributes, so that ls -l or a file
    // manager looks up nothing file by file; reads come in large pieces.
    if (connection->capable & FUSE_CAP_READDIRPLUS)
        connection->want |= FUSE_CAP_READDIRPLUS;
    connection->want &= ~unsigned(FUSE_CAP_READDIRPLUS_AUTO);
    if (connection->capable & FUSE_CAP_SPLICE_WRITE)
        connection->want |= FUSE_CAP_SPLICE_WRITE;
    connection->max_readahead = std::max(connection->max_readahead, 1u << 20);
    connection->max_write = 1 << 20;
    connection->max_background = 64;
    connection->congestion_threshold = 48;
}

void lookUp(fuse_req_t request, fuse_ino_t parent, const char *name)
{
    const Served &s = served(request);
    const int child = valid(s, parent) ? s.fs->child(nodeOf(parent), name) : -1;
    if (child < 0) {
        // A name that is not there is not there for good either.
        struct fuse_entry_param none = {};
        none.entry_timeout = kForever;
        fuse_reply_entry(request, &none);
        return;
    }
    const struct fuse_entry_param entry = entryOf(s, child);
    fuse_reply_entry(request, &entry);
}

void getAttributes(fuse_req_t request, fuse_ino_t inode, struct fuse_file_info *)
{
    const Served &s = served(request);
    if (!valid(s, inode)) {
        fuse_reply_err(request, ENOENT);
        return;
    }
    struct stat st;
    fill(s, nodeOf(inode), &st);
    fuse_reply_attr(request, &st, kForever);
}

// Entries from `offset` (".", "..", then the children) until `size` is full.
void listFolder(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset, bool plus)
{
    const Served &s = served(request);
    if (!valid(s, inode)) {
        fuse_reply_err(request, ENOENT);
        return;
    }
    const int folder = nodeOf(inode);
    if (!s.fs->isFolder(folder)) {
        fuse_reply_err(request, ENOTDIR);
        return;
    }
    std::vector<char> buffer(size);
    size_t used = 0;
    size_t childCount = 0;
    const int *children = s.fs->children(folder, childCount);
    const int parent = s.fs->parent(folder);
    for (size_t i = size_t(offset); i < childCount + 2; ++i) {
        const int index = i == 0   ? folder
                          : i == 1 ? (parent >= 0 ? parent : folder)
                                   : children[i - 2];
        const char *name = i == 0 ? "." : i == 1 ? ".." : s.fs->name(index);
        struct fuse_entry_param entry = entryOf(s, index);
        const size_t need = plus ? fuse_add_direntry_plus(request, buffer.data() + used,
                                                          size - used, name, &entry, off_t(i + 1))
                                 : fuse_add_direntry(request, buffer.data() + used, size - used,
                                                     name, &entry.attr, off_t(i + 1));
        if (need > size - used)
            break;
        used += need;
    }
    fuse_reply_buf(request, buffer.data(), used);
}

void readFolder(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset,
                struct fuse_file_info *)
{
    listFolder(request, inode, size, offset, false);
}

void readFolderPlus(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset,
                    struct fuse_file_info *)
{
    listFolder(request, inode, size, offset, true);
}

void openFile(fuse_req_t request, fuse_ino_t inode, struct fuse_file_info *info)
{
    const Served &s = served(request);
    if (!valid(s, inode)) {
        fuse_reply_err(request, ENOENT);
        return;
    }
    const int index = nodeOf(inode);
    if (s.fs->isFolder(index)) {
        fuse_reply_err(request, EISDIR);
        return;
    }
    if ((info->flags & O_ACCMODE) != O_RDONLY || (info->flags & O_TRUNC)) {
        fuse_reply_err(request, EROFS);
        return;
    }
    auto handle = std::make_unique<Handle>();
    handle->node = index;
    if (s.fs->storage(index).compressed) {
        int error = EIO;
        handle->bytes = s.fs->unpacked(index, error);
        if (!handle->bytes) {
            fuse_reply_err(request, error);
            return;
        }
    }
    info->fh = uint64_t(reinterpret_cast<uintptr_t>(handle.release()));
    info->keep_cache = 1;
    if (fuse_reply_open(request, info) != 0)
        delete reinterpret_cast<Handle *>(uintptr_t(info->fh));
}

void readFile(fuse_req_t request, fuse_ino_t, size_t size, off_t offset,
              struct fuse_file_info *info)
{
    const Served &s = served(request);
    const auto *handle = reinterpret_cast<const Handle *>(uintptr_t(info->fh));
    const MountedTree::Storage node = s.fs->storage(handle->node);
    const uint64_t at = uint64_t(offset);
    const size_t n = at >= node.size ? 0 : size_t(std::min<uint64_t>(size, node.size - at));
    struct stat archive;
    if (!node.compressed && s.fs->fileDescriptor(handle->node) >= 0 && n > 0 &&
        ::fstat(s.fs->fileDescriptor(handle->node), &archive) == 0 &&
        quint64(archive.st_size) >= s.fs->storedOffset(handle->node) + at + n) {
        // Straight from the archive file into the kernel's buffer. (An
        // archive that shrank is read below, and fails whole.)
        struct fuse_bufvec data = FUSE_BUFVEC_INIT(n);
        data.buf[0].flags = fuse_buf_flags(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
        data.buf[0].fd = s.fs->fileDescriptor(handle->node);
        data.buf[0].pos = off_t(s.fs->storedOffset(handle->node) + at);
        fuse_reply_data(request, &data, FUSE_BUF_SPLICE_MOVE);
        return;
    }
    std::vector<char> buffer(n);
    const int64_t got = s.fs->read(handle->node, handle->bytes.get(), buffer.data(), n, at);
    if (got < 0)
        fuse_reply_err(request, int(-got));
    else
        fuse_reply_buf(request, buffer.data(), size_t(got));
}

// The one attribute: a file's archive. A size of 0 asks only its length.
void getAttribute(fuse_req_t request, fuse_ino_t inode, const char *name, size_t size)
{
    const Served &s = served(request);
    if (!valid(s, inode)) {
        fuse_reply_err(request, ENOENT);
        return;
    }
    const int index = nodeOf(inode);
    if (s.fs->isFolder(index) || std::strcmp(name, kOrigin) != 0) {
        fuse_reply_err(request, ENODATA);
        return;
    }
    const QByteArray &path = (*s.sources)[size_t(s.fs->source(index))].path;
    if (size == 0)
        fuse_reply_xattr(request, size_t(path.size()));
    else if (size < size_t(path.size()))
        fuse_reply_err(request, ERANGE);
    else
        fuse_reply_buf(request, path.constData(), size_t(path.size()));
}

void listAttributes(fuse_req_t request, fuse_ino_t inode, size_t size)
{
    const Served &s = served(request);
    if (!valid(s, inode)) {
        fuse_reply_err(request, ENOENT);
        return;
    }
    const size_t length = s.fs->isFolder(nodeOf(inode)) ? 0 : sizeof kOrigin;
    if (size == 0)
        fuse_reply_xattr(request, length);
    else if (size < length)
        fuse_reply_err(request, ERANGE);
    else
        fuse_reply_buf(request, kOrigin, length);
}

void releaseFile(fuse_req_t request, fuse_ino_t, struct fuse_file_info *info)
{
    delete reinterpret_cast<Handle *>(uintptr_t(info->fh));
    fuse_reply_err(request, 0);
}

} // namespace

int serveTree(MountedTree &tree, const std::vector<MountSource> &sources, const QString &mountPoint,
              bool foreground, const std::function<bool()> &finish, QString &problem)
{
    qint64 newest = 0;
    for (const MountSource &source : sources)
        newest = std::max(newest, source.modified);
    Served s{&tree, &sources, timeOf(newest), ::getuid(), ::getgid()};
    struct fuse_lowlevel_ops operations = {};
    operations.init = initialise;
    operations.lookup = lookUp;
    operations.getattr = getAttributes;
    operations.readdir = readFolder;
    operations.readdirplus = readFolderPlus;
    operations.open = openFile;
    operations.read = readFile;
    operations.release = releaseFile;
    // Only a tree of several archives has something to say: each attribute
    // asked for is a round trip (ls -l asks for one file by file), and
    // without these the kernel stops asking after the first.
    if (sources.size() > 1) {
        operations.getxattr = getAttribute;
        operations.listxattr = listAttributes;
    }

    // Mounted read-only: the kernel itself answers every change with EROFS.
    char program[] = "vorland-cli";
    char options[] = "-oro,default_permissions,fsname=vorland,subtype=vorland";
    char *argv[] = {program, options, nullptr};
    struct fuse_args args = FUSE_ARGS_INIT(2, argv);
    struct fuse_session *session = fuse_session_new(&args, &operations, sizeof operations, &s);
    fuse_opt_free_args(&args);
    if (!session) {
        problem = QStringLiteral("cannot start FUSE");
        return 1;
    }
    const QByteArray point = QFile::encodeName(mountPoint);
    if (fuse_session_mount(session, point.constData()) != 0) {
        fuse_session_destroy(session);
        problem = QStringLiteral("cannot mount at %1 (is FUSE available, and is it an empty "
                                 "folder of yours?)")
                      .arg(mountPoint);
        return 1;
    }
    // In the background once the mount is there; the caller gets its prompt
    // back, with finish()'s answer as the exit status, only once that has
    // said what it has to say.
    int told = -1;
    if (!foreground) {
        int ready[2];
        const pid_t server = ::pipe2(ready, O_CLOEXEC) == 0 ? ::fork() : -1;
        if (server < 0) {
            fuse_session_unmount(session);
            fuse_session_destroy(session);
            problem = QStringLiteral("cannot go to the background: %1")
                          .arg(QString::fromLocal8Bit(std::strerror(errno)));
            return 1;
        }
        if (server > 0) {
            ::close(ready[1]);
            char status = 1; // and so if the server dies before it tells
            while (::read(ready[0], &status, 1) < 0 && errno == EINTR) {
            }
            ::_exit(status);
        }
        ::close(ready[0]);
        told = ready[1];
        ::setsid();
        if (::chdir("/") != 0) {
            // Nothing is read by name any more: where it stands does not matter.
        }
    }
    // The program's own handlers remove its temporaries and then die, which
    // would leave a dead mount behind; a mount writes none, so FUSE's take
    // their place (FUSE sets its own only where none is) and a signal
    // unmounts.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, SIG_DFL);
    fuse_set_signal_handlers(session);
    bool finished = false;
    const pthread_t loop = ::pthread_self();
    std::thread finisher([&] {
        const bool done = finished = finish();
        if (!done) {
            // Ends the loop below as Ctrl+C does: its wait is interrupted.
            fuse_session_exit(session);
            ::pthread_kill(loop, SIGTERM);
        }
        if (told >= 0) {
            const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
            if (null >= 0) {
                for (int stream = 0; stream < 3; ++stream)
                    ::dup2(null, stream);
                if (null > 2)
                    ::close(null);
            }
            const char status = done ? 0 : 1;
            while (::write(told, &status, 1) < 0 && errno == EINTR) {
            }
            ::close(told);
        }
    });
    // A configuration of our own: the older entry point leaks the one it makes.
    struct fuse_loop_config *loopConfig = fuse_loop_cfg_create();
    const int status = loopConfig ? fuse_session_loop_mt(session, loopConfig) : -ENOMEM;
    if (loopConfig)
        fuse_loop_cfg_destroy(loopConfig);
    finisher.join();
    fuse_remove_signal_handlers(session);
    fuse_session_unmount(session);
    fuse_session_destroy(session);
    // The loop answers a signal's number when one ended it, -errno when it failed.
    return status >= 0 && finished ? 0 : 1;
}
