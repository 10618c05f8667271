#include "picturefile.h"

#include "pngdecoder.h"
#include "tgadecoder.h"
#include "tpidecoder.h"

#include <QFileInfo>

#include <cstring>
#include <type_traits>
#include <utility>

namespace {

// Decoders that can decode a picture in part say what was missing; a PNG
// that libpng cannot read whole is refused outright.
template <typename Decoder, typename = void> struct Damage
{
    static QString of(const Decoder &) { return QString(); }
};
template <typename Decoder>
struct Damage<Decoder, std::void_t<decltype(std::declval<Decoder>().damage())>>
{
    static QString of(const Decoder &decoder) { return decoder.damage(); }
};

template <typename Decoder> DecodedPicture decode(const uchar *data, quint32 size)
{
    Decoder decoder;
    DecodedPicture result;
    result.ok = decoder.load(data, size);
    if (result.ok) {
        result.image = decoder.toImage();
        result.damage = Damage<Decoder>::of(decoder);
    }
    result.format = decoder.formatName();
    result.info =
        QStringLiteral("%1x%2 %3").arg(decoder.width()).arg(decoder.height()).arg(result.format);
    return result;
}

} // namespace

PictureKind pictureKindByName(const QString &name)
{
    const QString extension =
        QFileInfo(QString(name).replace(QLatin1Char('\\'), QLatin1Char('/'))).suffix().toUpper();
    if (extension == QLatin1String("PNG"))
        return PictureKind::Png;
    if (extension == QLatin1String("TGA"))
        return PictureKind::Tga;
    if (extension == QLatin1String("TPI"))
        return PictureKind::Tpi;
    return PictureKind::Unknown;
}

PictureKind pictureKindOf(const uchar *data, size_t size, const QString &name)
{
    if (size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0)
        return PictureKind::Png;
    if (size >= 4 && std::memcmp(data, "1IPT", 4) == 0)
        return PictureKind::Tpi;
    return pictureKindByName(name) == PictureKind::Tga ? PictureKind::Tga : PictureKind::Unknown;
}

DecodedPicture decodePicture(PictureKind kind, const uchar *data, quint32 size)
{
    switch (kind) {
    case PictureKind::Png: return decode<PngDecoder>(data, size);
    case PictureKind::Tga: return decode<TgaDecoder>(data, size);
    case PictureKind::Tpi: return decode<TpiDecoder>(data, size);
    case PictureKind::Unknown: break;
    }
    return DecodedPicture();
}
