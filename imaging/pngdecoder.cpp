#include "pngdecoder.h"

#include "decoder.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>

namespace {

struct ReadState
{
    const uchar *data;
    uint32_t size;
    uint32_t position;
};

void readFromMemory(png_structp png, png_bytep destination, png_size_t length)
{
    auto *state = static_cast<ReadState *>(png_get_io_ptr(png));
    if (!state || length > state->size - state->position)
        png_error(png, "read past the end of the data");
    std::memcpy(destination, state->data + state->position, length);
    state->position += uint32_t(length);
}

// libpng's errors end up here; leaving through the recovery point below is
// how the load learns of them. Warnings are of no interest.
[[noreturn]] void onError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}
void onWarning(png_structp, png_const_charp)
{
}

struct Header
{
    png_uint_32 width;
    png_uint_32 height;
    int bitDepth;
    int colorType;
};

// The two steps that may fail inside libpng. Each sets its recovery point and
// holds no object with a destructor, so leaving through it skips nothing.
bool readHeader(png_structp png, png_infop info, Header *header)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    png_get_IHDR(png, info, &header->width, &header->height, &header->bitDepth, &header->colorType,
                 nullptr, nullptr, nullptr);
    return true;
}

// Reads the pixels as blue, green, red, alpha straight into the picture's
// rows, one row at a time (each pass of an interlaced image adds to them);
// RGB images get an opaque alpha byte.
bool readPixels(png_structp png, png_infop info, int colorType, QImage *image)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_bgr(png);
    if (colorType == PNG_COLOR_TYPE_RGB)
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < image->height(); ++y)
            png_read_row(png, image->scanLine(y), nullptr);
    }
    return true;
}

uint32_t bigEndian32(const uchar *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// Bytes of image data the file holds: the lengths of its IDAT chunks, as far
// as the bytes go.
uint64_t imageDataBytes(const uchar *data, uint32_t size)
{
    uint64_t total = 0;
    for (uint64_t position = 8; position + 8 <= size;) {
        const uint32_t length = bigEndian32(data + position);
        const uchar *type = data + position + 4;
        if (std::memcmp(type, "IDAT", 4) == 0)
            total += std::min<uint64_t>(length, size - position - 8);
        else if (std::memcmp(type, "IEND", 4) == 0)
            break;
        position += 12 + uint64_t(length);
    }
    return total;
}

// Deflate gives at most 1032 bytes for each byte it reads.
constexpr uint64_t kMaxInflation = 1032;

// Owns the libpng structures for the length of one load.
struct PngReader
{
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngReader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

} // namespace

bool PngDecoder::load(const uchar *data, quint32 size)
{
    if (size < 8 || png_sig_cmp(data, 0, 8) != 0)
        return showDecodeError(QStringLiteral("Not a PNG file!"));

    PngReader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    if (!reader.png)
        return showDecodeError(QStringLiteral("Can't create png read struct"));
    reader.info = png_create_info_struct(reader.png);
    if (!reader.info)
        return showDecodeError(QStringLiteral("Can't create png info struct"));
    // libpng's own limits follow the decoders' size cap.
    const uint32_t side = uint32_t(std::min<uint64_t>(imageSizeLimit(), 0x7FFFFFFF));
    png_set_user_limits(reader.png, side, side);
    png_set_chunk_malloc_max(reader.png, 8u << 20);

    ReadState state{data, size, 0};
    png_set_read_fn(reader.png, &state, readFromMemory);
    Header header{};
    if (!readHeader(reader.png, reader.info, &header))
        return showDecodeError(QStringLiteral("Damaged .png file!"));
    imageWidth = header.width;
    imageHeight = header.height;
    bitDepth = header.bitDepth;
    colorType = header.colorType;
    if (bitDepth != 8 || (colorType != PNG_COLOR_TYPE_RGB && colorType != PNG_COLOR_TYPE_RGBA))
        return showDecodeError(QStringLiteral(
            "Unsupported .png file! Only 8 bit per color channel RGB or RGBA is supported!"));

    // Before anything is allocated: the picture must be within the size cap,
    // and its image data able to inflate to the pixels the header declares.
    if (!checkImageSize(imageWidth, imageHeight))
        return false;
    const uint64_t pixelBytes =
        uint64_t(imageWidth) * imageHeight * (colorType == PNG_COLOR_TYPE_RGB ? 3 : 4);
    if (pixelBytes > imageDataBytes(data, size) * kMaxInflation)
        return showDecodeError(
            QStringLiteral("Damaged .png file! (its image data cannot hold %1 x %2 pixels)")
                .arg(imageWidth)
                .arg(imageHeight));
    QImage decoded = newImage(int(imageWidth), int(imageHeight));
    if (decoded.isNull())
        return false;
    if (!readPixels(reader.png, reader.info, colorType, &decoded))
        return showDecodeError(QStringLiteral("Damaged .png file!"));
    image = decoded;
    return true;
}

QPixmap PngDecoder::toPixmap() const
{
    return pixmapOf(image);
}

QString PngDecoder::formatName() const
{
    return colorType == PNG_COLOR_TYPE_RGB ? QStringLiteral("888") : QStringLiteral("8888");
}
