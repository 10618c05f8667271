#pragma once

#include <QImage>
#include <QString>

#include <cstddef>

// Picture files of the three kinds the decoders read, told apart by their
// first bytes where they have a signature (PNG, TPI) and by the name's
// extension otherwise (TGA has none).
enum class PictureKind
{
    Png,
    Tga,
    Tpi,
    Unknown,
};

PictureKind pictureKindOf(const uchar *data, size_t size, const QString &name);
// By the extension alone ("PNG", "TGA", "TPI", any case).
PictureKind pictureKindByName(const QString &name);

// What a decoder made of a file. The decoder's messages go through the
// reporting hook; `info` is "WIDTHxHEIGHT FORMAT" as the preview shows it.
struct DecodedPicture
{
    bool ok = false;
    QImage image; // ARGB32; null unless ok
    QString format;
    QString info;
    // What the decoder found missing or damaged in a picture it decoded in
    // part ("block 3 is 1200 bytes short"); empty for a whole picture.
    QString damage;
};

DecodedPicture decodePicture(PictureKind kind, const uchar *data, quint32 size);
