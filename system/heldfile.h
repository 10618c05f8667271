#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

// What the system hands out for an open file or folder.
#if defined(_WIN32)
using NativeHandle = void *; // a HANDLE
#else
using NativeHandle = int; // a descriptor
#endif

// What tells one version of a file from another: which file it is (device
// and inode, or volume serial and file index) and, since a file can also be
// rewritten in place, its size and modification time.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    quint64 size = 0;
    qint64 modified = 0; // nanoseconds since the epoch

    bool operator==(const FileIdentity &other) const
    {
        return device == other.device && inode == other.inode && size == other.size &&
               modified == other.modified;
    }
    bool operator!=(const FileIdentity &other) const { return !(*this == other); }
};

// A file opened for reading and held open until the object goes: whatever
// becomes of its name, everything read through it comes from the file that
// was opened. A program that later replaces the file under that name checks
// first that the name still stands for it (isNamedBy), and takes an advisory
// lock so that two such programs do not work on it at once.
class HeldFile
{
public:
    HeldFile() = default;
    ~HeldFile();
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;

    // Opens `path` for reading, following symbolic links unless
    // `followLinks` is false (a link is then refused). False when it cannot,
    // with problem() saying why.
    bool open(const QString &path, bool followLinks = true);
    bool isOpen() const { return open_; }
    // Whether it is a regular file (not a folder, device or pipe).
    bool isRegular() const { return regular; }
    // The handle, for reading with the system's calls; only while open.
    NativeHandle handle() const { return fd; }
    // The file as it was when opened.
    const FileIdentity &identity() const { return opened; }

    // Reads `n` bytes at `offset` into `out`: the number read, fewer only
    // where the file ends, or -1 when it cannot be read.
    int64_t readAt(void *out, size_t n, quint64 offset) const;
    // True when `path` names this very file, unchanged since it was opened.
    bool isNamedBy(const QString &path) const;
    // True when the file still has the size and modification time it had
    // when opened: what a reader asks after reading it, to know that no one
    // wrote it meanwhile.
    bool isUnchanged() const;

    enum class Lock
    {
        Taken,
        Busy,   // another process holds the lock
        Failed, // the file system offers no locks
    };
    // An exclusive advisory lock on the file, held until it is closed;
    // answers at once rather than wait.
    Lock lockExclusive() const;

    // The system's reason for the last failure of open().
    QString problem() const { return failure; }

private:
    void close();

    NativeHandle fd{};
    bool open_ = false;
    bool regular = false;
    FileIdentity opened;
    QString failure;
};
