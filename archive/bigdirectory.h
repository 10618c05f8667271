#pragma once

// Reading a BIG archive's header and directory, from an image in memory or
// a file read a piece at a time as parsing needs it: for BigArchive alone.
// Nothing trusts the header's fields; see bigarchive.h.

#include "bigarchive.h"
#include "heldfile.h"
#include "largetable.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace bigdirectory {

// The largest QByteArray that can be asked for.
constexpr quint64 kMaxBytes = quint64(std::numeric_limits<int>::max()) - 64;
// How much of a plain archive's directory is read at once: up to the header
// length's hint in pieces of at most kReadAhead, past it in pieces of kChunk.
// A hint that lies thus costs at most kReadAhead bytes of reading more than the
// directory needs.
constexpr qint64 kChunk = 64 * 1024;
constexpr qint64 kReadAhead = 1024 * 1024;
// Room set aside up front for the directory (450,000 entries of common
// paths): a lying hint costs at most this much address space, which is only
// backed where written.
constexpr qint64 kReserve = 16 * 1024 * 1024;

inline quint32 littleEndian32(const uchar *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

inline quint32 bigEndian32(const uchar *p)
{
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

// The bytes of an archive's header and directory: either a whole image in
// memory, or a plain file read a piece at a time as parsing needs it.
class DirectoryBytes
{
public:
    DirectoryBytes(const char *image, size_t size) : memory(image), memorySize(size) {}
    // Starts with the bytes already read from the front of the file; `hint`
    // is where the directory is said to end.
    DirectoryBytes(const HeldFile *file, const QByteArray &front, qint64 hint)
        : file(file), buffer(front.begin(), front.end()), hint(hint)
    {
    }
    // The front of the image that the whole-file Refp stream `stream`
    // unpacks to (`imageSize` bytes), unpacked no further than parsing
    // needs: twice as far each time more is needed, from the stream's
    // start, which costs at most four times what the directory needs.
    DirectoryBytes(const char *stream, size_t streamSize, quint64 imageSize)
        : stream(stream), streamSize(streamSize), imageSize(imageSize)
    {
    }

    const uchar *data() const
    {
        return reinterpret_cast<const uchar *>(memory ? memory : buffer.data());
    }
    size_t size() const { return memory ? memorySize : buffer.size(); }
    // The bytes read from the file or unpacked, handed over.
    largetable::Vector<char> release() { return std::move(buffer); }
    // How many bytes there are to parse at most: those of the file or image.
    quint64 available() const
    {
        return file ? file->identity().size : stream ? imageSize : memorySize;
    }

    // Reads another piece of the file, or unpacks more of the stream. False
    // when nothing more comes (`failed` when the file could not be read,
    // `damaged` when the stream does not unpack that far).
    bool more()
    {
        if (stream)
            return moreUnpacked();
        if (!file || ended)
            return false;
        if (!reserved) {
            // Room for what the hint says, bounded by the file. May throw
            // std::bad_alloc, as any growth here.
            buffer.reserve(largetable::room(size_t(qMin(hint, kReserve)), 1));
            reserved = true;
        }
        const qint64 have = qint64(buffer.size());
        qint64 n = have < hint ? qMin(hint - have, kReadAhead) : kChunk;
        n = qMin(n, qint64(kMaxBytes) - have);
        buffer.resize(size_t(have + n));
        const int64_t got = file->readAt(buffer.data() + have, size_t(n), quint64(have));
        failed = got < 0;
        ended = got < n;
        buffer.resize(size_t(have + qMax<int64_t>(got, 0)));
        bytesRead += quint64(qMax<int64_t>(got, 0));
        return got > 0;
    }

    // True when `n` bytes stand at `pos`, reading more as needed.
    bool have(size_t pos, size_t n)
    {
        while (size() < pos + n) {
            if (!more())
                return false;
        }
        return true;
    }

    quint64 bytesRead = 0;
    bool failed = false;
    bool damaged = false;

private:
    bool moreUnpacked();

    bool ended = false;
    const char *stream = nullptr;
    size_t streamSize = 0;
    quint64 imageSize = 0;
    const HeldFile *file = nullptr;
    largetable::Vector<char> buffer;
    bool reserved = false;
    qint64 hint = 0;
    const char *memory = nullptr;
    size_t memorySize = 0;
};

struct Parsed
{
    quint32 entryCount = 0;
    quint32 archiveSize = 0;
    quint32 headerLength = 0;
    BigEntries entries;
    largetable::Vector<std::pair<quint32, quint32>> pathStarts; // each entry's path in the bytes
    quint32 longPaths = 0;

    // Points each entry's path at its bytes, now that they stay where they
    // are. Each path gets a header of the kind Qt gives its literals: never
    // counted nor freed, copied before any change; all of them in one block
    // rather than an allocation per entry, which for 200,000 entries cost
    // more than reading the directory.
    // Throws std::bad_alloc when there is no room for them.
    largetable::Vector<QByteArrayData> placePaths(const char *base)
    {
        largetable::Vector<QByteArrayData> headers(entries.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            QByteArrayData &header = headers[i];
            header.ref.atomic.storeRelaxed(-1);
            header.size = int(pathStarts[i].second);
            header.alloc = 0;
            header.capacityReserved = 0;
            header.offset = base + pathStarts[i].first - reinterpret_cast<const char *>(&header);
            entries[i].path = QByteArray(QByteArrayDataPtr{&header});
        }
        decltype(pathStarts)().swap(pathStarts);
        return headers;
    }
};

// Parses the header (signature already checked) and the directory, at most
// `limit` of its entries. Throws std::bad_alloc when the directory does not
// fit in memory.
Parsed parse(DirectoryBytes &bytes, quint32 limit);

} // namespace bigdirectory
