// TpiDecoder: every block type, the layout of blocks, DXT through squish,
// Refp-compressed blocks, refused files and blocks cut short.

#include "decoder.h"
#include "decodewith.h"
#include "gfxcorecodec.h"
#include "samplefiles.h"
#include "testdata.h"
#include "tpidecoder.h"

#include <QtTest>
#include <squish.h>

namespace {

DecodeResult decode(const QByteArray &bytes)
{
    return decodeWith<TpiDecoder>(bytes);
}

QString damageOf(const QByteArray &bytes)
{
    TpiDecoder decoder;
    decoder.load(reinterpret_cast<const uchar *>(bytes.constData()), quint32(bytes.size()));
    return decoder.damage();
}

// A 0x7D block of one colour.
TpiBlock solid(uint16_t w, uint16_t h, QRgb colour)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(colour);
    return {0x7D, w, h, testdata::bgra(image)};
}

QByteArray sixteen(unsigned v, int count)
{
    return (QByteArray() + char(v) + char(v >> 8)).repeated(count);
}

// What squish makes of `data` for a w x h picture, as ARGB32.
QImage squishReference(const QByteArray &data, int w, int h, int flags)
{
    std::vector<uchar> rgba(size_t(w) * size_t(h) * 4);
    squish::DecompressImage(rgba.data(), w, h, data.constData(), flags);
    QImage out(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uchar *p = &rgba[(size_t(y) * size_t(w) + size_t(x)) * 4];
            out.setPixel(x, y, qRgba(p[0], p[1], p[2], p[3]));
        }
    return out;
}

QByteArray squishCompress(const QImage &image, int flags)
{
    std::vector<uchar> rgba;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            rgba.insert(rgba.end(),
                        {uchar(qRed(p)), uchar(qGreen(p)), uchar(qBlue(p)), uchar(qAlpha(p))});
        }
    QByteArray out(squish::GetStorageRequirements(image.width(), image.height(), flags), '\0');
    squish::CompressImage(rgba.data(), image.width(), image.height(), out.data(), flags);
    return out;
}

} // namespace

class TestTpiDecoder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void exactBlock();
    void pixelFormats_data();
    void pixelFormats();
    void layout();
    void dxt_data();
    void dxt();
    void compressedBlocks();
    void workStopsAtThePicture();
    void failingBlocksShareOneBudget();
    void refused_data();
    void refused();
    void cutShort_data();
    void cutShort();
    void formatNames();
};

void TestTpiDecoder::initTestCase()
{
    QVERIFY(GfxCoreCodec::load());
}

void TestTpiDecoder::cleanupTestCase()
{
    GfxCoreCodec::unload();
}

void TestTpiDecoder::exactBlock()
{
    const QImage picture = patternImage(16, 8, true);
    const DecodeResult r = decode(makeTpi(16, 8, {{0x7D, 16, 8, testdata::bgra(picture)}}));
    QVERIFY(r.ok);
    QVERIFY(r.messages.isEmpty());
    QCOMPARE(r.image, picture);
    QCOMPARE(r.width, 16);
    QCOMPARE(r.height, 8);
}

void TestTpiDecoder::pixelFormats_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("pixel");
    QTest::addColumn<uint>("argb");
    QTest::newRow("0x7F ignores its fourth byte")
        << 0x7F << QByteArray("\x10\x20\x30\x00", 4) << 0xFF302010u;
    QTest::newRow("0x6D 0xF00F opaque blue") << 0x6D << sixteen(0xF00F, 1) << 0xFF0000FFu;
    QTest::newRow("0x6D 0x1234") << 0x6D << sixteen(0x1234, 1) << 0x11223344u;
    QTest::newRow("0x7E 0x7C00 red, alpha 0") << 0x7E << sixteen(0x7C00, 1) << 0x00FF0000u;
    QTest::newRow("0x7E 0xFC00 opaque red") << 0x7E << sixteen(0xFC00, 1) << 0xFFFF0000u;
    QTest::newRow("0x78 0xF800 opaque red") << 0x78 << sixteen(0xF800, 1) << 0xFFFF0000u;
    QTest::newRow("0x78 0x07E0 opaque green") << 0x78 << sixteen(0x07E0, 1) << 0xFF00FF00u;
    QTest::newRow("0x78 0x0160: 6-bit 11 gives 44") << 0x78 << sixteen(0x0160, 1) << 0xFF002C00u;
}

void TestTpiDecoder::pixelFormats()
{
    QFETCH(int, type);
    QFETCH(QByteArray, pixel);
    QFETCH(uint, argb);
    // A 3 x 2 block of that pixel: each is read at its own stride.
    const DecodeResult r = decode(makeTpi(3, 2, {{uint8_t(type), 3, 2, pixel.repeated(6)}}));
    QVERIFY(r.ok);
    for (int i = 0; i < 6; ++i)
        QCOMPARE(r.image.pixel(i % 3, i / 3), QRgb(argb));
}

void TestTpiDecoder::layout()
{
    const QRgb red = 0xFFFF0000, green = 0xFF00FF00, blue = 0xFF0000FF, white = 0xFFFFFFFF;
    // Two 64 x 64 blocks side by side.
    DecodeResult r = decode(makeTpi(128, 64, {solid(64, 64, red), solid(64, 64, green)}));
    QCOMPARE(r.image.pixel(63, 63), red);
    QCOMPARE(r.image.pixel(64, 0), green);
    // Four fill 128 x 128 as two rows of two.
    r = decode(makeTpi(
        128, 128,
        {solid(64, 64, red), solid(64, 64, green), solid(64, 64, blue), solid(64, 64, white)}));
    QCOMPARE(r.image.pixel(0, 64), blue);
    QCOMPARE(r.image.pixel(127, 127), white);
    // Blocks 32 and 16 high complete a row: the next starts 16 lower.
    r = decode(makeTpi(32, 64, {solid(16, 32, red), solid(16, 16, green), solid(32, 8, blue)}));
    QCOMPARE(r.image.pixel(0, 16), blue);
    QCOMPARE(r.image.pixel(0, 24), red);
    QCOMPARE(r.image.pixel(20, 28), QRgb(0)); // below the rows laid so far: never written
    // A block wider than the picture is cut; the next starts a new row.
    r = decode(makeTpi(10, 8, {solid(16, 4, red), solid(4, 4, green)}));
    QCOMPARE(r.image.pixel(9, 3), red);
    QCOMPARE(r.image.pixel(0, 4), green);
    QCOMPARE(r.image.pixel(4, 4), QRgb(0));
    // An unknown type leaves its area alone; the next block comes after it.
    r = decode(makeTpi(8, 2, {{0x55, 4, 2, QByteArray(32, '\x7F')}, solid(4, 2, blue)}));
    QCOMPARE(r.image.pixel(0, 0), QRgb(0));
    QCOMPARE(r.image.pixel(4, 0), blue);
    // No blocks: a clear picture of the header's size.
    r = decode(makeTpi(5, 3, {}));
    QVERIFY(r.ok);
    QCOMPARE(r.image.size(), QSize(5, 3));
    QCOMPARE(r.image.pixel(4, 2), QRgb(0));
}

void TestTpiDecoder::dxt_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("flags");
    QTest::addColumn<QSize>("size");
    for (auto [type, flags, name] : {std::tuple{0x60, int(squish::kDxt1), "DXT1"},
                                     std::tuple{0x61, int(squish::kDxt3), "DXT3"},
                                     std::tuple{0x62, int(squish::kDxt5), "DXT5"}}) {
        QTest::addRow("%s 32 x 16", name) << type << flags << QSize(32, 16);
        QTest::addRow("%s 10 x 6, partial cells", name) << type << flags << QSize(10, 6);
    }
}

void TestTpiDecoder::dxt()
{
    QFETCH(int, type);
    QFETCH(int, flags);
    QFETCH(QSize, size);
    const QImage source = patternImage(size.width(), size.height(), flags != squish::kDxt1);
    const QByteArray data = squishCompress(source, flags);
    const DecodeResult r =
        decode(makeTpi(uint16_t(size.width()), uint16_t(size.height()),
                       {{uint8_t(type), uint16_t(size.width()), uint16_t(size.height()), data}}));
    QVERIFY(r.ok);
    QCOMPARE(r.image, squishReference(data, size.width(), size.height(), flags));
    // Red and blue in their places: the decoded picture is close to the source.
    const QRgb a = r.image.pixel(5, 3), b = source.pixel(5, 3);
    QVERIFY(qAbs(qRed(a) - qRed(b)) < 40 && qAbs(qBlue(a) - qBlue(b)) < 40);
}

void TestTpiDecoder::compressedBlocks()
{
    const QImage picture = patternImage(16, 8, true);
    const QVector<TpiBlock> blocks{{0x7D, 8, 8, testdata::bgra(picture.copy(0, 0, 8, 8))},
                                   {0x7D, 8, 8, testdata::bgra(picture.copy(8, 0, 8, 8))}};
    const QByteArray packed = makeTpi(16, 8, blocks, true);
    QVERIFY(packed.contains("Refp"));
    const DecodeResult r = decode(packed);
    QVERIFY(r.ok);
    QCOMPARE(r.image, picture);
    QCOMPARE(r.image, decode(makeTpi(16, 8, blocks)).image);

    // Without the codec, compressed blocks are empty and nothing is shown.
    GfxCoreCodec::unload();
    const DecodeResult without = decode(packed);
    QVERIFY(GfxCoreCodec::load());
    QVERIFY(without.ok);
    QCOMPARE(without.image.pixel(0, 0), QRgb(0));
}

void TestTpiDecoder::refused_data()
{
    QTest::addColumn<QByteArray>("tpi");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("cap"); // the size cap in pixels, 0 for the default
    QByteArray reversed = makeTpi(4, 4, {solid(4, 4, 0xFFFFFFFF)});
    reversed.replace(0, 4, "TPI1");
    QTest::newRow("magic in the other order")
        << reversed << "Incorrect TPI file (Not a TPI1 file)" << 4 << 0;
    QTest::newRow("19 bytes") << makeTpi(4, 4, {}).left(19)
                              << "Incorrect TPI file (File is too small)" << 0 << 0;
    QTest::newRow("65535 x 65535") << makeTpi(65535, 65535, {}) << "Image too large" << 65535 << 0;
    // Blocks that tile the whole picture, which is over the cap: told once.
    QTest::newRow("tiled, over the cap")
        << makeTpi(64, 64, {solid(64, 64, 0xFF000000)}) << "Image too large" << 64 << 1024;
    // A few blocks cannot fill the picture they claim: nothing is allocated.
    QTest::newRow("blocks cannot fill 16384 x 16384")
        << makeTpi(16384, 16384, {solid(64, 64, 0xFF000000)})
        << "Incorrect TPI file (its blocks cannot fill 16384 x 16384 pixels)" << 16384 << 0;
    QTest::newRow("Refp blocks cannot fill 16384 x 16384")
        << makeTpi(16384, 16384, {solid(64, 64, 0xFF000000)}, true)
        << "Incorrect TPI file (its blocks cannot fill" << 16384 << 0;
}

void TestTpiDecoder::refused()
{
    QFETCH(QByteArray, tpi);
    QFETCH(QString, message);
    QFETCH(int, width);
    QFETCH(int, cap);
    const uint64_t defaultCap = imageSizeLimit();
    if (cap)
        setImageSizeLimit(uint64_t(cap));
    const DecodeResult r = decode(tpi);
    setImageSizeLimit(defaultCap);
    QVERIFY(!r.ok);
    QCOMPARE(r.messages.size(), 1);
    QVERIFY2(r.messages.first().startsWith(message), qPrintable(r.messages.first()));
    QVERIFY(r.image.isNull());
    QCOMPARE(r.width, width);
}

void TestTpiDecoder::workStopsAtThePicture()
{
    // Two tall blocks whose streams are damaged at their very end: the first
    // shows two of its rows, the second lies below the picture. Neither is
    // unpacked as far as its damage, so the picture is whole.
    QByteArray tpi = makeTpi(4, 2, {solid(4, 4096, 0xFF102030), solid(4, 4096, 0xFF405060)}, true);
    const int first = 24 + int(qFromLittleEndian<quint32>(tpi.constData() + 20));
    tpi[first - 1] = char(0xE0);
    tpi[tpi.size() - 1] = char(0xE0);
    QCOMPARE(damageOf(tpi), QString());
    const DecodeResult r = decode(tpi);
    QVERIFY(r.ok);
    QCOMPARE(r.image.pixel(3, 1), QRgb(0xFF102030));
    // Where the whole block shows, its damage does too.
    tpi[14] = char(4096 & 0xFF);
    tpi[15] = char(4096 >> 8);
    QCOMPARE(damageOf(tpi), QString("block 1 does not unpack"));
}

void TestTpiDecoder::failingBlocksShareOneBudget()
{
    // Blocks far wider than the picture whose streams unpack 14 MiB each and
    // then fail: none is placed, so each lands where the one before would
    // have. Together they unpack no more than one block may.
    const TpiBlock wide{0x7D, 65535, 56, QByteArray(65535 * 56 * 4, '\0')};
    QByteArray tpi = makeTpi(64, 64, {wide, wide, wide, wide}, true);
    for (int at = 20, i = 0; i < 4; ++i) {
        at += 4 + int(qFromLittleEndian<quint32>(tpi.constData() + at));
        tpi[at - 1] = char(0xE0); // its stop command, damaged
    }
    TpiDecoder decoder;
    QVERIFY(decoder.load(reinterpret_cast<const uchar *>(tpi.constData()), quint32(tpi.size())));
    QCOMPARE(decoder.damage(), QString("block 1 does not unpack"));
    QVERIFY2(decoder.unpackedBytes <= (16u << 20) + 4 * 64,
             qPrintable(QString::number(decoder.unpackedBytes)));
    QVERIFY(decoder.unpackedBytes > 14u << 20); // the first was tried
}

void TestTpiDecoder::cutShort_data()
{
    QTest::addColumn<QByteArray>("tpi");
    QTest::addColumn<int>("pixelsShown");
    QTest::addColumn<QString>("damage");
    const QByteArray good = makeTpi(4, 2, {solid(4, 2, 0xFF102030)});
    QTest::newRow("block record cut inside its pixels")
        << good.left(good.size() - 4 * 3) << 5 << "block 1 is 12 bytes short";
    QTest::newRow("block record cut inside its header")
        << good.left(20 + 4 + 10) << 0 << "block 1 is 38 bytes short";
    QTest::newRow("header only") << good.left(20) << 0 << "the file ends before block 1 of 1";
    QTest::newRow("block count beyond the records") << [&] {
        QByteArray more = good;
        more[16] = 9;
        return more;
    }() << 8 << "the file ends before block 2 of 9";
    QTest::newRow("block length beyond the input") << [&] {
        QByteArray longer = good;
        longer[21] = char(0x40);
        return longer;
    }() << 8 << "block 1 is 16384 bytes short";
    QTest::newRow("DXT data too short")
        << makeTpi(
               8, 4,
               {{0x60, 8, 4, squishCompress(patternImage(8, 4, false), squish::kDxt1).left(12)}})
        << 4 * 4 << "block 1 is 4 bytes short of its pixels";
    QByteArray damaged = makeTpi(4, 2, {solid(4, 2, 0xFF102030)}, true);
    damaged.chop(1);
    QTest::newRow("Refp block that does not unpack") << damaged << 0 << "block 1 is 1 byte short";
    QTest::newRow("whole") << good << 8 << "";
}

void TestTpiDecoder::cutShort()
{
    // Whatever is there is shown, the rest stays clear, and nothing is said.
    QFETCH(QByteArray, tpi);
    QFETCH(int, pixelsShown);
    QFETCH(QString, damage);
    QCOMPARE(damageOf(tpi), damage);
    const DecodeResult r = decode(tpi);
    QVERIFY(r.ok);
    QVERIFY(r.messages.isEmpty());
    int shown = 0;
    for (int y = 0; y < r.image.height(); ++y)
        for (int x = 0; x < r.image.width(); ++x)
            shown += r.image.pixel(x, y) != 0;
    QCOMPARE(shown, pixelsShown);
}

void TestTpiDecoder::formatNames()
{
    QCOMPARE(decode(makeTpi(1, 1, {}, false, QByteArray("888\0", 4))).format, QString("888"));
    QCOMPARE(decode(makeTpi(1, 1, {}, false, "DXT5")).format, QString("DXT5"));
    TpiDecoder fresh;
    QCOMPARE(fresh.formatName(), QString("UNKNOWN"));
    QCOMPARE(fresh.width(), 0);
    QVERIFY(fresh.toImage().isNull());
}

QTEST_MAIN(TestTpiDecoder)
#include "tst_tpidecoder.moc"
