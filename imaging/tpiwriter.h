#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

// Writing TPI files in the layout TpiDecoder reads: the 20-byte header, then
// the blocks, each a picture of at most `tile` x `tile` pixels laid out as
// the decoder places them (left to right, a new row below the block that
// ends the last one), in one of the eight block formats.
//
// The 16-bit formats keep, for each channel, the stored value that the
// decoder expands nearest to the source, so a picture written, decoded and
// written again gives the same file. DXT blocks go through libsquish's
// compressor; DXT1 keeps pixels with alpha below 128 transparent.
enum class TpiFormat
{
    Argb8888, // 0x7D, "8888"
    Rgb888,   // 0x7F, "888": opaque, four bytes a pixel
    Argb4444, // 0x6D, "4444"
    Argb1555, // 0x7E, "1555"
    Rgb565,   // 0x78, "565"
    Dxt1,     // 0x60
    Dxt3,     // 0x61
    Dxt5,     // 0x62
};

enum class DxtQuality
{
    Fast,   // range fit
    Normal, // cluster fit
    Best,   // iterative cluster fit
};

struct TpiOptions
{
    TpiFormat format = TpiFormat::Argb8888;
    int tile = 0;          // the largest block side; 0: one block for the whole picture
    bool compress = false; // every block Refp-compressed, and the header says "Refp"
    DxtQuality quality = DxtQuality::Normal;
};

// The format named "8888", "888", "4444", "1555", "565", "DXT1", "DXT3" or
// "DXT5" (ignoring case), the names the header's pixel format carries.
std::optional<TpiFormat> tpiFormatNamed(const QString &name);
QString tpiFormatName(TpiFormat format);

// The TPI file of `image`. False, with `problem` set, for a picture of more
// than 65535 pixels in either direction or none at all, and when memory or
// the Refp codec (for `compress`) is missing.
bool encodeTpi(const QImage &image, const TpiOptions &options, QByteArray &out, QString &problem);
