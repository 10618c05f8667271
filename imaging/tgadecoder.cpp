#include "tgadecoder.h"

#include "decoder.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

enum Field
{
    IdLength = 0,
    ColorMapType = 1,
    ImageType = 2,
    ColorMapLength = 5,
    ColorMapEntryBits = 7,
    Width = 12,
    Height = 14,
    PixelDepth = 16,
    Descriptor = 17,
};

inline unsigned little16(const uchar *p)
{
    return unsigned(p[0]) | unsigned(p[1]) << 8;
}

// One stored pixel of `depth` bits to blue, green, red, alpha.
inline void convert(int depth, const uchar *s, uchar *d)
{
    switch (depth) {
    case 32: std::memcpy(d, s, 4); break;
    case 24:
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = 255;
        break;
    default: {
        const unsigned v = little16(s);
        d[0] = expand5(v & 0x1F);
        d[1] = expand5((v >> 5) & 0x1F);
        d[2] = expand5((v >> 10) & 0x1F);
        d[3] = alphaFromBit(v & 0x8000);
    }
    }
}

} // namespace

bool TgaDecoder::load(const uchar *data, quint32 size)
{
    problem.clear();
    if (size < 18)
        return showDecodeError(QStringLiteral("Not a correct TGA file (File is too small)"));
    std::memcpy(header, data, 18);
    const int depth = header[PixelDepth];
    const int type = header[ImageType];
    if (header[ColorMapType] > 1 || (depth != 32 && depth != 24 && depth != 16) ||
        (type != 2 && type != 10))
        return showDecodeError(QStringLiteral("Not a correct TGA file (Unsupported image type)"));

    // The pixels follow the image ID and, when there is one, the colour map.
    uint64_t start = 18 + uint64_t(header[IdLength]);
    if (header[ColorMapType] == 1)
        start +=
            uint64_t(little16(header + ColorMapLength)) * ((header[ColorMapEntryBits] + 7u) / 8u);
    const uchar *pixels = data + qMin<uint64_t>(start, size);
    const size_t length = start < size ? size_t(size - start) : 0;
    // Plain pixels are all there or not; one run-length packet of 1 + b
    // bytes gives at most 128 pixels.
    const uint64_t bytes = uint64_t(depth / 8);
    const uint64_t fillable = type == 10 ? (length + bytes) / (1 + bytes) * 128 : length / bytes;
    if (!checkImageData(uint64_t(width()), uint64_t(height()), fillable,
                        QStringLiteral("Not a correct TGA file (its pixel data cannot fill "
                                       "%1 x %2 pixels)")
                            .arg(width())
                            .arg(height())))
        return false;

    // Decoded straight into the picture; whatever the data does not reach
    // is cleared afterwards.
    if (width() > 0 && height() > 0) {
        image = QImage(width(), height(), QImage::Format_ARGB32);
        if (image.isNull())
            return showDecodeError(
                QStringLiteral("Not enough memory for a %1 x %2 image").arg(width()).arg(height()));
        const qint64 decoded = type == 10 ? decodeRle(pixels, length) : decodePlain(pixels, length);
        const qint64 all = qint64(width()) * height();
        if (decoded < all)
            problem =
                QStringLiteral("its pixel data ends after %1 of %2 pixels").arg(decoded).arg(all);
        clearFrom(decoded);
    } else {
        image = QImage(0, 0, QImage::Format_ARGB32);
    }
    return true;
}

// Sizes are unsigned: a picture may be up to 65535 pixels wide.
int TgaDecoder::width() const
{
    return int(little16(header + Width));
}

int TgaDecoder::height() const
{
    return int(little16(header + Height));
}

QString TgaDecoder::formatName() const
{
    const int depth = header[PixelDepth];
    const char *name = depth == 16 ? "4444" : depth == 24 ? "888" : depth == 32 ? "8888" : nullptr;
    if (!name || (header[ImageType] != 2 && header[ImageType] != 10))
        return QStringLiteral("UNKNOWN");
    return (header[ImageType] == 10 ? QStringLiteral("RLE_") : QString()) + QLatin1String(name);
}

QPixmap TgaDecoder::toPixmap() const
{
    return pixmapOf(image);
}

// Stored rows run bottom-up unless bit 4 or 5 of the descriptor is set.
static inline int outputRow(const uchar *header, int row, int height)
{
    return (header[Descriptor] & 0x30) ? row : height - 1 - row;
}

void TgaDecoder::clearFrom(qint64 pixel)
{
    const int w = width(), h = height();
    for (int row = int(pixel / w); row < h; ++row) {
        const int from = row == pixel / w ? int(pixel % w) : 0;
        auto *line = reinterpret_cast<uint32_t *>(image.scanLine(outputRow(header, row, h)));
        std::fill(line + from, line + w, 0u);
    }
}

qint64 TgaDecoder::decodePlain(const uchar *pixels, size_t length)
{
    const int w = width(), h = height();
    const int depth = header[PixelDepth];
    const size_t bytes = size_t(depth / 8);
    const size_t stride = size_t(w) * bytes;
    qint64 written = 0;
    for (int row = 0; row < h; ++row) {
        const size_t begin = size_t(row) * stride;
        if (begin >= length)
            break;
        const int count = int(qMin(stride, length - begin) / bytes);
        uchar *out = image.scanLine(outputRow(header, row, h));
        const uchar *in = pixels + begin;
        if (depth == 32)
            std::memcpy(out, in, size_t(count) * 4);
        else
            for (int x = 0; x < count; ++x, in += bytes, out += 4)
                convert(depth, in, out);
        written += count;
        if (count < w)
            break;
    }
    return written;
}

qint64 TgaDecoder::decodeRle(const uchar *in, size_t length)
{
    const int w = width(), h = height();
    const int depth = header[PixelDepth];
    const size_t bytes = size_t(depth / 8);
    const uchar *const end = in + length;

    // Packets run on across row ends; each step fills what is left of a row.
    int row = 0, x = 0;
    QImage &target = image;
    uint32_t *out = reinterpret_cast<uint32_t *>(target.scanLine(outputRow(header, 0, h)));
    auto moveOn = [&](int n) {
        x += n;
        if (x == w) {
            x = 0;
            if (++row < h)
                out = reinterpret_cast<uint32_t *>(target.scanLine(outputRow(header, row, h)));
        }
    };
    auto written = [&] { return qint64(row) * w + x; };
    while (row < h && in < end) {
        const unsigned packet = *in++;
        int count = int(packet & 0x7F) + 1;
        if (packet & 0x80) {
            if (size_t(end - in) < bytes)
                return written();
            uint32_t pixel;
            convert(depth, in, reinterpret_cast<uchar *>(&pixel));
            in += bytes;
            while (count > 0 && row < h) {
                const int n = qMin(count, w - x);
                std::fill_n(out + x, n, pixel);
                count -= n;
                moveOn(n);
            }
            continue;
        }
        while (count > 0 && row < h) {
            const int n = int(qMin<size_t>(size_t(qMin(count, w - x)), size_t(end - in) / bytes));
            if (n == 0)
                return written();
            if (depth == 32) {
                std::memcpy(out + x, in, size_t(n) * 4);
            } else {
                for (int i = 0; i < n; ++i)
                    convert(depth, in + size_t(i) * bytes, reinterpret_cast<uchar *>(out + x + i));
            }
            in += size_t(n) * bytes;
            count -= n;
            moveOn(n);
        }
    }
    return written();
}
