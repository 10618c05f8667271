#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>

#include <cstdint>

// Decodes PNG images with 8 bits per channel, RGB or RGBA, from memory.
// Everything else is refused with a message. libpng's own errors (damaged
// chunks, bad checksums, data that ends early) end the load with a message.
class PngDecoder
{
public:
    bool load(const uchar *data, quint32 size);
    QPixmap toPixmap() const;
    QImage toImage() const { return image; }
    // "888" for RGB, otherwise "8888".
    QString formatName() const;
    int width() const { return int(imageWidth); }
    int height() const { return int(imageHeight); }

private:
    uint32_t imageWidth = 0;
    uint32_t imageHeight = 0;
    int bitDepth = 0;
    int colorType = 0;
    QImage image; // null until a load succeeds
};
