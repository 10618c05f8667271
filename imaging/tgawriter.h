#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Writing true-colour TGA files that TgaDecoder and other readers take:
// rows stored top-down, the attribute bits set for the alpha that 16- and
// 32-bit pixels carry, and the version 2 footer. 16-bit pixels are 1-5-5-5,
// each channel the value the decoder expands nearest to the source.
struct TgaOptions
{
    int depth = 0;    // 16, 24 or 32; 0: 24 for an opaque picture, 32 otherwise
    bool rle = false; // run-length packets (image type 10), never across a row
};

// The TGA file of `image`. False, with `problem` set, for a picture of more
// than 65535 pixels in either direction or none at all.
bool encodeTga(const QImage &image, const TgaOptions &options, QByteArray &out, QString &problem);

// True when every pixel of `image` is opaque.
bool isOpaque(const QImage &image);
