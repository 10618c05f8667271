#include "pngwriter.h"

#include <png.h>

#include <csetjmp>
#include <limits>
#include <new>

namespace {

void writeToMemory(png_structp png, png_bytep data, png_size_t length)
{
    auto *out = static_cast<QByteArray *>(png_get_io_ptr(png));
    if (length > size_t(std::numeric_limits<int>::max() - 64 - out->size()))
        png_error(png, "the PNG file would be larger than 2 GiB");
    try {
        out->append(reinterpret_cast<const char *>(data), int(length));
    } catch (const std::bad_alloc &) {
        png_error(png, "not enough memory");
    }
}

void flushNothing(png_structp)
{
}

// libpng's errors end up here and leave through the recovery point; the
// message is kept for the caller. Warnings are of no interest.
[[noreturn]] void onError(png_structp png, png_const_charp message)
{
    auto *text = static_cast<QString *>(png_get_error_ptr(png));
    *text = QString::fromLatin1(message);
    png_longjmp(png, 1);
}
void onWarning(png_structp, png_const_charp)
{
}

// The steps that may fail inside libpng, behind their own recovery point;
// nothing here has a destructor that leaving through it would skip.
bool writeRows(png_structp png, png_infop info, const QImage *image, PngChannels channels)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_IHDR(png, info, png_uint_32(image->width()), png_uint_32(image->height()), 8,
                 channels == PngChannels::Rgb ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGBA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // Pixels are blue, green, red, alpha in memory; RGB drops the alpha byte.
    png_set_bgr(png);
    if (channels == PngChannels::Rgb)
        png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (int y = 0; y < image->height(); ++y)
        png_write_row(png, image->constScanLine(y));
    png_write_end(png, nullptr);
    return true;
}

struct PngWriter
{
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngWriter() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

} // namespace

bool encodePng(const QImage &image, PngChannels channels, QByteArray &out, QString &problem)
{
    if (image.isNull() || image.width() == 0 || image.height() == 0) {
        problem = QStringLiteral("a PNG file cannot hold an empty picture");
        return false;
    }
    const QImage pixels = image.format() == QImage::Format_ARGB32
                              ? image
                              : image.convertToFormat(QImage::Format_ARGB32);
    if (pixels.isNull()) {
        problem = QStringLiteral("Not enough memory to convert the picture");
        return false;
    }
    QString libpngMessage;
    PngWriter writer;
    writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &libpngMessage, onError, onWarning);
    if (writer.png)
        writer.info = png_create_info_struct(writer.png);
    if (!writer.info) {
        problem = QStringLiteral("Not enough memory for the PNG encoder");
        return false;
    }
    QByteArray bytes;
    png_set_write_fn(writer.png, &bytes, writeToMemory, flushNothing);
    png_set_compression_level(writer.png, 6);
    if (!writeRows(writer.png, writer.info, &pixels, channels)) {
        problem = QStringLiteral("cannot encode the PNG file: %1").arg(libpngMessage);
        return false;
    }
    out = bytes;
    return true;
}
