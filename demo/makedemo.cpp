// Makes demo.big: a small archive with one of every kind of entry the
// program previews, all drawn or written by this program.
//   makedemo OUTPUT.big FONT.ttf

#include "gfxcorecodec.h"
#include "samplefiles.h"
#include "tpiwriter.h"

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QSaveFile>

#include <cstdio>

namespace {

// A landscape-like picture: sky, sun, hills and the program's name.
QImage scenery(int w, int h, bool transparentSky)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, transparentSky ? QColor(40, 90, 200, 0) : QColor(40, 90, 200));
    sky.setColorAt(1, transparentSky ? QColor(160, 200, 255, 160) : QColor(160, 200, 255));
    p.fillRect(image.rect(), sky);
    QRadialGradient sun(w * 0.75, h * 0.3, h * 0.18);
    sun.setColorAt(0, QColor(255, 240, 120));
    sun.setColorAt(1, QColor(255, 160, 40, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(sun);
    p.drawEllipse(QPointF(w * 0.75, h * 0.3), h * 0.18, h * 0.18);
    p.setBrush(QColor(60, 140, 70));
    p.drawEllipse(QPointF(w * 0.2, h * 1.05), w * 0.5, h * 0.45);
    p.setBrush(QColor(40, 110, 60));
    p.drawEllipse(QPointF(w * 0.8, h * 1.1), w * 0.55, h * 0.4);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(h / 6);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(255, 255, 255, 230));
    p.drawText(QRect(0, 0, w, h / 2), Qt::AlignCenter, QStringLiteral("Vorland"));
    return image;
}

// Stripes of colour with a soft alpha border, to show transparency.
QImage badge(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int edge = qMin(qMin(x, w - 1 - x), qMin(y, h - 1 - y));
            const int alpha = qMin(255, edge * 16);
            const int band = (x + y) / 12 % 3;
            const QColor c = band == 0   ? QColor(220, 60, 60)
                             : band == 1 ? QColor(240, 200, 40)
                                         : QColor(50, 120, 220);
            image.setPixel(x, y, qRgba(c.red(), c.green(), c.blue(), alpha));
        }
    return image;
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// One TPI image whose picture is cut into blocks of `format`, `side` pixels
// square, as vorland-cli convert writes it.
QByteArray tpiOf(const QImage &image, TpiFormat format, int side, bool refp = false)
{
    QByteArray bytes;
    QString problem;
    if (!encodeTpi(image, {format, side, refp, DxtQuality::Normal}, bytes, problem))
        std::fprintf(stderr, "makedemo: %s\n", qPrintable(problem));
    return bytes;
}

// Blocks of every type in one picture, row after row.
QByteArray mosaic(const QImage &image)
{
    const uint8_t types[] = {0x7D, 0x7F, 0x6D, 0x7E, 0x78, 0x60, 0x61, 0x62};
    QVector<TpiBlock> blocks;
    int i = 0;
    for (int y = 0; y < image.height(); y += 64)
        for (int x = 0; x < image.width(); x += 64)
            blocks.append(tpiBlockOf(image.copy(x, y, 64, 64), types[i++ % 8]));
    return makeTpi(uint16_t(image.width()), uint16_t(image.height()), blocks, false, "MIX");
}

const char ini[] = "; Vorland demo settings\n"
                   "[window]\n"
                   "width=600\n"
                   "height=400\n"
                   "\n"
                   "[preview]\n"
                   "font=Courier\n"
                   "wrap=false\n";

const char csv[] = "name\ttype\tsize\n"
                   "logo.tga\tTGA Image\t65554\n"
                   "readme.ini\tINI Settings\t98\n"
                   "colours.xml\tXML File\t512\n";

const char xml[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<!-- Every colour of the XML viewer, with a \"quoted\" word -->\n"
                   "<archive name=\"demo\" version=\"1\">\n"
                   "\t<folder path=\"images\" count=\"3\">\n"
                   "\t\t<file name=\"logo.tga\" type=\"TGA Image\"/>\n"
                   "\t\t<file name='single.png' />\n"
                   "\t</folder>\n"
                   "\t<item id=\"7\"/>\n"
                   "\t<note lang = \"en\" >plain text, key=value</note>\n"
                   "</archive>\n";

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: makedemo OUTPUT.big FONT.ttf\n");
        return 2;
    }
    if (!GfxCoreCodec::load())
        return 1; // the packed entries need the Refp codec
    QFile fontFile(QString::fromLocal8Bit(argv[2]));
    if (!fontFile.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "makedemo: cannot read %s\n", argv[2]);
        return 1;
    }
    const QByteArray font = fontFile.readAll();

    const QImage landscape = scenery(256, 160, false);
    const QImage see_through = scenery(256, 160, true);
    const QImage square = scenery(256, 256, false);
    const QImage stripes = badge(128, 128);
    const QByteArray tga32 = tgaPixels(see_through, 32, false);
    const QByteArray tga24 = tgaPixels(landscape, 24, true);
    QString long_text;
    for (int i = 1; i <= 200; ++i)
        long_text +=
            QStringLiteral("line%1=this entry is stored Refp-compressed in the archive\n").arg(i);

    const QVector<SampleEntry> entries = {
        {"text\\readme.ini", ini},
        {"text\\table.csv", csv},
        {"text\\colours.xml", xml},
        {"text\\packed.ini", long_text.toLatin1(), true},
        {"fonts\\DejaVuSans.ttf", font},
        {"images\\landscape.png", encoded(landscape.convertToFormat(QImage::Format_RGB32), "PNG")},
        {"images\\badge.png", encoded(stripes, "PNG")},
        {"images\\sky.tga", makeTga(2, 32, 256, 160, 0x08, tga32)},
        {"images\\landscape_rle.tga", makeTga(10, 24, 256, 160, 0x20, tgaRle(tga24, 3))},
        {"images\\landscape_16.tga",
         makeTga(2, 16, 256, 160, 0x00, tgaPixels(landscape, 16, false))},
        {"images\\tpi\\argb8888.tpi", tpiOf(see_through, TpiFormat::Argb8888, 64)},
        {"images\\tpi\\xrgb8888.tpi", tpiOf(landscape, TpiFormat::Rgb888, 64)},
        {"images\\tpi\\argb4444.tpi", tpiOf(stripes, TpiFormat::Argb4444, 32)},
        {"images\\tpi\\argb1555.tpi", tpiOf(stripes, TpiFormat::Argb1555, 32)},
        {"images\\tpi\\rgb565.tpi", tpiOf(landscape, TpiFormat::Rgb565, 32)},
        {"images\\tpi\\dxt1.tpi", tpiOf(square, TpiFormat::Dxt1, 128)},
        {"images\\tpi\\dxt3.tpi", tpiOf(stripes, TpiFormat::Dxt3, 64)},
        {"images\\tpi\\dxt5.tpi", tpiOf(see_through, TpiFormat::Dxt5, 64)},
        {"images\\tpi\\mosaic.tpi", mosaic(square)},
        {"images\\tpi\\packed.tpi", tpiOf(landscape, TpiFormat::Argb8888, 64, true)},
        {"misc\\sprite.fsh", QByteArray("demo bytes for the fsh branch\n").repeated(8)},
        {"misc\\icon.bmp", encoded(stripes, "BMP")},
        {"misc\\model.o", QByteArray("\x7F"
                                     "demo object file",
                                     17)},
        {"misc\\music.mp3", QByteArray(64, '\0')},
        {"misc\\deep\\er\\and\\deeper\\note.ini", "[note]\nfound=yes\n"},
    };

    const QByteArray archive = makeBig(entries);
    QSaveFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::WriteOnly) || out.write(archive) != archive.size() || !out.commit()) {
        std::fprintf(stderr, "makedemo: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
