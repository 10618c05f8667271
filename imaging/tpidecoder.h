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
// picture stays transparent, and damage() names the first such fault.
//
// The work is bounded by the picture, not by what the blocks declare: a
// block outside the picture is read no further than its header, a
// compressed block is unpacked only as far as its rows that show, and all
// the blocks together, those that fail included, unpack no more than eight
// times the picture's pixels (at least 16 MiB) and 64 bytes a block. The
// picture is allocated once a block really has pixels for it.
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
    // What was missing or did not unpack ("block 3 is 1200 bytes short"),
    // for callers that must not pass a damaged picture off as whole; empty
    // when every block was whole.
    QString damage() const { return problem; }
    // Bytes the last load() unpacked, blocks that failed included: what the
    // bound above holds.
    quint64 unpackedBytes = 0;

private:
    void noteDamage(const QString &text);

    uchar header[20] = {};
    bool headerRead = false;
    QImage image; // laid out during load; null until a load succeeds
    QString problem;
};
