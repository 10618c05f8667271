// render: an image, loose or inside an archive, decoded to a PNG file.

#include "verbs.h"

#include "archiveaccess.h"
#include "cliutil.h"
#include "pngdecoder.h"
#include "tgadecoder.h"
#include "tpidecoder.h"

#include <QFileInfo>
#include <QSaveFile>

namespace cli {
namespace {

struct Decoded
{
    bool ok = false;
    QImage image;
    QString info;
};

template <typename Decoder> Decoded decode(const QByteArray &bytes)
{
    Decoder decoder;
    Decoded result;
    result.ok =
        decoder.load(reinterpret_cast<const uchar *>(bytes.constData()), quint32(bytes.size()));
    if (result.ok)
        result.image = decoder.toImage();
    result.info = QStringLiteral("%1x%2 %3")
                      .arg(decoder.width())
                      .arg(decoder.height())
                      .arg(decoder.formatName());
    return result;
}

} // namespace

int runRender(const QStringList &arguments)
{
    VerbParser verb(
        QStringLiteral("render"),
        QStringLiteral("Decodes a PNG, TGA or TPI image, chosen by the name's extension,\n"
                       "and writes its pixels as an 8-bit RGBA PNG. With ENTRY, SOURCE is\n"
                       "an archive and the entry is read and unpacked as the preview\n"
                       "does; without it SOURCE is a loose image file. Prints the info\n"
                       "line \"WIDTHxHEIGHT FORMAT\" on stdout."));
    const QCommandLineOption outOption({QStringLiteral("o"), QStringLiteral("output")},
                                       QStringLiteral("PNG file to write."), QStringLiteral("OUT"));
    verb.parser.addOption(outOption);
    verb.addPositional(QStringLiteral("SOURCE"), QStringLiteral("Image file or archive."));
    verb.addPositional(QStringLiteral("ENTRY"), QStringLiteral("Entry of the archive."),
                       QStringLiteral("[ENTRY]"));
    if (auto done = verb.parse(arguments, 1, 2))
        return *done;
    if (!verb.parser.isSet(outOption))
        return verb.usageError(QStringLiteral("-o OUT is required"));
    const QStringList positional = verb.parser.positionalArguments();

    QByteArray bytes;
    QString name = positional.at(0);
    if (positional.size() == 2) {
        if (!readNamedEntry(positional.at(0), positional.at(1), false, bytes, &name))
            return Failure;
    } else {
        InputFile input;
        if (!input.open(name))
            return Failure;
        bytes = QByteArray(input.data(), int(input.size()));
    }

    const QString extension =
        QFileInfo(QString(name).replace(QLatin1Char('\\'), QLatin1Char('/'))).suffix().toUpper();
    Decoded decoded;
    if (extension == QLatin1String("PNG"))
        decoded = decode<PngDecoder>(bytes);
    else if (extension == QLatin1String("TGA"))
        decoded = decode<TgaDecoder>(bytes);
    else if (extension == QLatin1String("TPI"))
        decoded = decode<TpiDecoder>(bytes);
    else {
        printError(QStringLiteral("%1 is not a PNG, TGA or TPI image").arg(name));
        return Failure;
    }
    if (!decoded.ok)
        return Failure; // the decoder has said why
    if (decoded.image.isNull()) {
        printError(QStringLiteral("%1 holds no pixels (%2)").arg(name, decoded.info));
        return Failure;
    }
    QSaveFile out(verb.parser.value(outOption));
    if (!out.open(QIODevice::WriteOnly) || !decoded.image.save(&out, "PNG") || !out.commit()) {
        printError(QStringLiteral("cannot write %1: %2").arg(out.fileName(), out.errorString()));
        return Failure;
    }
    printOut(decoded.info + QLatin1Char('\n'));
    return Success;
}

} // namespace cli
