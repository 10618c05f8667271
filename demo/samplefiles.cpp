#include "samplefiles.h"

#include "bigwriter.h"
#include "gfxcore.h"

#include <png.h>
#include <squish.h>

#include <cstring>
#include <vector>

QImage patternImage(int width, int height, bool withAlpha)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int alpha = withAlpha ? (x * 7 + y * 13) % 256 : 255;
            image.setPixel(x, y, qRgba((x * 37) % 256, (y * 59) % 256, (x * y + 11) % 256, alpha));
        }
    }
    return image;
}

namespace {

void appendBytes(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<QByteArray *>(png_get_io_ptr(png))
        ->append(reinterpret_cast<const char *>(data), int(length));
}

void noFlush(png_structp)
{
}

} // namespace

QByteArray makePng(const QImage &image, const PngSpec &spec)
{
    QByteArray out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, appendBytes, noFlush);
    png_set_IHDR(png, info, png_uint_32(image.width()), png_uint_32(image.height()), spec.bitDepth,
                 spec.colorType, spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette(16);
    for (int i = 0; i < 16; ++i)
        palette[size_t(i)] = {png_byte(i * 16), png_byte(255 - i * 16), png_byte(i * 8)};
    if (spec.colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_PLTE(png, info, palette.data(), 16);
    png_color_16 transparent{};
    transparent.red = png_uint_16(qRed(image.pixel(0, 0)));
    transparent.green = png_uint_16(qGreen(image.pixel(0, 0)));
    transparent.blue = png_uint_16(qBlue(image.pixel(0, 0)));
    if (spec.transparencyChunk)
        png_set_tRNS(png, info, nullptr, 0, &transparent);
    png_write_info(png, info);

    const int channels = spec.colorType == 0 || spec.colorType == 3 ? 1
                         : spec.colorType == 4                      ? 2
                         : spec.colorType == 2                      ? 3
                                                                    : 4;
    const int bytesPerSample = spec.bitDepth == 16 ? 2 : 1;
    std::vector<std::vector<png_byte>> rows(size_t(image.height()));
    for (int y = 0; y < image.height(); ++y) {
        std::vector<png_byte> &row = rows[size_t(y)];
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            int samples[4] = {qRed(p), qGreen(p), qBlue(p), qAlpha(p)};
            if (channels <= 2) {
                samples[0] = spec.colorType == 3 ? (x + y) % 16 : qGray(p);
                samples[1] = qAlpha(p);
            }
            for (int c = 0; c < channels; ++c) {
                if (bytesPerSample == 2)
                    row.push_back(png_byte(samples[c]));
                row.push_back(png_byte(samples[c]));
            }
        }
    }
    std::vector<png_bytep> pointers;
    for (auto &row : rows)
        pointers.push_back(row.data());
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

QByteArray makeTga(int imageType, int depth, int width, int height, uint8_t descriptor,
                   const QByteArray &pixels, const QByteArray &imageId, const QByteArray &colorMap,
                   int colorMapEntryBits)
{
    QByteArray h(18, '\0');
    h[0] = char(imageId.size());
    h[1] = char(colorMap.isEmpty() && colorMapEntryBits == 0 ? 0 : 1);
    h[2] = char(imageType);
    const int entries = colorMapEntryBits ? colorMap.size() / ((colorMapEntryBits + 7) / 8) : 0;
    h[5] = char(entries);
    h[6] = char(entries >> 8);
    h[7] = char(colorMapEntryBits);
    h[12] = char(width);
    h[13] = char(width >> 8);
    h[14] = char(height);
    h[15] = char(height >> 8);
    h[16] = char(depth);
    h[17] = char(descriptor);
    return h + imageId + colorMap + pixels;
}

QByteArray tgaPixels(const QImage &image, int depth, bool topDown)
{
    QByteArray out;
    for (int i = 0; i < image.height(); ++i) {
        const int y = topDown ? i : image.height() - 1 - i;
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (depth == 16) {
                const int v = (qAlpha(p) ? 0x8000 : 0) | (qRed(p) >> 3) << 10 |
                              (qGreen(p) >> 3) << 5 | qBlue(p) >> 3;
                out += char(v);
                out += char(v >> 8);
                continue;
            }
            out += char(qBlue(p));
            out += char(qGreen(p));
            out += char(qRed(p));
            if (depth == 32)
                out += char(qAlpha(p));
        }
    }
    return out;
}

QByteArray tpiBlockBytes(const TpiBlock &block)
{
    QByteArray b(16, '\0');
    b[0] = char(block.typeCode);
    b[4] = char(block.width);
    b[5] = char(block.width >> 8);
    b[6] = char(block.height);
    b[7] = char(block.height >> 8);
    return b + block.pixels;
}

QByteArray makeTpi(uint16_t width, uint16_t height, const QVector<TpiBlock> &blocks, bool refp,
                   const QByteArray &pixelFormat)
{
    QByteArray h("1IPT");
    h += pixelFormat.leftJustified(4, '\0', true);
    h += refp ? QByteArray("Refp") : QByteArray(4, '\0');
    for (uint16_t v : {width, height, uint16_t(blocks.size()), uint16_t(0)}) {
        h += char(v);
        h += char(v >> 8);
    }
    for (const TpiBlock &block : blocks) {
        const QByteArray data = refp ? refpCompress(tpiBlockBytes(block)) : tpiBlockBytes(block);
        const quint32 n = quint32(data.size());
        for (int shift = 0; shift < 32; shift += 8)
            h += char(n >> shift);
        h += data;
    }
    return h;
}

QByteArray tgaRle(const QByteArray &pixels, int bytes)
{
    const int count = pixels.size() / bytes;
    const char *p = pixels.constData();
    auto same = [&](int a, int b) {
        return std::memcmp(p + a * bytes, p + b * bytes, size_t(bytes)) == 0;
    };
    QByteArray out;
    out.reserve(pixels.size() + pixels.size() / 64 + 16);
    for (int i = 0; i < count;) {
        int run = 1;
        while (i + run < count && run < 128 && same(i + run, i))
            ++run;
        if (run >= 3) {
            out += char(0x80 | (run - 1));
            out.append(p + i * bytes, bytes);
            i += run;
            continue;
        }
        int raw = 1;
        while (i + raw < count && raw < 128 &&
               !(i + raw + 2 < count && same(i + raw, i + raw + 1) && same(i + raw, i + raw + 2)))
            ++raw;
        out += char(raw - 1);
        out.append(p + i * bytes, raw * bytes);
        i += raw;
    }
    return out;
}

TpiBlock tpiBlockOf(const QImage &source, uint8_t typeCode)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int w = image.width(), h = image.height();
    TpiBlock block{typeCode, uint16_t(w), uint16_t(h), {}};
    if (typeCode == 0x60 || typeCode == 0x61 || typeCode == 0x62) {
        const int flags = typeCode == 0x60   ? squish::kDxt1
                          : typeCode == 0x61 ? squish::kDxt3
                                             : squish::kDxt5;
        std::vector<uchar> rgba;
        rgba.reserve(size_t(w) * size_t(h) * 4);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const QRgb p = image.pixel(x, y);
                rgba.insert(rgba.end(),
                            {uchar(qRed(p)), uchar(qGreen(p)), uchar(qBlue(p)), uchar(qAlpha(p))});
            }
        block.pixels = QByteArray(squish::GetStorageRequirements(w, h, flags), '\0');
        squish::CompressImage(rgba.data(), w, h, block.pixels.data(), flags);
        return block;
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb p = image.pixel(x, y);
            const unsigned r = unsigned(qRed(p)), g = unsigned(qGreen(p)), b = unsigned(qBlue(p)),
                           a = unsigned(qAlpha(p));
            unsigned v = 0;
            switch (typeCode) {
            case 0x7D:
                block.pixels += QByteArray() + char(b) + char(g) + char(r) + char(a);
                continue;
            case 0x7F:
                block.pixels += QByteArray() + char(b) + char(g) + char(r) + char(0x5A);
                continue;
            case 0x6D: v = (a >> 4) << 12 | (r >> 4) << 8 | (g >> 4) << 4 | b >> 4; break;
            case 0x7E:
                v = (a >= 128 ? 0x8000u : 0u) | (r >> 3) << 10 | (g >> 3) << 5 | b >> 3;
                break;
            case 0x78: v = (r >> 3) << 11 | (g >> 2) << 5 | b >> 3; break;
            default: break;
            }
            block.pixels += char(v);
            block.pixels += char(v >> 8);
        }
    return block;
}

QByteArray refpCompress(const QByteArray &data)
{
    QByteArray out(int(GfxCore_CompressBound(size_t(data.size()))), Qt::Uninitialized);
    const size_t n =
        GfxCore_Compress(data.constData(), size_t(data.size()), out.data(), size_t(out.size()));
    out.truncate(int(n));
    return out;
}

QByteArray makeBig(const QVector<SampleEntry> &entries)
{
    BigEntries records(size_t(entries.size()));
    QVector<QByteArray> stored;
    for (int i = 0; i < entries.size(); ++i) {
        records[size_t(i)].path = entries[i].path;
        stored << (entries[i].compress ? refpCompress(entries[i].data) : entries[i].data);
    }
    quint64 offset = bigDirectoryEnd(records);
    QByteArray data;
    for (int i = 0; i < entries.size(); ++i) {
        records[size_t(i)].offset = qint32(offset);
        records[size_t(i)].size = stored[i].size();
        offset += quint64(stored[i].size());
        data += stored[i];
    }
    return bigHeaderAndDirectory(records, quint32(offset)) + data;
}
