#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <memory>
#include <vector>

class ArchiveFolder;

// One directory entry as stored: offset and size are signed in the format and
// taken as unsigned wherever they locate data; the path is the raw 8-bit
// bytes, components separated by backslashes.
struct BigEntry
{
    qint32 offset = 0;
    qint32 size = 0;
    QByteArray path;

    // The path with each byte as the character of the same code (U+0000-U+00FF).
    QString pathText() const { return QString::fromLatin1(path); }
};

// A BIG archive opened for reading.
//
// A plain archive is read no further than its header and directory: entry data
// is read on demand from the file. A whole-file Refp-compressed archive is read
// and unpacked once, and the unpacked image is kept for as long as the object
// lives, since the entries' offsets refer to it.
//
// Nothing trusts the header's entry count: entries are read while at least 8
// bytes of offset and size remain, a path cut off by the end ends there, and
// nothing is allocated in proportion to the count.
class BigArchive
{
public:
    enum class Status
    {
        Ok,
        CannotOpen,        // the file cannot be opened or read
        NotBig,            // no "BIGF" signature
        DamagedCompression // the whole file is a Refp stream that does not unpack
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

    // Header fields, as stored.
    quint32 entryCount = 0;
    quint32 archiveSize = 0;
    quint32 headerLength = 0;
    // The directory entries that exist, in directory order.
    std::vector<BigEntry> entries;
    // Whether the whole file is a Refp stream, its size on disk, and the size of
    // the image the entries refer to (the unpacked size when compressed).
    bool compressed = false;
    quint64 fileSize = 0;
    quint64 imageSize = 0;
    // Bytes read from the file while opening.
    quint64 bytesRead = 0;
    QString path;

    // The `size` bytes at `offset` of the image (both taken as unsigned).
    // Bytes past the end of the image read as zeros. False, with `out`
    // untouched, when `size` is larger than the whole image (a damaged
    // directory; nothing is allocated for it) or the file cannot be read.
    bool readEntry(quint32 offset, quint32 size, QByteArray &out) const;
    bool readEntry(const BigEntry &entry, QByteArray &out) const
    {
        return readEntry(quint32(entry.offset), quint32(entry.size), out);
    }

private:
    Status openImage(const QByteArray &whole, quint64 readCount, const QString &filePath);

    struct Image;
    std::unique_ptr<Image> image; // kept only for a whole-file compressed archive
};

// Adds a file for each entry below `root`, creating the folders of its path
// on the way (split at every backslash, empty parts included).
void buildFolderTree(ArchiveFolder &root, const std::vector<BigEntry> &entries);

// Entry bytes that may be Refp-compressed.
enum class UnpackResult
{
    Plain,
    Unpacked,
    Damaged
};
// Replaces `bytes` by their unpacked form when they are a Refp stream that
// declares a size above 0. Damaged when such a stream does not unpack (or is
// too large to hold); `bytes` are then left as they were.
UnpackResult unpackIfCompressed(QByteArray &bytes);
