#include "bigarchive.h"

#include "archivefolder.h"
#include "bigdirectory.h"
#include "gfxcorecodec.h"
#include "heldfile.h"
#include "largetable.h"
#include "memorysize.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace {

// Pieces of entry data handed out by readEntryPieces.
constexpr size_t kPiece = 1024 * 1024;

} // namespace

using namespace bigdirectory;

struct BigArchive::Image
{
    std::unique_ptr<char[]> data; // size bytes, and a 0 after them
    size_t size = 0;
};

BigArchive::BigArchive() = default;
BigArchive::~BigArchive()
{
    // The paths go before what they are made of.
    BigEntries().swap(entries);
}

BigArchive::Status BigArchive::open(const QString &filePath)
{
    auto file = std::make_shared<HeldFile>();
    if (!file->open(filePath))
        return Status::CannotOpen;
    const quint64 onDisk = file->identity().size;
    QByteArray head(16, '\0');
    const int64_t got = file->readAt(head.data(), 16, 0);
    if (got < 0)
        return Status::CannotOpen;
    head.resize(int(got));

    if (GfxCoreCodec::isCompressed(head.constData(), size_t(head.size()))) {
        // The whole file is one Refp stream: read whole (a mapping would
        // fault if the file shrank meanwhile), then unpacked. What it
        // declares is checked against the limit before anything is read; a
        // valid stream is at most a quarter larger than what it unpacks to.
        const quint64 declared =
            GfxCoreCodec::streamUnpackedSize(head.constData(), size_t(head.size()), onDisk);
        if (declared > imageLimit || onDisk / 2 > imageLimit)
            return Status::TooLarge;
        if (!memorysize::fits(onDisk))
            return Status::NoMemory;
        std::unique_ptr<char[]> whole(new (std::nothrow) char[size_t(onDisk)]);
        if (!whole)
            return Status::NoMemory;
        const int64_t read = file->readAt(whole.get(), size_t(onDisk), 0);
        if (read < 0)
            return Status::CannotOpen;
        const Status status = directoryOnly
                                  ? openDirectoryOf(std::move(whole), size_t(read), filePath)
                                  : openImage(whole.get(), size_t(read), quint64(read), filePath);
        if (status == Status::Ok)
            held = std::move(file);
        return status;
    }
    if (head.size() < 4 || !head.startsWith("BIGF"))
        return Status::NotBig;
    // The header's length field usually says where the directory ends.
    const quint32 hint =
        head.size() == 16 ? bigEndian32(reinterpret_cast<const uchar *>(head.constData()) + 12) : 0;
    DirectoryBytes bytes(file.get(), head, qint64(qMin<quint64>(hint, onDisk)));
    Parsed parsed;
    largetable::Vector<char> kept;
    largetable::Vector<QByteArrayData> headers;
    try {
        parsed = parse(bytes, entryLimit);
        if (bytes.failed)
            return Status::CannotOpen;
        kept = bytes.release();
        headers = parsed.placePaths(kept.data());
    } catch (const std::bad_alloc &) {
        return Status::NoMemory;
    }

    adopt(parsed, std::move(headers));
    compressed = false;
    fileSize = onDisk;
    imageSize = onDisk;
    bytesRead = quint64(head.size()) + bytes.bytesRead;
    path = filePath;
    image.reset();
    packed.reset();
    directory = std::move(kept);
    held = std::move(file);
    return Status::Ok;
}

BigArchive::Status BigArchive::openMemory(const QByteArray &bytes)
{
    return openImage(bytes.constData(), size_t(bytes.size()), 0, QString());
}

// The whole archive in memory: unpacked when it is one Refp stream, and kept
// either way, since the entries are read from it.
BigArchive::Status BigArchive::openImage(const char *whole, size_t length, quint64 readCount,
                                         const QString &filePath)
{
    auto kept = std::make_unique<Image>();
    const bool isStream = GfxCoreCodec::isCompressed(whole, length);
    if (isStream) {
        const uint32_t n = GfxCoreCodec::unpackedSize(whole, length);
        if (n == 0) {
            // A stream that truly declares nothing unpacks to no bytes, which
            // do not start with the signature; one that declares more than
            // its bytes can produce is damaged.
            return GfxCoreCodec::unpack(whole, length, nullptr, 0) ? Status::NotBig
                                                                   : Status::DamagedCompression;
        }
        if (n > imageLimit)
            return Status::TooLarge;
        if (!memorysize::fits(n, 1))
            return Status::NoMemory;
        kept->data.reset(new (std::nothrow) char[size_t(n) + 1]);
        kept->size = n;
        if (!kept->data)
            return Status::NoMemory;
        kept->data[n] = '\0';
        largetable::advise(kept->data.get(), size_t(n));
        if (!GfxCoreCodec::unpack(whole, length, kept->data.get(), n))
            return Status::DamagedCompression;
    } else {
        if (!memorysize::fits(length, 1))
            return Status::NoMemory;
        kept->data.reset(new (std::nothrow) char[length + 1]);
        kept->size = length;
        if (!kept->data)
            return Status::NoMemory;
        std::memcpy(kept->data.get(), whole, length);
        kept->data[length] = '\0';
    }
    if (kept->size < 4 || std::memcmp(kept->data.get(), "BIGF", 4) != 0)
        return Status::NotBig;
    DirectoryBytes bytes(kept->data.get(), kept->size);
    Parsed parsed;
    largetable::Vector<QByteArrayData> headers;
    try {
        parsed = parse(bytes, entryLimit);
        headers = parsed.placePaths(kept->data.get());
    } catch (const std::bad_alloc &) {
        return Status::NoMemory;
    }

    adopt(parsed, std::move(headers));
    compressed = isStream;
    fileSize = quint64(length);
    imageSize = kept->size;
    bytesRead = readCount;
    path = filePath;
    image = std::move(kept);
    packed.reset();
    directory = largetable::Vector<char>();
    held.reset();
    return Status::Ok;
}

// The directory of a whole-file compressed archive, unpacked no further
// than it goes; the stream is kept to unpack entries from.
BigArchive::Status BigArchive::openDirectoryOf(std::unique_ptr<char[]> stream, size_t length,
                                               const QString &filePath)
{
    const uint32_t n = GfxCoreCodec::unpackedSize(stream.get(), length);
    if (n == 0) {
        return GfxCoreCodec::unpack(stream.get(), length, nullptr, 0) ? Status::NotBig
                                                                      : Status::DamagedCompression;
    }
    DirectoryBytes bytes(stream.get(), length, n);
    Parsed parsed;
    largetable::Vector<char> kept;
    largetable::Vector<QByteArrayData> headers;
    try {
        if (!bytes.have(0, 4))
            return bytes.damaged ? Status::DamagedCompression : Status::NotBig;
        if (std::memcmp(bytes.data(), "BIGF", 4) != 0)
            return Status::NotBig;
        parsed = parse(bytes, entryLimit);
        if (bytes.damaged)
            return Status::DamagedCompression;
        kept = bytes.release();
        headers = parsed.placePaths(kept.data());
    } catch (const std::bad_alloc &) {
        return Status::NoMemory;
    }

    adopt(parsed, std::move(headers));
    compressed = true;
    fileSize = quint64(length);
    imageSize = n;
    bytesRead = quint64(length);
    path = filePath;
    image.reset();
    packed = std::make_unique<Image>();
    packed->data = std::move(stream);
    packed->size = length;
    directory = std::move(kept);
    return Status::Ok;
}

EntryRead BigArchive::unpackRange(quint64 offset, quint64 end,
                                  const std::function<bool(const char *, size_t)> &take) const
{
    quint64 at = 0;
    bool refused = false;
    const GfxCoreCodec::Pieces result = GfxCoreCodec::unpackPieces(
        packed->data.get(), packed->size, end, [&](const char *piece, size_t n) {
            const quint64 pieceEnd = at + n;
            for (quint64 from = std::max(at, offset); from < pieceEnd; from += kPiece) {
                if (!take(piece + (from - at), size_t(qMin<quint64>(kPiece, pieceEnd - from)))) {
                    refused = true;
                    return false;
                }
            }
            at = pieceEnd;
            return true;
        });
    switch (result) {
    case GfxCoreCodec::Pieces::Done: return EntryRead::Whole;
    case GfxCoreCodec::Pieces::NoMemory: return EntryRead::NoMemory;
    case GfxCoreCodec::Pieces::Stopped: return refused ? EntryRead::Stopped : EntryRead::Unreadable;
    case GfxCoreCodec::Pieces::Damaged: break;
    }
    return EntryRead::Unreadable;
}

void BigArchive::adopt(Parsed &parsed, largetable::Vector<QByteArrayData> headers)
{
    entryCount = parsed.entryCount;
    archiveSize = parsed.archiveSize;
    headerLength = parsed.headerLength;
    entries = std::move(parsed.entries); // the old paths before what they are made of
    longPaths = parsed.longPaths;
    pathHeaders = std::move(headers);
}

void BigArchive::releaseDirectory()
{
    BigEntries().swap(entries); // the paths before what they are made of
    largetable::Vector<QByteArrayData>().swap(pathHeaders);
    largetable::Vector<char>().swap(directory);
}

const char *BigArchive::keptImage() const
{
    return image ? image->data.get() : nullptr;
}

const HeldFile *BigArchive::file() const
{
    return held.get();
}

quint64 BigArchive::presentBytes(const BigEntry &entry) const
{
    const quint64 offset = quint32(entry.offset), size = quint32(entry.size);
    return offset < imageSize ? qMin(size, imageSize - offset) : 0;
}

bool BigArchive::readEntryStarts(const std::vector<const BigEntry *> &chosen, size_t n,
                                 std::vector<QByteArray> &starts) const
{
    starts.assign(chosen.size(), QByteArray());
    if (packed) {
        // One pass over the image, as far as the last start, taking each
        // start as it goes by.
        std::vector<size_t> order;
        quint64 end = 0;
        for (size_t i = 0; i < chosen.size(); ++i) {
            const quint64 length = qMin<quint64>(presentBytes(*chosen[i]), n);
            if (length == 0)
                continue;
            order.push_back(i);
            end = qMax(end, quint32(chosen[i]->offset) + length);
        }
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return quint32(chosen[a]->offset) < quint32(chosen[b]->offset);
        });
        size_t first = 0; // the first not yet complete, or close to it
        quint64 at = 0;
        return order.empty() ||
               unpackRange(0, end, [&](const char *piece, size_t length) {
                   const quint64 pieceEnd = at + length;
                   for (size_t k = first; k < order.size(); ++k) {
                       const quint64 offset = quint32(chosen[order[k]]->offset);
                       if (offset >= pieceEnd)
                           break;
                       const quint64 stop =
                           offset + qMin<quint64>(presentBytes(*chosen[order[k]]), n);
                       const quint64 from = qMax(offset, at), to = qMin(stop, pieceEnd);
                       if (from < to)
                           starts[order[k]].append(piece + (from - at), int(to - from));
                       if (k == first && stop <= pieceEnd)
                           ++first;
                   }
                   at = pieceEnd;
                   return true;
               }) == EntryRead::Whole;
    }
    for (size_t i = 0; i < chosen.size(); ++i) {
        const quint64 length = qMin<quint64>(presentBytes(*chosen[i]), n);
        const quint64 offset = quint32(chosen[i]->offset);
        if (length == 0)
            continue;
        if (image) {
            starts[i] = QByteArray(image->data.get() + offset, int(length));
            continue;
        }
        starts[i].resize(int(length));
        const int64_t got = held->readAt(starts[i].data(), size_t(length), offset);
        if (got < 0)
            return false;
        starts[i].resize(int(got)); // the file shrank since it was opened
    }
    return true;
}

EntryRead BigArchive::readEntry(quint32 offset, quint32 size, QByteArray &out) const
{
    BigEntry entry;
    entry.offset = qint32(offset);
    entry.size = qint32(size);
    if (presentBytes(entry) > kMaxBytes)
        return EntryRead::TooLarge;
    QByteArray bytes;
    try {
        bytes.reserve(int(presentBytes(entry)));
    } catch (const std::bad_alloc &) {
        return EntryRead::NoMemory;
    }
    const EntryRead read = readEntryPieces(entry, [&](const char *piece, size_t n) {
        bytes.append(piece, int(n));
        return true;
    });
    if (read == EntryRead::Whole || read == EntryRead::Truncated)
        out = bytes;
    return read;
}

EntryRead BigArchive::readEntryPieces(const BigEntry &entry,
                                      const std::function<bool(const char *, size_t)> &take) const
{
    const quint64 offset = quint32(entry.offset);
    const quint64 available = presentBytes(entry);
    const EntryRead done =
        available < quint64(quint32(entry.size)) ? EntryRead::Truncated : EntryRead::Whole;
    if (image) {
        for (quint64 at = 0; at < available; at += kPiece) {
            if (!take(image->data.get() + offset + at,
                      size_t(qMin<quint64>(kPiece, available - at))))
                return EntryRead::Stopped;
        }
        return done;
    }
    if (available == 0)
        return done;
    if (packed) {
        const EntryRead read = unpackRange(offset, offset + available, take);
        return read == EntryRead::Whole ? done : read;
    }
    if (!held)
        return EntryRead::Unreadable;
    // No larger than the entry: a small one costs no mapping of its own.
    const size_t piece = size_t(qMin<quint64>(kPiece, available));
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[piece]);
    if (!buffer)
        return EntryRead::NoMemory;
    for (quint64 at = 0; at < available;) {
        const int64_t got =
            held->readAt(buffer.get(), size_t(qMin<quint64>(piece, available - at)), offset + at);
        if (got < 0)
            return EntryRead::Unreadable;
        if (got == 0)
            return EntryRead::Truncated; // the file shrank since it was opened
        if (!take(buffer.get(), size_t(got)))
            return EntryRead::Stopped;
        at += quint64(got);
    }
    return done;
}

void buildFolderTree(ArchiveFolder &root, const BigEntries &entries)
{
    // Directories are usually sorted, so consecutive entries tend to share
    // their folder: remember the last one rather than walk the tree again.
    const QByteArray *lastPath = nullptr;
    int lastCut = -1;
    ArchiveFolder *lastFolder = nullptr;
    for (const BigEntry &entry : entries) {
        const char *path = entry.path.constData();
        const int cut = entry.path.lastIndexOf('\\');
        ArchiveFolder *folder = &root;
        if (cut >= 0) {
            if (lastFolder && lastCut == cut &&
                std::memcmp(lastPath->constData(), path, size_t(cut)) == 0) {
                folder = lastFolder;
            } else {
                for (int start = 0;;) {
                    const void *separator = std::memchr(path + start, '\\', size_t(cut - start));
                    const int end =
                        separator ? int(static_cast<const char *>(separator) - path) : cut;
                    folder = folder->obtainFolder(QString::fromLatin1(path + start, end - start));
                    if (end == cut)
                        break;
                    start = end + 1;
                }
                lastFolder = folder;
            }
            lastPath = &entry.path;
            lastCut = cut;
        }
        const QString name = QString::fromLatin1(path + cut + 1, entry.path.size() - cut - 1);
        folder->files.append(new ArchiveFile(folder, name, entry.size, entry.offset));
    }
}
