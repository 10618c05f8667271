#include "tpiwriter.h"

#include "gfxcorecodec.h"
#include "pixelpacking.h"

#include <squish.h>

#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr int kMaxSide = 65535;
constexpr int kMaxBlocks = 65535; // the header counts blocks in 16 bits

struct FormatInfo
{
    TpiFormat format;
    const char *name;
    uint8_t typeCode;
};

const FormatInfo formats[] = {
    {TpiFormat::Argb8888, "8888", 0x7D}, {TpiFormat::Rgb888, "888", 0x7F},
    {TpiFormat::Argb4444, "4444", 0x6D}, {TpiFormat::Argb1555, "1555", 0x7E},
    {TpiFormat::Rgb565, "565", 0x78},    {TpiFormat::Dxt1, "DXT1", 0x60},
    {TpiFormat::Dxt3, "DXT3", 0x61},     {TpiFormat::Dxt5, "DXT5", 0x62},
};

const FormatInfo &infoOf(TpiFormat format)
{
    for (const FormatInfo &info : formats) {
        if (info.format == format)
            return info;
    }
    return formats[0];
}

void put16(QByteArray &out, unsigned v)
{
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
}

void put32(QByteArray &out, quint32 v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

int squishFlags(TpiFormat format, DxtQuality quality)
{
    const int kind = format == TpiFormat::Dxt1   ? squish::kDxt1
                     : format == TpiFormat::Dxt3 ? squish::kDxt3
                                                 : squish::kDxt5;
    const int fit = quality == DxtQuality::Fast   ? squish::kColourRangeFit
                    : quality == DxtQuality::Best ? squish::kColourIterativeClusterFit
                                                  : squish::kColourClusterFit;
    return kind | fit;
}

// Blue, green, red, alpha pixels to red, green, blue, alpha, four at a time
// (the portable build does not vectorise loops by itself).
void swapRedAndBlue(const uint32_t *from, uint32_t *to, int count)
{
    typedef uint32_t FourPixels __attribute__((vector_size(16)));
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        FourPixels v;
        std::memcpy(&v, from + i, sizeof v);
        v = (v & 0xFF00FF00u) | (v >> 16 & 0xFFu) | (v & 0xFFu) << 16;
        std::memcpy(to + i, &v, sizeof v);
    }
    for (; i < count; ++i) {
        const uint32_t v = from[i];
        to[i] = (v & 0xFF00FF00u) | (v >> 16 & 0xFFu) | (v & 0xFFu) << 16;
    }
}

// Appends the 16-byte header and the pixel data of the block at (x, y) of
// `w` x `h` pixels to `out`.
void appendBlock(const QImage &image, int x, int y, int w, int h, const TpiOptions &options,
                 QByteArray &out)
{
    out += char(infoOf(options.format).typeCode);
    out += QByteArray(3, '\0');
    put16(out, unsigned(w));
    put16(out, unsigned(h));
    out += QByteArray(8, '\0');
    const int start = out.size();
    const TpiFormat format = options.format;
    if (format == TpiFormat::Dxt1 || format == TpiFormat::Dxt3 || format == TpiFormat::Dxt5) {
        // libsquish reads red, green, blue, alpha; the picture holds blue,
        // green, red, alpha (libsquish's flag for that is not honoured by
        // every build of it). A band of 64 rows is turned round at a time,
        // small enough to stay in the cache and tall enough for libsquish to
        // share its 4-row cells out among its threads.
        const int flags = squishFlags(format, options.quality);
        out.resize(start + squish::GetStorageRequirements(w, h, flags));
        constexpr int kBand = 64;
        std::unique_ptr<uint32_t[]> rgba(new uint32_t[size_t(w) * kBand]);
        const int cellBytes = squish::GetStorageRequirements(4, 4, flags);
        for (int band = 0; band < h; band += kBand) {
            const int rows = qMin(kBand, h - band);
            for (int row = 0; row < rows; ++row) {
                const auto *from =
                    reinterpret_cast<const uint32_t *>(image.constScanLine(y + band + row)) + x;
                swapRedAndBlue(from, rgba.get() + size_t(row) * size_t(w), w);
            }
            squish::CompressImage(reinterpret_cast<const uchar *>(rgba.get()), w, rows,
                                  out.data() + start + size_t(band / 4) * ((w + 3) / 4) * cellBytes,
                                  flags);
        }
        return;
    }
    const int bytes = format == TpiFormat::Argb8888 || format == TpiFormat::Rgb888 ? 4 : 2;
    out.resize(start + w * h * bytes);
    char *to = out.data() + start;
    for (int row = 0; row < h; ++row) {
        const uchar *from = image.constScanLine(y + row) + size_t(x) * 4;
        switch (format) {
        case TpiFormat::Argb8888: std::memcpy(to, from, size_t(w) * 4); break;
        case TpiFormat::Rgb888:
            for (int i = 0; i < w; ++i) {
                std::memcpy(to + i * 4, from + i * 4, 3);
                to[i * 4 + 3] = char(0xFF);
            }
            break;
        default:
            for (int i = 0; i < w; ++i) {
                const uint16_t v = format == TpiFormat::Argb4444   ? pack4444(from + i * 4)
                                   : format == TpiFormat::Argb1555 ? pack1555(from + i * 4)
                                                                   : pack565(from + i * 4);
                to[i * 2] = char(v & 0xFF);
                to[i * 2 + 1] = char(v >> 8);
            }
        }
        to += size_t(w) * size_t(bytes);
    }
}

// Bytes of pixel data of a `w` x `h` block.
qint64 pixelBytes(TpiFormat format, int w, int h)
{
    switch (format) {
    case TpiFormat::Argb8888:
    case TpiFormat::Rgb888: return qint64(w) * h * 4;
    case TpiFormat::Dxt1: return qint64((w + 3) / 4) * ((h + 3) / 4) * 8;
    case TpiFormat::Dxt3:
    case TpiFormat::Dxt5: return qint64((w + 3) / 4) * ((h + 3) / 4) * 16;
    default: return qint64(w) * h * 2;
    }
}

} // namespace

std::optional<TpiFormat> tpiFormatNamed(const QString &name)
{
    for (const FormatInfo &info : formats) {
        if (name.compare(QLatin1String(info.name), Qt::CaseInsensitive) == 0)
            return info.format;
    }
    return std::nullopt;
}

QString tpiFormatName(TpiFormat format)
{
    return QLatin1String(infoOf(format).name);
}

bool encodeTpi(const QImage &source, const TpiOptions &options, QByteArray &out, QString &problem)
{
    const int width = source.width(), height = source.height();
    if (source.isNull() || width == 0 || height == 0) {
        problem = QStringLiteral("a TPI file cannot hold an empty picture");
        return false;
    }
    if (width > kMaxSide || height > kMaxSide) {
        problem = QStringLiteral("a TPI file holds at most 65535 x 65535 pixels, not %1 x %2")
                      .arg(width)
                      .arg(height);
        return false;
    }
    if (options.compress && !GfxCoreCodec::isLoaded()) {
        problem = QStringLiteral("the Refp codec (GfxCore) is not available");
        return false;
    }
    const int side = options.tile > 0 ? options.tile : qMax(width, height);
    const qint64 across = (width + side - 1) / side, down = (height + side - 1) / side;
    if (across * down > kMaxBlocks) {
        problem = QStringLiteral("%1 x %2 pixels in tiles of %3 make %4 blocks; a TPI file holds "
                                 "at most 65535")
                      .arg(width)
                      .arg(height)
                      .arg(side)
                      .arg(across * down);
        return false;
    }
    const QImage image = source.format() == QImage::Format_ARGB32
                             ? source
                             : source.convertToFormat(QImage::Format_ARGB32);
    const FormatInfo &info = infoOf(options.format);
    try {
        // Plain blocks make a file of a size known in advance.
        qint64 size = 20;
        for (int y = 0; y < height; y += side)
            for (int x = 0; x < width; x += side)
                size +=
                    20 + pixelBytes(options.format, qMin(side, width - x), qMin(side, height - y));
        QByteArray file;
        if (!options.compress)
            file.reserve(int(qMin<qint64>(size, std::numeric_limits<int>::max() - 64)));
        file += "1IPT";
        QByteArray name(info.name);
        name.resize(4); // zero-padded: "888" is "888\0"
        file += name;
        file += options.compress ? QByteArray("Refp") : QByteArray(4, '\0');
        put16(file, unsigned(width));
        put16(file, unsigned(height));
        put16(file, unsigned(across * down));
        put16(file, 0);

        // Rows of blocks, each row as high as its blocks; the block at the
        // right edge is cut to the picture, so it ends the row.
        QByteArray block, packed;
        for (int y = 0; y < height; y += side) {
            for (int x = 0; x < width; x += side) {
                const int w = qMin(side, width - x), h = qMin(side, height - y);
                if (!options.compress) {
                    // Written in place: its length first, then the block.
                    put32(file, quint32(16 + pixelBytes(options.format, w, h)));
                    appendBlock(image, x, y, w, h, options, file);
                    continue;
                }
                block.clear();
                appendBlock(image, x, y, w, h, options, block);
                packed.resize(int(GfxCoreCodec::compressBound(size_t(block.size()))));
                const size_t n = GfxCoreCodec::compress(block.constData(), size_t(block.size()),
                                                        packed.data(), size_t(packed.size()));
                if (n == 0) {
                    problem = QStringLiteral("cannot compress a block");
                    return false;
                }
                put32(file, quint32(n));
                file.append(packed.constData(), int(n));
            }
        }
        out = file;
    } catch (const std::bad_alloc &) {
        problem =
            QStringLiteral("Not enough memory to write a %1 x %2 TPI file").arg(width).arg(height);
        return false;
    }
    return true;
}
