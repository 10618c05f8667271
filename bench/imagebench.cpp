// Decoding 2048 x 2048 images with Vorland's decoders beside Qt's own readers
// on the same bytes, bare libsquish on the same DXT data, and memcpy of the
// same output size, all in one run at one thread; and writing them, DXT
// beside bare libsquish's compressor (at every core, as libsquish runs) and
// TPI and TGA beside memcpy. Prints milliseconds per image and the ratios the
// targets are set in.

#include "benchutil.h"
#include "gfxcorecodec.h"
#include "pngdecoder.h"
#include "reportrecorder.h"
#include "samplefiles.h"
#include "tgadecoder.h"
#include "tgawriter.h"
#include "tpidecoder.h"
#include "tpiwriter.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QProcess>
#include <QThread>

#include <squish.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

constexpr int kSide = 2048;
constexpr int kRuns = 9;

// A picture with smooth areas, flat runs and detail, like real textures.
QImage benchPicture(bool alpha)
{
    QImage image(kSide, kSide, QImage::Format_ARGB32);
    for (int y = 0; y < kSide; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < kSide; ++x) {
            const bool flat = ((x / 64) + (y / 64)) % 3 == 0;
            const int noise = (x * 7 + y * 13) % 5;
            line[x] = flat ? qRgba(40, 90, 160, alpha ? 200 : 255)
                           : qRgba((x / 8 + noise) & 255, (y / 8) & 255, (x + y) / 16 & 255,
                                   alpha ? (x ^ y) & 255 : 255);
        }
    }
    return image;
}

template <typename Decoder> std::function<void()> decoderRun(const QByteArray &bytes)
{
    return [&bytes] {
        Decoder decoder;
        decoder.load(reinterpret_cast<const uchar *>(bytes.constData()), quint32(bytes.size()));
        if (decoder.toImage().width() != kSide)
            std::fprintf(stderr, "decode failed\n");
    };
}

std::function<void()> qtRun(const QByteArray &bytes, const char *format)
{
    return [&bytes, format] {
        QImage image;
        if (!image.loadFromData(bytes, format) || image.width() != kSide)
            std::fprintf(stderr, "Qt could not read the %s image\n", format);
    };
}

// Best milliseconds of each piece of work, run in turns so that whatever
// else the machine does falls on all of them alike.
std::vector<double> bestInTurns(const std::vector<std::function<void()>> &work)
{
    std::vector<double> best(work.size(), 1e30);
    for (int round = 0; round < kRuns; ++round)
        for (size_t i = 0; i < work.size(); ++i)
            best[i] = std::min(best[i], 1000.0 * bench::bestSeconds(1, work[i]));
    return best;
}

QByteArray rleEncode32(const QByteArray &pixels)
{
    const auto *p = reinterpret_cast<const quint32 *>(pixels.constData());
    const int count = pixels.size() / 4;
    QByteArray out;
    out.reserve(pixels.size() + pixels.size() / 64);
    for (int i = 0; i < count;) {
        int run = 1;
        while (i + run < count && run < 128 && p[i + run] == p[i])
            ++run;
        if (run > 2) {
            out += char(0x80 | (run - 1));
            out.append(reinterpret_cast<const char *>(p + i), 4);
            i += run;
            continue;
        }
        int raw = 1;
        while (
            i + raw < count && raw < 128 &&
            !(i + raw + 2 < count && p[i + raw] == p[i + raw + 1] && p[i + raw] == p[i + raw + 2]))
            ++raw;
        out += char(raw - 1);
        out.append(reinterpret_cast<const char *>(p + i), raw * 4);
        i += raw;
    }
    return out;
}

// The picture cut into 64 x 64 blocks of `type`, each holding `data(block)`.
template <typename Data> QByteArray tpiOfBlocks(uint8_t type, Data data)
{
    QVector<TpiBlock> blocks;
    for (int by = 0; by < kSide; by += 64)
        for (int bx = 0; bx < kSide; bx += 64)
            blocks.append({type, 64, 64, data(bx, by)});
    return makeTpi(kSide, kSide, blocks);
}

QByteArray bgraOf(const QImage &image, int x, int y)
{
    QByteArray out;
    for (int row = 0; row < 64; ++row)
        out.append(reinterpret_cast<const char *>(image.constScanLine(y + row)) + x * 4, 64 * 4);
    return out;
}

std::vector<uchar> rgbaOf(const QImage &image)
{
    std::vector<uchar> out;
    out.reserve(size_t(image.width()) * size_t(image.height()) * 4);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            out.insert(out.end(),
                       {uchar(qRed(p)), uchar(qGreen(p)), uchar(qBlue(p)), uchar(qAlpha(p))});
        }
    return out;
}

// The writers beside bare libsquish and memcpy, at as many threads as
// libsquish takes by itself.
void printWriters()
{
    const QImage alpha = benchPicture(true);
    const std::vector<uchar> rgba = rgbaOf(alpha);
    std::vector<uchar> blocks(size_t(squish::GetStorageRequirements(kSide, kSide, squish::kDxt5)));
    const size_t bytes = size_t(kSide) * kSide * 4;
    std::vector<uchar> from(bytes, 1), to(bytes);
    QByteArray out;
    QString problem;
    std::printf("Writing 2048 x 2048 images; DXT at %d threads (libsquish's OpenMP, every core), "
                "best of 3; the rest best of %d, all taken in turns\n\n",
                QThread::idealThreadCount(), kRuns);
    std::printf("%-26s %10s %12s %14s %8s %s\n", "written", "ours (ms)", "anchor (ms)", "anchor",
                "ratio", "target");
    struct Fit
    {
        const char *name;
        DxtQuality quality;
        int flag;
    };
    for (const Fit &fit : {Fit{"fast", DxtQuality::Fast, squish::kColourRangeFit},
                           Fit{"normal", DxtQuality::Normal, squish::kColourClusterFit},
                           Fit{"best", DxtQuality::Best, squish::kColourIterativeClusterFit}}) {
        for (const TpiFormat format : {TpiFormat::Dxt1, TpiFormat::Dxt5}) {
            const int kind = format == TpiFormat::Dxt1 ? squish::kDxt1 : squish::kDxt5;
            TpiOptions options;
            options.format = format;
            options.quality = fit.quality;
            double ours = 1e30, bare = 1e30;
            for (int round = 0; round < 3; ++round) {
                ours = std::min(ours, 1000.0 * bench::bestSeconds(1, [&] {
                                          encodeTpi(alpha, options, out, problem);
                                      }));
                bare = std::min(bare, 1000.0 * bench::bestSeconds(1, [&] {
                                          squish::CompressImage(rgba.data(), kSide, kSide,
                                                                blocks.data(), kind | fit.flag);
                                      }));
            }
            const QString name = QStringLiteral("TPI %1 %2").arg(tpiFormatName(format), fit.name);
            std::printf("%-26s %10.1f %12.1f %14s %8.2f %s\n", qPrintable(name), ours, bare,
                        "bare squish", ours / bare, "(time, at most 1.1)");
        }
    }
    TpiOptions plain;
    const TgaOptions tga{32, false};
    const std::vector<double> ms = bestInTurns({
        [&] { std::memcpy(to.data(), from.data(), bytes); },
        [&] { encodeTpi(alpha, plain, out, problem); },
        [&] { encodeTga(alpha, tga, out, problem); },
    });
    std::printf("%-26s %10.2f %12.2f %14s %8.2f %s\n", "TPI 8888, one block", ms[1], ms[0],
                "memcpy", ms[0] / ms[1], "(rate, at least 0.3)");
    std::printf("%-26s %10.2f %12.2f %14s %8.2f %s\n\n", "TGA 32-bit plain", ms[2], ms[0], "memcpy",
                ms[0] / ms[2], "(rate, at least 0.3)");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    // libsquish may spread work over OpenMP threads: the writers are
    // measured as it runs by itself, the decoders again at one thread.
    if (qEnvironmentVariableIsEmpty("OMP_NUM_THREADS")) {
        printWriters();
        qputenv("OMP_NUM_THREADS", "1");
        QCoreApplication core(argc, argv);
        QProcess self;
        self.setProcessChannelMode(QProcess::ForwardedChannels);
        self.start(QCoreApplication::applicationFilePath(), QCoreApplication::arguments().mid(1));
        self.waitForFinished(-1);
        return self.exitCode();
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ReportRecorder quiet;
    GfxCoreCodec::load();

    const QImage opaque = benchPicture(false);
    const QImage alpha = benchPicture(true);
    const size_t outputBytes = size_t(kSide) * kSide * 4;
    std::vector<uchar> from(outputBytes, 1), to(outputBytes);

    const QByteArray pngRgb = makePng(opaque, {2});
    const QByteArray pngRgba = makePng(alpha, {6});
    const QByteArray pixels32 = tgaPixels(alpha, 32, false);
    const QByteArray tgaPlain = makeTga(2, 32, kSide, kSide, 0x08, pixels32);
    // Qt's reader takes uncompressed TGA only with the version 2 footer,
    // which our writer puts there.
    QByteArray tgaPlainFooter;
    QString problem;
    encodeTga(alpha, TgaOptions{32, false}, tgaPlainFooter, problem);
    const QByteArray tgaRle = makeTga(10, 32, kSide, kSide, 0x08, rleEncode32(pixels32));

    const std::vector<uchar> rgba = rgbaOf(alpha);
    QByteArray dxtWhole(squish::GetStorageRequirements(kSide, kSide, squish::kDxt5), '\0');
    squish::CompressImage(rgba.data(), kSide, kSide, dxtWhole.data(),
                          squish::kDxt5 | squish::kColourRangeFit);
    // The same cells, regrouped as 64 x 64 blocks of 16 x 16 cells each.
    const int cellsAcross = kSide / 4;
    const QByteArray tpiDxt = tpiOfBlocks(0x62, [&](int bx, int by) {
        QByteArray cells;
        for (int cy = 0; cy < 16; ++cy)
            cells += dxtWhole.mid(((by / 4 + cy) * cellsAcross + bx / 4) * 16, 16 * 16);
        return cells;
    });
    const QByteArray tpiBgra =
        tpiOfBlocks(0x7D, [&](int bx, int by) { return bgraOf(alpha, bx, by); });
    std::vector<uchar> squishOut(outputBytes);
    const std::vector<double> ms = bestInTurns({
        [&] { std::memcpy(to.data(), from.data(), outputBytes); },
        decoderRun<PngDecoder>(pngRgb),
        qtRun(pngRgb, "PNG"),
        decoderRun<PngDecoder>(pngRgba),
        qtRun(pngRgba, "PNG"),
        decoderRun<TgaDecoder>(tgaPlain),
        qtRun(tgaPlainFooter, "TGA"),
        decoderRun<TgaDecoder>(tgaRle),
        decoderRun<TpiDecoder>(tpiDxt),
        [&] {
            squish::DecompressImage(squishOut.data(), kSide, kSide, dxtWhole.constData(),
                                    squish::kDxt5);
        },
        decoderRun<TpiDecoder>(tpiBgra),
    });
    const double memcpyMs = ms[0], pngRgbMs = ms[1], pngRgbQt = ms[2], pngRgbaMs = ms[3],
                 pngRgbaQt = ms[4], tgaPlainMs = ms[5], tgaPlainQt = ms[6], tgaRleMs = ms[7],
                 tpiDxtMs = ms[8], squishMs = ms[9], tpiBgraMs = ms[10];

    std::printf("2048 x 2048 images, best of %d runs taken in turns, one thread\n\n", kRuns);
    std::printf("%-26s %10s %12s %14s\n", "image", "ours (ms)", "anchor (ms)", "anchor");
    std::printf("%-26s %10.2f %12.2f %14s\n", "PNG RGB", pngRgbMs, pngRgbQt, "Qt");
    std::printf("%-26s %10.2f %12.2f %14s\n", "PNG RGBA", pngRgbaMs, pngRgbaQt, "Qt");
    std::printf("%-26s %10.2f %12.2f %14s\n", "TGA 32-bit plain", tgaPlainMs, tgaPlainQt, "Qt");
    std::printf("%-26s %10.2f %12s %14s\n", "TGA 32-bit RLE", tgaRleMs, "-", "(Qt: none)");
    std::printf("%-26s %10.2f %12.2f %14s\n", "TPI 64x64 DXT5 blocks", tpiDxtMs, squishMs,
                "bare squish");
    std::printf("%-26s %10.2f %12s %14s\n", "TPI 64x64 0x7D blocks", tpiBgraMs, "-", "");
    std::printf("%-26s %10.2f\n", "memcpy of 16 MiB output", memcpyMs);

    std::printf("\nTargets, as ratios measured in this run:\n");
    std::printf("  PNG RGB time / Qt's            %6.2f  (at most 1.1)\n", pngRgbMs / pngRgbQt);
    std::printf("  PNG RGBA time / Qt's           %6.2f  (at most 1.1)\n", pngRgbaMs / pngRgbaQt);
    std::printf("  TGA plain rate / memcpy's      %6.2f  (at least 0.5)\n", memcpyMs / tgaPlainMs);
    std::printf("  TGA RLE rate / memcpy's        %6.2f  (at least 0.33)\n", memcpyMs / tgaRleMs);
    std::printf("  TPI DXT5 time / bare squish's  %6.2f  (at most 1.25)\n", tpiDxtMs / squishMs);
    std::printf("  TPI 0x7D rate / memcpy's       %6.2f  (at least 0.5)\n", memcpyMs / tpiBgraMs);
    std::printf("  (Qt's TGA reader / ours: %.0f times slower)\n", tgaPlainQt / tgaPlainMs);
    return 0;
}
