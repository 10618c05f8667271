#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>

#include <cstdint>

// Decodes true-colour TGA images, uncompressed (type 2) or run-length encoded
// (type 10), with 16, 24 or 32 bits per pixel. A colour map, when present, is
// skipped. Pixel data that ends early decodes as far as it goes, and
// damage() says so.
class TgaDecoder
{
public:
    bool load(const uchar *data, quint32 size);
    QPixmap toPixmap() const;
    // The decoded picture; null when nothing was loaded.
    QImage toImage() const { return image; }
    // "4444", "888", "8888" and "RLE_..." by type and depth; "UNKNOWN" otherwise.
    QString formatName() const;
    int width() const;
    int height() const;
    // "its pixel data ends after N of M pixels" when it did; empty for a
    // whole picture.
    QString damage() const { return problem; }

private:
    // Each fills `image` from the stored pixel data and returns how many
    // pixels (in stored order) it wrote.
    qint64 decodePlain(const uchar *pixels, size_t length);
    qint64 decodeRle(const uchar *pixels, size_t length);
    void clearFrom(qint64 pixel);

    uchar header[18] = {};
    QImage image; // decoded during load; null until a load succeeds
    QString problem;
};
