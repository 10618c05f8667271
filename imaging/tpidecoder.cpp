#include "tpidecoder.h"

#include "decoder.h"
#include "gfxcorecodec.h"

#include <squish.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr uint32_t kMagic = 0x54504931; // "1IPT" in file order
constexpr uint32_t kRefp = 0x70666552;  // "Refp" in file order
constexpr size_t kBlockHeader = 16;
// Bytes a compressed block may always unpack to, whatever the picture's size.
constexpr uint64_t kWorthUnpacking = 16u << 20;
// What all the blocks of a picture may unpack to together, blocks that fail
// included: what one block may, and a little per block for its header and
// the rounding of its cells. A block that fails is not placed, so the next
// lands where it would have: without a bound for all of them, each could
// unpack the most again.
inline uint64_t unpackingBudget(int width, int height, size_t blocks)
{
    return std::max<uint64_t>(uint64_t(width) * uint64_t(height) * 8, kWorthUnpacking) +
           uint64_t(blocks) * 64;
}

inline unsigned little16(const uchar *p)
{
    return unsigned(p[0]) | unsigned(p[1]) << 8;
}

inline uint32_t little32(const uchar *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Where a block lands and how much of it shows: the picture clips it.
struct Placement
{
    uchar *bits; // the picture's first row
    qsizetype bytesPerLine;
    int pictureWidth, pictureHeight;
    int64_t x0, y0;
    unsigned blockWidth, blockHeight;
    // Columns and rows of the block inside the picture.
    unsigned visibleWidth() const
    {
        return unsigned(std::clamp<int64_t>(pictureWidth - x0, 0, blockWidth));
    }
    unsigned visibleHeight() const
    {
        return unsigned(std::clamp<int64_t>(pictureHeight - y0, 0, blockHeight));
    }
    uchar *pixel(unsigned column, unsigned row) const
    {
        return bits + (y0 + row) * bytesPerLine + (x0 + column) * 4;
    }
};

// Blocks of `bytesPerPixel`-byte pixels, converted by `convert(source, target)`.
template <typename Convert>
void placePixels(const Placement &at, const uchar *data, size_t length, size_t bytesPerPixel,
                 Convert convert)
{
    const size_t storedPixels = length / bytesPerPixel;
    const unsigned columns = at.visibleWidth(), rows = at.visibleHeight();
    for (unsigned k = 0; k < rows; ++k) {
        const size_t first = size_t(k) * at.blockWidth;
        if (first >= storedPixels)
            return;
        const unsigned count = unsigned(std::min<size_t>(columns, storedPixels - first));
        const uchar *in = data + first * bytesPerPixel;
        uchar *out = at.pixel(0, k);
        for (unsigned j = 0; j < count; ++j, in += bytesPerPixel, out += 4)
            convert(in, out);
    }
}

void placeBgra(const Placement &at, const uchar *data, size_t length)
{
    const size_t storedPixels = length / 4;
    const unsigned columns = at.visibleWidth(), rows = at.visibleHeight();
    for (unsigned k = 0; k < rows; ++k) {
        const size_t first = size_t(k) * at.blockWidth;
        if (first >= storedPixels)
            return;
        const size_t count = std::min<size_t>(columns, storedPixels - first);
        std::memcpy(at.pixel(0, k), data + first * 4, count * 4);
    }
}

// DXT data: 4 x 4 pixel cells in row order, each decompressed by squish.
void placeDxt(const Placement &at, const uchar *data, size_t length, int flags)
{
    const size_t cellBytes = (flags & squish::kDxt1) ? 8 : 16;
    const unsigned across = (at.blockWidth + 3) / 4, down = (at.blockHeight + 3) / 4;
    const unsigned columns = at.visibleWidth(), rows = at.visibleHeight();
    uchar rgba[64];
    for (unsigned cy = 0; cy < down && cy * 4 < rows; ++cy) {
        for (unsigned cx = 0; cx < across; ++cx) {
            const size_t offset = (size_t(cy) * across + cx) * cellBytes;
            if (offset + cellBytes > length)
                return;
            if (cx * 4 >= columns)
                break; // the rest of this row of cells is outside the picture
            squish::Decompress(rgba, data + offset, flags);
            for (unsigned py = 0; py < 4 && cy * 4 + py < rows; ++py) {
                const unsigned x = cx * 4;
                const unsigned count = std::min(4u, columns - x);
                uchar *out = at.pixel(x, cy * 4 + py);
                const uchar *in = rgba + py * 16;
                for (unsigned px = 0; px < count; ++px, in += 4, out += 4) {
                    out[0] = in[2];
                    out[1] = in[1];
                    out[2] = in[0];
                    out[3] = in[3];
                }
            }
        }
    }
}

void placeBlock(const Placement &at, uchar typeCode, const uchar *data, size_t length)
{
    switch (typeCode) {
    case 0x7D: placeBgra(at, data, length); break;
    case 0x7F:
        placePixels(at, data, length, 4, [](const uchar *s, uchar *d) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
            d[3] = 255;
        });
        break;
    case 0x6D:
        placePixels(at, data, length, 2, [](const uchar *s, uchar *d) {
            const unsigned v = little16(s);
            d[0] = expand4(v);
            d[1] = expand4(v >> 4);
            d[2] = expand4(v >> 8);
            d[3] = expand4(v >> 12);
        });
        break;
    case 0x7E:
        placePixels(at, data, length, 2, [](const uchar *s, uchar *d) {
            const unsigned v = little16(s);
            d[0] = expand5(v);
            d[1] = expand5(v >> 5);
            d[2] = expand5(v >> 10);
            d[3] = alphaFromBit(v & 0x8000);
        });
        break;
    case 0x78:
        placePixels(at, data, length, 2, [](const uchar *s, uchar *d) {
            const unsigned v = little16(s);
            d[0] = expand5(v);
            d[1] = expand6(v >> 5);
            d[2] = expand5(v >> 11);
            d[3] = 255;
        });
        break;
    case 0x60: placeDxt(at, data, length, squish::kDxt1); break;
    case 0x61: placeDxt(at, data, length, squish::kDxt3); break;
    case 0x62: placeDxt(at, data, length, squish::kDxt5); break;
    default: break; // unknown: the block's area stays as it is
    }
}

// Bytes of pixel data a block of `type` needs to fill all its pixels; 0 for
// a type that writes nothing.
uint64_t pixelBytes(uchar type, unsigned w, unsigned h)
{
    switch (type) {
    case 0x7D:
    case 0x7F: return uint64_t(w) * h * 4;
    case 0x6D:
    case 0x7E:
    case 0x78: return uint64_t(w) * h * 2;
    case 0x60: return uint64_t((w + 3) / 4) * ((h + 3) / 4) * 8;
    case 0x61:
    case 0x62: return uint64_t((w + 3) / 4) * ((h + 3) / 4) * 16;
    default: return 0;
    }
}

// True when plain blocks tile the whole picture: every row of blocks of one
// height and ending exactly at the right edge, the rows reaching the bottom,
// and every block of a known type with all its pixels. Only then may the
// picture skip being cleared first. Reads block headers only.
bool tilesThePicture(const uchar *data, size_t size, unsigned count, unsigned width,
                     unsigned height)
{
    if (width == 0 || height == 0)
        return false;
    uint64_t x0 = 0, y0 = 0, rowHeight = 0;
    size_t position = 20;
    for (unsigned i = 0; i < count; ++i) {
        if (size - position < 4)
            return false;
        const uint32_t stored = little32(data + position);
        position += 4;
        if (stored > size - position || stored < kBlockHeader)
            return false;
        const uchar *block = data + position;
        position += stored;
        const unsigned bw = little16(block + 4), bh = little16(block + 6);
        const uint64_t needed = pixelBytes(block[0], bw, bh);
        if (needed == 0 || stored - kBlockHeader < needed || bw == 0 || bh == 0)
            return false;
        if (x0 == 0)
            rowHeight = bh;
        if (bh != rowHeight || x0 + bw > width)
            return false;
        x0 += bw;
        if (x0 == width) {
            x0 = 0;
            y0 += bh;
        }
    }
    return x0 == 0 && y0 >= height;
}

// Pixels a block of `type` can fill with `bytes` bytes of pixel data.
uint64_t fillablePixels(uchar type, uint64_t bytes)
{
    switch (type) {
    case 0x7D:
    case 0x7F: return bytes / 4;
    case 0x6D:
    case 0x7E:
    case 0x78: return bytes / 2;
    case 0x60: return bytes / 8 * 16;
    case 0x61:
    case 0x62: return bytes / 16 * 16;
    default: return 0;
    }
}

// One block record: where its stored bytes are and what its header says.
struct Record
{
    const uchar *stored = nullptr;
    size_t length = 0;  // stored bytes present
    size_t missing = 0; // stored bytes the record declares beyond the input
    uint32_t size = 0;  // its bytes once unpacked (declared), or as stored
    uchar head[kBlockHeader] = {};
    size_t headLength = 0; // header bytes known (from the stream's start when compressed)
    unsigned type() const { return head[0]; }
    unsigned width() const { return little16(head + 4); }
    unsigned height() const { return little16(head + 6); }
};

Record readRecord(const uchar *data, size_t size, size_t position, bool compressed)
{
    Record r;
    const uint32_t declared = little32(data + position);
    r.stored = data + position + 4;
    r.length = std::min<size_t>(declared, size - position - 4);
    r.missing = declared - r.length;
    if (!compressed) {
        r.size = uint32_t(r.length);
        r.headLength = std::min(r.length, kBlockHeader);
        std::memcpy(r.head, r.stored, r.headLength);
        return r;
    }
    // Only the header of a compressed block is unpacked here.
    r.size = GfxCoreCodec::unpackedSize(r.stored, r.length);
    const int64_t got = GfxCoreCodec::unpackPrefix(r.stored, r.length, r.head, kBlockHeader);
    r.headLength = got > 0 ? size_t(got) : 0;
    return r;
}

QString bytesText(uint64_t n)
{
    return n == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(n);
}

} // namespace

bool TpiDecoder::load(const uchar *data, quint32 size)
{
    problem.clear();
    if (size < 20)
        return showDecodeError(QStringLiteral("Incorrect TPI file (File is too small)"));
    std::memcpy(header, data, 20);
    headerRead = true;
    if (little32(header) != kMagic)
        return showDecodeError(QStringLiteral("Incorrect TPI file (Not a TPI1 file)"));
    const bool compressed = little32(header + 8) == kRefp;
    const unsigned count = little16(header + 16);
    const QString cannotFill = QStringLiteral("Incorrect TPI file (its blocks cannot fill %1 x %2 "
                                              "pixels)")
                                   .arg(width())
                                   .arg(height());

    // The records, and the most pixels their blocks can fill, from what the
    // headers declare; no block's pixels are unpacked yet.
    std::vector<Record> records;
    uint64_t fillable = 0;
    size_t position = 20;
    for (unsigned i = 0; i < count && size - position >= 4; ++i) {
        records.push_back(readRecord(data, size, position, compressed));
        const Record &r = records.back();
        position += 4 + r.length;
        if (r.headLength == kBlockHeader)
            fillable += std::min(uint64_t(r.width()) * r.height(),
                                 fillablePixels(uchar(r.type()), r.size - kBlockHeader));
    }
    if (records.size() < count)
        noteDamage(QStringLiteral("the file ends before block %1 of %2")
                       .arg(records.size() + 1)
                       .arg(count));
    if (!checkImageData(uint64_t(width()), uint64_t(height()), fillable, cannotFill))
        return false;

    // The picture is made once a block really has pixels for it.
    QImage picture;
    bool made = false;
    const bool tiled =
        !compressed && tilesThePicture(data, size, count, unsigned(width()), unsigned(height()));
    auto make = [&]() {
        made = true;
        picture =
            tiled ? QImage(width(), height(), QImage::Format_ARGB32) : newImage(width(), height());
        if (picture.isNull() && tiled)
            showDecodeError(
                QStringLiteral("Not enough memory for a %1 x %2 image").arg(width()).arg(height()));
        return !picture.isNull();
    };

    // Blocks go left to right; the block that reaches the right edge ends the
    // row, and the next row starts lower by that block's height. A block
    // outside the picture is not unpacked, one inside only as far as the
    // rows that show.
    int64_t x0 = 0, y0 = 0;
    std::unique_ptr<uchar[]> unpacked;
    unpackedBytes = 0;
    const uint64_t budget = unpackingBudget(width(), height(), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const Record &r = records[i];
        if (r.missing > 0)
            noteDamage(QStringLiteral("block %1 is %2 short").arg(i + 1).arg(bytesText(r.missing)));
        if (r.headLength < 8) {
            if (compressed)
                noteDamage(QStringLiteral("block %1 does not unpack").arg(i + 1));
            continue; // no size to place it by
        }
        const unsigned bw = r.width(), bh = r.height();
        const Placement at{nullptr, 0, width(), height(), x0, y0, bw, bh};
        x0 += bw;
        if (x0 >= width()) {
            x0 = 0;
            y0 += bh;
        }
        const unsigned rows = at.visibleHeight();
        if (rows == 0 || at.visibleWidth() == 0 || r.headLength < kBlockHeader)
            continue;
        // The pixel data of the rows that show (DXT: their rows of cells).
        const uint64_t needed = pixelBytes(uchar(r.type()), bw, rows);
        const size_t want = size_t(std::min<uint64_t>(kBlockHeader + needed, r.size));
        // A block far wider than the picture costs its whole rows; past a
        // few times what the picture holds, that is not worth unpacking.
        const uint64_t worth =
            std::max<uint64_t>(uint64_t(width()) * uint64_t(height()) * 8, kWorthUnpacking);
        if (compressed && want > worth) {
            noteDamage(QStringLiteral("block %1 is too large to unpack for a %2 x %3 picture")
                           .arg(i + 1)
                           .arg(width())
                           .arg(height()));
            continue;
        }
        if (compressed && unpackedBytes + want > budget) {
            noteDamage(QStringLiteral("block %1 would unpack past what a %2 x %3 picture can "
                                      "use")
                           .arg(i + 1)
                           .arg(width())
                           .arg(height()));
            continue;
        }
        const uchar *block = r.stored;
        if (compressed) {
            unpackedBytes += want; // charged before it starts, whatever comes of it
            unpacked.reset(new (std::nothrow) uchar[want]);
            if (!unpacked)
                return showDecodeError(
                    QStringLiteral("Not enough memory to unpack block %1").arg(i + 1));
            if (GfxCoreCodec::unpackPrefix(r.stored, r.length, unpacked.get(), want) !=
                int64_t(want)) {
                noteDamage(QStringLiteral("block %1 does not unpack").arg(i + 1));
                x0 = at.x0, y0 = at.y0; // placed as a block that did not unpack: not at all
                continue;
            }
            block = unpacked.get();
        }
        if (want - kBlockHeader < needed && pixelBytes(uchar(r.type()), bw, bh) > 0)
            noteDamage(QStringLiteral("block %1 is %2 short of its pixels")
                           .arg(i + 1)
                           .arg(bytesText(needed - (want - kBlockHeader))));
        if (want <= kBlockHeader)
            continue;
        if (!made && !make())
            return false;
        placeBlock(Placement{picture.bits(), picture.bytesPerLine(), picture.width(),
                             picture.height(), at.x0, at.y0, bw, bh},
                   uchar(r.type()), block + kBlockHeader, want - kBlockHeader);
    }
    // No block had pixels: an empty picture, if it is small enough to be
    // worth showing as such.
    const bool empty = width() == 0 || height() == 0;
    if (!made && !empty &&
        (!checkImageData(uint64_t(width()), uint64_t(height()), 0, cannotFill) || !make()))
        return false;
    image = made ? picture : QImage(width(), height(), QImage::Format_ARGB32);
    return true;
}

void TpiDecoder::noteDamage(const QString &text)
{
    if (problem.isEmpty())
        problem = text;
}

int TpiDecoder::width() const
{
    return int(little16(header + 12));
}

int TpiDecoder::height() const
{
    return int(little16(header + 14));
}

QString TpiDecoder::formatName() const
{
    if (!headerRead)
        return QStringLiteral("UNKNOWN");
    const char *name = reinterpret_cast<const char *>(header + 4);
    return QString::fromUtf8(name, int(qstrnlen(name, 4)));
}

QPixmap TpiDecoder::toPixmap() const
{
    return pixmapOf(image);
}
