#include "tgawriter.h"

#include "pixelpacking.h"

#include <cstring>
#include <new>

namespace {

constexpr int kMaxSide = 65535;

// The fixed signature that ends a version 2 file, after the offsets of its
// (absent) extension area and developer directory.
const char kFooterSignature[18] = {0x54, 0x52, 0x55, 0x45, 0x56, 0x49, 0x53, 0x49, 0x4F,
                                   0x4E, 0x2D, 0x58, 0x46, 0x49, 0x4C, 0x45, 0x2E, 0x00};

void put16(QByteArray &out, unsigned v)
{
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
}

// One row of stored pixels, `bytes` each.
void storedRow(const uchar *bgra, int width, int bytes, char *out)
{
    if (bytes == 4) {
        std::memcpy(out, bgra, size_t(width) * 4);
        return;
    }
    for (int x = 0; x < width; ++x, bgra += 4, out += bytes) {
        if (bytes == 2) {
            const uint16_t v = pack1555(bgra);
            out[0] = char(v & 0xFF);
            out[1] = char(v >> 8);
        } else {
            std::memcpy(out, bgra, size_t(bytes));
        }
    }
}

// Run-length packets over one row: a run of two or more equal pixels is one
// packet, everything between them raw packets, 128 pixels at most each.
void appendRle(const char *row, int width, int bytes, QByteArray &out)
{
    auto same = [&](int a, int b) {
        return std::memcmp(row + a * bytes, row + b * bytes, size_t(bytes)) == 0;
    };
    for (int x = 0; x < width;) {
        int run = 1;
        while (x + run < width && run < 128 && same(x, x + run))
            ++run;
        if (run > 1) {
            out += char(0x80 | (run - 1));
            out.append(row + x * bytes, bytes);
            x += run;
            continue;
        }
        int raw = 1;
        while (x + raw < width && raw < 128 && !(x + raw + 1 < width && same(x + raw, x + raw + 1)))
            ++raw;
        out += char(raw - 1);
        out.append(row + x * bytes, raw * bytes);
        x += raw;
    }
}

} // namespace

bool isOpaque(const QImage &image)
{
    if (!image.hasAlphaChannel())
        return true;
    const QImage pixels = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < pixels.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(pixels.constScanLine(y));
        for (int x = 0; x < pixels.width(); ++x) {
            if (qAlpha(row[x]) != 255)
                return false;
        }
    }
    return true;
}

bool encodeTga(const QImage &source, const TgaOptions &options, QByteArray &out, QString &problem)
{
    const int width = source.width(), height = source.height();
    if (source.isNull() || width == 0 || height == 0) {
        problem = QStringLiteral("a TGA file cannot hold an empty picture");
        return false;
    }
    if (width > kMaxSide || height > kMaxSide) {
        problem = QStringLiteral("a TGA file holds at most 65535 x 65535 pixels, not %1 x %2")
                      .arg(width)
                      .arg(height);
        return false;
    }
    const int depth = options.depth ? options.depth : isOpaque(source) ? 24 : 32;
    if (depth != 16 && depth != 24 && depth != 32) {
        problem = QStringLiteral("a TGA file holds 16, 24 or 32 bits a pixel, not %1").arg(depth);
        return false;
    }
    const QImage image = source.format() == QImage::Format_ARGB32
                             ? source
                             : source.convertToFormat(QImage::Format_ARGB32);
    const int bytes = depth / 8;
    try {
        QByteArray file;
        file.reserve(18 + width * height * bytes + 26);
        file += char(0);                    // no image ID
        file += char(0);                    // no colour map
        file += char(options.rle ? 10 : 2); // true colour, plain or run-length
        file += QByteArray(9, '\0');        // colour map and origin
        put16(file, unsigned(width));
        put16(file, unsigned(height));
        file += char(depth);
        // Rows top-down (bit 5), and the bits of alpha each pixel carries.
        file += char(0x20 | (depth == 32 ? 8 : depth == 16 ? 1 : 0));
        QByteArray row(width * bytes, Qt::Uninitialized);
        for (int y = 0; y < height; ++y) {
            if (options.rle) {
                storedRow(image.constScanLine(y), width, bytes, row.data());
                appendRle(row.constData(), width, bytes, file);
            } else {
                // Written in place.
                const int at = file.size();
                file.resize(at + width * bytes);
                storedRow(image.constScanLine(y), width, bytes, file.data() + at);
            }
        }
        file += QByteArray(8, '\0');
        file.append(kFooterSignature, sizeof kFooterSignature);
        out = file;
    } catch (const std::bad_alloc &) {
        problem =
            QStringLiteral("Not enough memory to write a %1 x %2 TGA file").arg(width).arg(height);
        return false;
    }
    return true;
}
