#include "fuzztargets.h"

#include "archivefolder.h"
#include "bigarchive.h"
#include "decoder.h"
#include "entrydata.h"
#include "gfxcore.h"
#include "gfxcorecodec.h"
#include "pngdecoder.h"
#include "report.h"
#include "safepath.h"
#include "tgadecoder.h"
#include "tpidecoder.h"

#include <QFileInfo>

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

const FuzzTarget fuzzTargets[6] = {
    {"refp", fuzzRefp}, {"big", fuzzBig}, {"png", fuzzPng},
    {"tga", fuzzTga},   {"tpi", fuzzTpi}, {"safepath", fuzzSafePath},
};

void fuzzInitialize()
{
    vorland::setReporter([](const QString &) {});
    setImageSizeLimit(uint64_t(1) << 22);
    // The library beside the program, by its full path: the sanitizers'
    // dlopen does not search the program's own folder.
    const QString beside = QFileInfo(QStringLiteral("/proc/self/exe"))
                               .canonicalFilePath()
                               .section(QLatin1Char('/'), 0, -2) +
                           QStringLiteral("/libGfxCore.so");
    if (QFileInfo::exists(beside))
        GfxCoreCodec::setLibraryName(beside);
    if (!GfxCoreCodec::isLoaded() && !GfxCoreCodec::load())
        std::abort();
}

int fuzzRefp(const uint8_t *data, size_t size)
{
    // Decoding: whatever the bytes, within the declared size, and the same
    // as the stream-size function says from the header alone.
    GfxCore_HeaderLength(data, size);
    if (GfxCore_StreamUnpackedSize(data, size, size) != GfxCore_UnpackedSize(data, size))
        std::abort();
    const uint32_t declared = GfxCore_UnpackedSize(data, size);
    std::vector<uint8_t> out(declared);
    const int64_t written = GfxCore_Unpack(data, size, out.data(), out.size());
    if (written >= 0 && uint64_t(written) != declared)
        std::abort();
    // A prefix, of a length the last byte picks, is the start of the whole
    // output whenever the whole decodes.
    const size_t want = size ? std::min<size_t>(declared, size_t(data[size - 1]) * 97) : 0;
    std::vector<uint8_t> start(want + 1);
    const int64_t got = GfxCore_UnpackPrefix(data, size, start.data(), want);
    if (written >= 0 &&
        (got != int64_t(want) || (want > 0 && std::memcmp(start.data(), out.data(), want) != 0)))
        std::abort();
    // The whole output in pieces: given out exactly when it decodes, and the same.
    std::vector<uint8_t> pieces;
    const auto sink = [](void *context, const void *piece, size_t n) -> int {
        auto &to = *static_cast<std::vector<uint8_t> *>(context);
        to.insert(to.end(), static_cast<const uint8_t *>(piece),
                  static_cast<const uint8_t *>(piece) + n);
        return 1;
    };
    const int64_t handed = GfxCore_UnpackPieces(data, size, ~uint64_t(0), sink, &pieces);
    if ((handed >= 0) != (written >= 0) || (written >= 0 && pieces != out))
        std::abort();
    // Encoding, at the level the first byte picks: the bytes come back unchanged.
    std::vector<uint8_t> stream(GfxCore_CompressBound(size));
    const int level = size ? data[0] % 4 : GFXCORE_LEVEL_DEFAULT;
    const size_t length = GfxCore_CompressLevel(data, size, stream.data(), stream.size(), level);
    if (length == 0 || GfxCore_UnpackedSize(stream.data(), length) != size)
        std::abort();
    std::vector<uint8_t> back(size);
    if (GfxCore_Unpack(stream.data(), length, back.data(), back.size()) != int64_t(size) ||
        (size > 0 && std::memcmp(back.data(), data, size) != 0))
        std::abort();
    // And in parts of a size the second byte picks, written one after another.
    const size_t part = size > 1 ? 4 * (size_t(data[1]) + 1) : 4;
    std::vector<uint8_t> parts;
    for (size_t start = 0; start == 0 || start < size; start += part) {
        const size_t n = std::min(part, size - start);
        std::vector<uint8_t> piece(GfxCore_CompressBound(n));
        const size_t made =
            GfxCore_CompressPart(data, start, n, start, size, piece.data(), piece.size(), level);
        if (made == 0)
            std::abort();
        parts.insert(parts.end(), piece.begin(), piece.begin() + long(made));
    }
    if (GfxCore_Unpack(parts.data(), parts.size(), back.data(), back.size()) != int64_t(size) ||
        (size > 0 && std::memcmp(back.data(), data, size) != 0))
        std::abort();
    return 0;
}

int fuzzBig(const uint8_t *data, size_t size)
{
    BigArchive archive;
    if (archive.openMemory(QByteArray(reinterpret_cast<const char *>(data), int(size))) !=
        BigArchive::Status::Ok)
        return 0;
    if (archive.entries.size() > size)
        std::abort(); // an entry takes at least 9 bytes of directory
    ArchiveFolder root(true, nullptr, QStringLiteral("$root$"));
    buildFolderTree(root, archive.entries);
    size_t read = 0;
    for (const BigEntry &entry : archive.entries) {
        QByteArray bytes;
        const EntryRead got = archive.readEntry(entry, bytes);
        if (got == EntryRead::Whole || got == EntryRead::Truncated) {
            if (quint64(bytes.size()) != archive.presentBytes(entry) ||
                (got == EntryRead::Whole) != (quint32(bytes.size()) == quint32(entry.size)))
                std::abort();
            unpackIfCompressed(bytes);
        }
        if (++read == 64)
            break;
    }
    root.clear();
    return 0;
}

namespace {

template <typename Decoder> int decode(const uint8_t *data, size_t size)
{
    Decoder decoder;
    const bool ok = decoder.load(data, quint32(size));
    const QImage image = decoder.toImage();
    if (!ok && !image.isNull())
        std::abort();
    if (!image.isNull() &&
        (image.width() != decoder.width() || image.height() != decoder.height() ||
         image.format() != QImage::Format_ARGB32))
        std::abort();
    decoder.formatName();
    return 0;
}

} // namespace

int fuzzPng(const uint8_t *data, size_t size)
{
    return decode<PngDecoder>(data, size);
}

int fuzzTga(const uint8_t *data, size_t size)
{
    return decode<TgaDecoder>(data, size);
}

int fuzzTpi(const uint8_t *data, size_t size)
{
    return decode<TpiDecoder>(data, size);
}

int fuzzSafePath(const uint8_t *data, size_t size)
{
    const QByteArray path(reinterpret_cast<const char *>(data), int(size));
    const std::optional<QStringList> parts = safeEntryPath(path);
    if (!parts)
        return 0;
    // Whatever is accepted stays below the folder it is written to.
    if (parts->isEmpty())
        std::abort();
    for (const QString &part : *parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..") ||
            part.contains(QLatin1Char('/')) || part.contains(QLatin1Char('\\')))
            std::abort();
        for (QChar c : part)
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                std::abort();
    }
    if (parts->first().size() >= 2 && parts->first().at(1) == QLatin1Char(':') &&
        parts->first().at(0).isLetter() && parts->first().at(0).unicode() < 0x80)
        std::abort();
    return 0;
}
