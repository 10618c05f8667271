// A plain Qt program that knows nothing of Vorland: it reads a picture
// through QImageReader, as any Qt program would with the TPI plug-in on its
// plug-in path.
//   tpiread IMAGE [EXPECTED.png]
// Prints the formats Qt can read, then the picture's format key, size and
// pixel format, or the reader's error. Exit status: 0 read (and, with
// EXPECTED, the same pixels), 1 not read, 3 other pixels, 4 no "tpi" format.

#include <QGuiApplication>
#include <QImage>
#include <QImageReader>

#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: tpiread IMAGE [EXPECTED.png]\n");
        return 2;
    }
    QByteArrayList formats = QImageReader::supportedImageFormats();
    std::printf("formats: %s\n", formats.join(' ').constData());
    if (!formats.contains("tpi"))
        return 4;

    QImageReader reader(arguments[1]);
    const QByteArray format = reader.format(); // found from the bytes, whatever the name
    const QSize announced = reader.size();
    QImage image;
    if (!reader.read(&image)) {
        std::printf("error: %s\n", qPrintable(reader.errorString()));
        return 1;
    }
    std::printf("read: %s %dx%d (announced %dx%d) format %d\n", format.constData(), image.width(),
                image.height(), announced.width(), announced.height(), int(image.format()));
    if (arguments.size() > 2) {
        const QImage expected = QImage(arguments[2]).convertToFormat(QImage::Format_ARGB32);
        if (image.convertToFormat(QImage::Format_ARGB32) != expected) {
            std::printf("pixels differ from %s\n", qPrintable(arguments[2]));
            return 3;
        }
        std::printf("pixels as expected\n");
    }
    return 0;
}
