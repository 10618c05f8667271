// vorland-cli convert: every target and option round-trips through render,
// within what the format keeps, and what cannot be written is refused.

#include "bigbuilder.h"
#include "clirunner.h"
#include "samplefiles.h"

#include <squish.h>

#include <QtTest>

class TestCliConvert : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void roundTrips_data();
    void roundTrips();
    void defaults_data();
    void defaults();
    void refusals_data();
    void refusals();

private:
    QString path(const QString &name) const { return dir->filePath(name); }
    QByteArray read(const QString &name) const;
    QImage rendered(const QString &name);
    std::unique_ptr<QTemporaryDir> dir;
};

namespace {

// The mean difference per channel of two pictures of one size.
double meanError(const QImage &a, const QImage &b)
{
    double total = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            total += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                     std::abs(qBlue(p) - qBlue(q)) + std::abs(qAlpha(p) - qAlpha(q));
        }
    return total / (4.0 * a.width() * a.height());
}

// The largest difference of any channel, alpha apart or not.
int largestError(const QImage &a, const QImage &b, bool withAlpha)
{
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst =
                qMax(worst, qMax(std::abs(qRed(p) - qRed(q)), qMax(std::abs(qGreen(p) - qGreen(q)),
                                                                   std::abs(qBlue(p) - qBlue(q)))));
            if (withAlpha)
                worst = qMax(worst, std::abs(qAlpha(p) - qAlpha(q)));
        }
    return worst;
}

// The mean error of libsquish's own round trip of `image` with `flags`.
double squishError(const QImage &image, int flags)
{
    std::vector<uchar> rgba, back(size_t(image.width() * image.height() * 4));
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            rgba.insert(rgba.end(),
                        {uchar(qRed(p)), uchar(qGreen(p)), uchar(qBlue(p)), uchar(qAlpha(p))});
        }
    std::vector<uchar> blocks(
        size_t(squish::GetStorageRequirements(image.width(), image.height(), flags)));
    squish::CompressImage(rgba.data(), image.width(), image.height(), blocks.data(), flags);
    squish::DecompressImage(back.data(), image.width(), image.height(), blocks.data(), flags);
    QImage out(image.size(), QImage::Format_ARGB32);
    for (int i = 0; i < image.width() * image.height(); ++i)
        out.setPixel(i % image.width(), i / image.width(),
                     qRgba(back[size_t(i) * 4], back[size_t(i) * 4 + 1], back[size_t(i) * 4 + 2],
                           back[size_t(i) * 4 + 3]));
    return meanError(image, out);
}

} // namespace

void TestCliConvert::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

QByteArray TestCliConvert::read(const QString &name) const
{
    QFile file(path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QImage TestCliConvert::rendered(const QString &name)
{
    const CliRun run = runCli({"render", path(name), "-o", path("rendered.png")});
    return run.exitCode == 0 ? QImage(path("rendered.png")).convertToFormat(QImage::Format_ARGB32)
                             : QImage();
}

void TestCliConvert::roundTrips_data()
{
    QTest::addColumn<QString>("out");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("withAlpha");
    // The largest channel difference that the format's own reduction allows
    // (-1: DXT, judged against libsquish's own round trip).
    QTest::addColumn<int>("tolerance");
    for (bool alpha : {true, false}) {
        const char *a = alpha ? "alpha" : "opaque";
        QTest::addRow("png, %s", a) << "o.png" << QStringList{} << alpha << 0;
        QTest::addRow("tga, %s", a) << "o.tga" << QStringList{} << alpha << 0;
        QTest::addRow("tga rle, %s", a) << "o.tga" << QStringList{"--rle"} << alpha << 0;
        QTest::addRow("tga 32, %s", a) << "o.tga" << QStringList{"--depth", "32"} << alpha << 0;
        QTest::addRow("tga 16 rle, %s", a)
            << "o.tga" << QStringList{"--depth", "16", "--rle"} << alpha << 4;
        QTest::addRow("tpi, %s", a) << "o.tpi" << QStringList{} << alpha << 0;
        QTest::addRow("tpi 8888 tiles, %s", a)
            << "o.tpi" << QStringList{"--format", "8888", "--tile", "5"} << alpha << 0;
        QTest::addRow("tpi 4444 compressed, %s", a)
            << "o.tpi" << QStringList{"--format", "4444", "--compress"} << alpha << 8;
        QTest::addRow("tpi 1555 tiles, %s", a)
            << "o.tpi" << QStringList{"--format", "1555", "--tile", "6"} << alpha << 4;
        QTest::addRow("tpi 565, %s", a) << "o.tpi" << QStringList{"--format", "565"} << alpha << 4;
        for (const char *quality : {"fast", "normal", "best"})
            for (const char *format : {"DXT1", "DXT3", "DXT5"})
                QTest::addRow("tpi %s %s, %s", format, quality, a)
                    << "o.tpi" << QStringList{"--format", format, "--quality", quality} << alpha
                    << -1;
        QTest::addRow("tpi DXT5 odd tiles, %s", a)
            << "o.tpi" << QStringList{"--format", "dxt5", "--tile", "7", "--compress"} << alpha
            << -2;
    }
}

void TestCliConvert::roundTrips()
{
    QFETCH(QString, out);
    QFETCH(QStringList, options);
    QFETCH(bool, withAlpha);
    QFETCH(int, tolerance);
    // Odd sizes: neither side is a multiple of 4 or of the tiles.
    const QImage source = patternImage(37, 21, withAlpha);
    QVERIFY(writeFile(path("in.png"), makePng(source, {withAlpha ? 6 : 2})));
    const CliRun run = runCli(QStringList{"convert", path("in.png"), path(out)} + options);
    QVERIFY2(run.exitCode == 0, run.err.constData());
    const QImage back = rendered(out);
    QCOMPARE(back.size(), source.size());

    // 16-bit TGA pixels are 1-5-5-5, like the TPI format of that name.
    const QString format = options.contains("16")
                               ? QString("1555")
                               : options.value(options.indexOf("--format") + 1).toUpper();
    const bool opaqueFormat = format == "565" || (format.isEmpty() && !withAlpha);
    if (tolerance >= 0) {
        QVERIFY2(largestError(source, back, !opaqueFormat && format != "1555") <= tolerance,
                 qPrintable(QString::number(largestError(source, back, true))));
    } else {
        const int kind = format == "DXT1"   ? squish::kDxt1
                         : format == "DXT3" ? squish::kDxt3
                                            : squish::kDxt5;
        const QString quality = options.value(options.indexOf("--quality") + 1);
        const int fit = quality == "fast"   ? squish::kColourRangeFit
                        : quality == "best" ? squish::kColourIterativeClusterFit
                                            : squish::kColourClusterFit;
        // Tiles of 7 cut 4 x 4 cells differently: a little worse is fine.
        const double allowed = squishError(source, kind | fit) * (tolerance == -2 ? 1.25 : 1.0);
        QVERIFY2(meanError(source, back) <= allowed + 0.01,
                 qPrintable(QString("%1 > %2").arg(meanError(source, back)).arg(allowed)));
        if (format == "DXT1" && withAlpha) {
            // Pixels with alpha below 128 stay transparent, the rest opaque.
            for (int y = 0; y < 21; ++y)
                for (int x = 0; x < 37; ++x)
                    QCOMPARE(qAlpha(back.pixel(x, y)), qAlpha(source.pixel(x, y)) < 128 ? 0 : 255);
        }
    }
    if (opaqueFormat || format == "1555" || format == "888")
        for (int i = 0; i < 37 * 21; ++i)
            QVERIFY(
                qAlpha(back.pixel(i % 37, i / 37)) ==
                (format == "1555" ? (qAlpha(source.pixel(i % 37, i / 37)) >= 128 ? 255 : 0) : 255));

    // Converting what came out gives the same file: the reduction is stable.
    if (tolerance >= 0) {
        const CliRun again = runCli(
            QStringList{"convert", path(out), path("again." + out.section('.', -1))} + options);
        QCOMPARE(again.exitCode, 0);
        QVERIFY(read("again." + out.section('.', -1)) == read(out));
    }
}

void TestCliConvert::defaults_data()
{
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QByteArray>("info"); // render's line for OUT
    const QImage alpha = patternImage(9, 5, true), opaque = patternImage(9, 5, false);
    QTest::newRow("png with alpha to tpi")
        << makePng(alpha, {6}) << "o.tpi" << QByteArray("9x5 8888\n");
    QTest::newRow("opaque png to tpi")
        << makePng(opaque, {2}) << "o.tpi" << QByteArray("9x5 888\n");
    QTest::newRow("tpi keeps its format") << makeTpi(9, 5, {tpiBlockOf(opaque, 0x78)}, false, "565")
                                          << "o.tpi" << QByteArray("9x5 565\n");
    QTest::newRow("opaque to tga") << makePng(opaque, {2}) << "o.tga" << QByteArray("9x5 888\n");
    QTest::newRow("alpha to tga") << makePng(alpha, {6}) << "o.tga" << QByteArray("9x5 8888\n");
    QTest::newRow("opaque to png") << makePng(opaque, {2}) << "o.png" << QByteArray("9x5 888\n");
    QTest::newRow("tga named .bin, to png")
        << makeTga(2, 32, 9, 5, 0x28, tgaPixels(alpha, 32, true)) << "o.png"
        << QByteArray("9x5 8888\n");
}

void TestCliConvert::defaults()
{
    QFETCH(QByteArray, in);
    QFETCH(QString, out);
    QFETCH(QByteArray, info);
    // PNG and TPI are known by their bytes, TGA by its name.
    const QString name = in.startsWith("\x89PNG") || in.startsWith("1IPT") ? "in.bin" : "in.tga";
    QVERIFY(writeFile(path(name), in));
    const CliRun run = runCli({"convert", path(name), path(out)});
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QCOMPARE(runCli({"render", path(out), "-o", path("r.png")}).out, info);
}

void TestCliConvert::refusals_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("too wide for a TPI")
        << QStringList{"wide.png", "o.tpi"} << 1 << QByteArray("at most 65535 x 65535 pixels");
    QTest::newRow("too wide for a TGA")
        << QStringList{"wide.png", "o.tga"} << 1 << QByteArray("at most 65535 x 65535 pixels");
    QTest::newRow("not a picture")
        << QStringList{"note.txt", "o.png"} << 1 << QByteArray("is not a PNG, TGA or TPI picture");
    QTest::newRow("damaged picture")
        << QStringList{"bad.png", "o.tpi"} << 1 << QByteArray("Damaged .png file!");
    QTest::newRow("unknown target")
        << QStringList{"in.png", "o.bmp"} << 2 << QByteArray("must end in .tpi, .tga or .png");
    QTest::newRow("unknown format") << QStringList{"in.png", "o.tpi", "--format", "DXT9"} << 2
                                    << QByteArray("unknown --format DXT9");
    QTest::newRow("tga depth") << QStringList{"in.png", "o.tga", "--depth", "8"} << 2
                               << QByteArray("--depth takes 16, 24 or 32");
    QTest::newRow("tpi option on a tga") << QStringList{"in.png", "o.tga", "--tile", "4"} << 2
                                         << QByteArray("--tile is for TPI files");
    QTest::newRow("tile of 0") << QStringList{"in.png", "o.tpi", "--tile", "0"} << 2
                               << QByteArray("--tile takes 1 to 65535");
    QTest::newRow("too many tiles")
        << QStringList{"in.png", "o.tpi", "--tile", "1"} << 1 << QByteArray("at most 65535");
}

void TestCliConvert::refusals()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);
    QVERIFY(writeFile(path("wide.png"), makePng(patternImage(65536, 1, false), {2})));
    QVERIFY(writeFile(path("in.png"), makePng(patternImage(300, 300, false), {2})));
    QVERIFY(writeFile(path("note.txt"), "text"));
    QVERIFY(writeFile(path("bad.png"), makePng(patternImage(30, 30, false), {2}).chopped(40)));
    for (int i = 0; i < 2; ++i)
        arguments[i] = path(arguments[i]);
    const CliRun run = runCli(QStringList{"convert"} + arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(message), run.err.constData());
    QVERIFY(!QFile::exists(arguments[1]));
}

QTEST_GUILESS_MAIN(TestCliConvert)
#include "tst_cli_convert.moc"
