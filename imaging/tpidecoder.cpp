#include "tpidecoder.h"

#include "decoder.h"
#include "gfxcorecodec.h"

#include <squish.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr uint32_t kMagic = 0x54504931; // "1IPT" in file order
constexpr uint32_t kRefp = 0x70666552;  // "Refp" in file order
constexpr size_t kBlockHeader = 16;

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

// The most pixels the blocks can fill, from their records alone: a plain
// block gives at most its size or what its bytes hold; a compressed one at
// most two pixels for each byte its stream declares (DXT1, the densest
// format), and no stream declares more than it can produce.
uint64_t fillableByBlocks(const uchar *data, size_t size, unsigned count, bool compressed)
{
    uint64_t fillable = 0;
    size_t position = 20;
    for (unsigned i = 0; i < count && size - position >= 4; ++i) {
        const size_t length = std::min<size_t>(little32(data + position), size - position - 4);
        const uchar *block = data + position + 4;
        position += 4 + length;
        if (compressed) {
            fillable += 2 * uint64_t(GfxCoreCodec::unpackedSize(block, length));
        } else if (length > kBlockHeader) {
            const uint64_t area = uint64_t(little16(block + 4)) * little16(block + 6);
            fillable += std::min(area, fillablePixels(block[0], length - kBlockHeader));
        }
    }
    return fillable;
}

// A stored Refp block unpacked; empty when it does not unpack.
QByteArray unpackBlock(const uchar *stored, size_t length)
{
    const uint32_t n = GfxCoreCodec::unpackedSize(stored, length);
    if (n == 0 || n > uint32_t(std::numeric_limits<int>::max() - 64))
        return QByteArray();
    try {
        QByteArray block(int(n), Qt::Uninitialized);
        if (GfxCoreCodec::unpack(stored, length, block.data(), n))
            return block;
    } catch (const std::bad_alloc &) {
    }
    return QByteArray();
}

} // namespace

bool TpiDecoder::load(const uchar *data, quint32 size)
{
    if (size < 20)
        return showDecodeError(QStringLiteral("Incorrect TPI file (File is too small)"));
    std::memcpy(header, data, 20);
    headerRead = true;
    if (little32(header) != kMagic)
        return showDecodeError(QStringLiteral("Incorrect TPI file (Not a TPI1 file)"));
    const bool compressed = little32(header + 8) == kRefp;
    const unsigned count = little16(header + 16);
    if (!checkImageData(uint64_t(width()), uint64_t(height()),
                        fillableByBlocks(data, size, count, compressed),
                        QStringLiteral("Incorrect TPI file (its blocks cannot fill %1 x %2 pixels)")
                            .arg(width())
                            .arg(height())))
        return false;
    QImage picture;
    if (!compressed && tilesThePicture(data, size, count, unsigned(width()), unsigned(height()))) {
        picture = QImage(width(), height(), QImage::Format_ARGB32); // every pixel gets written
        if (picture.isNull())
            return showDecodeError(
                QStringLiteral("Not enough memory for a %1 x %2 image").arg(width()).arg(height()));
    } else {
        picture = newImage(width(), height());
        if (picture.isNull() && width() > 0 && height() > 0)
            return false;
    }

    // Blocks go left to right; the block that reaches the right edge ends the
    // row, and the next row starts lower by that block's height. Plain blocks
    // are read where they stand; compressed ones are unpacked one at a time.
    int64_t x0 = 0, y0 = 0;
    size_t position = 20;
    for (unsigned i = 0; i < count && size - position >= 4; ++i) {
        const uint32_t stored = little32(data + position);
        position += 4;
        const size_t length = std::min<size_t>(stored, size - position);
        QByteArray unpacked;
        const uchar *block = data + position;
        size_t blockLength = length;
        position += length;
        if (compressed) {
            unpacked = unpackBlock(block, length);
            block = reinterpret_cast<const uchar *>(unpacked.constData());
            blockLength = size_t(unpacked.size());
        }
        if (blockLength < 8)
            continue; // no size to place it by
        const unsigned bw = little16(block + 4), bh = little16(block + 6);
        if (blockLength > kBlockHeader && x0 < picture.width() && y0 < picture.height())
            placeBlock(Placement{picture.bits(), picture.bytesPerLine(), picture.width(),
                                 picture.height(), x0, y0, bw, bh},
                       block[0], block + kBlockHeader, blockLength - kBlockHeader);
        x0 += bw;
        if (x0 >= width()) {
            x0 = 0;
            y0 += bh;
        }
    }
    image = picture;
    return true;
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
