#include "entrydata.h"

#include "gfxcorecodec.h"

#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace {

constexpr quint64 kMaxBytes = quint64(std::numeric_limits<int>::max()) - 64;
constexpr size_t kPiece = 1024 * 1024;

// Unpacks the Refp stream at `source` into the buffer `allocate` gives for
// its declared size (null: no memory). Plain for bytes that are not a stream
// and for a stream that declares nothing.
UnpackResult unpackStream(const char *source, size_t length,
                          const std::function<char *(uint32_t)> &allocate)
{
    const uint32_t n = GfxCoreCodec::unpackedSize(source, length);
    if (n == 0) {
        // A header that declares more than its stream can produce answers 0
        // too, and is damage rather than plain data.
        const bool implausible = GfxCoreCodec::isCompressed(source, length) &&
                                 !GfxCoreCodec::unpack(source, length, nullptr, 0);
        return implausible ? UnpackResult::Damaged : UnpackResult::Plain;
    }
    char *out = allocate(n);
    if (!out)
        return UnpackResult::NoMemory;
    return GfxCoreCodec::unpack(source, length, out, n) ? UnpackResult::Unpacked
                                                        : UnpackResult::Damaged;
}

} // namespace

UnpackResult unpackIfCompressed(QByteArray &bytes)
{
    QByteArray out;
    bool tooLarge = false;
    const UnpackResult result =
        unpackStream(bytes.constData(), size_t(bytes.size()), [&](uint32_t n) -> char * {
            if (n > kMaxBytes) {
                tooLarge = true;
                return nullptr;
            }
            try {
                out = QByteArray(int(n), Qt::Uninitialized);
            } catch (const std::bad_alloc &) {
                return nullptr;
            }
            return out.data();
        });
    if (result == UnpackResult::NoMemory && tooLarge)
        return UnpackResult::TooLarge;
    if (result == UnpackResult::Unpacked)
        bytes = out;
    return result;
}

EntryResult sendEntry(const BigArchive &archive, const BigEntry &entry, bool raw,
                      const std::function<bool(const char *, size_t)> &take)
{
    EntryResult result;
    result.present = archive.presentBytes(entry);
    auto fromRead = [&](EntryRead read) {
        switch (read) {
        case EntryRead::Whole: result.kind = EntryResult::Done; break;
        case EntryRead::Truncated: result.kind = EntryResult::Truncated; break;
        case EntryRead::Unreadable: result.kind = EntryResult::Unreadable; break;
        case EntryRead::TooLarge:
        case EntryRead::NoMemory: result.kind = EntryResult::NoMemory; break;
        case EntryRead::Stopped: result.kind = EntryResult::Stopped; break;
        }
        return result;
    };

    QByteArray head;
    if (!raw) {
        const EntryRead read =
            archive.readEntry(quint32(entry.offset), qMin(quint32(entry.size), 16u), head);
        if (read != EntryRead::Whole && read != EntryRead::Truncated)
            return fromRead(read);
    }
    if (raw || !GfxCoreCodec::isCompressed(head.constData(), size_t(head.size())))
        return fromRead(archive.readEntryPieces(entry, take));

    // A Refp stream: all of it in memory, then its output in pieces.
    std::unique_ptr<char[]> stored(new (std::nothrow) char[size_t(result.present) + 1]);
    if (!stored)
        return fromRead(EntryRead::NoMemory);
    size_t filled = 0;
    const EntryRead read = archive.readEntryPieces(entry, [&](const char *piece, size_t n) {
        std::memcpy(stored.get() + filled, piece, n);
        filled += n;
        return true;
    });
    if (read != EntryRead::Whole && read != EntryRead::Truncated)
        return fromRead(read);
    std::unique_ptr<char[]> unpacked;
    uint32_t size = 0;
    switch (unpackStream(stored.get(), filled, [&](uint32_t n) {
        size = n;
        unpacked.reset(new (std::nothrow) char[n]);
        return unpacked.get();
    })) {
    case UnpackResult::Plain: // a stream declaring no bytes stands for itself
        return fromRead(take(stored.get(), filled) ? read : EntryRead::Stopped);
    case UnpackResult::Unpacked: break;
    case UnpackResult::Damaged: result.kind = EntryResult::Damaged; return result;
    case UnpackResult::TooLarge:
    case UnpackResult::NoMemory: result.kind = EntryResult::NoMemory; return result;
    }
    stored.reset();
    for (size_t at = 0; at < size; at += kPiece) {
        if (!take(unpacked.get() + at, qMin<size_t>(kPiece, size - at))) {
            result.kind = EntryResult::Stopped;
            return result;
        }
    }
    result.kind = EntryResult::Done;
    return result;
}

bool entryStorage(const BigArchive &archive, const std::vector<const BigEntry *> &chosen,
                  std::vector<EntryStorage> &storage)
{
    std::vector<QByteArray> starts;
    if (!archive.readEntryStarts(chosen, 16, starts))
        return false;
    storage.assign(chosen.size(), EntryStorage());
    for (size_t i = 0; i < chosen.size(); ++i) {
        // The declared size must be plausible for the whole stream, which is
        // the stored size rather than the 16 bytes read.
        const QByteArray &start = starts[i];
        const uint32_t declared = GfxCoreCodec::streamUnpackedSize(
            start.constData(), size_t(start.size()), archive.presentBytes(*chosen[i]));
        storage[i].compressed = declared > 0;
        storage[i].unpackedSize = declared > 0 ? declared : quint32(chosen[i]->size);
    }
    return true;
}

QString describeEntryResult(const EntryResult &result, const BigEntry &entry)
{
    const quint32 size = quint32(entry.size);
    switch (result.kind) {
    case EntryResult::Truncated:
        return QStringLiteral("it reaches past the end of the archive: only %1 of its %2 bytes "
                              "exist")
            .arg(result.present)
            .arg(size);
    case EntryResult::Unreadable: return QStringLiteral("the archive can no longer be read");
    case EntryResult::Damaged:
        return result.present < size
                   ? QStringLiteral("its Refp-compressed data is cut short by the end of the "
                                    "archive (%1 of %2 bytes exist)")
                         .arg(result.present)
                         .arg(size)
                   : QStringLiteral("its Refp-compressed data is damaged");
    case EntryResult::NoMemory: return QStringLiteral("Not enough memory to read and unpack it");
    case EntryResult::Done:
    case EntryResult::Stopped: break;
    }
    return QString();
}
