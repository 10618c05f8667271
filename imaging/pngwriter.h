#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Encodes pictures as PNG files through libpng: 8 bits per channel, RGBA, or
// RGB for a picture meant to be opaque (its alpha is dropped). Nothing is
// printed: libpng's complaints become `problem`.
enum class PngChannels
{
    Rgba,
    Rgb
};

// The PNG file of `image`. False, with `problem` set, when it cannot be made.
bool encodePng(const QImage &image, PngChannels channels, QByteArray &out, QString &problem);
