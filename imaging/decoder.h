#pragma once

// Pieces shared by the image decoders (PngDecoder, TgaDecoder, TpiDecoder).
//
// Every decoder follows one contract: load(data, size) parses the bytes (they
// are borrowed for the call only) and reports bad input through the
// reporting hook; toImage() gives the decoded picture as a QImage of
// Format_ARGB32 (blue, green, red, alpha bytes, not premultiplied) and
// toPixmap() the same as a pixmap; width(), height() and formatName() say what
// the header holds. After a failed load, toImage() is null and nothing unread
// is touched. Every picture starts cleared to transparent black, and nothing
// reads past the input or writes past a buffer, whatever the bytes claim.

#include <QImage>
#include <QPixmap>
#include <QString>

#include <cstdint>

// Shows `message` to the user and returns false, for `return showDecodeError(...)`.
bool showDecodeError(const QString &message);

// Widen a 4-, 5- or 6-bit channel to 8 bits as floor(v * 255 / max): not
// rounded, so the 5-bit 3 gives 24 and the 6-bit 11 gives 44.
uint8_t expand4(unsigned v);
uint8_t expand5(unsigned v);
uint8_t expand6(unsigned v);
inline uint8_t alphaFromBit(unsigned bit)
{
    return bit ? 255 : 0;
}

// The largest picture any decoder makes: 2^28 pixels (16384 x 16384) unless
// lowered (the fuzzers lower it to keep every input small).
uint64_t imageSizeLimit();
void setImageSizeLimit(uint64_t pixels);

// The most a picture's long side may be over its short side, 0 for no
// bound (the default). A thumbnailer sets one: past its size, the short
// side of the thumbnail would be under a pixel, and decoding a picture of
// millions of rows costs per row whatever its pixels.
uint64_t imageShapeLimit();
void setImageShapeLimit(uint64_t ratio);

// True when width x height is within the limits; otherwise tells the user.
bool checkImageSize(uint64_t width, uint64_t height);

// Pixels a picture may have beyond those its data can fill: a file cut short
// still shows what it has, while a header alone can never make a decoder
// allocate more than this for pixels its bytes could not hold.
constexpr uint64_t kShortDataAllowance = uint64_t(1) << 20;

// True when a width x height picture is within the size limit and within
// kShortDataAllowance of the `fillable` pixels its data can give; otherwise
// tells the user (`tooShort` for the second) and answers false.
bool checkImageData(uint64_t width, uint64_t height, uint64_t fillable, const QString &tooShort);

// A width x height ARGB32 picture cleared to transparent black. Null, after
// telling the user, when it is too large or cannot be allocated.
QImage newImage(int width, int height);

// The picture as a pixmap (empty for a null image).
QPixmap pixmapOf(const QImage &image);
