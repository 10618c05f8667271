#include "decoder.h"

#include "report.h"

#include <algorithm>
#include <array>

namespace {

// floor(v * 255 / max) computed in single precision, as a table.
template <unsigned max> std::array<uint8_t, max + 1> expansionTable()
{
    std::array<uint8_t, max + 1> table{};
    for (unsigned v = 0; v <= max; ++v)
        table[v] = uint8_t(float(v) / float(max) * 255.0f);
    return table;
}

uint64_t sizeLimit = uint64_t(1) << 28;
uint64_t shapeLimit = 0;

const std::array<uint8_t, 32> fiveBits = expansionTable<31>();
const std::array<uint8_t, 64> sixBits = expansionTable<63>();

} // namespace

bool showDecodeError(const QString &message)
{
    vorland::report(message);
    return false;
}

uint8_t expand4(unsigned v)
{
    return uint8_t((v & 15) * 17);
}

uint8_t expand5(unsigned v)
{
    return fiveBits[v & 31];
}

uint8_t expand6(unsigned v)
{
    return sixBits[v & 63];
}

uint64_t imageSizeLimit()
{
    return sizeLimit;
}

void setImageSizeLimit(uint64_t pixels)
{
    sizeLimit = pixels;
}

uint64_t imageShapeLimit()
{
    return shapeLimit;
}

void setImageShapeLimit(uint64_t ratio)
{
    shapeLimit = ratio;
}

bool checkImageSize(uint64_t width, uint64_t height)
{
    if (width * height > sizeLimit)
        return showDecodeError(QStringLiteral("Image too large: %1 x %2 pixels (at most %3 pixels)")
                                   .arg(width)
                                   .arg(height)
                                   .arg(sizeLimit));
    const uint64_t shortSide = std::min(width, height), longSide = std::max(width, height);
    if (shapeLimit > 0 && shortSide > 0 && longSide > shapeLimit * shortSide)
        return showDecodeError(QStringLiteral("Image too narrow: %1 x %2 pixels (one side at "
                                              "most %3 times the other)")
                                   .arg(width)
                                   .arg(height)
                                   .arg(shapeLimit));
    return true;
}

bool checkImageData(uint64_t width, uint64_t height, uint64_t fillable, const QString &tooShort)
{
    if (!checkImageSize(width, height))
        return false;
    if (width * height <= fillable + kShortDataAllowance)
        return true;
    return showDecodeError(tooShort);
}

QImage newImage(int width, int height)
{
    if (width < 0 || height < 0 || !checkImageSize(uint64_t(width), uint64_t(height)))
        return QImage();
    if (width == 0 || height == 0)
        return QImage(width, height, QImage::Format_ARGB32);
    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull()) {
        showDecodeError(
            QStringLiteral("Not enough memory for a %1 x %2 image").arg(width).arg(height));
        return QImage();
    }
    image.fill(0);
    return image;
}

QPixmap pixmapOf(const QImage &image)
{
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image, Qt::AutoColor);
}
