// render: an image, loose or inside an archive, decoded to a PNG file.

#include "verbs.h"

#include "archiveaccess.h"
#include "cliutil.h"
#include "picturefile.h"
#include "pngwriter.h"
#include "report.h"

namespace cli {

int runRender(const QStringList &arguments)
{
    VerbParser verb(
        QStringLiteral("render"),
        QStringLiteral("Decodes a PNG, TGA or TPI image and writes its pixels as an 8-bit\n"
                       "RGBA PNG. With ENTRY, SOURCE is an archive and the entry is read,\n"
                       "unpacked and typed by its name as the preview does; without it\n"
                       "SOURCE is a loose image file, typed by its content (TGA by its\n"
                       "name). A picture that is cut short or damaged is not written\n"
                       "(exit status 1). Prints the info\n"
                       "line \"WIDTHxHEIGHT FORMAT\" on stdout, also when the image cannot\n"
                       "be decoded (exit status 1)."));
    const QCommandLineOption outOption({QStringLiteral("o"), QStringLiteral("output")},
                                       QStringLiteral("PNG file to write."), QStringLiteral("OUT"));
    verb.addOption(outOption);
    verb.addPositional(QStringLiteral("SOURCE"), QStringLiteral("Image file or archive."));
    verb.addPositional(QStringLiteral("ENTRY"), QStringLiteral("Entry of the archive."),
                       QStringLiteral("[ENTRY]"));
    if (auto done = verb.parse(arguments, 1, 2))
        return *done;
    if (!verb.parser.isSet(outOption))
        return verb.usageError(QStringLiteral("-o OUT is required"));
    const QStringList positional = verb.parser.positionalArguments();

    QByteArray entry;
    InputFile input;
    const char *bytes = nullptr;
    size_t size = 0;
    QString name = positional.at(0);
    if (positional.size() == 2) {
        if (!readNamedEntry(positional.at(0), positional.at(1), false, entry, &name))
            return Failure;
        bytes = entry.constData();
        size = size_t(entry.size());
    } else {
        if (!input.open(name))
            return Failure;
        bytes = input.data();
        size = input.size();
    }
    if (size > 0xFFFFFFFFu) {
        printError(QStringLiteral("%1 is too large to decode (4 GiB or more)").arg(name));
        return Failure;
    }

    // A loose file goes by its content (TGA, which has no signature, by its
    // name); an entry by its name, as the window takes it.
    const PictureKind kind =
        positional.size() == 2 ? pictureKindByName(name)
                               : pictureKindOf(reinterpret_cast<const uchar *>(bytes), size, name);
    if (kind == PictureKind::Unknown) {
        printError(QStringLiteral("%1 is not a PNG, TGA or TPI image").arg(name));
        return Failure;
    }
    // What the decoder says goes into this verb's one line: a refused
    // picture writes nothing, on stdout neither.
    QStringList said;
    const vorland::Reporter before =
        vorland::setReporter([&](const QString &message) { said.append(message); });
    const DecodedPicture decoded =
        decodePicture(kind, reinterpret_cast<const uchar *>(bytes), quint32(size));
    vorland::setReporter(before);
    if (!decoded.ok) {
        printError(QStringLiteral("%1: %2 (%3)")
                       .arg(name,
                            said.isEmpty() ? QStringLiteral("it cannot be decoded")
                                           : said.join(QStringLiteral("; ")),
                            decoded.info));
        return Failure;
    }
    for (const QString &message : qAsConst(said))
        vorland::report(message);
    if (!decoded.damage.isEmpty()) {
        printError(
            QStringLiteral("%1 is damaged: %2 (%3)").arg(name, decoded.damage, decoded.info));
        return Failure;
    }
    if (decoded.image.isNull() || decoded.image.width() == 0 || decoded.image.height() == 0) {
        printError(QStringLiteral("%1 holds no pixels (%2)").arg(name, decoded.info));
        return Failure;
    }
    QByteArray png;
    QString problem;
    if (!encodePng(decoded.image, PngChannels::Rgba, png, problem)) {
        printError(QStringLiteral("%1: %2").arg(verb.parser.value(outOption), problem));
        return Failure;
    }
    if (!writeWholeFile(verb.parser.value(outOption), png.constData(), size_t(png.size())))
        return Failure;
    printOut(decoded.info + QLatin1Char('\n'));
    return Success;
}

} // namespace cli
