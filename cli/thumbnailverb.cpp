// thumbnail: a small PNG of a picture or of the first picture in an archive,
// for file managers (the freedesktop thumbnailer entry runs it).

#include "verbs.h"

#include "cliutil.h"
#include "decoder.h"
#include "entrydata.h"
#include "gfxcorecodec.h"
#include "picturefile.h"
#include "pngwriter.h"
#include "report.h"

#include <QFileInfo>

#include <cstring>

namespace cli {
namespace {

// A thumbnailer runs on every file a user merely looks at: whatever the
// file, it stays within these bounds (well under 1 s and 256 MiB).
constexpr quint64 kMaxPixels = quint64(1) << 24; // 64 MiB of picture
constexpr quint64 kMaxAspect = 4096;             // long side over short side
constexpr quint64 kMaxEntryBytes = 64ull << 20;  // stored or unpacked
constexpr quint32 kMaxEntriesRead = 100000;      // of an archive's directory
constexpr int kMaxPicturesTried = 4;             // that fail, before giving up
constexpr quint64 kWorkBudget = 192ull << 20;    // bytes read, unpacked and decoded

// The picture of an archive: its first picture entry, in directory order,
// that decodes whole (a damaged one is passed over, a few at most, within
// one budget of work for them all). Null, with `problem` set, when there is
// none.
QImage archivePicture(const QString &path, QString &problem)
{
    BigArchive archive;
    archive.entryLimit = kMaxEntriesRead;
    archive.imageLimit = kMaxEntryBytes * 2;
    switch (archive.open(path)) {
    case BigArchive::Status::Ok: break;
    case BigArchive::Status::TooLarge:
        problem = QStringLiteral("%1 unpacks to too much for a thumbnail").arg(path);
        return QImage();
    default:
        problem = QStringLiteral("%1 cannot be read as a BIG archive").arg(path);
        return QImage();
    }
    int tried = 0;
    quint64 work = 0;
    for (const BigEntry &entry : archive.entries) {
        const PictureKind kind = pictureKindByName(QString::fromLatin1(entry.path));
        if (kind == PictureKind::Unknown || quint32(entry.size) > kMaxEntryBytes)
            continue;
        if (++tried > kMaxPicturesTried || work > kWorkBudget)
            break;
        QByteArray bytes;
        work += quint32(entry.size);
        if (archive.readEntry(entry, bytes) != EntryRead::Whole)
            continue;
        const quint32 unpacked =
            GfxCoreCodec::unpackedSize(bytes.constData(), size_t(bytes.size()));
        work += unpacked;
        if (unpacked > kMaxEntryBytes || work > kWorkBudget ||
            unpackIfCompressed(bytes) > UnpackResult::Undecodable)
            continue;
        const DecodedPicture picture = decodePicture(
            kind, reinterpret_cast<const uchar *>(bytes.constData()), quint32(bytes.size()));
        if (picture.ok && picture.damage.isEmpty() && !picture.image.isNull() &&
            picture.image.width() > 0 && picture.image.height() > 0)
            return picture.image;
        work +=
            quint64(qMax(picture.image.width(), 0)) * quint64(qMax(picture.image.height(), 0)) * 4;
    }
    problem = QStringLiteral("%1 holds no picture that can be shown").arg(path);
    return QImage();
}

} // namespace

int runThumbnail(const QStringList &arguments)
{
    VerbParser verb(
        QStringLiteral("thumbnail"),
        QStringLiteral("Writes a PNG of at most SIZE pixels on its longer side (aspect kept,\n"
                       "smoothly scaled, never enlarged) of a PNG, TGA or TPI picture, or of\n"
                       "a BIG archive's first picture entry in directory order (the first\n"
                       "that decodes). Made for file managers, it keeps within a fixed\n"
                       "budget whatever the file: pictures of at most 2^24 pixels, neither\n"
                       "side over 4096 times the other, entries of at most 64 MiB. Exit\n"
                       "status 1 when there is no picture."));
    const QCommandLineOption sizeOption({QStringLiteral("s"), QStringLiteral("size")},
                                        QStringLiteral("Longest side, in pixels (default 256)."),
                                        QStringLiteral("SIZE"), QStringLiteral("256"));
    verb.addOption(sizeOption);
    verb.addPositional(QStringLiteral("INPUT"), QStringLiteral("Picture or archive."));
    verb.addPositional(QStringLiteral("OUTPUT"), QStringLiteral("PNG file to write."),
                       QStringLiteral("OUTPUT.png"));
    if (auto done = verb.parse(arguments, 2, 2))
        return *done;
    bool number = false;
    const int size = verb.parser.value(sizeOption).toInt(&number);
    if (!number || size < 1 || size > 4096)
        return verb.usageError(QStringLiteral("-s takes 1 to 4096"));
    const QStringList paths = verb.parser.positionalArguments();

    setImageSizeLimit(kMaxPixels);
    setImageShapeLimit(kMaxAspect);
    // Decoders speak of each picture they cannot show; only the outcome is told.
    QStringList messages;
    const vorland::Reporter previous =
        vorland::setReporter([&](const QString &message) { messages << message; });
    QImage picture;
    QString problem;
    {
        InputFile input;
        if (!input.open(paths[0])) {
            vorland::setReporter(previous);
            return Failure;
        }
        const auto *bytes = reinterpret_cast<const uchar *>(input.data());
        const bool archive =
            (input.size() >= 4 && std::memcmp(bytes, "BIGF", 4) == 0) ||
            GfxCoreCodec::isCompressed(bytes, input.size()) ||
            QFileInfo(paths[0]).suffix().compare(QLatin1String("big"), Qt::CaseInsensitive) == 0;
        const PictureKind kind = pictureKindOf(bytes, input.size(), paths[0]);
        if (archive) {
            picture = archivePicture(paths[0], problem);
        } else if (kind == PictureKind::Unknown) {
            problem = QStringLiteral("%1 is not a PNG, TGA or TPI picture or a BIG archive")
                          .arg(paths[0]);
        } else if (input.size() > 0xFFFFFFFFu) {
            problem = QStringLiteral("%1 is too large for a thumbnail").arg(paths[0]);
        } else {
            const DecodedPicture decoded = decodePicture(kind, bytes, quint32(input.size()));
            if (decoded.ok && !decoded.damage.isEmpty())
                problem = QStringLiteral("%1 is damaged: %2").arg(paths[0], decoded.damage);
            else if (decoded.ok && decoded.image.width() > 0 && decoded.image.height() > 0)
                picture = decoded.image;
            else
                problem = QStringLiteral("%1: %2").arg(
                    paths[0], messages.value(0, QStringLiteral("it holds no pixels")));
        }
    }
    vorland::setReporter(previous);
    if (picture.isNull()) {
        printError(problem);
        return Failure;
    }
    if (picture.width() > size || picture.height() > size)
        picture = picture.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QByteArray png;
    if (!encodePng(picture, PngChannels::Rgba, png, problem)) {
        printError(QStringLiteral("%1: %2").arg(paths[1], problem));
        return Failure;
    }
    // File managers create the output and read it back through the
    // descriptor they hold: an output that exists is written into.
    return writeWholeFile(paths[1], png.constData(), size_t(png.size()), true) ? Success : Failure;
}

} // namespace cli
