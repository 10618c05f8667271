#pragma once

#include <QByteArray>
#include <QString>

#include "largetable.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

class ArchiveFolder;
class HeldFile;
namespace bigdirectory {
struct Parsed;
}

// One directory entry as stored: offset and size are signed in the format and
// taken as unsigned wherever they locate data; the path is the raw 8-bit
// bytes, components separated by backslashes.
//
// A BigArchive's entries do not copy their paths: each refers to the
// directory bytes the archive keeps, and is valid (followed by a 0 byte) as
// long as that archive stays open. A path kept longer is copied deep, as
// QByteArray(path.constData(), path.size()).
struct BigEntry
{
    qint32 offset = 0;
    qint32 size = 0;
    QByteArray path;

    // The path with each byte as the character of the same code (U+0000-U+00FF).
    QString pathText() const { return QString::fromLatin1(path); }
};

// A directory's entries, in a table laid out for large pages when large.
using BigEntries = largetable::Vector<BigEntry>;

// How much of an entry's stored bytes could be read.
enum class EntryRead
{
    Whole,      // every stored byte
    Truncated,  // the entry reaches past the end of the archive: the bytes that exist
    Unreadable, // the archive file cannot be opened or read any more
    TooLarge,   // more than one buffer holds (2 GiB): nothing was read
    NoMemory,   // the buffer could not be allocated: nothing was read
    Stopped,    // the receiver of the pieces refused one
};

// A BIG archive opened for reading.
//
// A plain archive is read no further than its header and directory: entry data
// is read on demand from the file, through the descriptor it was opened with,
// which is held for as long as the object lives, so that entries always come
// from the file whose directory was read, whatever becomes of its name. A
// whole-file Refp-compressed archive is read and unpacked once, and the
// unpacked image is kept for as long as the object lives, since the entries'
// offsets refer to it.
//
// Nothing trusts the header's entry count: entries are read while at least 8
// bytes of offset and size remain, a path cut off by the end ends there, and
// nothing is allocated in proportion to the count. The header-length field
// only guides how much is read at once, never more than a fixed amount past
// what the directory needs.
class BigArchive
{
public:
    enum class Status
    {
        Ok,
        CannotOpen,         // the file cannot be opened or read
        NotBig,             // no "BIGF" signature
        DamagedCompression, // the whole file is a Refp stream that does not unpack
        NoMemory,           // the directory or the unpacked image does not fit in memory
        TooLarge,           // the whole file unpacks to more than imageLimit
    };

    BigArchive();
    ~BigArchive();
    BigArchive(const BigArchive &) = delete;
    BigArchive &operator=(const BigArchive &) = delete;

    // Opens `path` and reads its header and directory. On any status but Ok
    // the object is left as it was before the call.
    Status open(const QString &path);
    // Opens an archive held in memory (a copy is kept), unpacking it when the
    // bytes are one Refp stream. `path` stays empty; CannotOpen is never the
    // answer.
    Status openMemory(const QByteArray &bytes);

    // Bounds for a program that must stay small whatever the file (a
    // thumbnailer): no more directory entries than `entryLimit` are read, and
    // a whole-file compressed archive that unpacks to more than `imageLimit`
    // bytes is refused with TooLarge before anything is allocated for it.
    quint32 entryLimit = 0xFFFFFFFFu;
    quint64 imageLimit = ~quint64(0);
    // For a reader that needs the directory and little of the data (a
    // listing): a whole-file compressed archive is unpacked only as far as
    // its directory, and the file's bytes are kept instead of the image.
    // Entries are then unpacked from the stream's start each time they are
    // read, a piece at a time: a pass over the image for each read, whose
    // memory is a buffer of about 1 MiB. Damage past the directory shows
    // only where a read reaches it (Unreadable).
    bool directoryOnly = false;

    // Entries whose path is longer than this are damage, and are left out.
    static constexpr size_t kMaxPathLength = 64 * 1024;
    // Header fields, as stored.
    quint32 entryCount = 0;
    quint32 archiveSize = 0;
    quint32 headerLength = 0;
    // The directory entries that exist, in directory order, less those
    // whose path is too long, which `longPaths` counts.
    BigEntries entries;
    quint32 longPaths = 0;
    // Whether the whole file is a Refp stream, its size on disk, and the size of
    // the image the entries refer to (the unpacked size when compressed).
    bool compressed = false;
    quint64 fileSize = 0;
    quint64 imageSize = 0;
    // Bytes read from the file while opening.
    quint64 bytesRead = 0;
    QString path;

    // The stored bytes at `offset` of the image, `size` of them (both taken as
    // unsigned), or as many of them as the image holds (Truncated, also when
    // the file shrank since it was opened). `out` is replaced only on Whole
    // and Truncated.
    EntryRead readEntry(quint32 offset, quint32 size, QByteArray &out) const;
    EntryRead readEntry(const BigEntry &entry, QByteArray &out) const
    {
        return readEntry(quint32(entry.offset), quint32(entry.size), out);
    }
    // The same bytes handed to `take` in pieces of at most 1 MiB, for entries
    // of any size; Stopped when `take` answers false.
    EntryRead readEntryPieces(const BigEntry &entry,
                              const std::function<bool(const char *, size_t)> &take) const;
    // How many of the entry's stored bytes the image holds.
    quint64 presentBytes(const BigEntry &entry) const;
    // The first `n` stored bytes of each of `chosen` (fewer where an entry is
    // shorter), reading the archive file once. False when it cannot be read.
    bool readEntryStarts(const std::vector<const BigEntry *> &chosen, size_t n,
                         std::vector<QByteArray> &starts) const;

    // Lets go of the directory (`entries` becomes empty) for a reader that
    // has taken what it needs from it; entries are still read by offset and
    // size as before.
    void releaseDirectory();

    // The image held in memory (a whole-file compressed archive opened whole,
    // or one opened from memory), imageSize bytes; null when entries come
    // from the file at `path` or are unpacked as they are read
    // (directoryOnly). Valid as long as the object and its open archive.
    const char *keptImage() const;
    // The file opened as `path`, held open (also for a whole-file compressed
    // archive); null for an archive opened from memory.
    const HeldFile *file() const;

private:
    Status openImage(const char *whole, size_t length, quint64 readCount, const QString &filePath);
    Status openDirectoryOf(std::unique_ptr<char[]> stream, size_t length, const QString &filePath);
    // Takes the parsed header fields and entries, and the headers their
    // paths are made of.
    void adopt(bigdirectory::Parsed &parsed, largetable::Vector<QByteArrayData> headers);
    // Hands the image's bytes from `offset` on, as far as `end`, to `take`
    // in pieces, unpacking them from the stream (directoryOnly).
    EntryRead unpackRange(quint64 offset, quint64 end,
                          const std::function<bool(const char *, size_t)> &take) const;

    struct Image;
    std::unique_ptr<Image> image;                   // kept only for a whole-file compressed archive
    std::unique_ptr<Image> packed;                  // its stream instead, when directoryOnly
    largetable::Vector<char> directory;             // the header and directory of a plain archive
    largetable::Vector<QByteArrayData> pathHeaders; // what the entries' paths are made of
    std::shared_ptr<HeldFile> held;
};

// Adds a file for each entry below `root`, creating the folders of its path
// on the way (split at every backslash, empty parts included).
void buildFolderTree(ArchiveFolder &root, const BigEntries &entries);
