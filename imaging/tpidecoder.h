#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>

// Decodes TPI images: a 20-byte header and a list of blocks, each a small
// picture in one of eight pixel formats, stored plain or Refp-compressed,
// laid side by side row after row into one picture.
//
// Block records past the end of the input, blocks shorter than their header
// or their pixels, and compressed blocks that do not unpack decode as far as
// their bytes go (an unpackable block counts as empty); the rest of the
// picture stays transparent.
class TpiDecoder
{
public:
    bool load(const uchar *data, quint32 size);
    QPixmap toPixmap() const;
    // The decoded picture; null when nothing was loaded.
    QImage toImage() const { return image; }
    // The pixel format's characters up to the first zero byte; "UNKNOWN"
    // before a header was read.
    QString formatName() const;
    int width() const;
    int height() const;

private:
    uchar header[20] = {};
    bool headerRead = false;
    QImage image; // laid out during load; null until a load succeeds
};
