#pragma once

#include "heldfile.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <memory>

// A folder held open to write files into: its handle and the path it was
// opened by, by which Windows names the files in it (POSIX systems name them
// relative to the handle and leave the path empty).
struct OpenFolder
{
    NativeHandle handle{};
    QString path;
    // Set by an owner that keeps the folder open until every file started
    // in it is committed or cancelled: the files then use its handle rather
    // than a copy of their own.
    bool outlivesFiles = false;
};

// A file written whole or not at all: the bytes go to a temporary file beside
// the target, created exclusively and without following links, which commit()
// renames over the target's name. A symbolic link at that name is replaced, never followed,
// and a failure (or a destructor without commit) removes the temporary file,
// leaving whatever stood at the name before untouched.
//
// Some targets are written through, never replaced: a device or a pipe
// (there is nothing to rename over it), a file that this process holds as its
// standard output or error (/dev/stdout of a command whose output goes to a
// file: the caller reads it through its own descriptor), any other name under
// /dev or /proc (on Windows, "\\.\" names and devices such as NUL), and, with
// openInPlace(), a regular file that exists.
//
// A replaced file keeps its permissions (never the set-user, set-group and
// sticky bits) and, where the process may set them, its owner and group
// (caveat() says when it could not); on Windows, its attributes and access
// rules.
//
// A temporary file left by a process that was killed (SIGKILL, a crash) is
// recognised by its name and removed by the next AtomicFile started in its
// folder, once no process of its number runs.
//
// One implementation per system: atomicfile_posix.cpp, atomicfile_windows.cpp.
//
// Messages name what failed and the system's reason ("No space left on
// device"); nothing is reported through the hook, the caller decides.
class AtomicFile
{
public:
    AtomicFile() = default;
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // Starts the file at `path`. `overwrite` false makes commit() fail when
    // something exists at the name by then.
    bool open(const QString &path, bool overwrite = true);
    // Starts the file `name` inside `folder` (a copy of its handle is kept). `shownName` is what
    // messages call it. `absent` says the caller found nothing at the name just before, so there is
    // no owner or mode to keep.
    bool openAt(const OpenFolder &folder, const QString &name, const QString &shownName,
                bool overwrite = true, bool absent = false);
    // As open(), but a regular file that exists at `path` (not a symbolic
    // link) is truncated and written into rather than replaced: for outputs
    // that the caller created and keeps open, as thumbnail services do.
    bool openInPlace(const QString &path);

    // False for a target written through that cannot take writeAt(): a pipe,
    // or a descriptor that appends or does not stand at its start.
    bool canSeek() const;

    bool write(const char *data, size_t n);
    bool write(const QByteArray &bytes) { return write(bytes.constData(), size_t(bytes.size())); }
    // Writes at `position` without moving the end (for a header written last).
    bool writeAt(const char *data, size_t n, quint64 position);
    // Appends `length` bytes of `source`, from `offset`: copied by the
    // kernel (copy_file_range) where it can, through a buffer otherwise. A
    // source that ends early fails with `sourceName` named.
    bool copyFrom(const HeldFile &source, quint64 offset, quint64 length,
                  const QString &sourceName);
    // Bytes appended so far: where the next write lands.
    quint64 written() const { return size; }
    // Cuts what was appended back to `length` bytes (no more than
    // written()), where the next write then lands: for bytes written in
    // vain. Only for a file that can seek.
    bool truncate(quint64 length);

    // Closes the temporary file and renames it over the name. False, with
    // problem() set and the temporary file removed, when it cannot.
    //
    // With `replaced`, the file read from that name which the new one
    // replaces: the commit takes place only while the name still stands for
    // it, unchanged, and checks afterwards that what it replaced was that
    // file. Where another program put a file of its own there in between,
    // that file is put back, the new one is removed, and problem() says "NAME
    // was changed by another program meanwhile; nothing was written". POSIX
    // systems exchange the two names, then check; a file system that cannot
    // exchange names has the old file moved aside, checked and the new one
    // linked in, no file at the name for that moment. Windows replaces with
    // a backup of the old file, checks the backup, and replaces back.
    bool commit(const HeldFile *replaced = nullptr);
    // Removes the temporary file; the name keeps what it had.
    void cancel();

    // What went wrong, as "cannot write NAME: reason".
    QString problem() const { return failure; }
    // What a committed file did not keep of the one it replaced ("NAME now
    // belongs to uid 0: its owner 65534 could not be kept: reason"); empty
    // when it kept everything.
    QString caveat() const { return lost; }

private:
    void fail();
    // Writes all `n` bytes at the end, or at `*position` without moving it.
    bool put(const char *data, size_t n, const quint64 *position);
    bool start(NativeHandle folder, const QString &folderPath, const QString &name,
               const QString &shownName, bool overwrite, bool absent = false);
    bool writeThrough(NativeHandle handle, bool opened, const QString &path);
    void keepOwnerAndMode();
    // A file without a name, linked in by commit() (POSIX systems that have them).
    bool openUnnamed();
    bool commitUnnamed();
    // The commit of a file replacing `expected`: see commit().
    bool replaceChecked(const FileIdentity &expected);
    void closeFolder();

    NativeHandle folder{};  // owned, while hasFolder
    NativeHandle fd{};      // while isOpen
    bool hasFolder = false; // `folder` is ours to close
    bool isOpen = false;
    int slot = -1;
    bool replace = true;
    bool direct = false;  // writing straight to a device or pipe
    bool unnamed = false; // writing a file that has no name yet
    QByteArray target;    // names in the folder, where the system has
    QByteArray temporary; // calls relative to a folder (POSIX)
    QString targetPath;   // whole paths, where it has not (Windows)
    QString temporaryPath;
    QString shown;
    QString failure;
    QString lost;
    quint64 size = 0;
    bool noKernelCopy = false;          // copyFrom() found the kernel cannot copy here
    std::unique_ptr<char[]> copyBuffer; // and copies through this instead
};

// Writes `n` bytes to `path` through an AtomicFile. False, with `problem`
// set, when the file was not written.
bool writeFileAtomically(const QString &path, const char *data, size_t n, QString &problem);

// Makes every temporary file of a live AtomicFile go away when the process is
// stopped by SIGINT, SIGTERM or SIGHUP (on Windows, Ctrl+C, Ctrl+Break or the
// console closing), and makes a write past the file-size limit fail with
// EFBIG instead of killing the process (SIGXFSZ). For programs, not for
// libraries loaded by others.
void removeTemporariesOnSignals();

// The system's message for the last failed call (errno, or on Windows
// GetLastError()).
QString systemError();
