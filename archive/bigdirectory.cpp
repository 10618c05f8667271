#include "bigdirectory.h"

#include "gfxcorecodec.h"

namespace bigdirectory {
namespace {

// Header fields cut off by the end read as 0.
quint32 field(DirectoryBytes &bytes, size_t pos, bool little)
{
    if (!bytes.have(pos, 4))
        return 0;
    return little ? littleEndian32(bytes.data() + pos) : bigEndian32(bytes.data() + pos);
}

} // namespace

bool DirectoryBytes::moreUnpacked()
{
    const qint64 have = qint64(buffer.size());
    if (quint64(have) >= imageSize)
        return false;
    if (ended) {
        damaged = true; // more is needed than the stream unpacks to
        return false;
    }
    const qint64 want = qint64(
        std::min<quint64>({imageSize, quint64(std::max(2 * have, kChunk)), quint64(kMaxBytes)}));
    if (want <= have)
        return false;
    buffer.reserve(size_t(want)); // may throw std::bad_alloc, as any growth here
    // The output is made again from its start; what is here already is
    // passed over. Damage stops it where it is, with what came before.
    qint64 at = 0;
    const GfxCoreCodec::Pieces result = GfxCoreCodec::unpackPieces(
        stream, streamSize, quint64(want), [&](const char *piece, size_t n) {
            const qint64 end = at + qint64(n);
            if (end > have) {
                const qint64 from = std::max(at, have);
                buffer.insert(buffer.end(), piece + (from - at), piece + (end - at));
            }
            at = end;
            return true;
        });
    if (result == GfxCoreCodec::Pieces::NoMemory)
        throw std::bad_alloc();
    if (result != GfxCoreCodec::Pieces::Done) {
        ended = true;
        damaged = qint64(buffer.size()) == have;
    }
    return qint64(buffer.size()) > have;
}

Parsed parse(DirectoryBytes &bytes, quint32 limit)
{
    Parsed p;
    p.archiveSize = field(bytes, 4, true);
    p.entryCount = field(bytes, 8, false);
    p.headerLength = field(bytes, 12, false);
    size_t pos = 16;
    // Room for as many entries as the bytes there are can hold (9 bytes each
    // at least), never for the count alone, and up front for at most 2M
    // (48 MiB): a larger directory grows as it is read.
    const size_t room =
        size_t(std::min<quint64>({p.entryCount, limit, bytes.available() / 9, 1u << 21}));
    p.entries.reserve(largetable::room(room, sizeof(BigEntry)));
    p.pathStarts.reserve(largetable::room(room, sizeof(p.pathStarts[0])));
    for (quint32 i = 0; i < p.entryCount && i < limit; ++i) {
        if (!bytes.have(pos, 8))
            break;
        BigEntry entry;
        entry.offset = qint32(bigEndian32(bytes.data() + pos));
        entry.size = qint32(bigEndian32(bytes.data() + pos + 4));
        pos += 8;
        // The path runs to its 0 byte, or to the end of the bytes.
        size_t searched = pos;
        const void *nul = nullptr;
        for (;;) {
            nul = std::memchr(bytes.data() + searched, 0, bytes.size() - searched);
            searched = bytes.size();
            if (nul || !bytes.more())
                break;
        }
        const size_t end =
            nul ? size_t(static_cast<const uchar *>(nul) - bytes.data()) : bytes.size();
        const size_t start = pos;
        pos = nul ? end + 1 : end;
        // No real path comes near this: the entry is damage, and copying it
        // (and showing it) would cost many times the directory's bytes.
        if (end - start > BigArchive::kMaxPathLength) {
            ++p.longPaths;
            continue;
        }
        // Where the path stands for now: the bytes may move as more are read.
        p.pathStarts.push_back({quint32(start), quint32(end - start)});
        p.entries.push_back(std::move(entry));
    }
    return p;
}

} // namespace bigdirectory
