#include "entrydata.h"

#include "gfxcorecodec.h"
#include "memorysize.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace {

constexpr quint64 kMaxBytes = quint64(std::numeric_limits<int>::max()) - 64;
constexpr size_t kPiece = 1024 * 1024;

// Unpacks the Compressed entry at `source` into the buffer `allocate` gives
// for its declared size (null: no memory).
UnpackResult unpackStream(const char *source, size_t length,
                          const std::function<char *(uint32_t)> &allocate)
{
    switch (entryForm(source, length, length)) {
    case EntryForm::Stored: return UnpackResult::Plain;
    case EntryForm::Undecodable: return UnpackResult::Undecodable;
    case EntryForm::Compressed: break;
    }
    const uint32_t n = GfxCoreCodec::unpackedSize(source, length);
    char *out = allocate(n);
    if (!out)
        return UnpackResult::NoMemory;
    return GfxCoreCodec::unpack(source, length, out, n) ? UnpackResult::Unpacked
                                                        : UnpackResult::Undecodable;
}

} // namespace

EntryForm entryForm(const char *head, size_t headLength, quint64 storedLength)
{
    if (!GfxCoreCodec::isCompressed(head, headLength))
        return EntryForm::Stored;
    // The size the header declares, whatever the stream's length: no stream
    // reaches 4 GiB times the most one byte can produce.
    const quint64 anyLength = quint64(1) << 32;
    if (GfxCoreCodec::streamUnpackedSize(head, headLength, anyLength) == 0)
        return EntryForm::Stored; // a stream of nothing stands for itself
    return GfxCoreCodec::streamUnpackedSize(head, headLength, storedLength) > 0
               ? EntryForm::Compressed
               : EntryForm::Undecodable;
}

bool startsLikeRefp(const char *head, size_t headLength)
{
    return GfxCoreCodec::isCompressed(head, headLength);
}

QString undecodableText()
{
    return QStringLiteral("looks Refp-compressed but does not decode");
}

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
    // The stored bytes read: fewer than present when the archive was cut
    // short while it was read, which is then what the result says.
    quint64 got = 0;
    const auto counted = [&](const char *piece, size_t n) {
        got += n;
        return take(piece, n);
    };
    auto fromRead = [&](EntryRead read) {
        if (read == EntryRead::Truncated)
            result.present = std::min(result.present, got);
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

    if (raw)
        return fromRead(archive.readEntryPieces(entry, counted));
    // The stored bytes in memory: a small entry is read whole at once and its
    // start decides; a large one is read only when its start says it is a
    // Refp stream, whose output then goes on in pieces.
    std::unique_ptr<char[]> stored;
    size_t filled = 0;
    auto readWhole = [&] {
        if (!memorysize::fits(result.present, 1))
            return EntryRead::TooLarge;
        stored.reset(new (std::nothrow) char[size_t(result.present) + 1]);
        if (!stored)
            return EntryRead::NoMemory;
        const EntryRead whole = archive.readEntryPieces(entry, [&](const char *piece, size_t n) {
            std::memcpy(stored.get() + filled, piece, n);
            filled += n;
            return true;
        });
        got = filled;
        return whole;
    };
    EntryRead read;
    if (result.present <= kPiece) {
        read = readWhole();
        if (read != EntryRead::Whole && read != EntryRead::Truncated)
            return fromRead(read);
        if (entryForm(stored.get(), filled, result.present) == EntryForm::Stored)
            return fromRead(filled == 0 || take(stored.get(), filled) ? read : EntryRead::Stopped);
    } else {
        QByteArray head;
        read = archive.readEntry(quint32(entry.offset), 16u, head);
        if (read != EntryRead::Whole && read != EntryRead::Truncated)
            return fromRead(read);
        if (entryForm(head.constData(), size_t(head.size()), result.present) == EntryForm::Stored)
            return fromRead(archive.readEntryPieces(entry, counted));
        read = readWhole();
        if (read != EntryRead::Whole && read != EntryRead::Truncated)
            return fromRead(read);
    }
    std::unique_ptr<char[]> unpacked;
    uint32_t size = 0;
    switch (unpackStream(stored.get(), filled, [&](uint32_t n) {
        size = n;
        unpacked.reset(new (std::nothrow) char[n]);
        return unpacked.get();
    })) {
    case UnpackResult::Plain: // not reached: the head said otherwise
    case UnpackResult::Undecodable:
        unpacked.reset();
        if (!take(stored.get(), filled))
            return fromRead(EntryRead::Stopped);
        result.kind = EntryResult::Undecodable;
        result.present = std::min<quint64>(result.present, filled);
        return result;
    case UnpackResult::Unpacked: break;
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
    storage.resize(chosen.size());
    for (size_t i = 0; i < chosen.size(); ++i)
        storage[i] = storageFromHead(starts[i].constData(), size_t(starts[i].size()),
                                     archive.presentBytes(*chosen[i]), *chosen[i]);
    return true;
}

EntryStorage storageFromHead(const char *head, size_t headLength, quint64 present,
                             const BigEntry &entry)
{
    // The declared size must be plausible for the whole stream, which is
    // the stored size rather than the 16 bytes read.
    EntryStorage storage;
    storage.form = entryForm(head, headLength, present);
    storage.unpackedSize = storage.compressed()
                               ? GfxCoreCodec::streamUnpackedSize(head, headLength, present)
                               : quint32(entry.size);
    return storage;
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
    case EntryResult::Undecodable:
        return result.present < size
                   ? QStringLiteral("it %1: it is cut short by the end of the archive (%2 of "
                                    "%3 bytes exist)")
                         .arg(undecodableText())
                         .arg(result.present)
                         .arg(size)
                   : QStringLiteral("it %1").arg(undecodableText());
    case EntryResult::NoMemory: return QStringLiteral("Not enough memory to read and unpack it");
    case EntryResult::Done:
    case EntryResult::Stopped: break;
    }
    return QString();
}
