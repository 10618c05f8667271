#pragma once

#include <QByteArray>
#include <QImage>
#include <QVector>

#include <cstdint>

// Sample files made by our own code: images for the decoders, for the tests,
// the benchmarks and the demo archive.

// A picture with a different colour and alpha at every pixel, as the
// decoders should give it (ARGB32, not premultiplied).
QImage patternImage(int width, int height, bool withAlpha);

struct PngSpec
{
    int colorType = 2; // 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
    int bitDepth = 8;
    bool interlaced = false;
    bool transparencyChunk = false; // a tRNS chunk (RGB: one colour)
};

// A PNG of `image`'s pixels (as far as the colour type holds them), written
// with libpng.
QByteArray makePng(const QImage &image, const PngSpec &spec = {});

// A TGA file: `pixels` are stored as given (rows in stored order).
QByteArray makeTga(int imageType, int depth, int width, int height, uint8_t descriptor,
                   const QByteArray &pixels, const QByteArray &imageId = {},
                   const QByteArray &colorMap = {}, int colorMapEntryBits = 0);

// TGA pixel bytes of `image` at `depth` bits, rows top-down or bottom-up.
QByteArray tgaPixels(const QImage &image, int depth, bool topDown);

// Run-length packets over a whole stream of `bytes`-byte pixels (rows run on):
// runs of three or more equal pixels, raw packets between, 128 at most each.
QByteArray tgaRle(const QByteArray &pixels, int bytes);

struct TpiBlock
{
    uint8_t typeCode;
    uint16_t width;
    uint16_t height;
    QByteArray pixels;
};

// A TPI file; with `refp` every block is stored Refp-compressed.
QByteArray makeTpi(uint16_t width, uint16_t height, const QVector<TpiBlock> &blocks,
                   bool refp = false, const QByteArray &pixelFormat = "8888");
// The bytes of one block: its 16-byte header and its pixels.
QByteArray tpiBlockBytes(const TpiBlock &block);

// A block of `typeCode` holding the pixels of `image` (16-bit types keep the
// high bits of each channel; DXT types go through squish's compressor).
TpiBlock tpiBlockOf(const QImage &image, uint8_t typeCode);

struct SampleEntry
{
    QByteArray path;
    QByteArray data;
    bool compress = false; // store the data as a Refp stream
};

// A well-formed BIG archive: header, directory, then each entry's data in order.
QByteArray makeBig(const QVector<SampleEntry> &entries);

// `data` as a Refp stream, through GfxCore's own encoder.
QByteArray refpCompress(const QByteArray &data);
