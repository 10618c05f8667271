// convert: a picture from PNG, TGA or TPI into any of the three.

#include "verbs.h"

#include "cliutil.h"
#include "picturefile.h"
#include "pngwriter.h"
#include "tgawriter.h"
#include "tpiwriter.h"

#include <QFileInfo>

namespace cli {

int runConvert(const QStringList &arguments)
{
    VerbParser verb(
        QStringLiteral("convert"),
        QStringLiteral("Converts a picture. IN is a PNG, TGA or TPI file (PNG and TPI known\n"
                       "by their first bytes, TGA by the name), decoded as the preview\n"
                       "decodes it; OUT's extension, or --to, picks what is written:\n"
                       "  tpi  blocks in one --format: 8888, 888 (opaque), 4444, 1555, 565,\n"
                       "       DXT1, DXT3, DXT5 (default: IN's own when it is a TPI, else\n"
                       "       8888 when any pixel is not opaque and 888 when none is);\n"
                       "       --tile N cuts it into blocks of at most N x N, --compress\n"
                       "       stores them Refp-compressed, --quality picks how hard libsquish\n"
                       "       fits DXT colours;\n"
                       "  tga  24-bit for an opaque picture, 32-bit otherwise, or --depth;\n"
                       "       --rle for run-length packets; rows top-down;\n"
                       "  png  8-bit RGBA, or RGB for an opaque picture.\n"
                       "4444, 1555 and 565 keep the nearest value the decoder expands, so\n"
                       "converting twice gives the same file. At most 65535 pixels in each\n"
                       "direction for TPI and TGA."));
    const QCommandLineOption toOption(QStringLiteral("to"),
                                      QStringLiteral("What to write: tpi, tga or png."),
                                      QStringLiteral("KIND"));
    const QCommandLineOption formatOption(
        QStringLiteral("format"), QStringLiteral("TPI block format."), QStringLiteral("FORMAT"));
    const QCommandLineOption tileOption(QStringLiteral("tile"),
                                        QStringLiteral("TPI blocks of at most N x N pixels."),
                                        QStringLiteral("N"));
    const QCommandLineOption compressOption(QStringLiteral("compress"),
                                            QStringLiteral("TPI blocks Refp-compressed."));
    const QCommandLineOption qualityOption(QStringLiteral("quality"),
                                           QStringLiteral("DXT fitting: fast, normal or best."),
                                           QStringLiteral("QUALITY"));
    const QCommandLineOption depthOption(QStringLiteral("depth"),
                                         QStringLiteral("TGA bits a pixel: 16, 24 or 32."),
                                         QStringLiteral("BITS"));
    const QCommandLineOption rleOption(QStringLiteral("rle"),
                                       QStringLiteral("TGA run-length packets."));
    verb.addOptions({toOption, formatOption, tileOption, compressOption, qualityOption, depthOption,
                     rleOption});
    verb.addPositional(QStringLiteral("IN"), QStringLiteral("Picture to read."));
    verb.addPositional(QStringLiteral("OUT"), QStringLiteral("File to write."));
    if (auto done = verb.parse(arguments, 2, 2))
        return *done;
    const QStringList paths = verb.parser.positionalArguments();
    const QCommandLineParser &p = verb.parser;

    const QString kind =
        (p.isSet(toOption) ? p.value(toOption) : QFileInfo(paths[1]).suffix()).toLower();
    if (kind != QLatin1String("tpi") && kind != QLatin1String("tga") &&
        kind != QLatin1String("png"))
        return verb.usageError(QStringLiteral("OUT must end in .tpi, .tga or .png, or give --to"));
    const bool tpi = kind == QLatin1String("tpi"), tga = kind == QLatin1String("tga");
    for (const QCommandLineOption *option :
         {&formatOption, &tileOption, &compressOption, &qualityOption})
        if (p.isSet(*option) && !tpi)
            return verb.usageError(
                QStringLiteral("--%1 is for TPI files").arg(option->names().first()));
    if ((p.isSet(depthOption) || p.isSet(rleOption)) && !tga)
        return verb.usageError(QStringLiteral("--depth and --rle are for TGA files"));

    TpiOptions tpiOptions;
    std::optional<TpiFormat> format;
    if (p.isSet(formatOption) && !(format = tpiFormatNamed(p.value(formatOption))))
        return verb.usageError(QStringLiteral("unknown --format %1").arg(p.value(formatOption)));
    bool number = true;
    if (p.isSet(tileOption)) {
        tpiOptions.tile = p.value(tileOption).toInt(&number);
        if (!number || tpiOptions.tile < 1 || tpiOptions.tile > 65535)
            return verb.usageError(QStringLiteral("--tile takes 1 to 65535"));
    }
    tpiOptions.compress = p.isSet(compressOption);
    const QString quality = p.value(qualityOption).toLower();
    if (quality == QLatin1String("fast"))
        tpiOptions.quality = DxtQuality::Fast;
    else if (quality == QLatin1String("best"))
        tpiOptions.quality = DxtQuality::Best;
    else if (!quality.isEmpty() && quality != QLatin1String("normal"))
        return verb.usageError(QStringLiteral("--quality takes fast, normal or best"));
    TgaOptions tgaOptions;
    tgaOptions.rle = p.isSet(rleOption);
    if (p.isSet(depthOption)) {
        tgaOptions.depth = p.value(depthOption).toInt(&number);
        if (!number || (tgaOptions.depth != 16 && tgaOptions.depth != 24 && tgaOptions.depth != 32))
            return verb.usageError(QStringLiteral("--depth takes 16, 24 or 32"));
    }

    InputFile input;
    if (!input.open(paths[0]))
        return Failure;
    if (input.size() > 0xFFFFFFFFu) {
        printError(QStringLiteral("%1 is too large to decode (4 GiB or more)").arg(paths[0]));
        return Failure;
    }
    const auto *bytes = reinterpret_cast<const uchar *>(input.data());
    const PictureKind inKind = pictureKindOf(bytes, input.size(), paths[0]);
    if (inKind == PictureKind::Unknown) {
        printError(QStringLiteral("%1 is not a PNG, TGA or TPI picture").arg(paths[0]));
        return Failure;
    }
    const DecodedPicture picture = decodePicture(inKind, bytes, quint32(input.size()));
    if (!picture.ok)
        return Failure; // the decoder has said why
    if (!picture.damage.isEmpty()) {
        printError(QStringLiteral("%1 is damaged: %2").arg(paths[0], picture.damage));
        return Failure;
    }

    QByteArray out;
    QString problem;
    bool encoded;
    if (tpi) {
        if (!format && inKind == PictureKind::Tpi)
            format = tpiFormatNamed(picture.format);
        tpiOptions.format =
            format.value_or(isOpaque(picture.image) ? TpiFormat::Rgb888 : TpiFormat::Argb8888);
        encoded = encodeTpi(picture.image, tpiOptions, out, problem);
    } else if (tga) {
        encoded = encodeTga(picture.image, tgaOptions, out, problem);
    } else {
        encoded =
            encodePng(picture.image, isOpaque(picture.image) ? PngChannels::Rgb : PngChannels::Rgba,
                      out, problem);
    }
    if (!encoded) {
        printError(QStringLiteral("cannot convert %1: %2").arg(paths[0], problem));
        return Failure;
    }
    return writeWholeFile(paths[1], out.constData(), size_t(out.size())) ? Success : Failure;
}

} // namespace cli
